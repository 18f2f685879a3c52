#!/usr/bin/env bash
# Builds and tests every leg: linux-x64 (under ASan and UBSan), linux-i686 (the binding
# 32-bit layout), windows-i686 (the DLL that hosts load, its tests under Wine: 32-bit Wine
# where the kernel runs 32-bit programs, Wine's WoW64 mode in a Debian trixie root where it
# cannot), windows-x64 (the same sources, tested under 64-bit Wine), release (the optimised
# build that users run, with the checks that need it), tsan (the driver, em1 and em1sim under
# ThreadSanitizer: 16 instruments in one gateway process) and fuzz (each libFuzzer target
# replays its corpus and fuzzes for 20 s, two at a time).
#
# The legs build one after another while the tests of the legs already built run beside
# them: the tests mostly wait on lines and timeouts, the builds keep the cores busy. Build
# output goes to build/test-logs/LEG.build.log and is shown when a build fails. Installs
# the Debian packages it needs first. EM_LEGS="linux-x64" limits the run to the legs
# named; EM_WINE_WOW64=1 runs the windows-i686 tests under WoW64 on any kernel.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)

all_legs=(linux-x64 linux-i686 windows-i686 windows-x64 release tsan fuzz)
read -r -a legs <<<"${EM_LEGS:-${all_legs[*]}}"
for leg in "${legs[@]}"; do
  [[ " ${all_legs[*]} " == *" $leg "* ]] || { echo "test: unknown leg '$leg' (${all_legs[*]})" >&2; exit 64; }
done
has_leg() { [[ " ${legs[*]} " == *" $1 "* ]]; }

./scripts/install-deps.sh test
if has_leg linux-i686; then
  ./scripts/enable-i386.sh
fi
wine_i686="Wine native 32-bit"
if has_leg windows-i686 && { [ -n "${EM_WINE_WOW64:-}" ] || ! ./scripts/i386-native.sh; }; then
  export EM_WINE_WOW64=1 EM_WOW64_ROOT=${EM_WOW64_ROOT:-/var/cache/em1-wow64}
  wine_i686="Wine WoW64 (Debian trixie Wine 10 in $EM_WOW64_ROOT)"
  if [ ! -f "$EM_WOW64_ROOT/.prepared" ]; then
    ./scripts/install-deps.sh wow64
  fi
fi

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

# Configures and builds one leg; writes its status and times to $logs/LEG.built.
build_leg() {
  local leg=$1 t0 t1 t2 status=0
  echo "=== $leg: configure and build ($logs/$leg.build.log)"
  t0=$(date +%s)
  cmake --preset "$leg" >"$logs/$leg.build.log" 2>&1 || status=$?
  t1=$(date +%s)
  if [ "$status" -eq 0 ]; then
    cmake --build --preset "$leg" >>"$logs/$leg.build.log" 2>&1 || status=$?
  fi
  t2=$(date +%s)
  echo "$status $((t1 - t0)) $((t2 - t1))" >"$logs/$leg.built.partial"
  mv "$logs/$leg.built.partial" "$logs/$leg.built"
}

# The builds, in order, in the background. The Windows legs run the Linux simulator, and
# windows-x64 reads the version resource of the i686 DLL: what a leg needs from a leg not
# in the run is built first. The WoW64 root, when needed, is made beside the builds.
(
  if [ -n "${EM_WINE_WOW64:-}" ]; then
    ./scripts/prepare-wow64.sh "$EM_WOW64_ROOT" >"$logs/wow64.log" 2>&1 || true
  fi
) &
wow64_pid=$!
(
  if { has_leg windows-i686 || has_leg windows-x64; } && ! has_leg linux-x64; then
    cmake --preset linux-x64 >/dev/null && cmake --build --preset linux-x64 --target em1sim >/dev/null
  fi
  if has_leg windows-x64 && ! has_leg windows-i686; then
    cmake --preset windows-i686 >/dev/null && cmake --build --preset windows-i686 --target EM >/dev/null
  fi
  for leg in "${legs[@]}"; do
    build_leg "$leg"
  done
) &
builds_pid=$!
trap 'kill $builds_pid $wow64_pid 2>/dev/null || true' EXIT

passed=0
skipped=0
failed=0
status=0
summary=()
for leg in "${legs[@]}"; do
  while [ ! -f "$logs/$leg.built" ]; do
    kill -0 "$builds_pid" 2>/dev/null || break
    sleep 1
  done
  read -r built configure_s build_s <"$logs/$leg.built" || built=1
  if [ "$built" -ne 0 ]; then
    echo "=== $leg: configure or build failed; the end of $logs/$leg.build.log:" >&2
    tail -n 40 "$logs/$leg.build.log" >&2
    summary+=("$(printf '%-13s %5ss %5ss %6s  build failed' "$leg" "${configure_s:-?}" "${build_s:-?}" -)")
    status=1
    continue
  fi
  how=""
  if [ "$leg" = windows-i686 ]; then
    if [ -n "${EM_WINE_WOW64:-}" ]; then
      wait "$wow64_pid" || true
      if [ ! -f "$EM_WOW64_ROOT/.prepared" ]; then
        echo "=== windows-i686: the WoW64 Wine root could not be made:" >&2
        cat "$logs/wow64.log" >&2
      fi
    fi
    how=" ($wine_i686)"
  fi
  echo "=== $leg: built in ${configure_s} s + ${build_s} s; test$how"
  t0=$(date +%s)
  ctest --preset "$leg" 2>&1 | tee "$logs/$leg.test.log" || status=1
  test_s=$(($(date +%s) - t0))
  log=$logs/$leg.test.log
  total=$(sed -nE 's/.* tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2/p' "$log" | tail -1)
  bad=$(sed -nE 's/.* tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/p' "$log" | tail -1)
  skip=$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$log" || true)
  if [ -z "$total" ]; then
    echo "=== $leg: ctest reported no result" >&2
    summary+=("$(printf '%-13s %5ss %5ss %5ss  no result' "$leg" "$configure_s" "$build_s" "$test_s")")
    status=1
    continue
  fi
  passed=$((passed + total - bad - skip))
  skipped=$((skipped + skip))
  failed=$((failed + bad))
  result="$((total - bad - skip)) passed, $bad failed, $skip skipped$how"
  echo "=== $leg: $result"
  summary+=("$(printf '%-13s %5ss %5ss %5ss  %s' "$leg" "$configure_s" "$build_s" "$test_s" "$result")")
done
wait "$builds_pid" || true

echo
echo "leg           configure build   test"
printf '%s\n' "${summary[@]}"
echo "whole run: $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
