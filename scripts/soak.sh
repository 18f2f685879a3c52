#!/usr/bin/env bash
# The soak: a host polls 30 items against the simulator with 1 % of the replies spoiled at
# random, for SECONDS (600 by default), on the release build. Prints its figures; exits
# with 1 when a fault went unreported, a value was wrong, an item did not come back or a
# descriptor leaked.
#
#   ./scripts/soak.sh          # ten minutes
#   ./scripts/soak.sh 60       # one minute, as the release tests run it
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
./scripts/install-deps.sh soak
cmake --preset release >/dev/null
cmake --build --preset release --target soak
exec build/release/bin/soak "$seconds"
