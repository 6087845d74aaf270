#!/usr/bin/env bash
# Short fuzzing run of every target: each one works for SECONDS (default 60)
# on a copy of its seed corpus, so the committed corpus is never changed. Any
# crash, sanitizer report, leak, timeout or memory blow-up fails the run; the
# input that caused it is kept in BUILD/artifacts/.
#
# usage: fuzz/smoke.sh [SECONDS [BUILD]]   (BUILD defaults to build-fuzz)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="${2:-$root/build-fuzz}"
targets=(compare_fuzzer options_fuzzer)

bash "$root/fuzz/build.sh" "$build" >/dev/null
# Built only where RDKit is installed; build.sh said so otherwise.
[ -x "$build/molecule_fuzzer" ] && targets+=(molecule_fuzzer)

export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"

failed=0
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  cp "$root/fuzz/corpus/$t/." "$work/$t/" -R
  log="$work/$t.log"
  if nice -n 10 "$build/$t" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=3072 \
      -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
      "$work/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | grep -oE 'cov: [0-9]+ ft: [0-9]+' | tail -n 1 || true)
    echo "fuzz $t: ok, ${runs:-?} runs in ${seconds}s, ${cov:-no coverage line}"
  else
    failed=1
    echo "fuzz $t: FAILED (input kept in $build/artifacts/)"
    grep -vE '^(#[0-9]+|"|INFO:|MS:|###)' "$log" | tail -n 60
  fi
done
exit "$failed"
