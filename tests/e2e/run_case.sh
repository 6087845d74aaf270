#!/usr/bin/env bash
# Runs one end-to-end case and compares what the program did, byte for byte.
#
# usage: run_case.sh BINDIR CASEDIR EXAMPLESDIR
#
# A case folder holds:
#   args           the arguments, one per line (absent: no arguments)
#   prog           program to run from BINDIR (absent: taviron)
#   stdin          standard input (absent: empty)
#   setup.sh       optional script run first in the working folder (makes big inputs)
#   check.sh       optional script run last in the working folder; failing fails the case
#                  (both get BINDIR, the programs' folder, and CASE_DIR, the case folder)
#   files/         optional files copied into the working folder before the run
#   stdout         expected standard output (absent: must be empty)
#   stderr         expected standard error (absent: must be empty)
#   status         expected exit status (absent: 0)
#   expect-files/  files that must exist afterwards in the working folder, with this content
#   absent         names, one per line, that must not exist afterwards
#   check.sh       optional script run last in the working folder, for outputs
#                  too large to keep as expected files; it fails the case by
#                  exiting non-zero, saying why
# The program runs in a fresh working folder in which `examples` links to the
# bundled example compounds, so cases name inputs by relative paths.
set -u
bindir=$1 case=$2 examples=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ln -s "$examples" "$work/examples"
[ -d "$case/files" ] && cp -R "$case/files/." "$work/"
if [ -f "$case/setup.sh" ]; then
  (cd "$work" && BINDIR=$bindir CASE_DIR=$case bash "$case/setup.sh") || { echo "setup.sh failed"; exit 1; }
fi

prog=taviron
[ -f "$case/prog" ] && prog=$(head -n 1 "$case/prog")
args=()
if [ -f "$case/args" ]; then
  while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done < "$case/args"
fi
stdin=/dev/null
[ -f "$case/stdin" ] && stdin="$case/stdin"

(cd "$work" && "$bindir/$prog" "${args[@]}" < "$stdin" > "$work/.stdout" 2> "$work/.stderr")
status=$?

fail=0
check() {  # check NAME EXPECTED_FILE ACTUAL_FILE
  if ! cmp -s "$2" "$3"; then
    echo "--- $1 differs (expected vs actual):"
    diff <(od -c "$2") <(od -c "$3") | head -n 40
    fail=1
  fi
}
expected_status=0
[ -f "$case/status" ] && expected_status=$(head -n 1 "$case/status")
if [ "$status" != "$expected_status" ]; then
  echo "--- exit status: expected $expected_status, got $status"
  fail=1
fi
for stream in stdout stderr; do
  if [ -f "$case/$stream" ]; then
    check "$stream" "$case/$stream" "$work/.$stream"
  elif [ -s "$work/.$stream" ]; then
    echo "--- unexpected $stream:"; head -c 2000 "$work/.$stream"; echo; fail=1
  fi
done
if [ -d "$case/expect-files" ]; then
  while IFS= read -r -d '' f; do
    rel=${f#"$case/expect-files/"}
    if [ -f "$work/$rel" ]; then check "file $rel" "$f" "$work/$rel"; else echo "--- missing file $rel"; fail=1; fi
  done < <(find "$case/expect-files" -type f -print0)
fi
if [ -f "$case/absent" ]; then
  while IFS= read -r name || [ -n "$name" ]; do
    [ -n "$name" ] && [ -e "$work/$name" ] && { echo "--- $name should not exist"; fail=1; }
  done < "$case/absent"
fi
if [ -f "$case/check.sh" ]; then
  (cd "$work" && BINDIR=$bindir CASE_DIR=$case bash "$case/check.sh") || { echo "--- check.sh failed"; fail=1; }
fi
exit $fail
