#!/usr/bin/env bash
# Interrupts a screen part-way, for the resume cases; run by their setup.sh in
# the working folder, with BINDIR set.
#
# usage: interrupt_screen.sh SIGNAL OUTPUT ARG...
#
# Makes s.qtr (the first 100 records of examples/nci.qtr) and q.qtr (the first
# 40), puts "earlier" in OUTPUT, runs `taviron-search -q -j 1 ARG... -o OUTPUT`
# with the checkpoint_stop library preloaded (CHECKPOINT_STOP), which halts the
# run at each saved checkpoint, and sends SIGNAL at the first one that kept
# rows. Fails unless the run ended by the signal, left OUTPUT as it was, kept
# rows in OUTPUT.part and said how to resume.
set -u
sig=$1 out=$2
shift 2
awk '/^ENTRY/ { n++ } n <= 100' examples/nci.qtr >s.qtr
awk '/^ENTRY/ { n++ } n <= 40' examples/nci.qtr >q.qtr
echo earlier >"$out"
# The sanitizer runtime would refuse to come after a preloaded library.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 LD_PRELOAD=$CHECKPOINT_STOP \
  "$BINDIR/taviron-search" -q -j 1 "$@" -o "$out" 2>interrupted.err &
pid=$!
halted() { [ "$(sed 's/.*) //; s/ .*//' "/proc/$pid/stat" 2>/dev/null)" = T ]; }
# Rows within the saved length of OUTPUT.part, not counting a TSV header.
kept() { [ "$(head -c "$(awk 'NR == 2 { print $2 }' "$out.resume")" "$out.part" | grep -vc "^query	")" -gt 0 ]; }
while :; do
  until halted; do
    kill -0 "$pid" 2>/dev/null || { echo "the run ended before it saved rows"; exit 1; }
    sleep 0.01
  done
  kept && break
  kill -s CONT "$pid"
done
kill -s "$sig" "$pid"
# The run saves its state once more as it ends.
while kill -s CONT "$pid" 2>/dev/null; do sleep 0.01; done
wait "$pid"
status=$?
expected=$((128 + $(kill -l "$sig")))
[ "$status" = "$expected" ] || { echo "exit status $status, expected $expected"; exit 1; }
[ "$(cat "$out")" = earlier ] || { echo "$out was changed"; exit 1; }
[ "$(grep -vc "^query	" "$out.part")" -gt 0 ] || { echo "no rows kept in $out.part"; exit 1; }
grep -q -- '--resume to continue' interrupted.err || { cat interrupted.err; exit 1; }
