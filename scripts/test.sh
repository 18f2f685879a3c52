#!/usr/bin/env bash
# Builds and tests every leg: linux-x64 (under ASan and UBSan), release (the optimised build
# that users run, with the checks that need it), linux-i686 (the binding 32-bit layout),
# windows-i686 (the DLL that hosts load, its tests under Wine: 32-bit Wine where the kernel
# runs 32-bit programs, Wine's WoW64 mode in a Debian trixie root where it cannot),
# windows-x64 (the same sources, tested under 64-bit Wine), tsan (the driver, em1 and em1sim
# under ThreadSanitizer: 16 instruments in one gateway process) and fuzz (each libFuzzer
# target replays its corpus and fuzzes for 10 s, two at a time).
#
# The legs build one after another, and each leg's tests start as soon as it is built, two
# legs' tests at a time: the tests mostly wait on lines and timeouts, the builds keep the cores
# busy. The legs whose tests take longest (linux-x64, release with its soak) build first, so
# that their tests run beside the other builds rather than after the last. The packages of the
# first leg (linux-x64) are installed first; the others install while it builds. Build output
# goes to build/test-logs/LEG.build.log and is shown when a build fails; test output to
# LEG.test.log, shown when a test fails. EM_LEGS="linux-x64" limits the run to the legs
# named; EM_WINE_WOW64=1 runs the windows-i686 tests under WoW64 on any kernel.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)

all_legs=(linux-x64 release linux-i686 windows-i686 windows-x64 tsan fuzz)
read -r -a legs <<<"${EM_LEGS:-${all_legs[*]}}"
for leg in "${legs[@]}"; do
  [[ " ${all_legs[*]} " == *" $leg "* ]] || { echo "test: unknown leg '$leg' (${all_legs[*]})" >&2; exit 64; }
done
has_leg() { [[ " ${legs[*]} " == *" $1 "* ]]; }
# Legs whose tests run at once while legs still build; more would slow the builds they share
# the cores with. Once every leg is built, the rest start at once.
parallel_tests=2

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

# The packages: the first leg's now, the rest (and the 32-bit and WoW64 set-up) beside its
# build; a leg that needs more waits for them. Where linux-x64 is not the first leg, all now.
if [ "${legs[0]}" = linux-x64 ]; then
  ./scripts/install-deps.sh unit
else
  ./scripts/install-deps.sh test
fi
wine_i686="Wine native 32-bit"
if has_leg windows-i686 && { [ -n "${EM_WINE_WOW64:-}" ] || ! ./scripts/i386-native.sh; }; then
  export EM_WINE_WOW64=1 EM_WOW64_ROOT=${EM_WOW64_ROOT:-/var/cache/em1-wow64}
  wine_i686="Wine WoW64 (Debian trixie Wine 10 in $EM_WOW64_ROOT)"
fi
(
  status=0
  ./scripts/install-deps.sh test || status=$?
  if [ "$status" -eq 0 ] && [ -n "${EM_WINE_WOW64:-}" ] && [ ! -f "$EM_WOW64_ROOT/.prepared" ]; then
    ./scripts/install-deps.sh wow64 || status=$?
  fi
  if [ "$status" -eq 0 ] && has_leg linux-i686; then
    ./scripts/enable-i386.sh || status=$?
  fi
  echo "$status" >"$logs/install.partial"
  mv "$logs/install.partial" "$logs/install.done"
  # The WoW64 root is made beside the builds; the windows-i686 tests wait for it.
  if [ "$status" -eq 0 ] && [ -n "${EM_WINE_WOW64:-}" ]; then
    ./scripts/prepare-wow64.sh "$EM_WOW64_ROOT" >"$logs/wow64.log" 2>&1 || true
  fi
  touch "$logs/wow64.done"
) >"$logs/install.log" 2>&1 &
install_pid=$!

# Waits for the packages of the legs after the first; false when they could not be installed.
packages_ready() {
  while [ ! -f "$logs/install.done" ]; do
    sleep 1
  done
  [ "$(cat "$logs/install.done")" -eq 0 ]
}

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
# in the run is built first.
(
  for leg in "${legs[@]}"; do
    if [ "$leg" != linux-x64 ] && ! packages_ready; then
      echo "1 0 0" >"$logs/$leg.built"
      echo "=== $leg: not built, the packages could not be installed (see $logs/install.log)" >&2
      continue
    fi
    if [[ $leg == windows-* ]] && ! has_leg linux-x64 && [ ! -f "$logs/simulator.built" ]; then
      cmake --preset linux-x64 >/dev/null && cmake --build --preset linux-x64 --target em1sim >/dev/null
      touch "$logs/simulator.built"
    fi
    if [ "$leg" = windows-x64 ] && ! has_leg windows-i686; then
      cmake --preset windows-i686 >/dev/null && cmake --build --preset windows-i686 --target EM >/dev/null
    fi
    build_leg "$leg"
  done
) &
builds_pid=$!
trap 'kill $builds_pid $install_pid 2>/dev/null || true' EXIT

# Tests one built leg; writes "STATUS SECONDS TOTAL BAD SKIPPED" to $logs/LEG.tested.
test_leg() {
  local leg=$1 how=$2 t0 status=0 log=$logs/$1.test.log total bad skip
  if [ "$leg" = windows-i686 ] && [ -n "${EM_WINE_WOW64:-}" ]; then
    while [ ! -f "$logs/wow64.done" ]; do sleep 1; done
    if [ ! -f "$EM_WOW64_ROOT/.prepared" ]; then
      echo "=== windows-i686: the WoW64 Wine root could not be made:" >&2
      cat "$logs/wow64.log" >&2
    fi
  fi
  echo "=== $leg: test$how ($log)"
  t0=$(date +%s)
  ctest --preset "$leg" >"$log" 2>&1 || status=1
  total=$(sed -nE 's/.* tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2/p' "$log" | tail -1)
  bad=$(sed -nE 's/.* tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/p' "$log" | tail -1)
  skip=$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$log" || true)
  echo "$status $(($(date +%s) - t0)) ${total:--} ${bad:--} $skip" >"$logs/$leg.tested.partial"
  mv "$logs/$leg.tested.partial" "$logs/$leg.tested"
  echo "=== $leg: tested in $(($(date +%s) - t0)) s: $((${total:-0} - ${bad:-0} - skip)) passed, ${bad:--} failed, $skip skipped"
}

# Each leg's tests as soon as it is built, at most parallel_tests legs at once while builds run.
how_of() { [ "$1" = windows-i686 ] && echo " ($wine_i686)" || echo ""; }
testing=()
for leg in "${legs[@]}"; do
  while [ ! -f "$logs/$leg.built" ]; do
    kill -0 "$builds_pid" 2>/dev/null || break
    sleep 1
  done
  read -r built configure_s build_s <"$logs/$leg.built" || built=1
  if [ "$built" -ne 0 ]; then
    echo "=== $leg: configure or build failed; the end of $logs/$leg.build.log:" >&2
    tail -n 40 "$logs/$leg.build.log" >&2
    continue
  fi
  echo "=== $leg: built in ${configure_s} s + ${build_s} s"
  while [ "${#testing[@]}" -ge "$parallel_tests" ] && kill -0 "$builds_pid" 2>/dev/null; do
    wait -n "${testing[@]}" 2>/dev/null || true
    running=()
    for pid in "${testing[@]}"; do
      kill -0 "$pid" 2>/dev/null && running+=("$pid")
    done
    testing=("${running[@]}")
  done
  test_leg "$leg" "$(how_of "$leg")" &
  testing+=($!)
done
wait "${testing[@]}" 2>/dev/null || true
wait "$builds_pid" || true

passed=0
skipped=0
failed=0
status=0
summary=()
for leg in "${legs[@]}"; do
  read -r built configure_s build_s <"$logs/$leg.built" 2>/dev/null || built=1
  if [ "$built" -ne 0 ]; then
    summary+=("$(printf '%-13s %5ss %5ss %6s  build failed' "$leg" "${configure_s:-?}" "${build_s:-?}" -)")
    status=1
    continue
  fi
  read -r tested test_s total bad skip <"$logs/$leg.tested" || tested=1
  if [ "${total:--}" = - ]; then
    echo "=== $leg: ctest reported no result; the end of $logs/$leg.test.log:" >&2
    tail -n 20 "$logs/$leg.test.log" >&2
    summary+=("$(printf '%-13s %5ss %5ss %5ss  no result' "$leg" "$configure_s" "$build_s" "${test_s:-?}")")
    status=1
    continue
  fi
  if [ "$tested" -ne 0 ]; then
    echo "=== $leg: tests failed; from $logs/$leg.test.log:" >&2
    sed -n '/tests passed,/,$p' "$logs/$leg.test.log" >&2
    status=1
  fi
  passed=$((passed + total - bad - skip))
  skipped=$((skipped + skip))
  failed=$((failed + bad))
  result="$((total - bad - skip)) passed, $bad failed, $skip skipped$(how_of "$leg")"
  summary+=("$(printf '%-13s %5ss %5ss %5ss  %s' "$leg" "$configure_s" "$build_s" "$test_s" "$result")")
done

echo
echo "leg           configure build   test"
printf '%s\n' "${summary[@]}"
echo "whole run: $(($(date +%s) - started)) s (packages: $logs/install.log)"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
