#!/usr/bin/env bash
# What the programs write is never lost, mixed or left half done: one case a
# row, each in a fresh folder; every case says what it expected and saw.
#
# usage: output_safety.sh BINDIR EXAMPLESDIR CHECKPOINT_STOP_LIBRARY
set -u
bindir=$1 examples=$2 stop_lib=$3
failures=0 passed=0

# expect STATUS STDERR_TEXT COMMAND...: runs COMMAND, checks its exit status
# and that standard error is exactly STDERR_TEXT (one line).
expect() {
  local status=$1 text=$2
  shift 2
  "$@" >out.stdout 2>out.stderr
  local got=$?
  [ "$got" = "$status" ] || { echo "exit status $got, expected $status: $(head -c 300 out.stderr)"; return 1; }
  [ "$(cat out.stderr)" = "$text" ] || { echo "stderr: $(head -c 300 out.stderr), expected: $text"; return 1; }
}
same() { [ "$(cat "$1")" = "$2" ] || { echo "$1 holds $(head -c 100 "$1"), expected $2"; return 1; }; }
mode_of() { stat -c %a "$1"; }
no_leftovers() {  # only the named files are in the folder
  local want have
  want=$(printf '%s\n' "$@" $(ls out.stdout out.stderr 2>/dev/null) | sort -u)
  have=$(ls -A | grep -v '^examples$' | sort)
  [ "$want" = "$have" ] || { echo "files: $(echo $have), expected: $(echo $want)"; return 1; }
}
sanitized() { ldd "$bindir/taviron" 2>/dev/null | grep -q libasan; }

case_taviron_output_is_input() {
  cp examples/compounds.qtr c.qtr
  expect 9 "c.qtr: is the input file" "$bindir/taviron" c.qtr -e 9 -f 10 -o c.qtr &&
    cmp -s c.qtr examples/compounds.qtr
}

case_taviron_keeps_mode() {
  echo earlier >t.txt
  chmod 600 t.txt
  expect 0 "" "$bindir/taviron" examples/compounds.qtr -e 9 -f 10 -o t.txt &&
    same t.txt "$(printf 'C00009\t7\tC00010\t13\t6\t0.428571')" &&
    [ "$(mode_of t.txt)" = 600 ] && no_leftovers t.txt
}

case_taviron_file_size_limit() {
  echo earlier >t.txt
  # The limit would hold for a file on standard error too: it goes through a pipe.
  (ulimit -f 0; exec "$bindir/taviron" examples/compounds.qtr -e 9 -f 10 -o t.txt) 2>&1 | cat >err.txt
  local status=${PIPESTATUS[0]}
  [ "$status" = 9 ] || { echo "exit status $status"; return 1; }
  same err.txt "t.txt: File too large" && same t.txt earlier && rm err.txt && no_leftovers t.txt
}

case_taviron_out_of_memory() {
  sanitized && return 0  # the sanitizer runtime needs more address space than any limit here
  echo earlier >t.txt
  expect 9 "taviron: out of memory" bash -c "ulimit -v 40000; exec '$bindir/taviron' examples/compounds.qtr -e 9 -f 10 -o t.txt" &&
    same t.txt earlier && no_leftovers t.txt
}

case_search_second_writer_refused() {
  awk '/^ENTRY/ { n++ } n <= 60' examples/nci.qtr >s.qtr
  # The first screen halts itself at its first checkpoint, still writing.
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 LD_PRELOAD=$stop_lib \
    "$bindir/taviron-search" -q -j 1 --pairs s.qtr -o out.tsv 2>first.err &
  local pid=$! ok=0
  for _ in $(seq 1000); do
    [ "$(sed 's/.*) //; s/ .*//' "/proc/$pid/stat" 2>/dev/null)" = T ] && break
    sleep 0.01
  done
  local part_before
  part_before=$(md5sum <out.tsv.part)
  expect 9 "taviron-search: cannot write out.tsv: another screen is writing it (out.tsv.part is in use)" \
    "$bindir/taviron-search" -q --pairs s.qtr --min 0.6 -o out.tsv || ok=1
  [ "$(md5sum <out.tsv.part)" = "$part_before" ] || { echo "the refused screen touched out.tsv.part"; ok=1; }
  kill -s KILL "$pid"
  wait "$pid" 2>/dev/null
  [ ! -e out.tsv ] || { echo "out.tsv appeared"; ok=1; }
  return $ok
}

case_search_symlinked_part() {
  echo precious >victim
  ln -s victim out.tsv.part
  expect 9 "taviron-search: cannot write out.tsv: out.tsv.part is a symbolic link (remove it first)" \
    "$bindir/taviron-search" -q examples/compounds.qtr examples/compounds.qtr -e 1 -o out.tsv &&
    same victim precious && [ ! -e out.tsv ]
}

case_search_symlinked_spill() {
  echo precious >victim
  ln -s victim out.tsv.spill
  expect 9 "taviron-search: cannot write out.tsv: out.tsv.spill is a symbolic link (remove it first)" \
    "$bindir/taviron-search" -q --pairs examples/compounds.qtr -o out.tsv &&
    same victim precious && no_leftovers victim out.tsv.spill
}

case_search_keeps_mode() {
  echo earlier >out.tsv
  chmod 640 out.tsv
  expect 0 "" "$bindir/taviron-search" -q examples/compounds.qtr examples/compounds.qtr -e 1 -o out.tsv &&
    [ "$(mode_of out.tsv)" = 640 ] && [ "$(wc -l <out.tsv)" -gt 1 ] && no_leftovers out.tsv
}

case_search_html_kept_on_failure() {
  echo earlier >r.html
  expect 9 "taviron-search: cannot write nodir/out.tsv: No such file or directory" \
    "$bindir/taviron-search" -q examples/compounds.qtr examples/compounds.qtr -e 1 \
    -o nodir/out.tsv --html r.html &&
    same r.html earlier && no_leftovers r.html
}

# An interrupted screen of s.qtr (100 records) with rows kept in out.tsv.part.
interrupted() {
  BINDIR=$bindir CHECKPOINT_STOP=$stop_lib bash "$(dirname "$0")/interrupt_screen.sh" INT out.tsv \
    --pairs s.qtr >/dev/null
}
resume_refused() {  # resume_refused MESSAGE: the resume fails and changes nothing
  local before
  before=$(cat out.tsv.part out.tsv.resume | md5sum)
  expect 9 "taviron-search: $1" "$bindir/taviron-search" -q -j 1 --pairs s.qtr -o out.tsv --resume &&
    [ "$(cat out.tsv.part out.tsv.resume | md5sum)" = "$before" ] && same out.tsv earlier
}

case_resume_edited_state() {
  interrupted || return 1
  awk 'NR == 2 { $2 = int($2 / 2) } { print }' out.tsv.resume >edited && mv edited out.tsv.resume
  resume_refused "out.tsv.resume is not a resume state of this program, or it was changed"
}

case_resume_changed_rows() {
  interrupted || return 1
  # One digit of the kept rows, the size unchanged.
  sed -i '2s/0\./1./' out.tsv.part
  resume_refused "cannot resume out.tsv: out.tsv.part does not match its resume state (run without --resume to start again)"
}

case_resume_input_changed_in_place() {
  interrupted || return 1
  # Same size, same modification time, other content.
  touch -r s.qtr stamp
  sed -i 's/C00002/C00003/' s.qtr
  touch -r stamp s.qtr
  resume_refused "cannot resume out.tsv: input differs from the interrupted run (run without --resume to start again)"
}

# A screen of nci.qtr killed (SIGKILL) inside a pass, once rows of the
# pass's later queries are held aside (its first pass holds 228,224 of its
# 519,690 pairs); what the pass did is saved every second, so the kill loses
# at most the last second.
killed_screen=(-j 1 --pairs examples/nci.qtr --min 0.6)
killed_in_a_pass() {
  "$bindir/taviron-search" -q "${killed_screen[@]}" -o out.tsv &
  local pid=$! tries=0
  # Killed once the state records a pass under way with rows held aside,
  # however fast or slow the machine (a sanitizer build is several times slower).
  until { [ -s out.tsv.spill ] && grep -q '^pass ' out.tsv.resume 2>/dev/null; } ||
    [ $tries -ge 600 ]; do
    sleep 0.05
    tries=$((tries + 1))
  done
  kill -s KILL "$pid"
  wait "$pid" 2>/dev/null
  [ -f out.tsv.resume ] && [ -s out.tsv.spill ] && [ ! -e out.tsv ] ||
    { echo "no state of the pass, or out.tsv was written: $(ls)"; return 1; }
}

case_resume_after_kill_in_a_pass() {
  killed_in_a_pass || return 1
  "$bindir/taviron-search" "${killed_screen[@]}" -o out.tsv --resume 2>resumed.err &&
    "$bindir/taviron-search" -q "${killed_screen[@]}" -o whole.tsv || return 1
  local left
  left=$(sed -n 's/^taviron-search: \([0-9]*\) pairs,.*/\1/p' resumed.err)
  # Whatever the machine's speed, the state holds work done inside the pass.
  [ -n "$left" ] && [ "$left" -lt 519690 ] ||
    { echo "the state kept too little: $(cat resumed.err)"; return 1; }
  cmp -s out.tsv whole.tsv || { echo "the resumed output differs"; return 1; }
  rm resumed.err && no_leftovers out.tsv whole.tsv
}

case_resume_changed_spill() {
  killed_in_a_pass || return 1
  # One byte of the rows held aside, the size unchanged.
  printf 'x' | dd of=out.tsv.spill bs=1 seek=3 conv=notrunc status=none
  local before
  before=$(cat out.tsv.part out.tsv.resume out.tsv.spill | md5sum)
  expect 9 "taviron-search: cannot resume out.tsv: out.tsv.spill does not match its resume state (run without --resume to start again)" \
    "$bindir/taviron-search" -q "${killed_screen[@]}" -o out.tsv --resume &&
    [ "$(cat out.tsv.part out.tsv.resume out.tsv.spill | md5sum)" = "$before" ] && [ ! -e out.tsv ]
}

# Parts 1..3 of one screen, and part 2 of a screen with another --min.
shards() {
  local k
  for k in 1 2 3; do
    "$bindir/taviron-search" -q -e 9 -e 10 examples/compounds.qtr examples/nci.qtr --shard $k/3 \
      -o p$k.tsv || return 1
  done
  "$bindir/taviron-search" -q -e 9 -e 10 examples/compounds.qtr examples/nci.qtr --shard 2/3 \
    --min 0.5 -o other2.tsv
}
merge() { "$bindir/taviron-search" --merge "$@"; }

case_merge_refuses_bad_parts() {
  shards || return 1
  expect 9 "taviron-search: part 2 of 3 is missing" merge -o m.tsv p1.tsv p3.tsv &&
    expect 9 "taviron-search: p2.tsv and p2.tsv are both part 2 of 3" merge p1.tsv p2.tsv p2.tsv p3.tsv &&
    expect 9 "taviron-search: other2.tsv: a part of another screen than p1.tsv (min differs)" \
      merge p1.tsv other2.tsv p3.tsv &&
    [ ! -e m.tsv ]
}

case_merge_puts_parts_in_order() {
  shards || return 1
  merge p1.tsv p2.tsv p3.tsv >in_order.tsv &&
    expect 0 "" merge p3.tsv p1.tsv p2.tsv &&
    cmp -s out.stdout in_order.tsv && [ "$(wc -l <in_order.tsv)" -gt 3 ]
}

convert() { "$bindir/taviron-convert" "$@"; }
has_convert() { [ -x "$bindir/taviron-convert" ]; }  # built only with RDKit
summary() { echo "taviron-convert: $1 of $1 molecules written (0 unreadable, 0 outside the heavy-atom range)"; }

case_convert_output_is_input() {
  has_convert || return 0
  printf 'CCO ethanol\nc1ccccc1 benzene\n' >x.smi
  cp x.smi before.smi
  ln x.smi other-name.smi
  expect 9 "taviron-convert: x.smi: is an input file" convert x.smi -o x.smi &&
    expect 9 "taviron-convert: other-name.smi: is an input file" convert x.smi -o other-name.smi &&
    expect 9 "taviron-convert: x.smi: is an input file" convert - -o x.smi <x.smi &&
    cmp -s x.smi before.smi && no_leftovers x.smi before.smi other-name.smi
}

case_convert_keeps_output_when_nothing_written() {
  has_convert || return 0
  echo earlier >keep.qtr
  : >empty.smi
  expect 1 "$(summary 0; echo 'taviron-convert: keep.qtr not written')" convert empty.smi -o keep.qtr &&
    same keep.qtr earlier && no_leftovers keep.qtr empty.smi
}

case_convert_keeps_mode() {
  has_convert || return 0
  echo earlier >keep.qtr
  chmod 600 keep.qtr
  echo 'CCO ethanol' >x.smi
  expect 0 "$(summary 1)" convert x.smi -o keep.qtr &&
    [ "$(head -n 1 keep.qtr | cut -c 13-18)" = C00001 ] && [ "$(mode_of keep.qtr)" = 600 ] &&
    no_leftovers keep.qtr x.smi
}

case_convert_file_size_limit() {
  has_convert || return 0
  echo earlier >keep.qtr
  echo 'CCO ethanol' >x.smi
  (ulimit -f 0; exec "$bindir/taviron-convert" -q x.smi -o keep.qtr) 2>&1 | cat >err.txt
  local status=${PIPESTATUS[0]}
  [ "$status" = 9 ] || { echo "exit status $status"; return 1; }
  same err.txt "taviron-convert: cannot write keep.qtr: File too large" && same keep.qtr earlier &&
    rm err.txt && no_leftovers keep.qtr x.smi
}

case_convert_out_of_memory() {
  has_convert && ! sanitized || return 0
  echo earlier >keep.qtr
  # A chain of 100,000 atoms needs some 100 MB; ethanol converts within the limit.
  awk 'BEGIN { s = "CC"; while (length(s) < 100000) s = s s; print s, "chain"; print "CCO ethanol" }' >big.smi
  expect 9 "taviron-convert: out of memory" bash -c \
    "ulimit -v 60000; exec '$bindir/taviron-convert' -q --max-atoms 200000 big.smi -o keep.qtr" &&
    same keep.qtr earlier && no_leftovers keep.qtr big.smi
}

case_convert_terminated() {
  has_convert || return 0
  echo earlier >keep.qtr
  awk 'BEGIN { for (i = 1; i <= 20000; i++) print "CC(C)Cc1ccc(cc1)C(C)C(=O)O", "m" i }' >big.smi
  "$bindir/taviron-convert" -q big.smi -o keep.qtr &
  local pid=$!
  # Terminated once records are being written.
  for _ in $(seq 1000); do
    compgen -G 'keep.qtr.tmp.*' >/dev/null && [ -s "$(compgen -G 'keep.qtr.tmp.*')" ] && break
    sleep 0.01
  done
  kill -s TERM "$pid"
  wait "$pid"
  local status=$?
  [ "$status" = 143 ] || { echo "exit status $status"; return 1; }
  same keep.qtr earlier && no_leftovers keep.qtr big.smi
}

depict() { "$bindir/taviron-depict" "$@"; }

case_depict_output_is_input() {
  cp examples/compounds.qtr c.qtr
  expect 9 "taviron-depict: c.qtr: is the input file" depict c.qtr -e 9 -f 10 -o c.qtr &&
    expect 9 "taviron-depict: c.qtr: is the input file" depict -e 9 -f 10 -o c.qtr <c.qtr &&
    cmp -s c.qtr examples/compounds.qtr && no_leftovers c.qtr
}

case_depict_keeps_mode() {
  echo earlier >p.svg
  chmod 640 p.svg
  expect 0 "" depict examples/compounds.qtr -e 9 -f 10 -o p.svg &&
    [ "$(head -c 4 p.svg)" = "<svg" ] && [ "$(mode_of p.svg)" = 640 ] && no_leftovers p.svg
}

case_depict_file_size_limit() {
  echo earlier >p.svg
  (ulimit -f 0; exec "$bindir/taviron-depict" examples/compounds.qtr -e 9 -f 10 -o p.svg) 2>&1 | cat >err.txt
  local status=${PIPESTATUS[0]}
  [ "$status" = 9 ] || { echo "exit status $status"; return 1; }
  same err.txt "taviron-depict: cannot write p.svg: File too large" && same p.svg earlier &&
    rm err.txt && no_leftovers p.svg
}

case_depict_out_of_memory() {
  sanitized && return 0
  echo earlier >p.svg
  # Room for the libraries, not for the engine's tables.
  expect 9 "taviron-depict: out of memory" bash -c "ulimit -v 200000; exec '$bindir/taviron-depict' examples/compounds.qtr -e 9 -f 10 -o p.svg" &&
    same p.svg earlier && no_leftovers p.svg
}

cases=(
  taviron_output_is_input taviron_keeps_mode taviron_file_size_limit taviron_out_of_memory
  search_second_writer_refused search_symlinked_part search_symlinked_spill search_keeps_mode
  search_html_kept_on_failure
  resume_edited_state resume_changed_rows resume_input_changed_in_place
  resume_after_kill_in_a_pass resume_changed_spill
  merge_refuses_bad_parts merge_puts_parts_in_order
  convert_output_is_input convert_keeps_output_when_nothing_written convert_keeps_mode
  convert_file_size_limit convert_out_of_memory convert_terminated
  depict_output_is_input depict_keeps_mode depict_file_size_limit depict_out_of_memory
)
for c in "${cases[@]}"; do
  work=$(mktemp -d)
  ln -s "$examples" "$work/examples"
  if reason=$(cd "$work" && "case_$c" 2>&1); then
    passed=$((passed + 1))
  else
    echo "FAIL $c: $reason"
    failures=$((failures + 1))
  fi
  rm -rf "$work"
done
echo "output safety: $passed passed, $failures failed"
[ "$failures" = 0 ]
