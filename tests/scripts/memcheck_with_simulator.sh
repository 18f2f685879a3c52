#!/usr/bin/env bash
# Runs a host program against the EM-1 simulator under valgrind memcheck. Fails when the
# program fails or memcheck reports any error: an invalid read or write, a jump on an
# uninitialised value, a bad free, a definite leak. The simulator is stopped however the
# run ends.
#
# Usage: memcheck_with_simulator.sh VALGRIND EM1SIM PROGRAM [ARG...]
# An argument @PORT@ stands for the simulator's pseudo-terminal (pts/N).
set -euo pipefail
valgrind=$1
em1sim=$2
shift 2

work=$(mktemp -d)
"$em1sim" --trace "$work/trace" >"$work/ports" &
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
  echo "memcheck: the simulator did not start" >&2
  exit 1
fi
port=${port#/dev/}

args=()
for arg in "$@"; do
  args+=("${arg//@PORT@/$port}")
done
status=0
"$valgrind" --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
  --track-origins=yes "${args[@]}" || status=$?
if [ "$status" -ne 0 ]; then
  echo "memcheck: exit status $status (99: memcheck errors); the line:" >&2
  cat "$work/trace" >&2
fi
exit $status
