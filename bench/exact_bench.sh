#!/usr/bin/env bash
# Proven answers: the score line without a budget (--repeat 0, the exact
# solver where the default budget would cut the search) against the default
# budgeted run on the drug-sized pairs and the self-pairs of the 30 largest
# molecules, and how many pairs the default budget under-scores.
# usage: bench/exact_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
pairs="$build/bench/exact_pairs"
[ -x "$pairs" ] || { echo "exact_bench: $pairs not built" >&2; exit 1; }
echo "== score line, default budget against --repeat 0 (bench/drugs)"
"$pairs" --self 30 bench/drugs/drugs.qtr bench/drugs/pairs.txt
echo "== the same, atom mode"
"$pairs" --atom --self 30 bench/drugs/drugs.qtr bench/drugs/pairs.txt
