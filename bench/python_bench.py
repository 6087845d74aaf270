"""Cost of the Python package over the engine, in one run.

1. compare() on a small pair against the engine alone on the same thread
   (the same comparisons in a C++ loop): the difference is the cost of one
   call from Python.
2. screen() against taviron-search on the same data: all pairs of
   examples/compounds.qtr, and all pairs of examples/nci.qtr with min 0.7.

usage: PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_bench.py [BUILD]
"""

import os
import subprocess
import sys
import time

import taviron
from taviron._taviron import _engine_seconds

build = sys.argv[1] if len(sys.argv) > 1 else "build"
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
examples = os.path.join(root, "examples")
jobs = int(os.environ.get("JOBS", "2"))


def timed(f, n):
    start = time.perf_counter()
    for _ in range(n):
        f()
    return (time.perf_counter() - start) / n


def best(f, repeat=5):
    return min(f() for _ in range(repeat))


compounds = {c.id: c for c in taviron.read_qtr(os.path.join(examples, "compounds.qtr"))}
for a_id, b_id in (("C00001", "C00003"), ("C00009", "C00010")):
    a, b = compounds[a_id], compounds[b_id]
    n = 20000
    engine = best(lambda: _engine_seconds(a, b, n)) / n

    def calls():
        start = time.perf_counter()
        for _ in range(n):
            taviron.compare(a, b)
        return time.perf_counter() - start

    python = best(calls) / n
    print(f"compare {a_id} {b_id}: {python * 1e6:.2f} us per call, engine alone "
          f"{engine * 1e6:.2f} us, overhead {(python - engine) * 1e6:.2f} us")
    print(f"  + .alignment (runs the pair again with the report): "
          f"{best(lambda: timed(lambda: taviron.compare(a, b).alignment, 2000)) * 1e6:.1f} us")


def search(*args):
    start = time.perf_counter()
    subprocess.run([os.path.join(build, "taviron-search"), "-q", "-j", str(jobs), *args],
                   check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


for name, kw, flags in (("compounds.qtr", {}, []),
                        ("nci.qtr", {"min": 0.7}, ["--min", "0.7"])):
    path = os.path.join(examples, name)
    start = time.perf_counter()
    records = taviron.read_qtr(path)
    read = time.perf_counter() - start
    start = time.perf_counter()
    rows = taviron.screen(records, jobs=jobs, **kw)
    python = time.perf_counter() - start
    cli = search(*flags, "--pairs", path)
    pairs = len(records) * (len(records) - 1) // 2
    print(f"screen all pairs of {name} {kw or ''}, jobs {jobs}: {pairs} pairs, {len(rows)} rows; "
          f"read_qtr {read:.3f} s + screen() {python:.3f} s; "
          f"taviron-search (whole process) {cli:.3f} s")
