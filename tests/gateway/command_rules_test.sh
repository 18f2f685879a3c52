#!/usr/bin/env bash
# The gateway's rules for sets, against a real broker and a simulated instrument: a command
# is written at most once and only while it is current, and its result says what became of
# it in words that never mean two things. One table of sets, each with the result it must
# get and what the instrument must hold afterwards; then the sets that must never be written
# (retained, published while the gateway was away, sent to a silent instrument).
#
# Usage: command_rules_test.sh BIN_FOLDER WORK_FOLDER
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
. "$here/checks.sh"
require_tools mosquitto mosquitto_sub mosquitto_pub
start_test_broker
"$bin/em1sim" --link "$work/sim.link" --control "$work/sim.ctl" >sim.log 2>&1 &
pids+=($!)
await_simulator sim
sim() { "$bin/em1sim" ctl "$work/sim.ctl" "$@"; }
holds() { [ "$(sim get "$1")" = "$2" ]; }
publish() { mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 "$@"; }
sim set L01S 10.5 >/dev/null

cat >gateway.conf <<CONF
broker = 127.0.0.1:$broker_port
topic-prefix = t
interval = 1
offline-after = 2

[instrument boiler]
port = $work/sim.link
items = L01S1, L01M0, L02S1
writable = L01S1, L01M0
CONF
start_gateway() {
  "$bin/em1" gateway --config gateway.conf 2>>gateway.log &
  gateway=$!
  pids+=("$gateway")
  await t/boiler/status '^online' 20
}
stop_gateway() {
  kill -TERM "$gateway"
  wait "$gateway" 2>/dev/null
}
# Every result, and every reply on a response topic with its MQTT 5 properties.
mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t 't/boiler/+/result' -v >results.txt 2>/dev/null &
pids+=($!)
mosquitto_sub -h 127.0.0.1 -p "$broker_port" -V mqttv5 -t 'reply/#' -F '%j' >replies.txt 2>/dev/null &
pids+=($!)

check "the gateway comes online" start_gateway
stop_gateway
# While the gateway is away: a set that nobody should find later, and a retained one.
publish -t t/boiler/L01S1/set -m 11.5
publish -r -t t/boiler/L01S1/set -m 12.5
check "after a restart, a retained set is ignored with its reason" start_gateway
check "... its result says why" \
  await_log results.txt '"request":"12.5","outcome":"ignored","reason":"a retained message' 20
check "... it is removed from the broker" \
  quiet t/boiler/L01S1/set . 2 --retained-only
check "neither it nor the set published while away was written" holds L01S 10.5

# NAME | mosquitto_pub arguments | the simulator's fault first | pattern of the result |
# ITEM VALUE the instrument holds afterwards
rules=(
  "a bare value|-t t/boiler/L01S1/set -m 42.5||\"request\":\"42.5\",\"outcome\":\"written\".*\"held\":true|L01S 42.5"
  "JSON with an id, echoed|-t t/boiler/L01S1/set -m {\"value\":43.5,\"id\":\"r-1\"}||\"request\":\"43.5\",\"id\":\"r-1\",\"outcome\":\"written\"|L01S 43.5"
  "the same id again|-t t/boiler/L01S1/set -m {\"value\":44.5,\"id\":\"r-1\"}||\"request\":\"44.5\",\"id\":\"r-1\",\"outcome\":\"ignored\"|L01S 43.5"
  "a mode by name|-t t/boiler/L01M0/set -m MANUAL||\"request\":\"MANUAL\",\"outcome\":\"written\"|L01M MANUAL"
  "an item not writable|-t t/boiler/L02S1/set -m 1||\"outcome\":\"rejected\",\"reason\":\"not among the writable|L01S 43.5"
  "no value of the item|-t t/boiler/L01M0/set -m FAST||\"request\":\"FAST\",\"outcome\":\"rejected\"|L01M MANUAL"
  "not JSON that a set takes|-t t/boiler/L01S1/set -m {\"value\":1,\"unit\":\"C\"}||\"outcome\":\"rejected\",\"reason\":\"unknown key|L01S 43.5"
  "the instrument answers ?|-t t/boiler/L01S1/set -m 45.5|L01S=* refuse count=1|\"request\":\"45.5\",\"outcome\":\"refused\"|L01S 43.5"
  "no acknowledgement|-t t/boiler/L01S1/set -m 46.5|L01S=* silence count=1|\"request\":\"46.5\",\"outcome\":\"unconfirmed\"|"
  "a retained set while running|-r -t t/boiler/L01S1/set -m 47.5||\"request\":\"47.5\",\"outcome\":\"ignored\"|"
)
for rule in "${rules[@]}"; do
  IFS='|' read -r name arguments fault pattern after <<<"$rule"
  [ -n "$fault" ] && sim fault $fault >/dev/null
  read -r -a args <<<"$arguments"
  publish "${args[@]}"
  check "$name: result" await_log results.txt "$pattern" 20
  if [ -n "$after" ]; then
    check "$name: the instrument holds ${after#* }" holds $after
  fi
done
check "no value was ever written twice or late" \
  bash -c "! grep -E 'request\":\"(11.5|12.5|44.5|47.5)\",.*\"outcome\":\"written' results.txt"

publish -t t/boiler/L01S1/set -m 48.5 -V mqttv5 -D publish response-topic reply/plant \
  -D publish correlation-data corr-48
check "MQTT 5: the result on the response topic with the correlation data" \
  await_log replies.txt '"correlation-data":"corr-48".*\\"request\\":\\"48.5\\",\\"outcome\\":\\"written' 20

# A silent instrument: offline after two rounds unanswered, sets rejected, back at its answer.
sim fault '*' silence >/dev/null
check "a silent instrument turns offline" await t/boiler/status '^offline' 30
check "... with the time of its silence" \
  await t/boiler/status/detail "has not answered since 20" 5
publish -t t/boiler/L01S1/set -m 49.5
check "... a set meanwhile is rejected" \
  await_log results.txt '"request":"49.5","outcome":"rejected","reason":"the instrument is offline' 20
sim clear >/dev/null
check "... the first answer brings it online" await t/boiler/status '^online' 30
check "... and the set was never written" bash -c "! [ \"\$('$bin/em1sim' ctl '$work/sim.ctl' get L01S)\" = 49.5 ]"

stop_gateway
check "a later start meets no retained set again" start_gateway
sleep 2
check "... each retained set was answered once" \
  bash -c "[ \$(grep -c 'outcome\":\"ignored\",\"reason\":\"a retained' results.txt) -eq 2 ]"
stop_gateway
finish gateway.log
