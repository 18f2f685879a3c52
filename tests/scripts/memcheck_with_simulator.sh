#!/usr/bin/env bash
# Runs a host program against the EM-1 simulator under valgrind memcheck. Fails when the
# program fails or memcheck reports any error (exit status 99): an invalid read or write, a
# jump on an uninitialised value, a bad free, a definite leak. The simulator is stopped
# however the run ends.
#
# Usage: memcheck_with_simulator.sh VALGRIND EM1SIM PROGRAM [ARG...]
# An argument @PORT@ stands for the simulator's pseudo-terminal (pts/N).
set -euo pipefail
valgrind=$1
em1sim=$2
shift 2
exec "$(dirname "$0")/with_simulator.sh" "$em1sim" "$valgrind" --tool=memcheck \
  --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite --track-origins=yes "$@"
