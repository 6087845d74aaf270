#!/usr/bin/env bash
# The two --min bounds of taviron-search on drug-sized molecules: the share of
# the pairs the atom-count bound lets through that the clique bound skips, at
# --min 0.5, 0.7 and 0.85; then the time of a --pairs --min 0.7 screen, and of
# the same screen with an earlier build when BASE names its taviron-search
# (runs alternate, outputs must be identical).
#
# usage: bench/bound_bench.sh [BUILD_DIR]
# environment: JOBS (2), BASE (an earlier taviron-search), ROUNDS (1)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
search=$build/taviron-search
jobs=${JOBS:-2}
drugs=bench/drugs/drugs.qtr
[ -x "$search" ] || { echo "$search: not built (make build)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
now() { date +%s.%N; }
# pairs, skipped by atom counts, skipped by cliques, rows
fields() { sed -n 's/.*: \([0-9]*\) pairs, \([0-9]*\) skipped by the atom-count bound, \([0-9]*\) by the clique bound, \([0-9]*\) rows,.*/\1 \2 \3 \4/p' "$1"; }

echo "== clique bound on $drugs (all pairs)"
for min in 0.5 0.7 0.85; do
  "$search" -j "$jobs" --pairs "$drugs" --min "$min" -o /dev/null 2>"$tmp/s.err"
  read -r pairs atoms cliques rows < <(fields "$tmp/s.err")
  left=$((pairs - atoms))
  awk -v m="$min" -v l="$left" -v c="$cliques" -v r="$rows" 'BEGIN {
    printf "--min %s: %d pairs after the atom-count bound, %d skipped by the clique bound (%.1f %%; %.1f %% of those below the minimum), %d rows\n",
      m, l, c, 100 * c / l, 100 * c / (l - r), r }'
done

echo "== --pairs --min 0.7 screen of $drugs, -j $jobs"
for round in $(seq "${ROUNDS:-1}"); do
  for p in ${BASE:+"$BASE"} "$search"; do
    t0=$(now)
    "$p" -q -j "$jobs" --pairs "$drugs" --min 0.7 -o "$tmp/out.$(echo "$p" | md5sum | cut -c1-8)"
    t1=$(now)
    echo "$p: $(awk "BEGIN { printf \"%.2f\", $t1 - $t0 }") s"
  done
done
if [ -n "${BASE:-}" ]; then
  cmp -s "$tmp"/out.* && echo "outputs identical" || { echo "outputs differ" >&2; exit 1; }
fi
