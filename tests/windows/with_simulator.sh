#!/usr/bin/env bash
# Runs a Windows test program under Wine with the EM-1 simulator on COM5 of the prefix:
# em1sim keeps a link to its pseudo-terminal inside the build tree, and the prefix's
# dosdevices/com5 points at that link. The simulator is stopped however the run ends.
#
# Usage: with_simulator.sh EM1SIM WINE_RUN WORK_DIR [EM1SIM_OPTION...] -- EXE [ARG...]
# EXE is a Windows program, run under Wine; or a script, run as it is with WINE_RUN in its
# environment, whose first .exe argument is the program it runs under Wine.
# Exit status: the program's; 77 (skipped) when em1sim is missing or the program cannot
# run under Wine here.
set -euo pipefail
em1sim=$1
wine_run=$2
work_dir=$3
shift 3
sim_options=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  sim_options+=("$1")
  shift
done
shift
exe=$1
for argument in "$@"; do
  case $argument in
  *.exe)
    windows_program=$argument
    break
    ;;
  esac
done

if [ ! -x "$em1sim" ]; then
  echo "with_simulator: skipped: no simulator at $em1sim (build em1sim in the linux-x64 preset)"
  exit 77
fi
"$wine_run" --prepare "${windows_program:?no Windows program among the arguments}"
com5="${WINEPREFIX:?WINEPREFIX names the prefix the program runs in}/dosdevices/com5"

mkdir -p "$work_dir"
link="$work_dir/em1sim-$$.pty"
trace="$work_dir/em1sim-$$.trace"
"$em1sim" --link "$link" --trace "$trace" "${sim_options[@]}" >/dev/null &
sim=$!
stop() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -f "$com5"
}
trap stop EXIT

for _ in $(seq 100); do
  [ -e "$link" ] && break
  kill -0 "$sim" 2>/dev/null || { echo "with_simulator: em1sim ended at start" >&2; exit 1; }
  sleep 0.05
done
[ -e "$link" ] || { echo "with_simulator: em1sim made no line" >&2; exit 1; }
ln -sfn "$link" "$com5"

status=0
if [ "$exe" = "$windows_program" ]; then
  "$wine_run" "$@" || status=$?
else
  WINE_RUN=$wine_run "$@" || status=$?
fi
if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
  echo "with_simulator: the simulator's trace:" >&2
  tail -n 40 "$trace" >&2
fi
rm -f "$trace"
exit "$status"
