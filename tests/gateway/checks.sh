# Sourced by the gateway's tests against a real broker: the tools they need, named checks,
# bounded waits for a message or a log line, and the processes to stop at the end. Set
# broker_port before await, or start a broker with start_test_broker.
checks_folder=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Skips the test (status 77) unless every tool named is installed.
require_tools() {
  for tool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # NAME COMMAND...
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

# A message on TOPIC that matches PATTERN (grep -E), retained or live, within SECONDS.
await() { # TOPIC PATTERN SECONDS [mosquitto_sub options]
  local topic=$1 pattern=$2 seconds=$3
  shift 3
  grep -E -m 1 -q -- "$pattern" < <(mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t "$topic" \
    -W "$seconds" "$@" 2>/dev/null)
}
# No message on TOPIC matches PATTERN within SECONDS.
quiet() { ! await "$@"; }
# A line matching PATTERN in FILE within SECONDS.
await_log() { # FILE PATTERN SECONDS
  for _ in $(seq $(($3 * 10))); do
    grep -E -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
# Waits for the broker started by StartTestBroker to listen.
await_broker() {
  for _ in $(seq 100); do
    (echo >"/dev/tcp/127.0.0.1/$broker_port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "the broker did not start:"
  cat broker.log
  exit 1
}
# Waits until the simulator started with --link NAME.link --control NAME.ctl in the work
# folder is up: its link made and its control socket answering (the socket is bound before it
# listens, so its file alone is not enough).
await_simulator() { # NAME
  for _ in $(seq 100); do
    [ -e "$work/$1.link" ] && "$bin/em1sim" ctl "$work/$1.ctl" get L01S >/dev/null 2>&1 &&
      return 0
    sleep 0.1
  done
  echo "the simulator $1 did not start"
  exit 1
}
# A broker of the test's own on a free loopback port, listening: sets broker_port and
# broker_pid, and stops it at the end.
start_test_broker() {
  . "$checks_folder/../../scripts/test-broker.sh"
  StartTestBroker "$PWD"
  pids+=("$broker_pid")
  await_broker
}
# Ends the test: the count of failed checks, and the gateway's log when any failed.
finish() { # LOG
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; the gateway's log:"
    cat "$1"
    exit 1
  fi
  echo "all checks passed"
}
