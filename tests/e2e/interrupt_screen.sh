#!/usr/bin/env bash
# Interrupts a screen part-way, for the resume cases; run by their setup.sh in
# the working folder, with BINDIR set.
#
# usage: interrupt_screen.sh SIGNAL OUTPUT ARG...
#
# Makes s.qtr (the first 100 records of examples/nci.qtr) and q.qtr (the first
# 40), puts "earlier" in OUTPUT, runs `taviron-search -q -j 1 ARG... -o OUTPUT`
# and sends SIGNAL once the run has saved rows. Fails unless the run ended by
# the signal, left OUTPUT as it was, kept rows in OUTPUT.part and said how to
# resume.
set -u
sig=$1 out=$2
shift 2
awk '/^ENTRY/ { n++ } n <= 100' examples/nci.qtr >s.qtr
awk '/^ENTRY/ { n++ } n <= 40' examples/nci.qtr >q.qtr
echo earlier >"$out"
"$BINDIR/taviron-search" -q -j 1 "$@" -o "$out" 2>interrupted.err &
pid=$!
saved() { [ -f "$out.resume" ] && [ "$(sed -n '2s/ .*//p' "$out.resume")" -gt 0 ]; }
for ((i = 0; i < 1200; i++)); do
  saved && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill -s "$sig" "$pid"
wait "$pid"
status=$?
expected=$((128 + $(kill -l "$sig")))
[ "$status" = "$expected" ] || { echo "exit status $status, expected $expected"; exit 1; }
[ "$(cat "$out")" = earlier ] || { echo "$out was changed"; exit 1; }
[ "$(grep -vc "^query	" "$out.part")" -gt 0 ] || { echo "no rows kept in $out.part"; exit 1; }
grep -q -- '--resume to continue' interrupted.err || { cat interrupted.err; exit 1; }
