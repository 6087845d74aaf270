#!/usr/bin/env bash
# Runs every end-to-end case of taviron under valgrind's memcheck. A case fails
# when its output differs as usual, or when memcheck reports an invalid read or
# write, a use of an uninitialised value or a bad free (exit status 99 and the
# report kept in the log folder). Memory still held at exit is not reported:
# the program keeps its records until it ends.
#
# usage: tests/valgrind.sh [BUILD]
#   BUILD  a build folder holding taviron; default build-valgrind, configured
#          and built here with optimisation and debug information
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-valgrind}"
command -v valgrind >/dev/null || { echo "valgrind is needed (apt-get install valgrind)" >&2; exit 1; }

if [ $# -eq 0 ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIRON_TESTS=OFF \
    -DTAVIRON_BENCH=OFF >/dev/null || exit 1
  cmake --build "$build" --target taviron -j 2 >/dev/null || exit 1
fi
[ -x "$build/taviron" ] || { echo "no taviron in $build" >&2; exit 1; }

logs="$build/valgrind-logs"
rm -rf "$logs"
mkdir -p "$logs"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# run_case.sh starts BINDIR/taviron; this one starts the real program under memcheck.
mkdir -p "$work/bin"
cat >"$work/bin/taviron" <<WRAP
#!/bin/sh
exec valgrind --tool=memcheck -q --error-exitcode=99 --leak-check=no --track-origins=yes \\
  --log-file="\$VALGRIND_LOG" "$build/taviron" "\$@"
WRAP
chmod +x "$work/bin/taviron"

start=$(date +%s)
passed=0
failed=()
for case in "$root"/tests/e2e/cases/*/; do
  case=${case%/}
  name=$(basename "$case")
  if [ -f "$case/prog" ] && [ "$(head -n 1 "$case/prog")" != taviron ]; then continue; fi
  export VALGRIND_LOG="$logs/$name.log"
  if out=$(bash "$root/tests/e2e/run_case.sh" "$work/bin" "$case" "$root/examples" 2>&1) &&
     [ ! -s "$VALGRIND_LOG" ]; then
    passed=$((passed + 1))
    rm -f "$VALGRIND_LOG"
  else
    failed+=("$name")
    echo "--- $name"
    printf '%s\n' "$out" | head -n 20
    [ -s "$VALGRIND_LOG" ] && head -n 40 "$VALGRIND_LOG"
  fi
done
echo "valgrind: $passed cases clean, ${#failed[@]} failed, $(( $(date +%s) - start ))s"
[ ${#failed[@]} -eq 0 ] || { echo "failed: ${failed[*]} (reports in $logs)"; exit 1; }
