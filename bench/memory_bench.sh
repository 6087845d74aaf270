#!/usr/bin/env bash
# Peak memory on large symmetric pairs, where the clique search goes deepest:
# a ring of 100 carbons, a chain of 16 benzene rings and a branched alkane of
# 84 atoms, each against itself (10,000, 6,100 and about 2,900 docking
# nodes), by taviron and by taviron-search on 1, 2 and 4 threads.
# usage: bench/memory_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -x "$build/taviron-convert" ]; then
  echo "memory_bench: skipped (taviron-convert is built with RDKit: apt-get install librdkit-dev libboost-dev)"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  printf 'C1%sC1\tring of 100\n' "$(printf 'C%.0s' $(seq 98))"
  printf 'c1ccc(cc1)%sCCCC\tchain of 16 rings\n' "$(printf 'c1ccc(cc1)%.0s' $(seq 15))"
  printf '%s\tbranched alkane\n' "$(printf 'C(C(C(C)(C)C)(C(C)(C)C)C(C)(C)C)%.0s' $(seq 6))"
} >"$work/sym.smi"
"$build/taviron-convert" -q "$work/sym.smi" -o "$work/sym.qtr"
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
echo "memory_bench: peak resident memory (MB)"
for e in 1 2 3; do
  name=$(sed -n "${e}p" "$work/sym.smi" | cut -f 2)
  printf '  taviron --align, %-18s %6.1f\n' "$name:" "$(($(peak "$build/taviron" "$work/sym.qtr" -e $e -f $e --align))).0e-3"
done
for j in 1 2 4; do
  printf '  taviron-search -j %d, all 9 pairs: %6.1f\n' $j \
    "$(($(peak "$build/taviron-search" -q -j $j "$work/sym.qtr" "$work/sym.qtr"))).0e-3"
done
