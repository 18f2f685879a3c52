#!/usr/bin/env bash
# Runs a Windows test program under Wine with a private prefix inside the build tree.
# The prefix is made once, under a lock, by whichever test gets there first.
set -euo pipefail
exe=$1
shift
build_dir=${EM_BUILD_DIR:-$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export DISPLAY=
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
) 9>"$build_dir/wine-prefix.lock"
exec wine "$exe" "$@"
