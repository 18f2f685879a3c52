#!/usr/bin/env bash
# The gateway soak: em1 gateway serves four simulated instruments, five items each, as fast
# as the lines allow (interval 0), to a broker of its own, while each simulator spoils its
# replies at random: every fault kind at 4 % (hang-ups and foreign replies among them),
# trailing bytes at 2 %, replies to other requests (the reply to the request before, then
# the request's own after 0.3, 1.5 or 4 s) at 3 %, and late replies after 1.5, 3 and 6 s at
# 3 %. Nothing moves on the instruments (no drift, no writes), and every item holds a value
# no other item holds, so each reading published is either what its instrument holds or a
# wrong one. Prints the readings counted as right, as errors (no value published) and as
# wrong, and the faults fired by kind; exits with 1 when a reading was wrong.
#
#   ./scripts/gateway-soak.sh              # ten minutes, on the release build
#   ./scripts/gateway-soak.sh 30 --bin DIR # thirty minutes, with the programs in DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

minutes=${1:-10}
if [ "${2:-}" = --bin ]; then
  bin=$(cd "$3" && pwd)
else
  cd "$top"
  ./scripts/install-deps.sh soak
  cmake --preset release >/dev/null
  cmake --build --preset release --target EM em1 em1sim >/dev/null
  bin=$top/build/release/bin
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
cd "$work"

. "$top/scripts/test-broker.sh"
StartTestBroker "$work"
pids+=("$broker_pid")

faults=(
  '* random rate=0.04'
  '* trailing rate=0.02'
  '* foreign rate=0.01 delay=300'
  '* foreign rate=0.01 delay=1500'
  '* foreign rate=0.01 delay=4000'
  '* late rate=0.01 delay=1500'
  '* late rate=0.01 delay=3000'
  '* late rate=0.01 delay=6000'
)
items=(L01S1 L02S1 L01M0 L02M0 M01V1)
modes=(AUTO MANUAL TRIM CASCADE)

# What instrument i holds, as its readings must show it: a number as "value", a mode by name.
expected() { # INSTRUMENT ITEM
  case $2 in
  L01S1) echo "\"value\":$(($1 * 100 + 11)).5," ;;
  L02S1) echo "\"value\":$(($1 * 100 + 22)).5," ;;
  L01M0) echo "\"text\":\"${modes[$(($1 - 1))]}\"" ;;
  L02M0) echo "\"text\":\"${modes[$((4 - $1))]}\"" ;;
  M01V1) echo "\"value\":$(($1 * 10 + 3)).25," ;;
  esac
}

{
  echo "broker = 127.0.0.1:$broker_port"
  echo "topic-prefix = soak"
  echo "interval = 0"
  echo "items = $(IFS=,; echo "${items[*]}")"
} >gateway.conf
for i in 1 2 3 4; do
  options=(--link "$work/i$i" --control "$work/i$i.ctl" --trace "$work/i$i.trace" --no-drift
    --seed "$((i * 7919))")
  for rule in "${faults[@]}"; do options+=(--fault "$rule"); done
  options+=(--set "L01S=$((i * 100 + 11)).5" --set "L02S=$((i * 100 + 22)).5"
    --set "L01M=${modes[$((i - 1))]}" --set "L02M=${modes[$((4 - i))]}"
    --set "M01V=$((i * 10 + 3)).25")
  "$bin/em1sim" "${options[@]}" >"i$i.log" 2>&1 &
  pids+=($!)
  printf '\n[instrument i%s]\nport = %s\n' "$i" "$work/i$i" >>gateway.conf
done
for i in 1 2 3 4; do
  for _ in $(seq 100); do [ -e "$work/i$i" ] && break; sleep 0.1; done
done

mosquitto_sub -h 127.0.0.1 -p "$broker_port" -q 1 -v -t 'soak/+/+' >readings 2>/dev/null &
pids+=($!)
"$bin/em1" gateway --config gateway.conf 2>gateway.log &
gateway=$!
pids+=("$gateway")

echo "gateway soak: 4 instruments x ${#items[@]} items for $minutes min; faults: ${faults[*]}"
sleep "$((minutes * 60))"
kill -TERM "$gateway"
wait "$gateway" || true

right=0 errors=0 wrong=0
for i in 1 2 3 4; do
  for item in "${items[@]}"; do
    grep "^soak/i$i/$item " readings >item.readings || true
    want=$(expected "$i" "$item")
    errors=$((errors + $(grep -c '"error":' item.readings || true)))
    right=$((right + $(grep -v '"error":' item.readings | grep -cF -- "$want" || true)))
    if grep -v '"error":' item.readings | grep -vF -- "$want" >wrong.readings; then
      wrong=$((wrong + $(wc -l <wrong.readings)))
      sed 's/^/wrong: /' wrong.readings | head -5
    fi
  done
done
foreign_errors=$(grep -c '"foreign":' readings || true)
echo "readings: $right right, $errors errors (no value; $foreign_errors naming a foreign reply), $wrong wrong"
echo -n "faults fired:"
cat i?.trace | grep -o -- '-- fault [a-z]*' | awk '{ print $3 }' | sort | uniq -c |
  awk '{ printf " %s %s", $2, $1 } END { print "" }'
echo "line outages told by the gateway: $(grep -c 'line on .* failed' gateway.log || true)"
[ "$wrong" -eq 0 ]
