#!/usr/bin/env bash
# The gateway's soak: simulated instruments with random line faults (replies to other requests
# and late replies at several delays among them) and no drift, served for SECONDS while sets are published throughout,
# some retained, some while the gateway is stopped; the broker is restarted twice and the
# gateway once. Then soak_check.py holds every published value against what the simulator
# held when it was read, every result against what the instrument holds, and every command
# against the rule that it is written at most once and only while current; and the gateway's
# resident memory against growth after its first minute.
#
# Usage: soak.sh BIN_FOLDER WORK_FOLDER SECONDS [INSTRUMENTS]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
work=$2
seconds=$3
count=${4:-4}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
. "$here/checks.sh"
require_tools mosquitto mosquitto_sub mosquitto_pub python3
start_test_broker
restart_broker() {
  kill "$broker_pid"
  wait "$broker_pid" 2>/dev/null
  sleep 3
  mosquitto -c broker.conf >>broker.log 2>&1 &
  broker_pid=$!
  pids+=("$broker_pid")
  await_broker
  echo "$(date +%s.%N) broker restarted" >>events.txt
}

# Every fault kind at 4 % (hang-ups among them), trailing bytes at 2 %, replies to other
# requests (the reply to the request before, then the request's own after 0.3, 1.5 or 4 s)
# and late replies after 1.5, 3 and 6 s.
faults=()
for rule in '* random rate=0.04' '* trailing rate=0.02' '* foreign rate=0.01 delay=300' \
  '* foreign rate=0.01 delay=1500' '* foreign rate=0.01 delay=4000' \
  '* late rate=0.01 delay=1500' '* late rate=0.01 delay=3000' '* late rate=0.01 delay=6000'; do
  faults+=(--fault "$rule")
done
{
  echo "broker = 127.0.0.1:$broker_port"
  echo "topic-prefix = soak"
  echo "interval = 0"
  echo "items = L01S1, L02S1, L01V1, L01M0, M01V1"
  echo "writable = L01S1, L02S1"
} >gateway.conf
for i in $(seq "$count"); do
  # Start values that no set uses, different in every instrument.
  "$bin/em1sim" --link "$work/i$i" --control "$work/i$i.ctl" --trace "$work/i$i.trace" \
    --no-drift --seed "$i" --set "L01S=1$i.5" --set "L02S=2$i.5" --set "L01V=3$i.5" \
    --set "M01V=4$i.5" --set L01M=MANUAL "${faults[@]}" >/dev/null 2>&1 &
  pids+=($!)
  printf '\n[instrument i%s]\nport = %s\n' "$i" "$work/i$i" >>gateway.conf
done

start_gateway() {
  "$bin/em1" gateway --config gateway.conf 2>>gateway.log &
  gateway=$!
  pids+=("$gateway")
  echo "$(date +%s.%N) gateway $gateway started" >>events.txt
}
start_gateway
# What the plant sees, across the broker's restarts: time of receipt, retain flag, topic,
# payload.
(while :; do
  mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t 'soak/#' -F '%U|%r|%t|%p' 2>/dev/null
  sleep 0.2
done) >messages.txt &
recorder=$!
pids+=("$recorder")

# The sets: a unique value each, so that every value the instrument takes names its command.
# Every tenth is retained; those published while the gateway is stopped are marked so.
(k=0
while :; do
  k=$((k + 1))
  i=$((k % count + 1))
  item=$([ $((k % 2)) -eq 0 ] && echo L01S1 || echo L02S1)
  value="$((500 + k / 10)).$((k % 10))"
  kind=live
  [ -e down ] && kind=down
  args=(-m "{\"value\":$value,\"id\":\"$k\"}")
  if [ $((k % 10)) -eq 0 ]; then
    kind=retained
    args=(-r -m "$value")
  fi
  echo "$k $i $item $value $kind" >>commands.txt
  mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 -t "soak/i$i/$item/set" "${args[@]}" 2>/dev/null ||
    echo "$k lost" >>commands.txt
  sleep 0.25
done) &
publisher=$!
pids+=("$publisher")

# Resident memory of the gateway every 5 s.
(while :; do
  pid=$(cat gateway.pid 2>/dev/null)
  [ -n "$pid" ] && awk -v pid="$pid" -v t="$(date +%s)" '/VmRSS/ {print t, pid, $2}' \
    "/proc/$pid/status" 2>/dev/null
  sleep 5
done) >rss.txt &
pids+=($!)
echo "$gateway" >gateway.pid

step=$((seconds / 4))
sleep "$step"
restart_broker
sleep "$step"
# The gateway stopped for a while, sets published meanwhile (marked once it has ended); then
# started again.
kill -TERM "$gateway"
wait "$gateway" 2>/dev/null
touch down
echo "$(date +%s.%N) gateway stopped" >>events.txt
sleep 5
rm -f down
start_gateway
echo "$gateway" >gateway.pid
sleep "$step"
restart_broker
sleep "$((seconds - 3 * step))"

kill "$publisher"
wait "$publisher" 2>/dev/null
sleep 5
kill -TERM "$gateway"
wait "$gateway" 2>/dev/null
pkill -P "$recorder"
kill "$recorder"
echo -n "faults fired:"
cat i*.trace | grep -o -- '-- fault [a-z]*' | awk '{ print $3 }' | sort | uniq -c |
  awk '{ printf " %s %s", $1, $2 } END { print "" }'
python3 "$here/soak_check.py" "$work" "$count"
