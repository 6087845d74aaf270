#!/usr/bin/env bash
# Whole-process figures for taviron: wall time and peak memory of one run on
# the small example file and on a 20,400-compound file, each compared with
# `wc -l` on the same file in the same run.
#
# usage: bench/process_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/taviron
big=bench/data/big.qtr
reps=${REPS:-10}

[ -x "$bin" ] || { echo "build $bin first (make)" >&2; exit 1; }
[ -f "$big" ] || bash bench/make_big.sh "$big" >/dev/null

# mean wall seconds over $reps runs of a command (output discarded)
wall() {
  local t0 t1
  t0=$(date +%s%N)
  for ((k = 0; k < reps; k++)); do "$@" >/dev/null 2>&1 || true; done
  t1=$(date +%s%N)
  awk -v a="$t0" -v b="$t1" -v n="$reps" 'BEGIN { printf "%.4f", (b - a) / n / 1e9 }'
}
# peak resident memory in MB of one run
peak() { { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null || true; } | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }

report() {  # label file taviron-args...
  local label=$1 file=$2; shift 2
  local t w m size
  t=$(wall "$bin" "$file" "$@")
  w=$(wall wc -l "$file")
  m=$(peak "$bin" "$file" "$@")
  size=$(awk -v s="$(wc -c <"$file")" 'BEGIN { printf "%.1f", s / 1048576 }')
  printf '%-34s %8.4f s %8.4f s %7s x %8s MB %8s MB\n' "$label" "$t" "$w" "$(ratio "$t" "$w")" "$m" "$size"
}

printf '%-34s %10s %10s %9s %11s %11s\n' "run ($reps repetitions)" "taviron" "wc -l" "ratio" "peak RSS" "file"
report "small: C00009 vs C00010" examples/compounds.qtr -e C00009 -f C00010
report "small: C00009 vs C00010 --align" examples/compounds.qtr -e C00009 -f C00010 --align
report "big: read only (entry missing)" "$big" -e X99999 -f X99998
report "big: C20400 vs C00007" "$big" -e C20400 -f C00007
report "big: C00776 vs C00777 (2314 nodes)" "$big" -e C00776 -f C00777
