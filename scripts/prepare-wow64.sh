#!/usr/bin/env bash
# Makes the Wine that runs 32-bit Windows programs where the kernel cannot run 32-bit x86
# programs: Debian trixie's Wine 10 runs them in a 64-bit process (WoW64). Debian 12's own
# Wine cannot, so it lives in a minimal trixie root of its own, which cmake/wine-run.sh
# enters with bubblewrap. Trixie's amd64 Wine ships no 32-bit Windows DLLs; they are PE
# files, copied out of libwine:i386 of the same version.
#
# Usage: prepare-wow64.sh [DIR]    default $EM_WOW64_ROOT, else /var/cache/em1-wow64
# The root is made once (about 2 minutes and 2 GB) and reused; it needs root, debootstrap
# and bubblewrap (scripts/install-deps.sh wow64 installs them).
set -euo pipefail

root=${1:-${EM_WOW64_ROOT:-/var/cache/em1-wow64}}
if [ -f "$root/.prepared" ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "prepare-wow64: making the Wine root $root needs root: sudo $0 $root" >&2
  exit 1
fi
for tool in debootstrap bwrap; do
  command -v "$tool" >/dev/null || {
    echo "prepare-wow64: $tool is missing: scripts/install-deps.sh wow64 installs it" >&2
    exit 1
  }
done

# The Debian mirror this machine's apt already uses.
mirror=$(apt-get indextargets --format '$(REPO_URI)' 2>/dev/null |
  grep -m1 -E '/debian/?$' || true)
mirror=${mirror:-http://deb.debian.org/debian/}

echo "prepare-wow64: making a Debian trixie root with Wine 10 in $root (from $mirror)"
work="$root.partial"
mkdir -p "$(dirname "$root")"
if [ ! -f "$work/.bootstrapped" ]; then
  rm -rf "$work"
  debootstrap --variant=minbase --arch=amd64 trixie "$work" "$mirror" >"$work.log" 2>&1 || {
    tail -n 20 "$work.log" >&2
    exit 1
  }
  touch "$work/.bootstrapped"
fi

inside() {
  bwrap --bind "$work" / --dev /dev --proc /proc \
    --ro-bind /etc/resolv.conf /etc/resolv.conf \
    --setenv DEBIAN_FRONTEND noninteractive --setenv PATH /usr/sbin:/usr/bin:/sbin:/bin "$@"
}
inside sh -euc '
  dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends wine wine64 >/dev/null
  rm -rf /tmp/wine-i386 && mkdir /tmp/wine-i386 && cd /tmp/wine-i386
  apt-get download -qq "libwine:i386=$(dpkg-query -W -f="\${Version}" libwine)"
  dpkg-deb -x libwine_*_i386.deb i386
  mkdir -p /usr/lib/x86_64-linux-gnu/wine/i386-windows
  cp -a i386/usr/lib/i386-linux-gnu/wine/i386-windows/. /usr/lib/x86_64-linux-gnu/wine/i386-windows/
  cd / && rm -rf /tmp/wine-i386
  apt-get clean
' >>"$work.log" 2>&1 || {
  tail -n 20 "$work.log" >&2
  exit 1
}
rm -f "$work.log" "$work/.bootstrapped"
mv -T "$work" "$root"
touch "$root/.prepared"
echo "prepare-wow64: ready"
