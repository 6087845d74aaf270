#!/usr/bin/env bash
# Time and peak memory of taviron-convert on large molecules, one SMILES line
# each: linear chains, many separate benzene rings in one molecule, and deeply
# nested branches. Inputs are generated into a scratch folder.
# usage: bench/convert_bench.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
conv="$build/taviron-convert"
if [ ! -x "$conv" ]; then
  echo "convert_bench: $conv not built (apt-get install librdkit-dev libboost-dev)"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

repeat() {  # repeat TEXT COUNT
  local out="" i
  for ((i = 0; i < $2; i++)); do out+=$1; done
  printf '%s' "$out"
}
chain() { repeat C "$1"; }
rings() { repeat 'c1ccccc1.' $(($1 - 1)); printf 'c1ccccc1'; }
nested() { repeat 'C(' "$1"; printf C; repeat ')' "$1"; }

run() {  # run LABEL GENERATOR COUNT [OPTION ...]
  local label=$1 gen=$2 n=$3
  shift 3
  { $gen "$n"; printf ' m\n'; } >"$work/in.smi"
  local t
  t=$( { /usr/bin/time -f '%e %M' "$conv" -q "$@" "$work/in.smi" -o "$work/out.qtr" 2>&1 >/dev/null; } | tail -n 1 || true)
  local records
  records=$(grep -c '^ENTRY' "$work/out.qtr" || true)
  printf '%-42s %7s s %8.1f MB  %s\n' "$label" "${t% *}" "$(echo "${t#* }" | awk '{print $1 / 1024}')" \
    "$([ "$records" -gt 0 ] && echo written || echo skipped)"
}

echo "== taviron-convert: large molecules (time, peak memory, outcome)"
run "chain, 1,000 atoms" chain 1000
run "chain, 2,000 atoms" chain 2000
run "chain, 4,000 atoms" chain 4000
run "chain, 10,000 atoms" chain 10000
run "400 benzene rings (2,400 atoms)" rings 400
run "800 benzene rings (4,800 atoms)" rings 800
run "nested 20,000 deep (default limits)" nested 20000
run "nested 20,000 deep, limits raised" nested 20000 --max-atoms 30000 --max-depth 30000
run "5,000 benzene rings (default limit)" rings 5000
run "5,000 benzene rings (30,000 atoms), raised" rings 5000 --max-atoms 30000
