#!/usr/bin/env bash
# Compiles a small host source that includes the public headers in every language mode a
# host may use, with warnings as errors, on the target's own compilers.
# Usage: check_public_headers.sh CC CXX "TARGET_FLAGS" SOURCE INCLUDE_DIR...
set -euo pipefail
cc=$1
cxx=$2
read -r -a target_flags <<<"$3"
source=$4
shift 4
includes=()
for dir in "$@"; do
  includes+=("-I$dir")
done
warnings=(-Wall -Wextra -pedantic -Werror)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

failed=0
compile() {
  local mode=$1
  shift
  if "$@" "${target_flags[@]}" "${warnings[@]}" "${includes[@]}" -c "$source" -o "$out/host.o"; then
    echo "ok     $mode"
  else
    echo "FAILED $mode" >&2
    failed=1
  fi
}
for std in c89 c99 c11; do
  compile "$std" "$cc" -x c "-std=$std"
done
for std in c++98 c++11 c++20; do
  compile "$std" "$cxx" -x c++ "-std=$std"
done
exit $failed
