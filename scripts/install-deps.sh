#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, when any is missing.
# Run as root on Debian 12; prints what to do otherwise.
set -euo pipefail

packages=(
  cmake ninja-build g++ gcc-multilib g++-multilib clang clang-format clang-tidy
  libclang-rt-14-dev googletest libgtest-dev valgrind
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 qemu-user-static
  help2man pkgconf dpkg-dev file
  libbenchmark-dev gnuplot-nox
  mosquitto mosquitto-clients libmosquitto-dev openssl libinih-dev
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing+=(i386-architecture)
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run this script as root (sudo $0), or install them with apt-get." >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${packages[@]}" >/dev/null
