# Sourced by the scripts that run em1 gateway against a broker of their own (the demo, the
# gateway benchmark, the many-instrument test): StartTestBroker DIR picks a free loopback
# port, writes DIR/broker.conf (anonymous, no persistence), starts mosquitto in the
# background with its log in DIR/broker.log, and sets broker_port and broker_pid.
StartTestBroker() {
  local dir=$1 candidate
  broker_port=
  for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 40000))
    (echo >"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null || { broker_port=$candidate; break; }
  done
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$broker_port" \
    >"$dir/broker.conf"
  mosquitto -c "$dir/broker.conf" >"$dir/broker.log" 2>&1 &
  broker_pid=$!
}
