#!/usr/bin/env bash
# em1.exe under Wine against the simulator on COM5, which with_simulator.sh starts with
# L01S at 42.5 and L01M at AUTO, and answering L02M? with L01S's reply alone: the
# self-description, a read, a read answered by another item's reply, and a write read back.
#
# Usage: WINE_RUN=... em1_under_wine.sh EM1_EXE
set -euo pipefail
em1=$1
output=$(mktemp)
trap 'rm -f "$output"' EXIT

# Runs em1.exe; its output, without the CR of Windows line ends, is kept in $output.
em1() {
  local status=0
  "$WINE_RUN" "$em1" "$@" >"$output" 2>&1 || status=$?
  tr -d '\r' <"$output" >"$output.text" && mv "$output.text" "$output"
  echo "\$ em1 $*  (exit status $status)"
  cat "$output"
  return "$status"
}
expect() {
  grep -qF -- "$1" "$output" || { echo "em1_under_wine: expected '$1'" >&2; exit 1; }
}

em1 info
expect "9600 baud, 8 data bits, one stop bit, no parity"
expect "Z E L E M"

em1 --port COM5 read L01S1 L01M0
expect "42.5"
expect "AUTO"

status=0
em1 --port COM5 read L02M0 || status=$?
[ "$status" -eq 69 ] || { echo "em1_under_wine: another item's reply gave $status, not 69" >&2; exit 1; }
expect 'L02M0: no reply to this request; the reply "L01S=42.5\r\x03" answers another request'

em1 --port COM5 write L01S1 55.5
expect "L01S1 = 55.5 written"
em1 --port COM5 read L01S1 --format csv
expect ",55.5"

status=0
em1 --port COM9 read L01S1 || status=$?
[ "$status" -eq 74 ] || { echo "em1_under_wine: a missing port gave $status, not 74" >&2; exit 1; }
expect "no such device: COM9"
