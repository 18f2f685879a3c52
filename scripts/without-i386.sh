#!/usr/bin/env bash
# Runs a command where 32-bit x86 programs are refused, as on a kernel without IA-32
# support: in a private user and mount namespace with a binfmt_misc of its own (Linux 6.7
# and later), whose entry for i386 programs names an interpreter that does not exist.
#
#   scripts/without-i386.sh env EM_LEGS=windows-i686 ./scripts/test.sh
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 64
fi
exec unshare --user --map-root-user --mount bash -c '
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  echo ":refuse-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/nonexistent/refuse-i386:" \
    >/proc/sys/fs/binfmt_misc/register
  exec "$@"
' without-i386 "$@"
