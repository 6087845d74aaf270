#!/usr/bin/env bash
# Depictions:
#  1. the time to draw one pair: taviron-depict against taviron on the same
#     pair (both run the same computation; the difference is the drawing),
#     REPEAT runs each, for a small and a larger pair;
#  2. the HTML report of a screen with 200 drawn rows: its size, and the time
#     the report adds to the screen.
#
# usage: bench/depict_bench.sh [BUILD_DIR]
# environment: REPEAT (runs per pair, 50)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
depict=$build/taviron-depict
taviron=$build/taviron
search=$build/taviron-search
repeat=${REPEAT:-50}
for p in "$depict" "$taviron" "$search"; do
  [ -x "$p" ] || { echo "$p: not built (make build)" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
now() { date +%s.%N; }

echo "== one pair drawn: taviron-depict vs taviron, $repeat runs each (ms per run)"
for pair in "examples/compounds.qtr 9 10" "examples/nci.qtr 108 1003"; do
  set -- $pair
  t0=$(now)
  for ((k = 0; k < repeat; k++)); do "$taviron" "$1" -e "$2" -f "$3" >/dev/null; done
  t1=$(now)
  for ((k = 0; k < repeat; k++)); do "$depict" "$1" -e "$2" -f "$3" -o "$tmp/p.svg"; done
  t2=$(now)
  awk -v a="$t0" -v b="$t1" -v c="$t2" -v n="$repeat" -v p="$pair" -v s="$(wc -c <"$tmp/p.svg")" \
    'BEGIN { printf "%-28s taviron %.2f  taviron-depict %.2f  drawing %.2f  svg %d bytes\n",
             p, (b - a) * 1000 / n, (c - b) * 1000 / n, ((c - b) - (b - a)) * 1000 / n, s }'
done

echo "== HTML report, 200 rows drawn (examples/nci.qtr --pairs --min 0.6)"
t0=$(now)
"$search" -q --pairs examples/nci.qtr --min 0.6 -o "$tmp/plain.tsv"
t1=$(now)
"$search" -q --pairs examples/nci.qtr --min 0.6 -o "$tmp/with.tsv" --html "$tmp/report.html" \
  --html-max 200
t2=$(now)
cmp -s "$tmp/plain.tsv" "$tmp/with.tsv" || { echo "TSV differs with --html" >&2; exit 1; }
awk -v a="$t0" -v b="$t1" -v c="$t2" -v rows="$(($(wc -l <"$tmp/plain.tsv") - 1))" \
  -v size="$(wc -c <"$tmp/report.html")" -v drawn="$(grep -c '<template>' "$tmp/report.html")" \
  'BEGIN { printf "rows %d, drawn %d, page %.2f MB (%.1f KB per drawn row), screen %.2f s, with report %.2f s\n",
           rows, drawn, size / 1e6, size / 1024 / (drawn > 0 ? drawn : 1), b - a, c - b }'
