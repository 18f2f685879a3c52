#!/usr/bin/env bash
# The gateway's figures: round time of each instrument with INSTRUMENTS x 10 items in one
# process against one instrument alone; time from the end of a read to the delivery of its
# message by the broker to a subscriber on this machine (median and p99); CPU per published
# reading; resident memory with INSTRUMENTS instruments. Then set -> result: the time from
# the publication of a set to the arrival of its result, over single sets and a burst of 20,
# with 10 items read back to back. The INSTRUMENTS run is made in PAIRS, taking turns: with
# discovery and the metrics off (metrics-interval = 0), and with Home Assistant discovery and
# the metrics on (the metrics topic at its default interval, /metrics served and scraped every
# second), for what they cost; CPU and memory are the medians of the pairs, as other work on
# the machine moves them from one run to the next. Prints Markdown tables.
#
# Usage: gateway_bench.sh BIN_FOLDER [SECONDS] [INSTRUMENTS] [PAIRS]   (the release build's bin)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$1" && pwd)
seconds=${2:-40}
instruments=${3:-64}
pairs=${4:-3}
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
for i in $(seq "$instruments"); do
  "$bin/em1sim" --link "$work/i$i" --control "$work/i$i.ctl" >/dev/null 2>&1 &
  pids+=($!)
done
sleep 1

# The CPU time of every thread of the process so far, in milliseconds (the scheduler's count in
# nanoseconds, finer than the clock ticks of /proc/PID/stat).
cpu_ms() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%d", s / 1e6 }'; }

http_port=$((port + 1))
configure() { # COUNT [extras]
  {
    echo "broker = 127.0.0.1:$port"
    echo "interval = 0"
    if [ -n "${2:-}" ]; then
      echo "discovery ="
      echo "metrics-listen = 127.0.0.1:$http_port"
    else
      echo "metrics-interval = 0"
    fi
    echo "items = L01S1,L01V1,L01M0,L01X0,L02S1,L02V1,L02M0,M01V1,M02V1,INIT"
    echo "writable = L01S1"
    for i in $(seq "$1"); do printf '[instrument i%s]\nport = %s\n' "$i" "$work/i$i"; done
  } >gateway.conf
}

# run COUNT [extras]: the gateway on COUNT instruments for $seconds, after a start-up of 5 s;
# with extras, discovery and metrics on, and a scrape of /metrics every second.
run() {
  local count=$1 extras=${2:-}
  configure "$count" "$extras"
  "$bin/em1" gateway --config gateway.conf 2>"gateway-$count$extras.log" &
  local gateway=$!
  sleep 5
  mosquitto_sub -h 127.0.0.1 -p "$port" -t 'em1/+/+' -R -F '%U %t %p' -W "$seconds" \
    >"messages-$count$extras" 2>/dev/null &
  local subscriber=$!
  local scraper=
  if [ -n "$extras" ]; then
    while :; do
      curl -s "http://127.0.0.1:$http_port/metrics" >/dev/null
      sleep 1
    done &
    scraper=$!
  fi
  local before
  before=$(cpu_ms "$gateway")
  sleep "$seconds"
  local after
  after=$(cpu_ms "$gateway")
  rss=$(awk '/VmHWM/ {print $2}' "/proc/$gateway/status")
  [ -n "$scraper" ] && kill "$scraper" 2>/dev/null
  kill "$subscriber" 2>/dev/null
  kill -TERM "$gateway"
  wait "$gateway"
  cpu=$((after - before))
}

# Seconds of the UTC day: from a Unix time and from an ISO 8601 stamp.
analyse() {
  awk -v cpu="$1" '
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
        latency[k], cpu / n
    }'
}

now() { date +%s.%N; }
# Waits for the result whose id is ID in FILE; prints its arrival time.
result_time() { # FILE ID
  for _ in $(seq 200); do
    awk -v id="\"id\":\"$2\"" 'index($0, id) { print $1; found = 1; exit } END { exit !found }' "$1" &&
      return 0
    sleep 0.05
  done
  echo nan
}
median_p99() { # values on standard input, in seconds; prints the median and p99 in ms
  sort -g | awk '{ v[++n] = $1 * 1000 } END {
    k = int(n * 0.99); if (k < 1) k = 1
    printf "%.0f %.0f %.0f\n", v[int((n + 1) / 2)], v[k], v[n] }'
}

# Sets against one instrument with 10 items read back to back: 20 one at a time, at moments
# that fall anywhere in the round, then 20 at once.
sets() {
  configure 1
  "$bin/em1" gateway --config gateway.conf 2>gateway-sets.log &
  local gateway=$!
  mosquitto_sub -h 127.0.0.1 -p "$port" -t 'em1/i1/L01S1/result' -F '%U %p' \
    >results 2>/dev/null &
  local subscriber=$!
  sleep 5
  : >singles
  for k in $(seq 20); do
    local sent
    sent=$(now)
    mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t em1/i1/L01S1/set \
      -m "{\"value\":$((100 + k)).5,\"id\":\"s$k\"}"
    echo "$sent $(result_time results "s$k")" >>singles
    sleep "0.$((RANDOM % 9 + 1))"
  done
  local burst
  burst=$(now)
  for k in $(seq 20); do
    mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t em1/i1/L01S1/set \
      -m "{\"value\":$((200 + k)).5,\"id\":\"b$k\"}"
  done
  local last
  last=$(result_time results b20)
  kill "$subscriber" 2>/dev/null
  kill -TERM "$gateway"
  wait "$gateway"
  read -r set_median set_p99 set_max < <(awk '{ print $2 - $1 }' singles | median_p99)
  burst_seconds=$(awk -v a="$burst" -v b="$last" 'BEGIN { printf "%.2f", b - a }')
}

median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[++n] = $1 } END { print v[int((n + 1) / 2)] }'; }
run 1
read -r readings1 round1 median1 p991 cpu1 _ < <(analyse "$cpu" <messages-1)
cpusN= rssesN= cpusX= rssesX=
for pair in $(seq "$pairs"); do
  run "$instruments"
  rssesN+=" $rss"
  read -r readingsN roundN medianN p99N cpu _ < <(analyse "$cpu" <messages-"$instruments")
  cpusN+=" $cpu"
  run "$instruments" extras
  rssesX+=" $rss"
  read -r readingsX roundX medianX p99X cpu _ < <(analyse "$cpu" <messages-"$instruments"extras)
  cpusX+=" $cpu"
done
cpuN=$(median <<<"$cpusN") rssN=$(median <<<"$rssesN")
cpuX=$(median <<<"$cpusX") rssX=$(median <<<"$rssesX")
sets
# One exchange: an instrument's round over its 11 exchanges (10 items and the alerts).
exchange=$(awk -v r="$round1" 'BEGIN { printf "%.0f", r / 11 * 1000 }')

change() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.1f %%", (b - a) / a * 100 }'; }
mb() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
echo "| figure | 1 instrument | $instruments instruments | $instruments, discovery and metrics on | change |"
echo "|---|---|---|---|---|"
echo "| readings published in ${seconds} s | $readings1 | $readingsN | $readingsX | |"
echo "| round time of an instrument (median, s) | $round1 | $roundN | $roundX | |"
echo "| end of a read to delivery by the broker, median (ms) | $median1 | $medianN | $medianX | |"
echo "| end of a read to delivery by the broker, p99 (ms) | $p991 | $p99N | $p99X | |"
echo "| CPU per published reading (ms) | $cpu1 | $cpuN | $cpuX | $(change "$cpuN" "$cpuX") |"
echo "| peak resident memory of the gateway (MB) | | $(mb "$rssN") | $(mb "$rssX") | $(change "$rssN" "$rssX") |"
echo
echo "The last run's readings and delivery times; CPU and memory: medians of $pairs pairs (CPU ms:$cpusN |$cpusX; memory kB:$rssesN |$rssesX)."
echo
echo "| set -> result, 10 items at interval 0 | ms |"
echo "|---|---|"
echo "| one exchange (a round over 11: 10 items and the alerts) | $exchange |"
echo "| single sets (20): median | $set_median |"
echo "| single sets (20): p99 | $set_p99 |"
echo "| the floor: write, read-back and the exchange in progress (3 exchanges) | $((3 * exchange)) |"
echo "| a burst of 20, from the first publication to the last result | $(awk -v s="$burst_seconds" 'BEGIN { printf "%.0f", s * 1000 }') |"
echo "load average during the run: $(cut -d' ' -f1-3 /proc/loadavg)"
