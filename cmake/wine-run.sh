#!/usr/bin/env bash
# Runs a Windows test program under Wine with a private prefix inside the build tree
# (build/<preset>/wine-prefix). The prefix is made once, under a lock, by whichever test
# gets there first.
#
# Usage: wine-run.sh EXE [ARG...]      run EXE
#        wine-run.sh --prepare EXE     only make the prefix EXE would run in
#
# 64-bit programs run under wine64 called directly: the /usr/bin/wine wrapper prefers the
# 32-bit loader. 32-bit programs run under 32-bit Wine where the kernel runs 32-bit x86
# programs itself. Where it cannot (or EM_WINE_WOW64 is set) they run under Wine's WoW64
# mode, in a 64-bit process: Debian trixie's Wine 10 in the root that
# scripts/prepare-wow64.sh makes (EM_WOW64_ROOT, /var/cache/em1-wow64 by default), entered
# with bubblewrap; without that root they are skipped with exit status 77 (what the tests'
# SKIP_RETURN_CODE expects). Each Wine has a prefix of its own (wine-prefix.native,
# wine-prefix.wow64); WINEPREFIX is a link to the one in use.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
prepare_only=0
if [ "${1:-}" = --prepare ]; then
  prepare_only=1
  shift
fi
exe=$1
shift

skip() {
  echo "wine-run: $(basename "$exe") skipped: $*"
  exit 77
}

# The machine field of the PE header, whose offset is at 0x3c: 8664 x86-64, 014c i386.
pe_machine() {
  local header
  header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}

i386_emulated() {
  [ "$(head -n1 /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null)" = enabled ]
}

build_dir=${EM_BUILD_DIR:-$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)}
sandbox=()
wine=native

case $(pe_machine "$exe") in
8664)
  loader=/usr/lib/wine/wine64
  server=/usr/lib/wine/wineserver64
  export WINELOADER=$loader WINESERVER=$server WINEARCH=win64
  if i386_emulated; then
    # Setting up a 64-bit prefix also runs 32-bit helpers for its 32-bit half, minutes
    # under qemu. An unknown CPU model makes qemu refuse them at once, so the prefix gets
    # no 32-bit half; 64-bit programs never use it.
    export QEMU_CPU=none
  fi
  ;;
014c)
  if [ -z "${EM_WINE_WOW64:-}" ] && "$source_dir/scripts/i386-native.sh"; then
    if [ ! -x /usr/lib/wine/wine ]; then
      skip "32-bit Wine (wine32) is not installed"
    fi
    loader=/usr/bin/wine
    server=/usr/bin/wineserver
  else
    root=${EM_WOW64_ROOT:-/var/cache/em1-wow64}
    if [ ! -f "$root/.prepared" ]; then
      skip "this kernel does not run 32-bit programs itself and there is no WoW64 Wine root in $root (scripts/prepare-wow64.sh makes it)"
    fi
    wine=wow64
    sandbox=(bwrap --bind "$root" / --dev-bind /dev /dev --bind /proc /proc --ro-bind /sys /sys
      --bind /tmp /tmp --bind "$source_dir" "$source_dir" --bind "$build_dir" "$build_dir")
    loader=/usr/lib/wine/wine64
    server=/usr/lib/wine/wineserver64
    export WINELOADER=$loader WINESERVER=$server WINEARCH=win64
  fi
  ;;
*)
  echo "wine-run: $exe is neither an x86-64 nor an i386 Windows program" >&2
  exit 1
  ;;
esac

export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export DISPLAY=
(
  flock 9
  if [ -d "$WINEPREFIX" ] && [ ! -L "$WINEPREFIX" ]; then
    rm -rf "$WINEPREFIX" # a prefix of the layout before the link
  fi
  mkdir -p "$WINEPREFIX.$wine"
  ln -sfn "$(basename "$WINEPREFIX").$wine" "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/.prepared" ]; then
    if ! "${sandbox[@]}" "$loader" wineboot -i >"$build_dir/wine-prefix.log" 2>&1 9>&-; then
      echo "wine-run: making the prefix $WINEPREFIX failed:" >&2
      cat "$build_dir/wine-prefix.log" >&2
      exit 1
    fi
    touch "$WINEPREFIX/.prepared"
  fi
  # One server for the whole test run: it stays 10 s after its last program ends, so the
  # next test does not start it and the prefix's services again (about a second each).
  # The services start here, detached from the test's output: the first program of a
  # server starts them, and they keep its standard output open as long as they run, which
  # would hold every test open until the server ends.
  "${sandbox[@]}" "$server" -p10 >/dev/null 2>&1 9>&- || true
  "${sandbox[@]}" "$loader" cmd /c exit >/dev/null 2>&1 </dev/null 9>&- || true
) 9>"$build_dir/wine-prefix.lock"
if [ "$prepare_only" = 1 ]; then
  exit 0
fi
exec "${sandbox[@]}" "$loader" "$exe" "$@"
