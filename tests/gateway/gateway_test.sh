#!/usr/bin/env bash
# em1 gateway against a real broker: mosquitto on free loopback ports (plain, with a password,
# and TLS with certificates made here by openssl), simulated instruments, and mosquitto_sub and
# mosquitto_pub as the plant's systems. Every wait has a bound that only catches a hang.
#
# Usage: gateway_test.sh BIN_FOLDER WORK_FOLDER
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
. "$here/checks.sh"
require_tools mosquitto mosquitto_sub mosquitto_pub mosquitto_passwd openssl


free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    (echo >/dev/tcp/127.0.0.1/$port) 2>/dev/null || { echo $port; return; }
  done
  return 1
}

plain=$(free_port)
broker_port=$plain
secured=$(free_port)
tls=$(free_port)

# Certificates: a CA, the broker's certificate for 127.0.0.1 signed by it, and a CA that
# signed nothing here.
make_ca() { openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$1" -keyout "$1.key" -out "$1.pem" 2>/dev/null; }
make_ca ca && make_ca other-ca
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout broker.key -out broker.csr 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >san.ext
openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile san.ext -out broker.pem 2>/dev/null
mosquitto_passwd -b -c passwords plant right-secret 2>/dev/null
echo right-secret >right.secret
echo wrong-secret >wrong.secret
chmod 600 passwords

cat >broker.conf <<EOF
per_listener_settings true
user $(id -un)
persistence false
listener $plain 127.0.0.1
allow_anonymous true
listener $secured 127.0.0.1
allow_anonymous false
password_file $work/passwords
listener $tls 127.0.0.1
allow_anonymous true
cafile $work/ca.pem
certfile $work/broker.pem
keyfile $work/broker.key
EOF

broker_start() {
  mosquitto -c broker.conf >>broker.log 2>&1 &
  broker=$!
  pids+=("$broker")
  await_broker
}

sim_get() { "$bin/em1sim" ctl "$work/$1.ctl" get "$2"; }

broker_start
for sim in a b c; do
  "$bin/em1sim" --link "$work/$sim.link" --control "$work/$sim.ctl" >"$sim.sim.log" 2>&1 &
  pids+=($!)
done
for sim in a b c; do
  await_simulator "$sim"
done
"$bin/em1sim" ctl "$work/a.ctl" set L01S 33.204 >/dev/null

cat >gateway.conf <<EOF
broker = 127.0.0.1:$plain
topic-prefix = plant/em1
interval = 0.2

[instrument boiler]
port = $work/a.link
items = L01S1, L01M0, L02S1
writable = L01S1
on-change = L02S1=0.5

[instrument kiln]
port = $work/b.link
items = L01S1
EOF
"$bin/em1" gateway --config gateway.conf 2>gateway.log &
gateway=$!
pids+=("$gateway")

check "retained status online for each instrument" \
  await 'plant/em1/+/status' '^online' 20 -C 2
check "a reading as the line carried it, in JSON with its cell, scale and UTC time" \
  await plant/em1/boiler/L01S1 '^\{"item":"L01S1","value":33.204,"cell":332.04,"scale":10,"time":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{12}Z"\}$' 20
check "a mode with its name" await plant/em1/boiler/L01M0 '"value":3,"text":"AUTO"' 20
check "the alerts" await plant/em1/boiler/alerts '^\{"active":\[\],' 20

# A read answered only by another item's reply (a late one): an error naming that reply is
# published, never its value; the read after it shows the mode again.
mosquitto_sub -h 127.0.0.1 -p "$plain" -t plant/em1/boiler/L01M0 -W 8 >foreign.messages 2>/dev/null &
subscriber=$!
sleep 1
"$bin/em1sim" ctl "$work/a.ctl" fault 'L01M? foreign to=L01S? delay=3000 count=1' >/dev/null
wait $subscriber
check "a read answered by another item's reply publishes an error naming that reply" \
  grep -q '^{"item":"L01M0","error":"no answer","foreign":"L01S=33.204\\\\r\\\\x03","time":' foreign.messages
values_published() { grep -o '"value":[^,}]*' foreign.messages | sort -u | tr '\n' ' '; }
check "... never its value: every value published is the mode's" [ "$(values_published)" = '"value":3 ' ]
check "... and the mode again after it" grep -q '"text":"AUTO"' <(tail -1 foreign.messages)

# L02S1 is published on change, with a deadband of 0.5.
moved() { awk -v base="$(sim_get a L02S)" -v by="$1" 'BEGIN { print base + by }'; }
"$bin/em1sim" ctl "$work/a.ctl" set L02S "$(moved 0.25)" >/dev/null
check "a change within the deadband is not published" quiet plant/em1/boiler/L02S1 '"item"' 3 -R
"$bin/em1sim" ctl "$work/a.ctl" set L02S "$(moved 1)" >/dev/null
check "a change beyond it is" await plant/em1/boiler/L02S1 '"value":' 20 -R

# A write through MQTT, its result, and what the instrument then holds.
mosquitto_sub -h 127.0.0.1 -p "$plain" -t 'plant/em1/boiler/+/result' -C 3 -W 20 >results &
subscriber=$!
sleep 1
mosquitto_pub -h 127.0.0.1 -p "$plain" -q 1 -t plant/em1/boiler/L01S1/set -m 1234.5678
mosquitto_pub -h 127.0.0.1 -p "$plain" -q 1 -t plant/em1/boiler/L01S1/set -m 42.5
mosquitto_pub -h 127.0.0.1 -p "$plain" -q 1 -t plant/em1/boiler/L01M0/set -m MANUAL
wait $subscriber
check "the write's result: written, read back" \
  grep -q '"item":"L01S1","request":"42.5","outcome":"written","sent":"L01S=42.500".*"value":42.5,.*"held":true' results
check "a write read back as another value is inexact, with both values" \
  grep -q '"request":"1234.5678","outcome":"inexact",.*"sent":"L01S=1234.56".*"value":1234.56,.*"held":false' results
check "the instrument holds the value written" bash -c "[ \"\$('$bin/em1sim' ctl '$work/a.ctl' get L01S)\" = 42.5 ]"
check "a write to an item not listed is rejected and logged" \
  grep -q '"item":"L01M0","request":"MANUAL","outcome":"rejected","reason":"not among the writable items' results
check "... and never reaches the instrument" bash -c "[ \"\$('$bin/em1sim' ctl '$work/a.ctl' get L01M)\" = AUTO ]"
check "... the rejection is in the log" grep -q 'set L01M0 = MANUAL rejected' gateway.log

# The line of one instrument goes down and comes back; the other goes on.
"$bin/em1sim" ctl "$work/b.ctl" hangup 2000 >/dev/null
check "a line down shows offline with the reason" \
  await plant/em1/kiln/status/detail 'failed \(a hang-up or a vanished device\)' 20
check "... and online again when it is back" await_log gateway.log 'kiln: the line on .* is back' 30
check "... status online" await plant/em1/kiln/status '^online' 20

# The broker stops; the rounds go on; the latest value is delivered when it is back.
kill "$broker"
wait "$broker" 2>/dev/null
check "the gateway sees the broker go" await_log gateway.log 'boiler: lost the broker' 20
"$bin/em1sim" ctl "$work/a.ctl" set L01S 77.75 >/dev/null
sleep 2
broker_start
check "after the broker's restart the latest value is delivered" \
  await plant/em1/boiler/L01S1 '"value":77.75,' 40
check "... the status is online" await plant/em1/boiler/status '^online' 20
check "... the outage is reported with the superseded count" \
  await_log gateway.log 'boiler: connected to the broker .* after [0-9]+ s away; [0-9]+ latest messages? published, [1-9][0-9]* superseded while away' 20

# SIGHUP reads the file again: a third instrument joins, the others go on.
cat >>gateway.conf <<EOF

[instrument dryer]
port = $work/c.link
items = L01S1
EOF
kill -HUP "$gateway"
check "SIGHUP adds an instrument and keeps the others" \
  await_log gateway.log 'reload: 2 instrument\(s\) kept, 0 stopped, 1 started' 20
check "... the new one is online" await plant/em1/dryer/status '^online' 30

# The gateway killed: the broker sends each instrument's last will.
kill -9 "$gateway"
wait "$gateway" 2>/dev/null
all_offline() {
  for _ in $(seq 20); do
    [ "$(mosquitto_sub -h 127.0.0.1 -p "$plain" -t 'plant/em1/+/status' --retained-only -W 1 2>/dev/null |
      grep -c '^offline$')" -eq 3 ] && return 0
  done
  return 1
}
check "the last will shows each instrument offline when the gateway is killed" all_offline

# Credentials and TLS, each against instrument c (free again).
run_gateway() { # LOG ARGUMENTS...
  local log=$1
  shift
  "$bin/em1" gateway --port "$work/c.link" --items L01S1 --name dryer "$@" 2>"$log" &
  pids+=($!)
  last=$!
}
run_gateway wrong-password.log --broker 127.0.0.1:$secured --user plant --password-file wrong.secret
check "wrong credentials are refused with a clear error" \
  await_log wrong-password.log 'dryer: the broker refused the connection: [Nn]ot authori[sz]ed' 20
kill "$last"
wait "$last" 2>/dev/null
run_gateway right-password.log --broker 127.0.0.1:$secured --user plant --password-file right.secret
check "right credentials connect" await_log right-password.log 'dryer: connected to the broker' 20
kill "$last"
wait "$last" 2>/dev/null
run_gateway wrong-ca.log --broker 127.0.0.1:$tls --ca-file other-ca.pem
check "a broker certificate from another CA is refused with a clear error" \
  await_log wrong-ca.log 'dryer: broker connection: .*certificate verify failed' 20
kill "$last"
wait "$last" 2>/dev/null
run_gateway plain-to-tls.log --broker 127.0.0.1:$tls
check "a plain connection to a TLS listener is told, with a hint" \
  await_log plain-to-tls.log 'dryer: the broker at .* closed the connection before answering.*TLS listener' 20
kill "$last"
wait "$last" 2>/dev/null
run_gateway unreachable.log --broker 127.0.0.1:$(free_port)
check "a broker out of reach is told while it lasts" \
  await_log unreachable.log 'dryer: the broker at .* has been out of reach for [0-9]+ s' 20
kill "$last"
wait "$last" 2>/dev/null
run_gateway tls.log --broker 127.0.0.1:$tls --ca-file ca.pem
check "TLS with the right CA connects" await_log tls.log 'dryer: connected to the broker' 20
check "... and serves the instrument" await_log tls.log 'dryer: reading 1 item' 20
kill -TERM "$last"
wait "$last"
check "SIGTERM ends the gateway with status 0" [ $? -eq 0 ]
check "... after publishing offline" \
  await em1/dryer/status '^offline' 10 --retained-only
check "... and says so" grep -q 'gateway: stopped' tls.log

finish gateway.log
