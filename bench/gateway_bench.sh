#!/usr/bin/env bash
# The gateway's figures: round time of each instrument with 16 instruments x 10 items in one
# process against one instrument alone; time from the end of a read to the delivery of its
# message by the broker to a subscriber on this machine (median and p99); CPU per published
# reading; resident memory with 16 instruments. Prints a Markdown table.
#
# Usage: gateway_bench.sh BIN_FOLDER [SECONDS]     (the release build's bin)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$1" && pwd)
seconds=${2:-40}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

. "$top/scripts/test-broker.sh"
StartTestBroker "$PWD"
port=$broker_port
pids+=("$broker_pid")
for i in $(seq 16); do
  "$bin/em1sim" --link "$work/i$i" >/dev/null 2>&1 &
  pids+=($!)
done
sleep 1

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# run COUNT: the gateway on COUNT instruments for $seconds, after a start-up of 5 s.
run() {
  local count=$1
  {
    echo "broker = 127.0.0.1:$port"
    echo "interval = 0"
    echo "items = L01S1,L01V1,L01M0,L01X0,L02S1,L02V1,L02M0,M01V1,M02V1,INIT"
    for i in $(seq "$count"); do printf '[instrument i%s]\nport = %s\n' "$i" "$work/i$i"; done
  } >gateway.conf
  "$bin/em1" gateway --config gateway.conf 2>"gateway-$count.log" &
  local gateway=$!
  sleep 5
  mosquitto_sub -h 127.0.0.1 -p "$port" -t 'em1/+/+' -R -F '%U %t %p' -W "$seconds" \
    >"messages-$count" 2>/dev/null &
  local subscriber=$!
  local before
  before=$(cpu_ticks "$gateway")
  sleep "$seconds"
  local after
  after=$(cpu_ticks "$gateway")
  rss=$(awk '/VmHWM/ {print $2}' "/proc/$gateway/status")
  kill "$subscriber" 2>/dev/null
  kill -TERM "$gateway"
  wait "$gateway"
  ticks=$((after - before))
}

# Seconds of the UTC day: from a Unix time and from an ISO 8601 stamp.
analyse() {
  awk -v ticks="$1" -v hz="$(getconf CLK_TCK)" '
    function day(t) { return t - int(t / 86400) * 86400 }
    function stamp(s) { split(substr(s, 12, 12), p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
    function sorted(a, n,   i, j, t) {
      for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j > 0 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
    }
    $3 ~ /"item":"L01S1"/ || $3 ~ /"value"/ {
      if (match($3, /"time":"[^"]*"/) == 0) next
      t = stamp(substr($3, RSTART + 8, RLENGTH - 9))
      latency[++n] = (day($1) - t) * 1000
      if ($3 ~ /"item":"L01S1"/) {
        if ($2 in last) { gap[++g] = t - last[$2] }
        last[$2] = t
      }
    }
    END {
      sorted(latency, n); sorted(gap, g)
      k = int(n * 0.99)
      if (k < 1) k = 1
      printf "%d %.3f %.3f %.3f %.3f\n", n, gap[int((g + 1) / 2)], latency[int((n + 1) / 2)],
        latency[k], ticks / hz * 1000 / n
    }'
}

run 1
read -r readings1 round1 median1 p991 cpu1 _ < <(analyse "$ticks" <messages-1)
run 16
rss16=$rss
read -r readings16 round16 median16 p9916 cpu16 _ < <(analyse "$ticks" <messages-16)

echo "| figure | 1 instrument | 16 instruments |"
echo "|---|---|---|"
echo "| readings published in ${seconds} s | $readings1 | $readings16 |"
echo "| round time of an instrument (median, s) | $round1 | $round16 |"
echo "| end of a read to delivery by the broker, median (ms) | $median1 | $median16 |"
echo "| end of a read to delivery by the broker, p99 (ms) | $p991 | $p9916 |"
echo "| CPU per published reading (ms) | $cpu1 | $cpu16 |"
echo "| peak resident memory of the gateway (MB) | | $(awk -v k="$rss16" 'BEGIN {printf "%.1f", k / 1024}') |"
echo "load average during the run: $(cut -d' ' -f1-3 /proc/loadavg)"
