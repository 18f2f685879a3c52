#!/usr/bin/env bash
# Installs the build into a fresh prefix, as a user would (`cmake --install`, or the .deb that
# CPack makes, unpacked with dpkg-deb), then from there only: builds a small C host with
# find_package(EM) and with pkg-config, runs both, runs the host program's `info`, and checks
# the man pages.
#
# Usage: check_package.sh install|deb BUILD_DIR LIBDIR HOST_PROGRAM CC "C_FLAGS"
# C_FLAGS are the build's own target flags (-m32, sanitizers), which the host needs too.
set -euo pipefail
mode=$1
build_dir=$2
libdir=$3
host_program=$4
cc=$5
read -r -a c_flags <<<"$6"
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { echo "--- $*"; }

case $mode in
install)
  step "cmake --install into a fresh prefix"
  cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
  prefix=$work/prefix
  ;;
deb)
  step "cpack, then dpkg-deb -x of the package"
  (cd "$build_dir" && cpack -G DEB -B "$work/deb" >/dev/null)
  deb=$(ls "$work"/deb/*.deb)
  dpkg-deb -c "$deb"
  dpkg-deb -x "$deb" "$work/root"
  prefix=$work/root/usr
  ;;
*)
  echo "check_package: unknown mode $mode" >&2
  exit 2
  ;;
esac

step "find_package(EM)"
cmake -S "$here/external_host" -B "$work/with-cmake" -G Ninja \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="${c_flags[*]}" \
  -DCMAKE_EXE_LINKER_FLAGS="${c_flags[*]}" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" >/dev/null
"$work/with-cmake/external_host"

step "pkg-config em"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
read -r -a em_flags <<<"$(pkg-config --cflags --libs em)"
"$cc" "${c_flags[@]}" -std=c99 -Wall -Wextra -pedantic -Werror "$here/external_host/host.c" \
  "${em_flags[@]}" -Wl,-rpath,"$(pkg-config --variable=libdir em)" -o "$work/with-pkg-config"
"$work/with-pkg-config"

step "$host_program info, from the prefix"
info=$("$prefix/bin/$host_program" info)
echo "$info" | head -3
grep -q "Eurotherm EM-1" <<<"$info"

step "man pages"
for page in em1sim "$host_program"; do
  gzip -t "$prefix/share/man/man1/$page.1.gz"
  zcat "$prefix/share/man/man1/$page.1.gz" | grep -q "^\.SH DESCRIPTION"
done
"$prefix/bin/em1sim" --version
echo "package check passed ($mode)"
