#!/usr/bin/env bash
# Whole-process benchmark of taviron-search:
#  1. one query against bench/data/big.qtr (made by make_big.sh when missing),
#     default options, and the same query run through taviron once per pair on
#     an evenly spread sample of the same pairs;
#  2. all pairs of examples/nci.qtr with --min 0.7.
#
# usage: bench/search_bench.sh [BUILD_DIR]
# environment: QUERY (default C00001), JOBS (2), SAMPLE (pairs for taviron, 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
search=$build/taviron-search
taviron=$build/taviron
query=${QUERY:-C00001}
jobs=${JOBS:-2}
sample=${SAMPLE:-20}
big=bench/data/big.qtr
nci=examples/nci.qtr

for p in "$search" "$taviron"; do
  [ -x "$p" ] || { echo "$p: not built (make build)" >&2; exit 1; }
done
[ -f "$big" ] || bash bench/make_big.sh "$big" >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
# Peak resident memory in KB when GNU time is there, else "-".
measure() {  # measure OUT_PREFIX command...
  local out=$1
  shift
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M -o "$out.mem" "$@" 2>"$out.err"
  else
    "$@" 2>"$out.err"
    echo - >"$out.mem"
  fi
}
# Fields of the summary line: pairs, skipped, rows.
summary() {
  sed -n 's/.*: \([0-9]*\) pairs, \([0-9]*\) skipped by the atom-count bound, \([0-9]*\) by the clique bound, \([0-9]*\) rows,.*/\1 \2 \3 \4/p' "$1" |
    awk '{ print $1, $2 + $3, $4 }'
}

records=$(grep -c '^ENTRY' "$big")
echo "== one query: $query against $big ($records records), default options, -j $jobs"
t0=$(now)
measure "$tmp/one" "$search" -j "$jobs" -e "$query" "$big" "$big" -o /dev/null
t1=$(now)
read -r pairs _ _ < <(summary "$tmp/one.err")
search_time=$(calc %.3f "$t1 - $t0")
search_rate=$(calc %.0f "$pairs / ($t1 - $t0)")
echo "taviron-search: $pairs pairs in $search_time s (whole process): $search_rate pairs/s," \
  "peak memory $(cat "$tmp/one.mem") KB"
for j in 1 2; do
  measure "$tmp/mem$j" "$search" -q -j "$j" -e "$query" "$big" "$big" -o /dev/null
  echo "  peak memory with -j $j: $(cat "$tmp/mem$j.mem") KB"
done

# The same pairs, one taviron run each: every (records / sample)-th target.
step=$(((records + sample - 1) / sample))
targets=$(grep '^ENTRY' "$big" | awk -v s="$step" 'NR % s == 1 { print $2 }')
n=$(echo "$targets" | wc -l)
t0=$(now)
for t in $targets; do "$taviron" "$big" -e "$query" -f "$t" >/dev/null; done
t1=$(now)
per_pair=$(calc %.4f "($t1 - $t0) / $n")
echo "taviron once per pair, $n sampled pairs, reading $big: $per_pair s per pair;" \
  "ratio $(calc %.0f "$search_rate * ($t1 - $t0) / $n")"
# The smallest input a per-pair run can have: a file of the two records.
for t in $targets; do
  awk -v a="$query" -v b="$t" '/^ENTRY/ { keep = ($2 == a || $2 == b) } keep' "$big" >"$tmp/$t.qtr"
done
t0=$(now)
for t in $targets; do "$taviron" "$tmp/$t.qtr" -e "$query" -f "$t" >/dev/null; done
t1=$(now)
echo "taviron once per pair, same pairs, two-record files: $(calc %.4f "($t1 - $t0) / $n") s per pair;" \
  "ratio $(calc %.0f "$search_rate * ($t1 - $t0) / $n")"

echo "== all pairs of $nci with --min 0.7, -j $jobs"
t0=$(now)
measure "$tmp/all" "$search" -j "$jobs" --pairs "$nci" --min 0.7 -o /dev/null
t1=$(now)
read -r pairs skipped rows < <(summary "$tmp/all.err")
echo "taviron-search: $pairs pairs in $(calc %.2f "$t1 - $t0") s (whole process)," \
  "$skipped skipped by the bound ($(calc %.2f "100 * $skipped / $pairs")%), $rows rows," \
  "peak memory $(cat "$tmp/all.mem") KB"
