#!/usr/bin/env bash
# The main job: builds the driver, the host program and the instrument simulator, then
# loads the driver as a host does, shows what it says about itself and brings an instance
# up and down against the simulator on a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset linux-x64 >/dev/null
cmake --build --preset linux-x64 --target zelhost EM em1sim >/dev/null
bin=build/linux-x64/bin

"$bin/zelhost" info
echo

port_file=$(mktemp)
"$bin/em1sim" --trace build/linux-x64/demo-trace.log >"$port_file" &
simulator=$!
trap 'kill "$simulator" 2>/dev/null; wait "$simulator" 2>/dev/null; rm -f "$port_file"' EXIT
for _ in $(seq 50); do
  [ -s "$port_file" ] && break
  sleep 0.1
done
port=$(head -1 "$port_file")
echo "simulator answering on $port"
"$bin/zelhost" start "${port#/dev/}"
echo
echo "what the instrument saw (build/linux-x64/demo-trace.log):"
cat build/linux-x64/demo-trace.log
