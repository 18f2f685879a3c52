#!/usr/bin/env bash
# The gateway's metrics against a real broker and a simulated instrument: after a known
# sequence (one round of two items, one read refused by the instrument, then a set) the
# counters scraped from /metrics equal it, and promtool accepts the text; /health answers 503
# while the broker is away and 200 again when it is back; the metrics topic counts the
# reconnection and the messages kept meanwhile.
#
# Usage: metrics_test.sh BIN_FOLDER WORK_FOLDER
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
. "$here/checks.sh"
require_tools mosquitto mosquitto_sub mosquitto_pub curl promtool
start_test_broker
# The first read of L01V1 is refused, once.
"$bin/em1sim" --link "$work/sim.link" --control "$work/sim.ctl" --fault 'L01V? refuse count=1' \
  >sim.log 2>&1 &
pids+=($!)
await_simulator sim
for _ in $(seq 50); do
  http_port=$((20000 + RANDOM % 40000))
  (echo >"/dev/tcp/127.0.0.1/$http_port") 2>/dev/null || break
done
# Both items read once an hour: one round in this test.
"$bin/em1" gateway --broker "127.0.0.1:$broker_port" --metrics-listen "127.0.0.1:$http_port" \
  --metrics-interval 1 --port "$work/sim.link" --name boiler --items L01S1@3600,L01V1@3600 \
  --writable L01S1 2>gateway.log &
gateway=$!
pids+=("$gateway")
check "online" await em1/boiler/status '^online' 20
check "the first round is read" await em1/boiler/L01V1 '"error"' 20
mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 -t em1/boiler/L01S1/set -m 42.5
check "the set is written" await em1/boiler/L01S1/result '"outcome":"written"' 20

scrape() { curl -s -o "$1" -w '%{http_code}' "http://127.0.0.1:$http_port/$2"; }
sample() { # NAME{LABELS} VALUE: the sample is in the scrape with that value
  grep -qxF "$1 $2" scrape.txt
}
check "/metrics answers 200" [ "$(scrape scrape.txt metrics)" = 200 ]
check "promtool accepts the metrics" promtool check metrics <scrape.txt
# NAME{LABELS} VALUE
expected=(
  'em1_gateway_reads_total{instrument="boiler",outcome="ok"} 1'
  'em1_gateway_reads_total{instrument="boiler",outcome="refused"} 1'
  'em1_gateway_reads_total{instrument="boiler",outcome="no_answer"} 0'
  'em1_gateway_writes_total{instrument="boiler",outcome="written"} 1'
  'em1_gateway_writes_total{instrument="boiler",outcome="rejected"} 0'
  'em1_gateway_round_duration_seconds_count{instrument="boiler"} 1'
  'em1_gateway_set_result_duration_seconds_count{instrument="boiler"} 1'
  'em1_gateway_line_outages_total{instrument="boiler"} 0'
  'em1_gateway_broker_reconnections_total{instrument="boiler"} 0'
  'em1_gateway_instrument_online{instrument="boiler"} 1'
)
for row in "${expected[@]}"; do
  check "$row" sample ${row% *} ${row##* }
done
check "/health answers 200 while all is up" [ "$(scrape health.txt health)" = 200 ]

kill "$broker_pid"
wait "$broker_pid" 2>/dev/null
check "the gateway sees the broker go" await_log gateway.log 'boiler: lost the broker' 20
check "/health answers 503 while the broker is away" [ "$(scrape health.txt health)" = 503 ]
check "... and says why" grep -q 'boiler: not connected to the broker' health.txt
sleep 2
mosquitto -c broker.conf >>broker.log 2>&1 &
pids+=($!)
await_broker
check "the metrics topic counts the reconnection and what was kept meanwhile" \
  await em1/boiler/metrics '"brokerReconnections":1,"messagesKept":[1-9][0-9]*,"messagesSuperseded":[1-9]' 20
check "/health answers 200 again" [ "$(scrape health.txt health)" = 200 ]
kill -TERM "$gateway"
wait "$gateway"
finish gateway.log
