#!/usr/bin/env bash
# Runs one fuzz target: replays its corpus, then fuzzes for a bounded time. Fails on any
# finding, and says where the failing input is and how to replay it.
#
# Usage: run.sh BINARY CORPUS SECONDS MAX_LEN WORK [DICTIONARY]
# EM_FUZZ_SECONDS in the environment overrides SECONDS. New inputs go to WORK/corpus
# (CORPUS is only read), findings to WORK/artifacts.
set -euo pipefail

binary=$1 corpus=$2 seconds=${EM_FUZZ_SECONDS:-$3} max_len=$4 work=$5 dictionary=${6:-}
rm -rf "$work/artifacts"
mkdir -p "$work/corpus" "$work/artifacts"
options=(-max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048
         -print_final_stats=1 -artifact_prefix="$work/artifacts/")
if [ -n "$dictionary" ]; then
  options+=(-dict="$dictionary")
fi
if ! "$binary" "${options[@]}" "$work/corpus" "$corpus"; then
  echo "fuzz: $(basename "$binary") failed; findings in $work/artifacts:" >&2
  ls "$work/artifacts" >&2
  echo "fuzz: replay one with: $binary $work/artifacts/FILE" >&2
  exit 1
fi
