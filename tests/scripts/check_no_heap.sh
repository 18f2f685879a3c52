#!/usr/bin/env bash
# Checks that the driver's own object files call no heap function.
# Usage: check_no_heap.sh NM OBJECT...
set -euo pipefail
nm_tool=$1
shift
heap_symbols='^_?(malloc|calloc|realloc|free|aligned_alloc|posix_memalign|strdup|_Znw[jmy].*|_Zna[jmy].*|_ZdlPv.*|_ZdaPv.*)$'
found=$("$nm_tool" -u "$@" | awk '{print $NF}' | sed 's/@.*//' | grep -E "$heap_symbols" | sort -u || true)
if [ -n "$found" ]; then
  echo "FAILED: the driver calls heap functions: $(echo $found)" >&2
  exit 1
fi
echo "no heap function in $# driver object files"
