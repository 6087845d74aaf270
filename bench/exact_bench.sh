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
# The alignment forms list every largest clique in order.
echo "== the whole computation the alignment forms print"
"$pairs" --align --self 30 bench/drugs/drugs.qtr bench/drugs/pairs.txt
# Atom mode without a budget: most pairs take milliseconds, a few up to a
# minute, so this part stops after 10 minutes.
echo "== the same, atom mode (stopped after 600 s)"
timeout 600 "$pairs" --atom bench/drugs/drugs.qtr bench/drugs/pairs.txt ||
  echo "atom mode: not finished within 600 s"
# A screen of five queries against the whole set, side by side: the default
# budget, without a budget, and without a budget but a second per pair. A
# few pairs of large molecules take minutes to prove (D01163 against D01138:
# about 2.5), so the screen without a limit takes about four minutes.
search="$build/taviron-search"
if [ -x "$search" ]; then
  echo "== taviron-search, 5 queries x $(grep -c '^ENTRY' bench/drugs/drugs.qtr) targets"
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  for opts in "" "--repeat 0" "--repeat 0 --time-limit 1"; do
    # shellcheck disable=SC2086
    "$search" $opts -e D00011 -e D00105 -e D00510 -e D01238 -e D01163 \
      bench/drugs/drugs.qtr bench/drugs/drugs.qtr -o "$tmp/out.tsv" 2>&1 | tail -1 |
      sed "s/^/${opts:-default}: /"
    echo "  not proven: $(awk -F'\t' 'NR > 1 && $8 == "no"' "$tmp/out.tsv" | wc -l)"
  done
fi
