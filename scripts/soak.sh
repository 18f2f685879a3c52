#!/usr/bin/env bash
# The soaks, side by side on the release build, for SECONDS each (600 by default):
# - the driver's: a host polls 30 items against the simulator with 1 % of the replies spoiled
#   at random; it fails when a fault went unreported, a value was wrong, an item did not come
#   back or a descriptor leaked;
# - the gateway's: four instruments with random line faults, replies to other requests and late
#   replies at several delays, sets published
#   throughout (some retained, some while the gateway is stopped), the broker restarted twice
#   and the gateway once; it fails on a published value the instrument did not hold when it
#   was read, a result that disagrees with what the instrument holds, a command applied twice
#   or late, or resident memory that grows after the first minute.
#
#   ./scripts/soak.sh          # ten minutes
#   ./scripts/soak.sh 1800     # half an hour
#   ./scripts/soak.sh 60 gateway   # one of them: driver or gateway
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
which=${2:-both}
case $which in
both | driver | gateway) ;;
*)
  echo "soak: unknown soak '$which' (driver, gateway or both)" >&2
  exit 64
  ;;
esac
./scripts/install-deps.sh soak
cmake --preset release >/dev/null
cmake --build --preset release --target soak em1 em1sim EM
status=0
if [ "$which" != driver ]; then
  tests/gateway/soak.sh build/release/bin build/release/gateway-soak "$seconds" &
  gateway=$!
fi
if [ "$which" != gateway ]; then
  build/release/bin/soak "$seconds" || status=1
fi
if [ "$which" != driver ]; then
  wait "$gateway" || status=1
fi
exit $status
