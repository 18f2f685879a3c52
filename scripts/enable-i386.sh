#!/usr/bin/env bash
# Makes sure this machine can run 32-bit x86 programs (the linux-i686 tests). Kernels
# built without IA-32 emulation refuse them; there the programs run under
# qemu-i386-static through binfmt_misc. (32-bit Windows programs then run under Wine's
# WoW64 mode instead: scripts/prepare-wow64.sh.)
set -euo pipefail

here=$(dirname "$0")
if "$here/i386-native.sh" --any; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "enable-i386: this kernel cannot run 32-bit programs; run this script as root" >&2
  exit 1
fi
if [ ! -x /usr/bin/qemu-i386-static ]; then
  echo "enable-i386: qemu-user-static is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  echo 1 >/proc/sys/fs/binfmt_misc/qemu-i386
else
  echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >/proc/sys/fs/binfmt_misc/register
fi
"$here/i386-native.sh" --any
echo "enable-i386: 32-bit programs run under qemu-i386-static"
