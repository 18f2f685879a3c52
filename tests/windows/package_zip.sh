#!/usr/bin/env bash
# The Windows zip as an integrator gets it: CPack makes it from the build tree, it is
# unpacked into an empty folder, and em1.exe runs from there only (EM.dll and hostlog.dll
# beside it) under Wine, against the simulator on COM5 that with_simulator.sh starts with
# L01S at 42.5: the self-description and a read. Every program and library in it keeps ASLR
# (with high-entropy addresses on 64-bit) and DEP, and carries the stack protector.
#
# Usage: WINE_RUN=... package_zip.sh BUILD_EM1_EXE BUILD_DIR WORK_DIR ZIP_NAME OBJDUMP
# BUILD_EM1_EXE, the build's own em1.exe, only names the program with_simulator.sh prepares
# Wine for; it is not run.
set -euo pipefail
build_dir=$2
work=$3/unpacked
zip_name=$4
objdump=$5
fail() {
  echo "package_zip: $*" >&2
  exit 1
}
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

(cd "$build_dir" && cpack -G ZIP -B "$work/package" >/dev/null)
zip=$work/package/$zip_name
[ -f "$zip" ] || fail "cpack made no $zip_name"
unzip -q "$zip" -d "$work"
unzip -l "$zip"
folder=$work/${zip_name%.zip}
for file in bin/em1.exe bin/EM.dll bin/hostlog.dll include/em/em_driver.h \
  include/em/hostlog.h include/em/em_version.h README.md; do
  [ -f "$folder/$file" ] || fail "no $file in the zip"
done

# The flags of each program and library, and the stack protector: its failure handler comes
# from libssp, linked in statically, so its message is in the binary and no libssp DLL is
# needed beside it.
for binary in "$folder"/bin/*.exe "$folder"/bin/*.dll; do
  name=$(basename "$binary")
  headers=$("$objdump" -p "$binary")
  flags=(DYNAMIC_BASE NX_COMPAT)
  if grep -q "^Magic.*PE32+" <<<"$headers"; then
    flags+=(HIGH_ENTROPY_VA)
  fi
  for flag in "${flags[@]}"; do
    grep -qw "$flag" <<<"$headers" || fail "$name lacks $flag"
  done
  grep -qa "stack smashing detected" "$binary" || fail "$name has no stack protector"
  if grep -qi "DLL Name: libssp" <<<"$headers"; then
    fail "$name needs a libssp DLL that the zip lacks"
  fi
  echo "$name: ${flags[*]}, stack protector"
done

output=$work/output
em1() {
  local status=0
  "$WINE_RUN" "$folder/bin/em1.exe" "$@" >"$output" 2>&1 || status=$?
  tr -d '\r' <"$output"
  return "$status"
}
em1 info | tee "$output.info"
grep -q "Eurotherm EM-1" "$output.info" || fail "info failed"
em1 --port COM5 read L01S1 | tee "$output.read"
grep -q "42.5" "$output.read" || fail "the read did not give 42.5"
