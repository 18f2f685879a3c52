#!/usr/bin/env bash
# Exits with 0 when this kernel runs 32-bit x86 programs itself, and 1 when it cannot or
# hands them to an emulator (qemu-i386 through binfmt_misc), where 32-bit Wine is too slow
# to use and the Windows i686 tests run under Wine's WoW64 mode instead.
#
# Usage: i386-native.sh          the kernel runs them itself
#        i386-native.sh --any    they run at all, natively or emulated
set -euo pipefail

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
# A minimal static i386 ELF program that exits with 0 (execve only, no libraries).
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$probe/exit0"
chmod +x "$probe/exit0"
"$probe/exit0" 2>/dev/null || exit 1
if [ "${1:-}" = --any ]; then
  exit 0
fi
# binfmt_misc entries come before the kernel's own ELF loader: an enabled one for i386
# means the program ran under its interpreter.
for entry in /proc/sys/fs/binfmt_misc/*; do
  [ -f "$entry" ] && [ "$(head -n1 "$entry" 2>/dev/null)" = enabled ] || continue
  grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" && exit 1
done
exit 0
