#!/usr/bin/env bash
# The whole pair computation of this build against the engine as it stood
# before the clique search was rewritten (revision $TAVIRON_BASELINE,
# default 308f561): that revision is exported from git and built under
# BUILD_DIR/baseline once, then both are timed in one run on the same pairs
# (each pair the fastest of three runs), and taviron-search of both on one
# query against the drug-sized file and against a screening library. Needs
# the project's git history.
# usage: bench/baseline_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
base=${TAVIRON_BASELINE:-308f561}
dir="$build/baseline"
cxx=${CXX:-c++}

if ! git rev-parse -q --verify "$base^{commit}" >/dev/null 2>&1; then
  echo "baseline_bench: revision $base is not in this checkout's history: skipped"
  exit 0
fi
if [ ! -f "$dir/built-$base" ]; then
  echo "== building revision $base under $dir"
  rm -rf "$dir"
  mkdir -p "$dir/src"
  git archive "$base" | tar -x -C "$dir/src"
  cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release >"$dir/cmake.log"
  cmake --build "$dir/build" -j "$(nproc)" --target cpd vembo taviron-search >"$dir/build.log"
  "$cxx" -O2 -std=c++20 -I"$dir/src/src" -I"$dir/src/lib" bench/pair_times.cpp \
    "$dir/build/libcpd.a" "$dir/build/libvembo.a" -o "$dir/pair_times"
  touch "$dir/built-$base"
fi
now="$build/bench/pair_times"
[ -x "$now" ] || { echo "baseline_bench: $now not built" >&2; exit 1; }

# Median, 90th percentile, maximum and total of column 3 (ms).
stats() {
  awk '{ print $3 }' "$1" | sort -g |
    awk '{ t[NR - 1] = $1; s += $1 }
         END { printf "median %8.3f ms  p90 %8.3f ms  max %8.3f ms  total %7.3f s\n",
                      t[int(NR / 2)], t[int(NR * 9 / 10)], t[NR - 1], s / 1000 }'
}
ratio() {
  paste <(awk '{ print $3 }' "$1" | sort -g) <(awk '{ print $3 }' "$2" | sort -g) |
    awk '{ a[NR - 1] = $1; b[NR - 1] = $2; sa += $1; sb += $2 }
         END { printf "speed-up: median %.1fx, total %.1fx", a[int(NR / 2)] / b[int(NR / 2)], sa / sb }'
  # Clique size and count of every pair must agree.
  echo "; results differ on $(paste -d' ' <(cut -d' ' -f1,2,4,5 "$1") <(cut -d' ' -f1,2,4,5 "$2") |
    awk '$1 != $5 || $2 != $6 || $3 != $7 || $4 != $8' | wc -l) pairs"
}
run() {
  local label=$1
  shift
  echo "== $label"
  "$dir/pair_times" "$@" >"$dir/then.txt"
  "$now" "$@" >"$dir/now.txt"
  echo "$base  $(stats "$dir/then.txt")"
  echo "now      $(stats "$dir/now.txt")"
  ratio "$dir/then.txt" "$dir/now.txt"
}
run "drug-sized pairs (bench/drugs), default" bench/drugs/drugs.qtr bench/drugs/pairs.txt
run "the same, atom mode" --atom bench/drugs/drugs.qtr bench/drugs/pairs.txt
run "pairs of examples/nci.qtr" examples/nci.qtr bench/drugs/nci_pairs.txt
run "D00005 against every drug-sized molecule" bench/drugs/drugs.qtr one:D00005

# taviron-search of both builds, one query against FILE with 2 threads, as
# whole processes: three runs of each, taken in turn, and the median of each
# (whole processes this short vary by some 15 % from run to run). The rows
# of every run must be the same.
screen_rates() {
  local file=$1 query=$2 bin start end
  local -a base_s=() now_s=()
  : >"$dir/rows.md5"
  # Seconds of one run of $bin, its rows in rows.txt.
  one_run() {
    start=$(date +%s.%N)
    "$bin" -q -e "$query" -j 2 "$file" "$file" >"$dir/rows.txt"
    end=$(date +%s.%N)
    md5sum <"$dir/rows.txt" >>"$dir/rows.md5"
    awk -v s="$start" -v e="$end" 'BEGIN { print e - s }'
  }
  for _ in 1 2 3; do
    bin="$dir/build/taviron-search" && base_s+=("$(one_run)")
    bin="$build/taviron-search" && now_s+=("$(one_run)")
  done
  local same="rows identical"
  [ "$(sort -u "$dir/rows.md5" | wc -l)" = 1 ] || same="ROWS DIFFER"
  rm -f "$dir/rows.md5"
  # Every line but the header is a pair.
  awk -v q="$query" -v r="$(($(wc -l <"$dir/rows.txt") - 1))" -v same="$same" \
    -v a="$(printf '%s\n' "${base_s[@]}" | sort -g | sed -n 2p)" \
    -v b="$(printf '%s\n' "${now_s[@]}" | sort -g | sed -n 2p)" \
    'BEGIN { printf "%s: %.0f -> %.0f pairs/s (%.1fx; median of 3 runs, %.3f -> %.3f s), %s\n",
                    q, r / a, r / b, a / b, a, b, same }'
}

echo "== taviron-search -e D00005 -j 2 against the drug-sized file, whole process"
screen_rates bench/drugs/drugs.qtr D00005

# One query against a screening library of 10,000 drug-like molecules: the
# WEHI set that Debian's rdkit-data ships with RDKit's PAINS tests, converted
# once with taviron-convert. Four queries spread over the library.
wehi=/usr/share/RDKit/Data/Pains/test_data/wehi_mols.csv
if [ ! -f "$wehi" ] || [ ! -x "$build/taviron-convert" ]; then
  echo "== screening library: skipped (needs the package rdkit-data and taviron-convert)"
  exit 0
fi
if [ ! -s "$dir/wehi.qtr" ]; then
  tr -d '"' <"$wehi" | tr ',' ' ' >"$dir/wehi.smi"
  "$build/taviron-convert" -q "$dir/wehi.smi" -o "$dir/wehi.qtr" --prefix W
fi
echo "== one query against the WEHI library (10,000 molecules), -j 2, whole process"
for q in W00001 W00500 W02000 W07777; do
  screen_rates "$dir/wehi.qtr" "$q"
done
