#!/usr/bin/env bash
# Builds and tests every leg: linux-x64 (under ASan and UBSan), linux-i686 (the binding
# 32-bit layout), windows-i686 (the DLL, its tests run under Wine where this machine runs
# 32-bit programs natively), windows-x64 (the same sources, tested under 64-bit Wine),
# release (the optimised build that users run, with the checks that need it) and fuzz
# (each libFuzzer target replays its corpus and fuzzes for a minute, two at a time).
# Installs the Debian packages it needs first. EM_LEGS="linux-x64" limits the run to the
# legs named.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/enable-i386.sh

legs=(${EM_LEGS:-linux-x64 linux-i686 windows-i686 windows-x64 release fuzz})
passed=0
skipped=0
failed=0
status=0
for leg in "${legs[@]}"; do
  echo "=== $leg: configure and build"
  cmake --preset "$leg" >/dev/null
  cmake --build --preset "$leg"
  echo "=== $leg: test"
  log=$(mktemp)
  ctest --preset "$leg" 2>&1 | tee "$log" || status=1
  total=$(sed -nE 's/.* tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2/p' "$log" | tail -1)
  bad=$(sed -nE 's/.* tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/p' "$log" | tail -1)
  skip=$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$log" || true)
  rm -f "$log"
  if [ -z "$total" ]; then
    echo "=== $leg: ctest reported no result" >&2
    status=1
    continue
  fi
  passed=$((passed + total - bad - skip))
  skipped=$((skipped + skip))
  failed=$((failed + bad))
  echo "=== $leg: $((total - bad - skip)) passed, $bad failed, $skip skipped"
done
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
