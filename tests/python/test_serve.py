"""taviron-serve over real HTTP: its answers against taviron-search and
taviron on the same files, its errors and limits, and how it behaves with
many clients, clients that go away, and SIGTERM."""

import json
import os
import re
import socket
import subprocess
import threading
import time

import pytest

import taviron
from conftest import COMPOUNDS, NCI, run
from serving import Server

SMALL_SMI = os.path.join(os.path.dirname(__file__), "..", "data", "convert", "small.smi")
HOSTILE = 'x<b>&"y'  # a library name the page must escape
NAMES = ['<img src=x onerror="document.title=1">', '"quoted" back\\slash \u00fc & <i>it</i>']
# A search slow enough to be caught running: every pair docked by element
# and searched without a budget, each pair cut after 200 ms (the whole
# search takes about 2.6 s on two threads).
SLOW = {"query": {"id": "C00078"}, "library": "nci", "atom": True, "exact": True,
        "time_limit": 0.2}


def hostile_library(path):
    """The example compounds, two of them renamed with markup and control characters."""
    records = open(COMPOUNDS).read().split("///\n")[:-1]
    for k, name in enumerate(NAMES):
        records[k] = re.sub(r"(?m)^NAME .*$", lambda _: "NAME        " + name, records[k], count=1)
    path.write_text("".join(r + "///\n" for r in records))
    return path


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("serve")
    libs = [f"nci={NCI}", COMPOUNDS, f"{HOSTILE}={hostile_library(tmp / 'hostile.qtr')}"]
    if taviron.HAVE_RDKIT:
        libs.append(f"small={SMALL_SMI}")
    s = Server(tmp, *libs)
    yield s
    assert s.stop() == 0


@pytest.fixture(scope="module")
def limited(tmp_path_factory):
    s = Server(tmp_path_factory.mktemp("limited"), COMPOUNDS, f"nci={NCI}", "--workers", "1",
               "--queue", "0", "--max-rows", "5", "--max-body", "4000", "--max-query-atoms", "20",
               "--request-time-limit", "1.5", "--cors", "http://allowed.example")
    yield s
    assert s.stop() == 0


def search_binary():
    return os.environ.get("TAVIRON_SEARCH_BIN") or pytest.skip("TAVIRON_SEARCH_BIN not set")


def summary_counts(stderr):
    m = re.search(r"(\d+) pairs, (\d+) skipped by the atom-count bound, (\d+) by the clique "
                  r"bound, (\d+) rows", stderr)
    return dict(zip(("pairs", "skipped_atom_count", "skipped_clique", "rows"), map(int, m.groups())))


def test_startup_and_libraries(server):
    out = server.output()
    assert "nci: 1020 compounds from" in out and re.search(r"loaded \d libraries", out)
    libraries = {lib["name"]: lib["compounds"] for lib in server.get("/api/libraries").json()}
    assert libraries["nci"] == 1020 and libraries["compounds"] == 19 and HOSTILE in libraries


# (request, taviron-search options, its QUERIES and TARGETS)
SEARCHES = [
    ({"query": {"id": "C00078"}, "library": "nci", "min": 0.3, "top": 20},
     ["--min", "0.3", "--top", "20", "-e", "C00078"], [NCI, NCI]),
    ({"query": "9", "library": "compounds", "top": 5, "atom": True},
     ["--top", "5", "--atom", "-e", "9"], [COMPOUNDS, COMPOUNDS]),
    ({"query": {"id": "NCI 12"}, "library": "nci", "min": 0.5, "exact": True},
     ["--min", "0.5", "--top", "1000", "--repeat", "0", "-e", "C00012"], [NCI, NCI]),
    ({"query": {"id": "C00010", "library": "compounds"}, "library": "nci", "min": 0.45,
      "time_limit": 5},
     ["--min", "0.45", "--top", "1000", "--time-limit", "5", "-e", "C00010"], [COMPOUNDS, NCI]),
]


@pytest.mark.parametrize("request_,flags,inputs", SEARCHES)
def test_search_is_taviron_search(server, request_, flags, inputs):
    answer = server.post("/api/search", request_).json()
    done = subprocess.run([search_binary(), "--names", *flags, *inputs], capture_output=True,
                          check=True, text=True)
    lines = done.stdout.splitlines()[1:]
    assert [[h["id"], str(h["atoms"]), str(h["score"]), f"{h['coefficient']:f}", h["status"],
             "yes" if h["proven"] else "no", h["name"]] for h in answer["hits"]] == \
        [line.split("\t")[1:2] + line.split("\t")[3:8] + line.split("\t")[9:] for line in lines]
    assert [h["rank"] for h in answer["hits"]] == list(range(1, len(lines) + 1))
    counts = summary_counts(done.stderr)
    assert {k: answer["counts"][k] for k in counts} == counts
    # Downloads: the same bytes as taviron-search writes.
    tsv = server.post("/api/search", {**request_, "format": "tsv"})
    assert tsv.headers["content-type"].startswith("text/tab-separated-values")
    assert "attachment" in tsv.headers["content-disposition"]
    assert tsv.text == done.stdout
    jsonl = run("TAVIRON_SEARCH_BIN", "-q", "--names", "--format", "jsonl", *flags, *inputs)
    assert server.post("/api/search", {**request_, "format": "jsonl"}).text == jsonl


def test_search_by_smiles_and_download_link(server, tmp_path):
    if not taviron.HAVE_RDKIT:
        pytest.skip("built without RDKit")
    query = tmp_path / "q.smi"
    query.write_text("Oc1ccccc1\n")
    expected = run("TAVIRON_SEARCH_BIN", "-q", "--names", "--top", "6", str(query), SMALL_SMI)
    got = server.get("/api/download", params={"query": "Oc1ccccc1", "library": "small",
                                               "top": 6, "format": "tsv"})
    # The query is named "query" here; taviron-search numbers the targets on
    # from the query file's C00001, the service as the library file alone.
    assert [line.split("\t")[2:] for line in got.text.splitlines()] == \
        [line.split("\t")[2:] for line in expected.splitlines()]
    assert got.text.splitlines()[1].split("\t")[:2] == ["query", "C00009"]
    answer = server.post("/api/search", {"query": {"smiles": "Oc1ccccc1"}, "library": "small",
                                         "top": 6}).json()
    assert answer["query"] == {"id": "query", "name": "", "atoms": 7}
    assert [h["name"] for h in answer["hits"]] == [line.split("\t")[9]
                                                  for line in expected.splitlines()[1:]]


def test_names_in_rows_are_taviron_searchs(server, tmp_path):
    """Markup, tabs, quotes and backslashes in names: TSV and JSON lines as
    taviron-search writes them."""
    path = hostile_library(tmp_path / "hostile.qtr")
    for fmt in ("tsv", "jsonl"):
        got = server.post("/api/search", {"query": "1", "library": HOSTILE, "format": fmt}).text
        expected = run("TAVIRON_SEARCH_BIN", "-q", "--names", "--format", fmt, "--top", "1000",
                       "-e", "1", str(path), str(path))
        assert got == expected
    names = {h["name"] for h in server.post("/api/search", {"query": "1", "library": HOSTILE}).json()["hits"]}
    assert set(NAMES) <= names


@pytest.mark.parametrize("a,b,options,flags", [
    ("9", "10", {}, []),
    ({"id": "Acetic acid"}, {"id": "C00015"}, {"atom": True}, ["--atom"]),
    ("C00013", "16", {"exact": True}, ["--repeat", "0"]),
])
def test_compare_is_taviron(server, a, b, options, flags, compounds):
    answer = server.post("/api/compare", {"a": a, "b": b, "library": "compounds", **options}).json()
    ea, eb = answer["a"]["id"], answer["b"]["id"]
    for form, flag in (("align", "--align"), ("qtr", "--qtroutput")):
        assert answer[form] == run("TAVIRON_BIN", COMPOUNDS, "-e", ea, "-f", eb, flag, *flags)
    r = taviron.compare(compounds[ea], compounds[eb], atom=bool(options.get("atom")),
                        repeat=0 if options.get("exact") else -1)
    assert (answer["score"], answer["coefficient"], answer["proven"]) == \
        (r.score, r.coefficient, r.proven)
    assert [tuple(p.values()) for p in answer["alignment"]] == [tuple(p) for p in r.alignment]
    assert answer["pieces"] == max(p.piece for p in r.alignment)


def test_compounds_and_pictures(server, compounds):
    record = server.get("/api/compounds/compounds/9").json()
    c = compounds["C00009"]
    assert (record["id"], record["name"], record["matchable_atoms"]) == ("C00009", "Phenol", 7)
    assert [tuple(a.values()) for a in record["atoms"]] == [tuple(a) for a in c.atoms]
    assert [tuple(b.values()) for b in record["bonds"]] == [tuple(b) for b in c.bonds]
    pair = server.get("/api/compounds/compounds/C00009/depict", params={"with": "L-Tyrosine"})
    assert pair.headers["content-type"] == "image/svg+xml"
    assert pair.text == taviron.compare(c, compounds["C00010"])._repr_svg_()
    assert server.get("/api/compounds/compounds/9/depict").text == c._repr_svg_()
    drawn = server.post("/api/depict", {"a": {"text": "Phenol"}, "library": "compounds"})
    assert drawn.text == c._repr_svg_()


def error_of(response):
    assert "Traceback" not in response.text
    body = response.json()
    assert body["status"] == response.status_code and body["error"]
    return response.status_code, body["error"]


# (method, path, JSON body or raw bytes, status, words of the message)
ERRORS = [
    ("POST", "/api/search", b"{bad", 400, "not valid JSON"),
    ("POST", "/api/search", {"query": "9", "library": "nope"}, 404, "no library 'nope'"),
    ("POST", "/api/search", {"query": {"id": "C99999"}, "library": "compounds"}, 404,
     "no compound 'C99999'"),
    ("POST", "/api/search", {"query": "C(", "library": "compounds"}, 422, "cannot parse SMILES"),
    ("POST", "/api/search", {"query": {"qtr": "ENTRY       X\n"}}, 422, "QTR record"),
    ("POST", "/api/search", {"query": {"mol": "junk"}}, 422, "MOL block"),
    ("POST", "/api/search", {"query": {"smiles": " "}}, 422, "empty"),
    ("POST", "/api/search", {"query": "9", "min": 1.5}, 422, "min: ensure this value is less"),
    ("POST", "/api/search", {"query": "9", "top": 0}, 422, "top: ensure"),
    ("POST", "/api/search", {"query": "9", "time_limit": -1}, 422, "time_limit"),
    ("POST", "/api/search", {"query": "9", "top": 1001}, 422, "at most 1000 rows"),
    ("POST", "/api/search", {"query": "9", "file": "/etc/passwd"}, 422, "file: extra fields"),
    ("POST", "/api/search", {"query": {"text": "9", "smiles": "C"}}, 422, "exactly one"),
    ("POST", "/api/search", {"query": 5}, 422, "query"),
    ("POST", "/api/search", {}, 422, "query: field required"),
    ("POST", "/api/search", [1], 422, "value is not a valid dict"),
    ("POST", "/api/compare", {"a": "9"}, 422, "b: field required"),
    ("POST", "/api/depict", {"a": "C(", "library": "compounds"}, 422, "cannot parse SMILES"),
    ("GET", "/api/compounds/compounds/C99999", None, 404, "no compound"),
    ("GET", "/api/compounds/nope/1", None, 404, "no library"),
    ("GET", "/api/compounds/compounds/1/depict?with=nothing", None, 404, "no compound 'nothing'"),
    ("GET", "/api/download?query=9&format=xml", None, 422, "format"),
    ("GET", "/api/download?library=compounds", None, 422, "query: field required"),
    ("GET", "/api/nothing", None, 404, "Not Found"),
    ("PUT", "/api/search", None, 405, "Method Not Allowed"),
]


@pytest.mark.parametrize("method,path,body,status,words", ERRORS)
def test_errors_are_json(server, method, path, body, status, words):
    if body is not None and not taviron.HAVE_RDKIT and "SMILES" in words:
        pytest.skip("built without RDKit")
    kw = {"content": body} if isinstance(body, bytes) else {"json": body}
    got = error_of(server.client.request(method, path, **({} if body is None else kw)))
    assert got[0] == status and words in got[1], got


def test_limits(limited):
    big = {"query": "C" * 4000}
    assert error_of(limited.post("/api/search", big))[0] == 413
    chunked = limited.client.post("/api/search", content=iter([b'{"query": "', b"C" * 5000, b'"}']),
                                  headers={"Content-Type": "application/json"})
    assert error_of(chunked) == (413, "the request body is larger than the service's limit of 4000 bytes")
    if taviron.HAVE_RDKIT:
        assert error_of(limited.post("/api/search", {"query": {"smiles": "C" * 30}})) == \
            (413, "the query has 30 atoms, more than the service's limit of 20")
    assert error_of(limited.post("/api/search", {"query": "9", "top": 6}))[0] == 422
    capped = limited.post("/api/search", {"query": "9"}).json()
    assert len(capped["hits"]) == 5 and capped["limited"] and capped["counts"]["matched"] == 19
    start = time.monotonic()
    status, message = error_of(limited.post("/api/search", SLOW))
    assert status == 503 and "limit of 1.5 s" in message and time.monotonic() - start < 10


def test_busy_pool_turns_requests_away(limited):
    slow = threading.Thread(target=limited.post, args=("/api/search", SLOW))
    slow.start()
    wait_for(limited, lambda s: s["running"] == 1)
    assert error_of(limited.post("/api/search", {"query": "9"}))[0] == 503
    slow.join()
    assert limited.post("/api/search", {"query": "9"}).status_code == 200


@pytest.mark.parametrize("origin,allowed", [("http://evil.example", False),
                                            ("http://allowed.example", True)])
def test_cross_origin(server, limited, origin, allowed):
    for s, may in ((server, False), (limited, allowed)):
        got = s.get("/api/libraries", headers={"Origin": origin})
        assert got.headers.get("access-control-allow-origin") == (origin if may else None)
        pre = s.client.options("/api/search", headers={
            "Origin": origin, "Access-Control-Request-Method": "POST"})
        assert (pre.status_code == 200) == may
        assert pre.headers.get("access-control-allow-origin") == (origin if may else None)


def test_page_escapes_library_names(server):
    page = server.get("/")
    assert page.headers["content-security-policy"].startswith("default-src 'self'")
    assert "<b>" not in page.text and 'x&lt;b&gt;&amp;&quot;y' in page.text
    assert not re.search(r"<(script|link)[^>]+src=", page.text)  # nothing from elsewhere
    assert "/api/search" in server.get("/openapi.json").text
    assert server.get("/docs").status_code == 200


def wait_for(server, condition, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition(server.get("/api/status").json()):
        assert time.monotonic() < deadline, server.get("/api/status").json()
        time.sleep(0.05)


def slow_request(server):
    """A slow search sent on a raw socket, which the caller may close."""
    body = json.dumps(SLOW).encode()
    sock = socket.create_connection(("127.0.0.1", server.port))
    sock.sendall(b"POST /api/search HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                 b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
    return sock


def test_clients_at_once_and_cancel_on_disconnect(server):
    """A slow search holds one worker; eight clients at once still get their
    answers, equal to those of one client alone; the slow search stops when
    its client goes away."""
    queries = ["C00009", "C00010", "C00011", "C00020", "C00021", "C00030", "C00031", "C00040"]
    alone = {q: server.post("/api/search", {"query": q, "library": "nci", "min": 0.4}).json()
             for q in queries}
    slow = slow_request(server)
    wait_for(server, lambda s: s["running"] == 1)
    answers, start = {}, time.monotonic()

    def client(q):
        answers[q] = server.post("/api/search", {"query": q, "library": "nci", "min": 0.4}).json()
    threads = [threading.Thread(target=client, args=(q,)) for q in queries]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.monotonic() - start
    assert server.get("/api/status").json()["running"] >= 1, "the slow search ended by itself"
    for q in queries:
        assert answers[q]["hits"] == alone[q]["hits"] and answers[q]["counts"] == alone[q]["counts"]
    assert elapsed < 20
    slow.close()
    start = time.monotonic()
    wait_for(server, lambda s: s["running"] == 0 and s["waiting"] == 0, seconds=10)
    assert time.monotonic() - start < 5


def test_sigterm_lets_running_requests_finish(tmp_path):
    s = Server(tmp_path, f"nci={NCI}", "--request-time-limit", "600")
    answer = {}

    def client():
        answer["r"] = s.client.post("/api/search", json={"query": "C00078", "library": "nci",
                                                          "exact": True})
    t = threading.Thread(target=client)
    t.start()
    wait_for(s, lambda st: st["running"] == 1)
    s.process.send_signal(15)
    t.join()
    assert answer["r"].status_code == 200, answer["r"].text
    assert len(answer["r"].json()["hits"]) == 1000
    assert s.process.wait(60) == 0 and "taviron-serve: stopped" in s.output()
    s.client.close()


@pytest.mark.parametrize("args,message", [
    (["nothere.qtr"], "cannot read nothere.qtr: No such file or directory"),
    ([COMPOUNDS, f"compounds={NCI}"], "two libraries named 'compounds'"),
    ([], "expected at least one LIBRARY"),
    ([COMPOUNDS, "--workers", "0"], "--workers"),
    ([f"a/b={COMPOUNDS}"], "bad library name"),
])
def test_command_line_errors(args, message):
    program = os.environ.get("TAVIRON_SERVE_BIN") or pytest.skip("TAVIRON_SERVE_BIN not set")
    done = subprocess.run([program, *args, "--port", "1"], capture_output=True, text=True, timeout=120)
    assert done.returncode == 9 and message in done.stderr and "Traceback" not in done.stderr
