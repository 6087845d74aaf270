"""The service's page in headless Chromium, used as a person would: type a
SMILES, see it drawn, search, sort the hits, open an alignment, download
the rows; names from a library show as text, never as markup."""

import time

import pytest

import taviron
from conftest import COMPOUNDS, NCI
from serving import Server
from test_serve import HOSTILE, NAMES, hostile_library
from webdriver import Browser

ROWS = "return [...document.querySelectorAll('#hits tbody tr:not(.picture)')].map(" \
       "r => [...r.cells].slice(0, 7).map(c => c.textContent))"


@pytest.fixture(scope="module")
def page(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("page")
    server = Server(tmp, f"nci={NCI}", f"{HOSTILE}={hostile_library(tmp / 'hostile.qtr')}")
    browser = Browser(tmp)
    try:
        browser.open(server.url + "/")
        yield server, browser
    finally:
        browser.close()
        assert server.stop() == 0


def test_search_from_the_page(page):
    if not taviron.HAVE_RDKIT:
        pytest.skip("built without RDKit")
    server, b = page
    b.type("#query", "Oc1ccc(N)cc1")
    b.wait("const i = document.getElementById('query-picture'); return i && i.naturalWidth > 0")
    b.type("#min", "0.4")
    b.click("#submit")
    rows = b.wait(ROWS)
    answer = server.post("/api/search", {"query": "Oc1ccc(N)cc1", "library": "nci", "min": 0.4,
                                         "top": 50}).json()
    assert rows == [[str(h["rank"]), h["id"], h["name"], str(h["atoms"]), str(h["score"]),
                     f"{h['coefficient']:.6f}", "yes" if h["proven"] else "no"]
                    for h in answer["hits"]]
    assert "skipped by the atom-count bound" in b.js("return document.getElementById('summary').textContent")

    # Sorting: by identifier, then back by rank.
    b.click("#hits th[data-key=id]")
    assert [r[1] for r in b.js(ROWS)] == sorted(r[1] for r in rows)
    b.click("#hits th[data-key=rank]")
    assert b.js(ROWS) == rows

    # The first hit's alignment, drawn on demand.
    b.click("#hits tbody tr button.show")
    b.wait("const i = document.querySelector('img.alignment'); return i && i.naturalWidth > 0")

    # The TSV link downloads what the API gives.
    b.click("#download-tsv")
    deadline = time.monotonic() + 60
    while not (files := [f for f in b.downloads.iterdir() if f.suffix == ".tsv"]):
        assert time.monotonic() < deadline, list(b.downloads.iterdir())
        time.sleep(0.1)
    time.sleep(0.2)
    expected = server.get("/api/download", params={"query": "Oc1ccc(N)cc1", "library": "nci",
                                                    "min": 0.4, "top": 50, "format": "tsv"})
    assert files[0].name == "nci-hits.tsv" and files[0].read_text() == expected.text


def test_library_names_are_text(page):
    server, b = page
    b.js("const s = document.getElementById('library'); s.value = arguments[0];"
         "s.dispatchEvent(new Event('change'))", HOSTILE)
    b.js("document.getElementById('query').value = ''; document.getElementById('min').value = ''")
    b.type("#query", "1")
    b.click("#submit")
    b.wait(f"return document.querySelectorAll('#hits tbody tr').length == 19 && "
           f"document.getElementById('summary').textContent.includes('{HOSTILE[:1]}')")
    names = [r[2] for r in b.js(ROWS)]
    assert set(NAMES) <= set(names)
    # Nothing of a name became an element, and its handler never ran.
    assert b.js("return document.querySelectorAll('#hits tbody img, #hits tbody i').length") == 0
    assert b.js("return document.title") == "taviron similarity search"
    assert b.js("return document.querySelector('#library option:checked').textContent") == \
        f"{HOSTILE} (19 compounds)"
