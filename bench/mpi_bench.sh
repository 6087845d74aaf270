#!/usr/bin/env bash
# taviron-search-mpi against taviron-search on the same screens, in one run:
#  A. 8 queries of bench/drugs/drugs.qtr against the whole file (9,392 pairs
#     of drug-sized molecules, about a millisecond each);
#  B. all pairs of examples/nci.qtr with --min 0.7 (519,690 pairs, nearly all
#     ruled out by the bounds: the cost of reading and handing out dominates).
# Each screen runs with taviron-search -j 1 and -j 2, and with
# taviron-search-mpi -np 1 and -np 2 (-j 1), ROUNDS times in turn (3); the
# median of each is shown, as the screen's own rate (its summary line: pairs
# per second after reading the inputs) and the whole process's time (mpirun
# included), with the ratios that matter on two cores: -np 1 against -j 1
# (the cost of the MPI program on one core) and -np 2 against -j 2 (the same
# cores used by ranks instead of threads; the goal is at most 5 % slower).
#
# usage: bench/mpi_bench.sh [BUILD_DIR]     environment: ROUNDS (3), CHUNK (default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
search=$build/taviron-search
mpi=$build/taviron-search-mpi
rounds=${ROUNDS:-3}
for p in "$search" "$mpi"; do
  [ -x "$p" ] || { echo "$p: not built (make build; taviron-search-mpi needs Open MPI)" >&2; exit 1; }
done
command -v mpirun >/dev/null || { echo "mpirun not found (apt-get install openmpi-bin)" >&2; exit 1; }
[ "$(id -u)" = 0 ] && export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
chunk=()
[ -n "${CHUNK:-}" ] && chunk=(--chunk "$CHUNK")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk '/^ENTRY/ { n++ } n <= 8' bench/drugs/drugs.qtr >"$tmp/q8.qtr"
now() { date +%s%N; }
# run NAME command...: appends "screen_rate wall_seconds" to $tmp/NAME.
run() {
  local name=$1 t0 t1 rate
  shift
  t0=$(now)
  "$@" -o /dev/null 2>"$tmp/err"
  t1=$(now)
  rate=$(sed -n 's/.* \([0-9]*\) pairs\/s$/\1/p' "$tmp/err" | tail -n 1)
  echo "$rate $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')" >>"$tmp/$name"
}
median() { sort -n -k"$2" "$tmp/$1" | awk -v k="$2" '{ v[NR] = $k } END { print v[int((NR + 1) / 2)] }'; }

screen() {  # screen TITLE ARG...
  local title=$1
  shift
  rm -f "$tmp"/s1 "$tmp"/s2 "$tmp"/m1 "$tmp"/m2
  for ((r = 0; r < rounds; r++)); do
    run s1 "$search" -j 1 "$@"
    run s2 "$search" -j 2 "$@"
    run m1 mpirun -np 1 "$mpi" -j 1 "${chunk[@]}" "$@"
    run m2 mpirun -np 2 "$mpi" -j 1 "${chunk[@]}" "$@"
  done
  echo "== $title (median of $rounds)"
  printf '  %-34s %12s %10s\n' "" "pairs/s" "seconds"
  local k label
  for k in s1 s2 m1 m2; do
    case $k in
      s1) label="taviron-search -j 1" ;;
      s2) label="taviron-search -j 2" ;;
      m1) label="mpirun -np 1 taviron-search-mpi -j 1" ;;
      m2) label="mpirun -np 2 taviron-search-mpi -j 1" ;;
    esac
    printf '  %-34s %12s %10s\n' "$label" "$(median "$k" 1)" "$(median "$k" 2)"
  done
  awk -v a="$(median m1 1)" -v b="$(median s1 1)" -v c="$(median m2 1)" -v d="$(median s2 1)" \
    -v e="$(median m1 2)" -v f="$(median s1 2)" -v g="$(median m2 2)" -v h="$(median s2 2)" 'BEGIN {
    printf "  rate   -np 1 / -j 1: %.3f   -np 2 / -j 2: %.3f   -np 2 / -np 1: %.2f\n", a / b, c / d, c / a
    printf "  time   -np 1 / -j 1: %.3f   -np 2 / -j 2: %.3f (whole processes, mpirun included)\n", e / f, g / h }'
}

screen "A. 8 queries of drugs.qtr against its 1,174 molecules" "$tmp/q8.qtr" bench/drugs/drugs.qtr
screen "B. all pairs of nci.qtr, --min 0.7" --pairs examples/nci.qtr --min 0.7
