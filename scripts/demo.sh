#!/usr/bin/env bash
# The main job: builds the driver and a host, loads the driver as a host does and
# shows what it says about itself.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset linux-x64 >/dev/null
cmake --build --preset linux-x64 --target zelhost EM >/dev/null
exec build/linux-x64/bin/zelhost info
