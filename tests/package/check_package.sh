#!/usr/bin/env bash
# Installs the build into a fresh prefix as a user would, uses it from there only, and
# removes it again:
# - install: `cmake --install` into an empty folder; removal deletes what the install
#   manifest lists.
# - deb: the .deb set that CPack makes, checked with lintian (no errors) and against the
#   libraries' symbols files, then installed with dpkg into an empty root of its own, where
#   hardening-check finds every protection in every ELF file (but the control-flow mark, which
#   Debian 12's start files cannot carry), and purged from it.
# From the prefix: builds a C host with find_package(EM), one with pkg-config em hostlog,
# and one that calls err(3) with the documented line (pkg-config em), and runs them; runs
# the host program's info and a read against the simulator, and the installed examples as
# their comments say, against the same simulator; checks that every link of the installed
# Markdown files leads to an installed file, the man pages (every option of em1 help gateway
# in em1-gateway(5)), the example gateway configuration the unit names, and that every place
# that carries the version agrees. After the removal nothing may be left.
#
# Usage: check_package.sh install|deb BUILD_DIR LIBDIR HOST_PROGRAM CC "C_FLAGS"
# C_FLAGS are the build's own target flags (-m32, sanitizers), which the host needs too.
set -euo pipefail
mode=$1
build_dir=$2
libdir=$3
host_program=$4
compiler=$5
read -r -a c_flags <<<"$6"
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
sim=
cleanup() {
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "--- $*"; }
fail() {
  echo "check_package: $*" >&2
  exit 1
}

# dpkg on a root folder of its own: no maintainer scripts need a chroot, and the packages'
# dependencies (the C library) live in the real system, which may be of another architecture.
root_dpkg() {
  dpkg --root="$root" --force-not-root --force-script-chrootless --force-depends \
    --force-architecture \
    --log=/dev/null "$@"
}

case $mode in
install)
  step "cmake --install into a fresh prefix"
  cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
  prefix=$work/prefix
  ;;
deb)
  step "cpack"
  (cd "$build_dir" && cpack -G DEB -B "$work/deb" >/dev/null)
  debs=("$work"/deb/*.deb)
  for deb in "${debs[@]}"; do
    echo "$(basename "$deb"), $(stat -c %s "$deb") bytes:"
    dpkg-deb -c "$deb" | awk '{ print "  " $3 "\t" $6 $7 $8 }'
  done
  step "lintian"
  lintian --fail-on error --tag-display-limit 0 "${debs[@]}" || fail "lintian found errors"
  step "symbols files: the libraries export what they list"
  mkdir -p "$work/control"
  for deb in "${debs[@]}"; do
    package=$(dpkg-deb -f "$deb" Package)
    tree=$work/control/$package
    dpkg-deb --raw-extract "$deb" "$tree"
    [ -f "$tree/DEBIAN/shlibs" ] || continue
    [ -f "$tree/DEBIAN/symbols" ] || fail "$package has a shared library but no symbols file"
    (cd "$work" && dpkg-gensymbols -p"$package" -P"$tree" -I"$tree/DEBIAN/symbols" -O/dev/null \
      -v"$(dpkg-deb -f "$deb" Version)" -a"$(dpkg-deb -f "$deb" Architecture)" -c4) ||
      fail "the exported symbols of $package differ from its symbols file"
    echo "  $package: as its symbols file lists"
  done
  step "dpkg --install into a fresh root"
  root=$work/root
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  # Without the C library in that root, dpkg reports dependency problems it goes past.
  root_dpkg --install "${debs[@]}" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
  prefix=$root/usr
  step "hardening-check on every installed ELF file"
  mapfile -t elf_files < <(find "$root" -type f -exec file -N {} + | sed -n 's/: *ELF .*//p')
  [ ${#elf_files[@]} -gt 0 ] || fail "no ELF file installed"
  # Control-flow protection is compiled in, but no binary linked against Debian 12's C library
  # can carry its mark honestly (cmake/hardening.cmake): that one check is not asked for.
  hardening-check --nocfprotection "${elf_files[@]}" ||
    fail "hardening-check found a protection missing"
  ;;
*)
  echo "check_package: unknown mode $mode" >&2
  exit 2
  ;;
esac

step "find_package(EM)"
cmake -S "$here/external_host" -B "$work/with-cmake" -G Ninja \
  -DCMAKE_C_COMPILER="$compiler" -DCMAKE_C_FLAGS="${c_flags[*]}" \
  -DCMAKE_EXE_LINKER_FLAGS="${c_flags[*]}" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" >/dev/null
"$work/with-cmake/external_host"

# The hosts find the libraries at run time through the prefix's library folder.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
export LD_LIBRARY_PATH=$prefix/$libdir
if [ "$mode" = deb ]; then
  step "pkg-config --cflags em hostlog: nothing, /usr/include is the compiler's own"
  cflags=$(pkg-config --cflags em hostlog)
  [ -z "${cflags// /}" ] || fail "pkg-config --cflags em hostlog gives $cflags"
  # The packages' files name /usr, whose folders the compiler searches by itself; in the
  # root of their own these stand in for them.
  export C_INCLUDE_PATH=$prefix/include LIBRARY_PATH=$prefix/$libdir
fi
build_with() {
  local source=$1 output=$2
  shift 2
  read -r -a flags <<<"$(pkg-config --cflags --libs "$@")"
  "$compiler" "${c_flags[@]}" -std=c99 -Wall -Wextra -pedantic -Werror "$here/external_host/$source" \
    "${flags[@]}" -o "$work/$output"
}

step "pkg-config em hostlog"
build_with host.c with-pkg-config em hostlog
"$work/with-pkg-config"

step "a host that calls err(3), built with: cc err_host.c \$(pkg-config --cflags --libs em)"
pkg-config --libs em | grep -qv hostlog || fail "em.pc names the host log library"
build_with err_host.c err_host em
status=0
ZEL_LOG_FILE=$work/err_host.log "$work/err_host" 2>"$work/err_host.err" || status=$?
cat "$work/err_host.err"
[ "$status" -eq 3 ] || fail "err(3, ...) exited with $status, not 3"
grep -q "^err_host: fatal: no instrument: No such file or directory$" "$work/err_host.err" ||
  fail "err(3) printed no message"
grep -q "ZEL07: EM: ColdStart(): Fail to open /nonexist/x" "$work/err_host.log" ||
  fail "the driver's log line did not reach the host log library"

step "$host_program info and a read against the simulator, from the prefix"
info=$("$prefix/bin/$host_program" info)
echo "$info" | head -3
grep -q "Eurotherm EM-1" <<<"$info"
"$prefix/bin/em1sim" --link "$work/line" --set L01S=42.5 >/dev/null &
sim=$!
for _ in $(seq 100); do
  [ -e "$work/line" ] && break
  sleep 0.05
done
# The driver takes port names of up to 11 characters: the pseudo-terminal's own, pts/N.
port=$(readlink "$work/line")
port=${port#/dev/}
reading=$("$prefix/bin/$host_program" --port "$port" read L01S1)
echo "$reading"
grep -q "42.5" <<<"$reading" || fail "the read did not return the simulator's 42.5"

# The "$ COMMAND" lines of an example's comment, run in a copy of its folder with the
# simulator's port for ttyUSB0; the last one must print the line that follows it there.
# cc is the build's compiler with its target flags.
cc() { "$compiler" "${c_flags[@]}" "$@"; }
run_example() {
  local example=$1 folder=$work/example-${1##*.} command output expected
  mkdir -p "$folder"
  cp "$example" "$folder"
  expected=$(awk '/^[ *]*\$ / { after = 1; next }
    after { sub(/^[ *]*/, ""); line = $0; after = 0 } END { print line }' "$example")
  while IFS= read -r command; do
    echo "  \$ $command"
    output=$(cd "$folder" && eval "${command//ttyUSB0/$port}" 2>"$folder/stderr") ||
      { cat "$folder/stderr"; fail "$(basename "$example"): '$command' failed"; }
  done < <(sed -nE 's/^[ *]*\$ (.*)$/\1/p' "$example")
  echo "  $output"
  [ "$output" = "$expected" ] || fail "$(basename "$example") printed '$output', not '$expected'"
}
step "the examples, built and run as their comments say"
examples=$prefix/share/doc/libem-dev/examples
run_example "$examples/read_one_item.c"
# python3 loads a driver of its own width, without the sanitizers' runtime.
if file -L "$prefix/$libdir/libEM.so" | grep -q 64-bit && [[ "${c_flags[*]}" != *sanitize* ]]; then
  run_example "$examples/read_one_item.py"
fi
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=

step "documentation: every link of the installed Markdown files leads to an installed file"
doc=$prefix/share/doc/libem-dev
links=0
while IFS=$'\t' read -r page target; do
  [ -e "$(dirname "$page")/$target" ] || fail "${page#"$doc"/} links to $target, not installed"
  links=$((links + 1))
done < <(find "$doc" -name '*.md' -exec grep -HoE '\]\([^)#]+' {} + |
  sed -E 's/:\]\(/\t/' | grep -v '://')
echo "  $links links, from README.md to the reference, the examples and the rest"

step "man pages"
man=$prefix/share/man
for page in man1/em1sim.1 "man1/$host_program.1" man5/em1-gateway.5; do
  gzip -t "$man/$page.gz"
  zcat "$man/$page.gz" | grep -q "^\.SH DESCRIPTION"
done
# Every option of the gateway's help (but --help, which it names for the port options) in
# em1-gateway(5): as a key (KEY = ...) or as itself.
gateway_page=$(zcat "$man/man5/em1-gateway.5.gz" | sed -E 's/\\-/-/g; s/\\f[BIRP]//g')
mapfile -t options < <("$prefix/bin/$host_program" help gateway | grep -oE -- '--[a-z][a-z-]+' |
  grep -vx -- --help | sort -u)
for option in "${options[@]}"; do
  grep -qE -- "(${option#--} = |$option([^a-z-]|\$))" <<<"$gateway_page" ||
    fail "em1-gateway(5) does not describe $option"
done
zcat "$man/man1/$host_program.1.gz" | grep -qF 'em1\-gateway (5)' ||
  fail "em1(1) does not point at em1-gateway(5)"
step "the gateway's unit and the example configuration it names"
unit=$prefix/lib/systemd/system/em1-gateway@.service
example_config=$(sed -nE 's/^Documentation=.* file:([^ ]+).*/\1/p' "$unit")
[ -f "$prefix/share/${example_config#*/share/}" ] ||
  fail "the unit names $example_config, which is not installed"
echo "  $example_config"

step "one version everywhere"
version=$(pkg-config --modversion em)
major=${version%%.*}
version_of() { "$@" | grep -oE '[0-9]+\.[0-9]+\.[0-9]+' | head -1; }
versions=(
  "em1 --version:$(version_of "$prefix/bin/$host_program" --version)"
  "em1sim --version:$(version_of "$prefix/bin/em1sim" --version)"
  "em_version.h:$(sed -nE 's/^#define EM_VERSION_STRING "(.*)"$/\1/p' "$prefix/include/em/em_version.h")"
  "SONAME:$(objdump -p "$prefix/$libdir/libEM.so" | awk '/SONAME/ { print $2 }')"
)
if [ "$mode" = deb ]; then
  for deb in "${debs[@]}"; do
    versions+=("$(basename "$deb"):$(dpkg-deb -f "$deb" Version | sed "s/-[^-]*$//")")
  done
fi
for entry in "${versions[@]}"; do
  echo "  $entry"
  case ${entry#*:} in
  "$version" | "libEM.so.$major") ;;
  *) fail "${entry%%:*} does not carry the version $version" ;;
  esac
done

step "removal"
if [ "$mode" = deb ]; then
  mapfile -t packages < <(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)
  root_dpkg --purge "${packages[@]}" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
  left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" \
    -not -path "$root/var/lib/dpkg" -not -path "$root/var/lib/dpkg/*")
else
  xargs -d '\n' rm -f <"$build_dir/install_manifest.txt"
  find "$prefix" -depth -type d -empty -delete
  left=$(find "$work/prefix" 2>/dev/null || true)
fi
[ -z "$left" ] || fail "left after the removal: $left"
echo "package check passed ($mode)"
