#!/usr/bin/env bash
# The benchmark: builds the release preset, measures the driver against the protocol's own
# limit (em_bench, see build/release/bin/em_bench --help), and draws the plot. Results go to
# build/release/bench/ unless --out names a folder; other options go to em_bench
# (--commands N, --latency MS, --quick). Installs the Debian packages it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/release/bench
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  if [ "${args[i]}" = --out ] && [ $((i + 1)) -lt ${#args[@]} ]; then
    out=${args[i + 1]}
  fi
done

./scripts/install-deps.sh bench
cmake --preset release >/dev/null
cmake --build --preset release --target em_bench
mkdir -p "$out"
build/release/bin/em_bench --out "$out" "$@" | tee "$out/bench.txt"
{
  lscpu
  echo
  uname -srvmo
} >"$out/machine.txt"
gnuplot -e "data='$out/times.dat'; output='$out/command-times.png'" bench/plot.gp
echo "plot: $out/command-times.png; machine: $out/machine.txt"
