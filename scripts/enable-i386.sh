#!/usr/bin/env bash
# Makes sure this machine can run 32-bit x86 programs (the i686 tests, and Wine's
# 32-bit loader). Kernels built without IA-32 emulation refuse them; there the
# programs run under qemu-i386-static through binfmt_misc.
set -euo pipefail

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
# A minimal static i386 ELF program that exits with 0 (execve only, no libraries).
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$probe/exit0"
chmod +x "$probe/exit0"
if "$probe/exit0" 2>/dev/null; then
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
"$probe/exit0"
echo "enable-i386: 32-bit programs run under qemu-i386-static"
