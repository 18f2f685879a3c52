#!/usr/bin/env bash
# Runs a command only when a file it needs exists; skipped (exit status 77) otherwise.
# Usage: require_file.sh FILE COMMAND [ARG...]
set -euo pipefail
if [ ! -f "$1" ]; then
  echo "require_file: skipped: $1 does not exist (build it first)"
  exit 77
fi
shift
exec "$@"
