#!/usr/bin/env bash
# Fuzzes one target for longer than the test run does: scripts/fuzz.sh TARGET [SECONDS]
# (default 600). TARGET is address, decoding, write_path, exchange, hostlog or trace.
#
# The inputs it finds stay in build/fuzz/fuzz/TARGET/corpus and seed the next run. Every
# finding (crash, timeout, leak, out of memory) is copied into fuzz/corpus/TARGET, where
# every later test run replays it: fix the driver, then commit the file as a regression
# input.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(address decoding write_path exchange hostlog trace)
target=${1:-}
seconds=${2:-600}
if [[ ! " ${targets[*]} " == *" $target "* ]] || [[ ! $seconds =~ ^[0-9]+$ ]]; then
  echo "usage: $0 TARGET [SECONDS]; TARGET is one of: ${targets[*]}" >&2
  exit 64
fi

./scripts/install-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${target}_fuzzer"
status=0
EM_FUZZ_SECONDS=$seconds ctest --preset fuzz -R "^fuzz_${target}\$" -V \
  --timeout $((seconds + 600)) || status=$?

found=0
for finding in build/fuzz/fuzz/"$target"/artifacts/*; do
  [ -e "$finding" ] || continue
  cp "$finding" "fuzz/corpus/$target/"
  echo "fuzz: kept $(basename "$finding") in fuzz/corpus/$target as a regression input"
  found=$((found + 1))
done
if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
  echo "fuzz: the run failed without a finding; see the output above" >&2
fi
exit $status
