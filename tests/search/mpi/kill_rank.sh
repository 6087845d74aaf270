#!/usr/bin/env bash
# A rank killed in the middle of a screen written to -o FILE: rank 0 says so
# and ends with status 9, FILE is left as it was, and --resume completes the
# screen with exactly the rows of `taviron-search -j 1`.
#
# usage: kill_rank.sh BINDIR EXAMPLESDIR CHECKPOINT_STOP
# Rank 0 runs with the checkpoint_stop library preloaded, which halts it at
# every saved checkpoint; once it has saved rows, rank 1 is killed (SIGKILL)
# while rank 0 waits, so the failure falls mid-run however fast the machine;
# from then on rank 0 runs on.
set -u
BINDIR=$1 examples=$2 preload=$3
. "$(dirname "$0")/common.sh"
awk '/^ENTRY/ { n++ } n <= 100' "$examples/nci.qtr" >s.qtr
args=(-q -j 1 --pairs s.qtr --min 0.2)
"$BINDIR/taviron-search" "${args[@]}" -o expected.tsv || exit 1
echo earlier >out.tsv

fail() {
  echo "FAIL: $*"
  [ -f run.err ] && cat run.err
  ls -l
  exit 1
}
# The sanitizer runtime would refuse to come after a preloaded library.
mpirun -np 3 -x LD_PRELOAD="$preload" -x CHECKPOINT_STOP_RELEASE="$work/release" \
  -x ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  "$BINDIR/taviron-search-mpi" --chunk 50 "${args[@]}" -o out.tsv >run.out 2>run.err &
launcher=$!
deadline=$((SECONDS + 120))
late() { ((SECONDS > deadline)) && { kill -9 "$launcher"; fail "no progress in 120 s"; }; }
# The ranks, by the rank their launcher gave them.
rank_pid() {
  local p
  for p in $(pgrep -P "$launcher"); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "OMPI_COMM_WORLD_RANK=$1" && echo "$p"
  done
}
halted() { [ "$(sed 's/.*) //; s/ .*//' "/proc/$1/stat" 2>/dev/null)" = T ]; }
# Rows within the saved length of out.tsv.part, not counting the header.
kept() { [ "$(head -c "$(awk 'NR == 2 { print $2 }' out.tsv.resume)" out.tsv.part | grep -vc "^query	")" -gt 0 ]; }
until [ -n "$(rank_pid 0)" ] && [ -n "$(rank_pid 1)" ]; do late; sleep 0.01; done
leader=$(rank_pid 0) victim=$(rank_pid 1)
while :; do
  until halted "$leader"; do
    kill -0 "$leader" 2>/dev/null || fail "the run ended before it saved rows"
    late
    sleep 0.01
  done
  kept && break
  kill -s CONT "$leader"
done
# Rank 0 stops no more. mpirun ends the other ranks as soon as one dies:
# SIGTERM, and SIGKILL soon after for a rank that is still there. Rank 0 goes
# on once its SIGTERM has come.
touch release
kill -s KILL "$victim"
sigterm() { grep -q "^ShdPnd:.*[4-7c-f][0-9a-f]\{3\}$" "/proc/$1/status" 2>/dev/null; }
until sigterm "$leader"; do
  kill -0 "$leader" 2>/dev/null || break
  late
  sleep 0.001
done
kill -s CONT "$leader" 2>/dev/null
wait "$launcher"
status=$?
echo "mpirun exit status: $status"
grep -q "^taviron-search-mpi: ended by SIGTERM (a rank failed, or the job was cancelled) after [0-9]* of 4950 pairs; out.tsv was left as it was; the rows so far are kept in out.tsv.part: run the same command with --resume to continue$" run.err ||
  fail "no message from rank 0"
[ "$status" != 0 ] || fail "mpirun ended with status 0"
[ "$(cat out.tsv)" = earlier ] || fail "out.tsv was changed"
[ -f out.tsv.resume ] || fail "no resume state"

mpi 3 --chunk 50 "${args[@]}" -o out.tsv --resume || fail "the resumed run failed"
cmp -s out.tsv expected.tsv || fail "the resumed output differs from taviron-search -j 1"
[ ! -e out.tsv.part ] && [ ! -e out.tsv.resume ] || fail "out.tsv.part or out.tsv.resume left behind"
echo "killed rank: rank 0 said so, out.tsv untouched, the resumed screen is complete"
