#!/usr/bin/env bash
# The clique search: the reference finder and the engine's, side by side in
# one run on fixed pair sets (whole computations, each pair timed as the
# fastest of three runs), the search without a budget, and one query against
# a library with taviron-search.
# usage: bench/clique_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
pairs="$build/bench/clique_pairs"
[ -x "$pairs" ] || { echo "clique_bench: $pairs not built" >&2; exit 1; }

echo "== drug-sized pairs (bench/drugs), default budget"
"$pairs" bench/drugs/drugs.qtr bench/drugs/pairs.txt | tail -3
echo "== the same, atom mode"
"$pairs" --atom bench/drugs/drugs.qtr bench/drugs/pairs.txt | tail -3
echo "== pairs of examples/nci.qtr"
"$pairs" examples/nci.qtr bench/drugs/nci_pairs.txt | tail -3
echo "== one query (D00005) against every drug-sized molecule, in process"
"$pairs" --rounds 1 bench/drugs/drugs.qtr one:D00005 | tail -3
# The score line (taviron's default form, and every screen row) needs the
# clique size only: no clique list, no pieces.
echo "== drug-sized pairs, the score line alone"
"$pairs" --score bench/drugs/drugs.qtr bench/drugs/pairs.txt | tail -3
echo "== the same, atom mode"
"$pairs" --score --atom bench/drugs/drugs.qtr bench/drugs/pairs.txt | tail -3
echo "== pairs of examples/nci.qtr, the score line alone"
"$pairs" --score examples/nci.qtr bench/drugs/nci_pairs.txt | tail -3
echo "== no budget (--repeat 0): each pair stopped after 3 s"
"$pairs" --only-new --repeat 0 --timeout 3 bench/drugs/drugs.qtr bench/drugs/pairs.txt | tail -2
if [ -x "$build/taviron-search" ]; then
  echo "== taviron-search -e D00005 against the drug-sized file, 2 threads"
  start=$(date +%s.%N)
  rows=$("$build/taviron-search" -e D00005 -j 2 bench/drugs/drugs.qtr bench/drugs/drugs.qtr | wc -l)
  end=$(date +%s.%N)
  awk -v r="$rows" -v s="$start" -v e="$end" \
    'BEGIN { printf "%d rows in %.3f s: %.0f pairs/s\n", r, e - s, r / (e - s) }'
fi
