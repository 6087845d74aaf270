#!/usr/bin/env bash
# taviron-search-mpi writes byte for byte what `taviron-search -j 1` writes,
# for 1 and 3 ranks, 1 and 2 threads, chunks of a few pairs (many chunks,
# queries cut between them) and the default (-o FILE); and a rank that cannot
# read its input, at the start or in the middle of a screen, ends the run
# with status 9 and one message; a skipped molecule is reported once.
#
# usage: screens.sh BINDIR EXAMPLESDIR READ_FAILS
set -u
BINDIR=$1 examples=$2 read_fails=$3
. "$(dirname "$0")/common.sh"
awk '/^ENTRY/ { n++ } n <= 60' "$examples/nci.qtr" >s.qtr
awk '/^ENTRY/ { n++ } n <= 20' "$examples/nci.qtr" >q.qtr
failures=0 cases=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Each line: the options and inputs of one screen.
while IFS= read -r line; do
  read -ra args <<<"$line"
  "$BINDIR/taviron-search" -q -j 1 "${args[@]}" <s.qtr >expected || { fail "taviron-search $line"; continue; }
  for run in "1 1 --chunk=23" "3 1 --chunk=7" "3 2 --chunk=50"; do
    read -r np jobs chunk <<<"$run"
    cases=$((cases + 1))
    mpi "$np" -q -j "$jobs" $chunk "${args[@]}" <s.qtr >actual 2>err
    status=$?
    [ "$status" = 0 ] && cmp -s expected actual && [ ! -s err ] && continue
    fail "-np $np -j $jobs $chunk $line: status $status"
    diff expected actual | head -n 5
    head -n 5 err
  done
done <<'SCREENS'
q.qtr s.qtr
--pairs s.qtr
--pairs s.qtr --min 0.5
q.qtr s.qtr --top 4
--pairs s.qtr --top 2 --min 0.3 --format jsonl
q.qtr s.qtr --min 0.4 --names --format jsonl
q.qtr s.qtr --shard 2/3 --top 2
q.qtr q.qtr --top 3 --no-self
--pairs - --min 0.3
SCREENS

# -o FILE: written through FILE.part, which is renamed at the end.
cases=$((cases + 1))
"$BINDIR/taviron-search" -q -j 1 --pairs s.qtr --top 3 -o expected.tsv
mpi 3 -q -j 1 --pairs s.qtr --top 3 -o out.tsv && cmp -s expected.tsv out.tsv &&
  [ ! -e out.tsv.part ] && [ ! -e out.tsv.resume ] || fail "-o FILE"

# A molecule skipped while converting is reported once, by rank 0 (when the
# programs read SMILES).
if [ -x "$BINDIR/taviron-convert" ]; then
  cases=$((cases + 1))
  printf 'CCO ethanol\nC1CC bad\nc1ccccc1O phenol\nNCC(=O)O glycine\n' >m.smi
  "$BINDIR/taviron-search" -q -j 1 --pairs m.smi >expected 2>expected.err
  mpi 3 -q -j 1 --pairs m.smi >actual 2>err
  cmp -s expected actual && [ "$(sed 's/^taviron-search:/taviron-search-mpi:/' expected.err)" = "$(cat err)" ] &&
    [ -s err ] || { fail "skipped molecule"; cat err; }
fi

# Rank 2 cannot read its input (here: is given one that is not there).
cases=$((cases + 1))
timeout -k 10 120 mpirun -np 2 "$BINDIR/taviron-search-mpi" -q --pairs s.qtr : \
  -np 1 "$BINDIR/taviron-search-mpi" -q --pairs nothere.qtr >out 2>err
status=$?
[ "$status" = 9 ] || fail "unreadable input on rank 2: status $status"
[ "$(grep -c '^taviron-search-mpi: ' err)" = 1 ] &&
  grep -qx 'taviron-search-mpi: rank 2: cannot read nothere.qtr: No such file or directory' err ||
  { fail "unreadable input on rank 2: message"; cat err; }

# Rank 2 reads a stale copy: the same size and records, another content.
cases=$((cases + 1))
sed 's/C00002/C00003/' s.qtr >stale.qtr
echo earlier >out.tsv
timeout -k 10 120 mpirun -np 2 "$BINDIR/taviron-search-mpi" -q --pairs s.qtr -o out.tsv : \
  -np 1 "$BINDIR/taviron-search-mpi" -q --pairs stale.qtr -o out.tsv >out 2>err
status=$?
[ "$status" = 9 ] || fail "stale copy on rank 2: status $status"
grep -qx 'taviron-search-mpi: rank 2: the inputs hold other records than on rank 0 (the ranks must read the same files)' err &&
  [ "$(cat out.tsv)" = earlier ] || { fail "stale copy on rank 2: message or output"; cat err; }

# Rank 2's reads fail after a few blocks, in the middle of the screen.
cases=$((cases + 1))
echo earlier >out.tsv
timeout -k 10 120 mpirun -np 2 "$BINDIR/taviron-search-mpi" -q -j 1 --chunk 20 --pairs s.qtr -o out.tsv : \
  -np 1 -x LD_PRELOAD="$read_fails" -x READ_FAILS_AFTER=3 \
  -x ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  "$BINDIR/taviron-search-mpi" -q -j 1 --chunk 20 --pairs s.qtr -o out.tsv >out 2>err
status=$?
[ "$status" = 9 ] || fail "failed reads on rank 2: status $status"
grep -Eqx 'taviron-search-mpi: rank 2 failed \(cannot read the input: Input/output error\) after [0-9]+ of 1770 pairs; out.tsv was left as it was; the rows so far are kept in out.tsv.part: run the same command with --resume to continue' err ||
  { fail "failed reads on rank 2: message"; cat err; }
[ "$(cat out.tsv)" = earlier ] || fail "failed reads on rank 2: out.tsv was changed"

echo "$((cases - failures)) passed, $failures failed"
[ "$failures" = 0 ]
