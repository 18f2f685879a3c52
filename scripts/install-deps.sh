#!/usr/bin/env bash
# Installs the Debian packages of the sets its caller names, when any is missing. Run as
# root on Debian 12; without root it names what is missing and the command that installs
# it.
#
# Usage: install-deps.sh SET...
#   demo    the release build of the driver, em1 and em1sim (scripts/demo.sh)
#   soak    the release build with its tests (scripts/soak.sh)
#   bench   the release build with its tests and the benchmark (scripts/bench.sh)
#   fuzz    the fuzz targets (scripts/fuzz.sh)
#   unit    the linux-x64 leg with its tests, which scripts/test.sh installs first
#   test    every test leg (scripts/test.sh): all of the above but the benchmark's plotter
#   wow64   what makes the Wine root for 32-bit Windows programs on a kernel without 32-bit
#           support (scripts/prepare-wow64.sh)
# A purpose's packages are one list below; a set is made of lists.
set -euo pipefail

build=(cmake ninja-build g++ help2man pkgconf libmosquitto-dev libmicrohttpd-dev)
# The demo and the tests run em1 gateway against a broker of their own.
broker=(mosquitto mosquitto-clients openssl)
# The demo and the tests scrape the gateway's metrics; promtool checks their format.
scrape=(curl)
metrics_check=(prometheus)
# The gateway's soak checks its record with a Python script.
soak_check=(python3)
unit_tests=(googletest libgtest-dev valgrind locales)
# The i686 em1 has the gateway too: the i386 builds of the MQTT client and the HTTP server
# libraries.
linux_i686=(gcc-multilib g++-multilib libmosquitto-dev:i386 libmicrohttpd-dev:i386)
# A kernel that runs no 32-bit programs runs them under qemu (scripts/enable-i386.sh).
if ! "$(dirname "$0")/i386-native.sh" --any; then
  linux_i686+=(qemu-user-static)
fi
# The cross compilers of the POSIX thread model only, which the toolchain files name.
windows=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64)
fuzz=(clang libclang-rt-14-dev)
# The release leg builds the benchmark; scripts/bench.sh also plots its figures.
benchmark_library=(libbenchmark-dev)
bench=("${benchmark_library[@]}" gnuplot-nox)
# Checking an installed tree; making and checking the Debian packages and the Windows zips.
installed_tree=(pkgconf file)
package=(dpkg-dev lintian unzip devscripts)
style=(clang-format clang-tidy)
systemd_units=(systemd)
wow64=(debootstrap bubblewrap)

if [ $# -eq 0 ]; then
  echo "usage: $0 SET...   (SET: demo, soak, bench, fuzz, unit, test, wow64)" >&2
  exit 64
fi
packages=()
for set in "$@"; do
  case $set in
  demo) packages+=("${build[@]}" "${broker[@]}" "${scrape[@]}") ;;
  soak) packages+=("${build[@]}" "${unit_tests[@]}" "${broker[@]}" "${soak_check[@]}") ;;
  bench) packages+=("${build[@]}" "${unit_tests[@]}" "${bench[@]}" "${broker[@]}") ;;
  fuzz) packages+=("${build[@]}" "${fuzz[@]}") ;;
  unit)
    packages+=("${build[@]}" "${unit_tests[@]}" "${installed_tree[@]}" "${broker[@]}"
      "${systemd_units[@]}" "${soak_check[@]}" "${scrape[@]}" "${metrics_check[@]}")
    ;;
  test)
    packages+=("${build[@]}" "${unit_tests[@]}" "${linux_i686[@]}" "${windows[@]}" "${fuzz[@]}"
      "${benchmark_library[@]}" "${installed_tree[@]}" "${package[@]}" "${style[@]}" "${broker[@]}"
      "${systemd_units[@]}" "${soak_check[@]}" "${scrape[@]}" "${metrics_check[@]}")
    ;;
  wow64) packages+=("${wow64[@]}") ;;
  *)
    echo "install-deps: unknown set '$set' (demo, soak, bench, fuzz, unit, test, wow64)" >&2
    exit 64
    ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: install them with: sudo $0 $*" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
if [[ " ${missing[*]}" == *:i386* ]]; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# Only what the packages depend on: their recommendations (fonts, sound and keyrings for Wine
# and devscripts) would double the download and the unpacking. dpkg skips its fsync calls: a
# machine that loses power mid-install reinstalls anyway.
apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io \
  "${missing[@]}" >/dev/null
