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
bash bench/memory_bench.sh "$build"
bash bench/search_bench.sh "$build"
bash bench/bound_bench.sh "$build"
bash bench/depict_bench.sh "$build"
# The Python package, when it was built: call cost and screen() (Debian's
# interpreter, the one the module is built for, unless PYTHON says otherwise).
if [ -d "$build/python/taviron" ]; then
  PYTHONPATH="$build/python" "${PYTHON:-/usr/bin/python3}" bench/python_bench.py "$build"
fi
# The search service, when taviron-serve was made: warm service against
# taviron-search, eight clients at once, start-up and memory.
if [ -x "$build/taviron-serve" ]; then
  PYTHONPATH="$build/python" "${PYTHON:-/usr/bin/python3}" bench/serve_bench.py "$build"
fi
bash bench/clique_bench.sh "$build"
bash bench/exact_bench.sh "$build"
bash bench/baseline_bench.sh "$build"
bash bench/convert_bench.sh "$build"
bash bench/scale_bench.sh "$build"
# taviron-search-mpi, when it was built (Open MPI).
if [ -x "$build/taviron-search-mpi" ]; then
  bash bench/mpi_bench.sh "$build"
fi
