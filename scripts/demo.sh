#!/usr/bin/env bash
# The main job: builds the driver, the host program em1 and the instrument simulator with
# the release preset, starts the simulator on a pseudo-terminal and drives it with em1 as a
# commissioning engineer would: start-up, items, reads, writes read back, alerts, a block
# and a poll; then em1 gateway serves two simulated instruments to an MQTT broker (mosquitto)
# and takes a write from it, with Home Assistant discovery and its metrics on: one discovery
# message and one scrape of /metrics. It ends by itself and leaves no process or file behind.
#
# Usage: demo.sh [--bin DIR]
#   --bin DIR       the programs already built in DIR (the test command runs the demo this way)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --bin ]; then
  bin=$(cd "$2" && pwd)
else
  ./scripts/install-deps.sh demo
  echo "building the release preset (driver, em1, em1sim)..."
  cmake --preset release --no-warn-unused-cli >/dev/null
  cmake --build --preset release --target EM em1 em1sim >/dev/null
  bin=$PWD/build/release/bin
fi

work=$(mktemp -d)
simulator=
others=()
cleanup() {
  for pid in $simulator "${others[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$bin/em1sim" --control "$work/control" --trace "$work/trace" >"$work/line" 2>"$work/errors" &
simulator=$!
for _ in $(seq 100); do
  [ -s "$work/line" ] && [ -S "$work/control" ] && break
  kill -0 "$simulator" 2>/dev/null || { cat "$work/errors" >&2; exit 1; }
  sleep 0.05
done
port=$(head -1 "$work/line")

# Shows a command as typed, then runs it; its output is kept in $work/output for checks.
run() {
  printf '\n$ %s\n' "$*"
  local program=$1
  shift
  "$bin/$program" "$@" | tee "$work/output"
}
# Fails the demo when the last command's output lacks the text.
expect() {
  grep -qF -- "$1" "$work/output" || { echo "demo: expected '$1' in the output above" >&2; exit 1; }
}

echo "The EM-1 simulator answers on $port; em1 drives it through the driver library."
run em1 info
expect "Eurotherm EM-1"
run em1 --port "$port" start
expect "adapter ready"

echo
echo "# Items: the driver defines each address and says what it is; L01Q0 has no letter Q."
run em1 check L01S1 M03V0 L01M0 A02 INIT L01Q0 || echo "(exit status $?: an address was refused)"
expect "L01S1"

echo
echo "# A loop set point, a module's measured value and a loop's mode."
run em1 --port "$port" read L01S1 M03V0 L01M0
expect "AUTO"

echo
echo "# A new set point and mode, read back."
run em1 --port "$port" write L01S1 42.5
run em1 --port "$port" write L01M0 MANUAL
run em1 --port "$port" read L01S1 L01M0
expect "42.5"
expect "MANUAL"

echo
echo "# Two alerts raised on the simulator's control socket, then read by name."
"$bin/em1sim" ctl "$work/control" alert add CC >/dev/null
"$bin/em1sim" ctl "$work/control" alert add "L03 LOW ALARM" >/dev/null
run em1 --port "$port" alerts
expect "LOW ALARM"

echo
echo "# Loops 1 and 2 with one request: S V % X of each."
run em1 --port "$port" block L 8
expect "L02X"

echo
echo "# Three rounds of a poll, a second apart (each read takes a quarter of a second)."
run em1 --port "$port" poll L01S1 L01V1 L01M0 --interval 1 --count 3
expect "MANUAL"

echo
echo "# The last requests and replies the instrument saw:"
tail -n 6 "$work/trace"

echo
echo "# em1 gateway: two instruments to an MQTT broker, both ways."
. scripts/test-broker.sh
StartTestBroker "$work"
others+=("$broker_pid")
"$bin/em1sim" --link "$work/second" --control "$work/second-control" >/dev/null 2>&1 &
others+=($!)
for _ in $(seq 100); do
  [ -e "$work/second" ] && (echo >"/dev/tcp/127.0.0.1/$broker_port") 2>/dev/null && break
  sleep 0.05
done
for _ in $(seq 50); do
  metrics_port=$((20000 + RANDOM % 40000))
  (echo >"/dev/tcp/127.0.0.1/$metrics_port") 2>/dev/null || break
done
printf '\n$ %s\n' "em1 gateway --broker 127.0.0.1:$broker_port --discovery --metrics-listen 127.0.0.1:$metrics_port --items L01S1,L01M0 --writable L01S1 --port $port --name boiler --port $work/second --name kiln &"
"$bin/em1" gateway --broker "127.0.0.1:$broker_port" --discovery \
  --metrics-listen "127.0.0.1:$metrics_port" --items L01S1,L01M0 --writable L01S1 \
  --port "$port" --name boiler --port "$work/second" --name kiln 2>"$work/gateway.log" &
others+=($!)
sub() { mosquitto_sub -h 127.0.0.1 -p "$broker_port" -v "$@"; }
printf '\n$ %s\n' "mosquitto_sub -t 'em1/+/L01S1' -C 2 -v"
sub -t 'em1/+/L01S1' -C 2 -W 20 | sort | tee "$work/output"
expect '"item":"L01S1","value":'
printf '\n$ %s\n' "mosquitto_pub -t em1/boiler/L01S1/set -m 55.5   # the result comes on .../result"
sub -t em1/boiler/L01S1/result -C 1 -W 20 >"$work/output" &
result_reader=$!
sleep 0.5
mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 -t em1/boiler/L01S1/set -m 55.5
wait "$result_reader" || true
cat "$work/output"
expect '"outcome":"written"'
run em1sim ctl "$work/control" get L01S
expect "55.5"

echo
echo "# Home Assistant finds the set point as a number entity of the device boiler:"
printf '\n$ %s\n' "mosquitto_sub -t homeassistant/number/em1_boiler/L01S1/config -C 1"
sub -t homeassistant/number/em1_boiler/L01S1/config -C 1 -W 20 | tee "$work/output"
expect '"cmd_t":"~/L01S1/set"'

echo
echo "# The gateway's own metrics, as Prometheus scrapes them:"
printf '\n$ %s\n' "curl http://127.0.0.1:$metrics_port/metrics"
curl -s "http://127.0.0.1:$metrics_port/metrics" | tee "$work/output"
expect 'em1_gateway_writes_total{instrument="boiler",outcome="written"} 1'
echo
echo "# The gateway's log (standard error, one line per event):"
cat "$work/gateway.log"
