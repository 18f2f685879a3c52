#!/usr/bin/env bash
# Checks the built driver exports ZelMain and nothing else of ours.
# Usage: check_exports.sh DRIVER [OBJDUMP]
set -euo pipefail
driver=$1
objdump=${2:-objdump}
fail=0
case "$driver" in
*.dll)
  exports=$("$objdump" -p "$driver" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}')
  ;;
*)
  exports=$(nm -D --defined-only "$driver" | awk '$2 ~ /[TDBRVW]/ {print $3}' | grep -vE '^(_init|_fini|_edata|_end|__bss_start)$' || true)
  ;;
esac
echo "exports: $(echo $exports)"
if [ "$(echo $exports)" != "ZelMain" ]; then
  echo "FAILED: the driver must export exactly ZelMain" >&2
  fail=1
fi
exit $fail
