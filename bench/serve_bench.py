"""The search service against taviron-search, in one run.

1. A library of 10,000 drug-like molecules as one SMILES file: the WEHI
   screening set Debian's rdkit-data ships (Data/Pains/test_data), or where
   it is missing, the molecule files of the sources of bench/drugs (each
   distinct molecule of 13 to 66 heavy atoms once, then repeated under new
   names up to 10,000).
2. Start-up of taviron-serve on it: seconds until it answers, and the
   memory the library holds (resident memory against a server of 19
   compounds).
3. One SMILES query against the library: taviron-search (which converts the
   library for every run) against the warm service, end to end, median of a
   one run of taviron-search, the median of seven of the warm service.
4. Eight concurrent clients over loopback, a bounded run of requests:
   latency p50/p99, throughput, and the server's peak resident memory.

usage: PYTHONPATH=BUILD/python /usr/bin/python3 bench/serve_bench.py [BUILD]
environment: REQUESTS (200), CLIENTS (8), MOLECULES (10000)
"""

import glob
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
serve, search = os.path.join(build, "taviron-serve"), os.path.join(build, "taviron-search")
requests_total = int(os.environ.get("REQUESTS", "200"))
clients = int(os.environ.get("CLIENTS", "8"))
molecules = int(os.environ.get("MOLECULES", "10000"))
RDKIT_DATA = "/usr/share/RDKit"
WEHI = os.path.join(RDKIT_DATA, "Data/Pains/test_data/wehi_mols.csv")
SOURCES = ["Projects/DbCLI/testData/bzr.sdf", "Contrib/Fastcluster/testdata/cdk2.sdf",
           "Contrib/PBF/testData/egfr.sdf", "Projects/DbCLI/testData/pubchem.200.sdf",
           "Contrib/FreeWilson/data/CHEMBL2321810.smi",
           "Contrib/fraggle/data/ChEMBL_11265_actives.smi", "Data/NCI/first_5K.smi"]
QUERY = "CC(=O)Nc1ccc(O)cc1"  # paracetamol
OPTIONS = [("every pair, top 20", {"top": 20}, ["--top", "20"]),
           ("min 0.5, top 20", {"min": 0.5, "top": 20}, ["--min", "0.5", "--top", "20"])]

try:
    import httpx
    from rdkit import Chem, RDLogger
except ImportError as e:
    print(f"serve_bench: skipped ({e.name} missing: apt-get install python3-httpx python3-rdkit)")
    sys.exit(0)
if not (os.access(serve, os.X_OK) and os.access(search, os.X_OK)):
    print(f"serve_bench: skipped ({serve} or {search} not built)")
    sys.exit(0)
RDLogger.DisableLog("rdApp.*")


def source_molecules():
    for rel in SOURCES:
        path = os.path.join(RDKIT_DATA, rel)
        if not os.path.exists(path):
            continue
        if path.endswith(".sdf"):
            yield from (m for m in Chem.SDMolSupplier(path) if m is not None)
        else:
            for line in open(path):
                fields = line.split()
                if fields and not fields[0].lower().startswith("smiles"):
                    m = Chem.MolFromSmiles(fields[0])
                    if m is not None:
                        yield m


def make_library(path):
    """(molecules written, distinct ones, where they came from)."""
    if os.path.exists(WEHI) and molecules <= 10000:
        with open(WEHI) as f, open(path, "w") as out:
            for n, line in zip(range(molecules), f):
                smiles, name = line.strip().replace('"', "").split(",")[:2]
                out.write(f"{smiles}\t{name}\n")
        return molecules, molecules, "the WEHI set"
    distinct = []
    seen = set()
    for m in source_molecules():
        smiles = Chem.MolToSmiles(m)
        if 13 <= m.GetNumHeavyAtoms() <= 66 and smiles not in seen:
            seen.add(smiles)
            distinct.append(smiles)
    if not distinct:
        return 0, 0, ""
    with open(path, "w") as f:
        for n in range(molecules):
            f.write(f"{distinct[n % len(distinct)]}\tdrug{n + 1}\n")
    return molecules, len(distinct), "RDKit's data files"


def rss_kb(pid, field="VmRSS"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def start(*libraries, port):
    t0 = time.perf_counter()
    # A long request limit: the latencies are measured, not cut.
    p = subprocess.Popen([serve, "-q", *libraries, "--port", str(port),
                          "--request-time-limit", "600"])
    client = httpx.Client(base_url=f"http://127.0.0.1:{port}", timeout=300)
    while True:
        try:
            client.get("/api/status")
            return p, client, time.perf_counter() - t0
        except httpx.TransportError:
            if p.poll() is not None:
                raise SystemExit("serve_bench: taviron-serve did not start")
            time.sleep(0.05)


def stop(p, client):
    client.close()
    p.send_signal(signal.SIGTERM)
    p.wait(60)


def median_seconds(f, n):
    times = []
    for _ in range(n):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def load_run(client, queries, body):
    """REQUESTS searches from CLIENTS threads at once: latencies and wall time."""
    latencies, failed, lock = [], [], threading.Lock()
    next_one = iter(range(requests_total))

    def worker():
        while True:
            with lock:
                k = next(next_one, None)
            if k is None:
                return
            t0 = time.perf_counter()
            r = client.post("/api/search", json={**body, "query": queries[k % len(queries)]})
            with lock:
                latencies.append(time.perf_counter() - t0)
                if r.status_code != 200:
                    failed.append(r.status_code)

    threads = [threading.Thread(target=worker) for _ in range(clients)]
    t0 = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return sorted(latencies), failed, time.perf_counter() - t0


def main():
    work = tempfile.mkdtemp()
    library = os.path.join(work, "drugs.smi")
    written, distinct, source = make_library(library)
    if not written:
        print(f"serve_bench: skipped (no molecule files under {RDKIT_DATA}: apt-get install "
              f"rdkit-data)")
        return
    query_file = os.path.join(work, "query.smi")
    with open(query_file, "w") as f:
        f.write(QUERY + "\n")
    print(f"== taviron-serve: {written} drug-like molecules of {source} ({distinct} distinct) "
          f"as one SMILES file")

    small, small_client, _ = start(os.path.join(root, "examples", "compounds.qtr"), port=8791)
    base_rss = rss_kb(small.pid)
    stop(small, small_client)
    p, client, startup = start(f"drugs={library}", port=8792)
    loaded_rss = rss_kb(p.pid)
    print(f"start-up until it answers      {startup:8.2f} s")
    print(f"memory of the library          {(loaded_rss - base_rss) / 1024:8.1f} MB per "
          f"{molecules} molecules (resident {loaded_rss / 1024:.1f} MB, empty-ish server "
          f"{base_rss / 1024:.1f} MB)")
    try:
        for label, body, flags in OPTIONS:
            body = {**body, "library": "drugs"}
            cold = median_seconds(lambda: subprocess.run(
                [search, "-q", *flags, query_file, library], check=True,
                stdout=subprocess.DEVNULL), 1)
            client.post("/api/search", json={**body, "query": QUERY})  # warm
            warm = median_seconds(lambda: client.post("/api/search", json={**body, "query": QUERY}), 7)
            print(f"one query, {label:20s} taviron-search {cold:7.3f} s   service {warm:7.3f} s   "
                  f"{cold / warm:6.1f}x")
        # The same query over and over, and the library's own molecules in turn.
        molecules_ = [line.split("\t")[0] for line in open(library)][:requests_total]
        for label, queries, body in ((f"{QUERY}, every pair, top 20", [QUERY], {"top": 20}),
                                     ("library molecules, min 0.5, top 20", molecules_,
                                      {"min": 0.5, "top": 20})):
            lat, failed, wall = load_run(client, queries, {**body, "library": "drugs"})
            p50, p99 = lat[len(lat) // 2], lat[min(len(lat) - 1, int(len(lat) * 0.99))]
            print(f"{clients} clients, {len(lat)} requests of {label}:\n    p50 {p50 * 1000:7.0f} ms   "
                  f"p99 {p99 * 1000:7.0f} ms   {len(lat) / wall:6.1f} requests/s"
                  + (f"   ({len(failed)} not answered 200: {sorted(set(failed))})" if failed else ""))
        print(f"peak server memory             {rss_kb(p.pid, 'VmHWM') / 1024:8.1f} MB")
    finally:
        stop(p, client)
        for f in glob.glob(os.path.join(work, "*")):
            os.remove(f)
        os.rmdir(work)


main()
