#!/usr/bin/env bash
# systemd-analyze verify on the gateway's unit, with ExecStart pointed at the em1 of this
# build (verify checks that the program exists), without looking for the man page, which a
# build machine has not installed.
# Usage: check_unit.sh UNIT EM1 WORK_FOLDER
set -euo pipefail
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
rm -rf "$3" && mkdir -p "$3"
sed "s|^ExecStart=[^ ]*|ExecStart=$2|" "$1" >"$3/em1-gateway@.service"
cp "$3/em1-gateway@.service" "$3/em1-gateway@plant.service"
systemd-analyze verify --man=no "$3/em1-gateway@plant.service"
echo "systemd-analyze verify: no complaint"
