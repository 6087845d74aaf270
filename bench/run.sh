#!/usr/bin/env bash
# Benchmarks: the Google Benchmark programs, then whole-process runs.
# usage: bench/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
for b in "$build"/bench/*_bench; do
  [ -x "$b" ] && "$b"
done
bash bench/process_bench.sh "$build"
bash bench/search_bench.sh "$build"
bash bench/scale_bench.sh "$build"
