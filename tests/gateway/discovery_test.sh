#!/usr/bin/env bash
# Home Assistant discovery against a real broker: every config message checked by a table of
# the keys and types Home Assistant documents (discovery_check.py); then this script plays
# Home Assistant: a command on an entity's command topic reaches the instrument and the state
# topic follows; Home Assistant's start brings the configs again; SIGHUP without an item or an
# instrument removes their configs.
#
# Usage: discovery_test.sh BIN_FOLDER WORK_FOLDER
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
. "$here/checks.sh"
require_tools mosquitto mosquitto_sub mosquitto_pub python3
start_test_broker
for sim in a b; do
  "$bin/em1sim" --link "$work/$sim.link" --control "$work/$sim.ctl" >"$sim.log" 2>&1 &
  pids+=($!)
done
for sim in a b; do
  await_simulator "$sim"
done
sub() { mosquitto_sub -h 127.0.0.1 -p "$broker_port" "$@" 2>/dev/null; }
publish() { mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 "$@"; }
configs() { sub -t 'homeassistant/+/+/+/config' -v --retained-only -W 3 | sort; }
# The value of KEY (in full) of the config on TOPIC.
config_key() { python3 "$here/discovery_check.py" key configs.txt "$@"; }

write_config() { # BOILER_ITEMS [KILN]
  {
    echo "broker = 127.0.0.1:$broker_port"
    echo "discovery ="
    echo "[instrument boiler]"
    echo "port = $work/a.link"
    echo "items = $1"
    echo "writable = L01S1, L01M0, L01C0"
    [ -n "${2:-}" ] && printf '[instrument kiln]\nport = %s\nitems = L01S1\n' "$work/b.link"
  } >gateway.conf
}
write_config "L01S1, L01V1@5, L01M0, L01C0, L01X0, A02" kiln
"$bin/em1" gateway --config gateway.conf 2>gateway.log &
gateway=$!
pids+=("$gateway")
check "both instruments online" await 'em1/+/status' '^online' 20 -C 2
check "the revision read from the instrument names the device" \
  await homeassistant/sensor/em1_boiler/alerts/config '"sw":"REV 2.14"' 20
check "the kiln's last config, its alerts', is there too" \
  await homeassistant/sensor/em1_kiln/alerts/config '"sw"' 20

configs >configs.txt
check "one config per item and per instrument's alerts (9)" [ "$(wc -l <configs.txt)" -eq 9 ]
check "every config has the keys and types of its component" \
  python3 "$here/discovery_check.py" configs.txt homeassistant
# TOPIC COMPONENT: what each item becomes.
for entity in "number/em1_boiler/L01S1" "sensor/em1_boiler/L01V1" "select/em1_boiler/L01M0" \
  "select/em1_boiler/L01C0" "sensor/em1_boiler/L01X0" "binary_sensor/em1_boiler/A02" \
  "sensor/em1_boiler/alerts" "sensor/em1_kiln/L01S1"; do
  check "$entity" grep -q "^homeassistant/$entity/config " configs.txt
done
check "L01V1, read every 5 s, expires after three of its periods" \
  [ "$(config_key homeassistant/sensor/em1_boiler/L01V1/config expire_after)" = 15 ]
check "the mode's options are the instrument's tokens" [ "$(config_key \
  homeassistant/select/em1_boiler/L01M0/config options)" = "OFF MANUAL TRIM AUTO SLAVE CASCADE ON" ]

# Home Assistant's part: commands from the configs' command topics, as it publishes them
# (not retained); the state topics follow.
number=homeassistant/number/em1_boiler/L01S1/config
select=homeassistant/select/em1_boiler/L01M0/config
publish -t "$(config_key $number command_topic)" -m 42.5
check "a number set from Home Assistant reaches the instrument" \
  await "$(config_key $number state_topic)" '"value":42.5,' 20
check "... which holds it" [ "$("$bin/em1sim" ctl "$work/a.ctl" get L01S)" = 42.5 ]
publish -t "$(config_key $select command_topic)" -m MANUAL
check "a select's option reaches the instrument and its state" \
  await "$(config_key $select state_topic)" '"text":"MANUAL"' 20

# Home Assistant starts: every config again.
sub -t 'homeassistant/+/+/+/config' -R -v -W 10 -C 9 >again.txt &
listener=$!
sleep 1
publish -t homeassistant/status -m online
wait "$listener"
check "Home Assistant's online brings every config again" [ "$(wc -l <again.txt)" -eq 9 ]

# SIGHUP: the kiln and L01C0 leave the configuration.
write_config "L01S1, L01V1@5, L01M0, L01X0, A02"
sed -i 's/, L01C0$//' gateway.conf
kill -HUP "$gateway"
check "the reload restarts the boiler and stops the kiln" \
  await_log gateway.log 'reload: 0 instrument\(s\) kept, 2 stopped, 1 started' 20
check "... the boiler online again" await em1/boiler/status '^online' 20
configs >after.txt
check "the configs of the item and instrument gone are removed, the others stay (6)" \
  bash -c "[ \$(wc -l <after.txt) -eq 6 ] && ! grep -q -e em1_kiln -e L01C0 after.txt"
kill -TERM "$gateway"
wait "$gateway"
finish gateway.log
