#!/usr/bin/env bash
# Many simulated instruments in one gateway process, ten items each, read as fast as the
# lines allow while writes come in through the broker; then a clean stop. Fails on any
# report of ThreadSanitizer (in a build with it), on an instrument that never shows its
# values, or on a write that is not read back.
#
# Usage: many_instruments.sh BIN_FOLDER WORK_FOLDER INSTRUMENTS SECONDS
set -uo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
bin=$(cd "$1" && pwd)
work=$2
count=$3
seconds=$4
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
command -v mosquitto >/dev/null || { echo "SKIP: mosquitto is not installed"; exit 77; }

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

. "$top/scripts/test-broker.sh"
StartTestBroker "$PWD"
port=$broker_port
pids+=("$broker_pid")

items=L01S1,L01V1,L01M0,L01X0,L02S1,L02V1,L02M0,M01V1,M02V1,INIT
{
  echo "broker = 127.0.0.1:$port"
  echo "interval = 0"
  echo "items = $items"
  echo "writable = L01S1"
} >gateway.conf
for i in $(seq "$count"); do
  "$bin/em1sim" --link "$work/i$i" --control "$work/i$i.ctl" >/dev/null 2>&1 &
  pids+=($!)
  printf '\n[instrument i%s]\nport = %s\n' "$i" "$work/i$i" >>gateway.conf
done
for i in $(seq "$count"); do
  for _ in $(seq 100); do [ -e "$work/i$i" ] && break; sleep 0.1; done
done

TSAN_OPTIONS="log_path=$work/tsan ${TSAN_OPTIONS:-}" "$bin/em1" gateway --config gateway.conf 2>gateway.log &
gateway=$!
pids+=("$gateway")

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Every instrument online with its values, within a bound that only catches a hang.
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'em1/+/status' -C "$count" -W 120 >status 2>/dev/null
[ "$(grep -c '^online$' status)" -eq "$count" ] || fail "not every instrument came online: $(cat status)"

sleep "$seconds"
for i in $(seq "$count"); do
  mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t "em1/i$i/L01S1/set" -m "$((i + 100)).5"
done
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'em1/+/L01S1/result' -C "$count" -W 120 >results 2>/dev/null
for i in $(seq "$count"); do
  held=$("$bin/em1sim" ctl "$work/i$i.ctl" get L01S)
  [ "$held" = "$((i + 100)).5" ] || fail "i$i holds $held after the write of $((i + 100)).5"
done
[ "$(grep -c '"outcome":"written"' results)" -eq "$count" ] || fail "not every write was written: $(cat results)"
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'em1/+/M02V1' -C "$count" -W 60 --retained-only >values 2>/dev/null
[ "$(grep -c '"value":' values)" -eq "$count" ] || fail "not every instrument published its values"

kill -TERM "$gateway"
wait "$gateway"
status=$?
[ "$status" -eq 0 ] || fail "the gateway ended with status $status"
if compgen -G "$work/tsan*" >/dev/null; then
  fail "ThreadSanitizer reported:"
  cat "$work"/tsan*
fi
rounds=$(grep -c . gateway.log)
echo "$count instruments x 10 items for ${seconds} s: $rounds log lines"
if [ "$failures" -ne 0 ]; then
  cat gateway.log
  exit 1
fi
echo "all checks passed"
