#!/usr/bin/env bash
# Screens of any size, measured in one run:
#  1. peak memory of one screen (100 queries against 2,000 targets, --min 0.7)
#     at -j 1, -j 2 and -j 16, and of 24 drug-sized queries against the 1,174
#     drug-sized molecules at -j 1 and -j 16: the cost of a thread;
#  2. peak memory of one query against 1,000 and against 20,000 targets, -j 2;
#  3. one pair from the 20,400-compound file with taviron, against `wc -l`;
#  4. one query against the 20,400 compounds: pairs per second, and against a
#     previous build when PREV names its folder (e.g. PREV=../main/build).
#
# usage: bench/scale_bench.sh [BUILD_DIR]     environment: PREV, REPS (10)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
search=$build/taviron-search
taviron=$build/taviron
reps=${REPS:-10}
big=bench/data/big.qtr
for p in "$search" "$taviron"; do
  [ -x "$p" ] || { echo "$p: not built (make build)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "GNU time is needed (apt-get install time)" >&2; exit 1; }
[ -f "$big" ] || bash bench/make_big.sh "$big" >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk '/^ENTRY/ { n++ } n <= 100' "$big" >"$tmp/q100.qtr"
awk '/^ENTRY/ { n++ } n <= 1000' "$big" >"$tmp/t1000.qtr"
awk '/^ENTRY/ { n++ } n <= 2000' "$big" >"$tmp/t2000.qtr"
awk '/^ENTRY/ { n++ } n <= 20000' "$big" >"$tmp/t20000.qtr"

peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }  # KB
now() { date +%s%N; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }

echo "== 1. peak memory of 100 queries against 2,000 targets, --min 0.7"
for j in 1 2 16; do
  m=$(peak "$search" -q -j "$j" --min 0.7 "$tmp/q100.qtr" "$tmp/t2000.qtr" -o /dev/null)
  echo "  -j $j: $(mb "$m")"
done

drugs=bench/drugs/drugs.qtr
awk '/^ENTRY/ { n++ } n <= 24' "$drugs" >"$tmp/q24.qtr"
d1=$(peak "$search" -q -j 1 "$tmp/q24.qtr" "$drugs" -o /dev/null)
d16=$(peak "$search" -q -j 16 "$tmp/q24.qtr" "$drugs" -o /dev/null)
echo "  24 drug-sized queries against $drugs: -j 1 $(mb "$d1"), -j 16 $(mb "$d16")," \
  "per thread $(mb $(((d16 - d1) / 15)))"

echo "== 2. peak memory of one query (C00001), -j 2"
m1=$(peak "$search" -q -j 2 -e C00001 "$tmp/t1000.qtr" "$tmp/t1000.qtr" -o /dev/null)
m2=$(peak "$search" -q -j 2 -e C00001 "$tmp/t20000.qtr" "$tmp/t20000.qtr" -o /dev/null)
echo "  1,000 targets: $(mb "$m1"); 20,000 targets: $(mb "$m2");" \
  "ratio $(awk -v a="$m2" -v b="$m1" 'BEGIN { printf "%.2f", a / b }')"

echo "== 3. one pair from $big ($reps runs each)"
t0=$(now)
for ((k = 0; k < reps; k++)); do "$taviron" "$big" -e C20400 -f C00007 >/dev/null; done
t1=$(now)
for ((k = 0; k < reps; k++)); do wc -l "$big" >/dev/null; done
t2=$(now)
awk -v a=$((t1 - t0)) -v b=$((t2 - t1)) -v n="$reps" 'BEGIN {
  printf "  taviron %.2f ms, wc -l %.2f ms: ratio %.1f\n", a / n / 1e6, b / n / 1e6, a / b }'

echo "== 4. one query (C00001) against $big, -j 2"
rate() {  # pairs per second of the whole process
  local t0 t1
  t0=$(now)
  "$1" -q -j 2 -e C00001 "$big" "$big" -o /dev/null
  t1=$(now)
  awk -v n="$(grep -c '^ENTRY' "$big")" -v t=$((t1 - t0)) 'BEGIN { printf "%.0f", n / (t / 1e9) }'
}
r=$(rate "$search")
echo "  this build: $r pairs/s"
if [ -n "${PREV:-}" ] && [ -x "$PREV/taviron-search" ]; then
  p=$(rate "$PREV/taviron-search")
  r2=$(rate "$search")
  p2=$(rate "$PREV/taviron-search")
  echo "  previous build ($PREV): $p pairs/s; again: this $r2, previous $p2;" \
    "ratio $(awk -v a="$r" -v b="$r2" -v c="$p" -v d="$p2" 'BEGIN { printf "%.2f", (a + b) / (c + d) }')"
fi
