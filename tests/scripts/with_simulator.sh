#!/usr/bin/env bash
# Runs a host program against the EM-1 simulator on a pseudo-terminal and stops the
# simulator however the run ends. When the program fails, the simulator's trace of the line
# follows, so the failure can be read against what was on the line.
#
# Usage: with_simulator.sh EM1SIM PROGRAM [ARG...]
# An argument @PORT@ stands for the simulator's pseudo-terminal (pts/N).
set -euo pipefail
em1sim=$1
shift

work=$(mktemp -d)
# The file exists before the simulator's shell opens it, so the wait below never reads a file
# that is not there yet.
: >"$work/ports"
"$em1sim" --trace "$work/trace" >>"$work/ports" &
sim=$!
stop() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT

port=
for _ in $(seq 100); do
  port=$(head -n 1 "$work/ports")
  [ -n "$port" ] && break
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "with_simulator: the simulator did not start" >&2
  exit 1
fi
port=${port#/dev/}

args=()
for arg in "$@"; do
  args+=("${arg//@PORT@/$port}")
done
status=0
"${args[@]}" || status=$?
if [ "$status" -ne 0 ]; then
  echo "with_simulator: exit status $status; the line:" >&2
  cat "$work/trace" >&2
fi
exit $status
