"""compare() and Result against taviron on the same pairs."""

import os
import re

import pytest

import taviron
from conftest import COMPOUNDS, NCI, run

# (file, entry, entry, extra options of both)
PAIRS = [
    (COMPOUNDS, "C00001", "C00003", {}),
    (COMPOUNDS, "C00009", "C00010", {}),
    (COMPOUNDS, "C00012", "C00015", {}),
    (COMPOUNDS, "C00010", "C00011", {}),
    (COMPOUNDS, "C00004", "C00004", {}),
    (NCI, "C00776", "C00777", {"limit": 1000}),
    (NCI, "C00003", "C00020", {"repeat": 50}),
]
MODES = [{}, {"atom": True}, {"trick": True}]
FORMS = {"score": [], "align": ["--align"], "qtr": ["--qtroutput"]}
ALIGN_LINE = re.compile(r"^(\d+):\[[^\t]*\]\t(\d+):\[[^\t]*\]\t#[#!] SCCS (\d+)")


def cli_options(options):
    out = []
    if options.get("atom"):
        out.append("--atom")
    if options.get("trick"):
        out += ["--trick", "1"]
    for key in ("repeat", "limit"):
        if key in options:
            out += [f"--{key}", str(options[key])]
    return out


def by_id(path):
    return {c.id: c for c in taviron.read_qtr(path)}


@pytest.mark.parametrize("mode", MODES, ids=["default", "atom", "trick"])
@pytest.mark.parametrize("path,e,f,extra", PAIRS, ids=[f"{p[1]}-{p[2]}" for p in PAIRS])
def test_same_as_taviron(path, e, f, extra, mode):
    records = by_id(path)
    options = {**extra, **mode}
    result = taviron.compare(records[e], records[f], **options)
    base = [path, "-e", e, "-f", f, *cli_options(options)]
    texts = {form: run("TAVIRON_BIN", *base, *flags) for form, flags in FORMS.items()}
    for form, text in texts.items():
        assert result.report(form) == text, form

    # The numbers are the score line's.
    fields = texts["score"].rstrip("\n").split("\t")
    assert [fields[1], fields[3], fields[4]] == [
        str(result.atoms_a), str(result.atoms_b), str(result.score)]
    coefficient, *suffix = fields[5].split(" ")
    assert f"{result.coefficient:f}" == coefficient
    if suffix:
        assert result.status == "too-large:" + suffix[0][4:-1]
    # The alignment is the one --align lists.
    listed = [tuple(map(int, m.groups())) for m in
              map(ALIGN_LINE.match, texts["align"].splitlines()) if m]
    assert [tuple(p) for p in result.alignment] == listed
    assert len(listed) == result.score
    d = result.as_dict()
    assert (d["a"], d["b"], d["score"], d["status"]) == (e, f, result.score, result.status)
    assert d["alignment"] == [list(p) for p in listed] or d["alignment"] == listed


# Pairs the engine cannot compute, each with the status taviron-search gives.
ODD = """ENTRY       X00001                      Compound
ATOM        2
            1   H          H      0.0000     0.0000
            2   H          H      1.0000     0.0000
BOND        1
            1     1   2 1
///
ENTRY       X00002                      Compound
NAME        No atom lines
///
ENTRY       X00003                      Compound
ATOM        3
            1   O.sp3.1    O      0.0000     0.0000
            2   H          H      1.0000     0.0000
            3   H          H      0.0000     1.0000
BOND        2
            1     1   2 1
            2     1   3 1
///
ENTRY       X00004                      Compound
ATOM        1
            1   C.sp3.0    C      0.0000     0.0000
///
"""


@pytest.mark.parametrize("e,f,status", [
    ("X00001", "X00003", "no-atoms"),
    ("X00002", "X00003", "no-atoms"),
    ("X00003", "X00002", "no-atoms"),
    ("X00003", "X00004", "no-match"),
])
def test_statuses(tmp_path, e, f, status):
    path = tmp_path / "odd.qtr"
    path.write_text(ODD)
    records = by_id(path)
    result = taviron.compare(records[e], records[f])
    assert (result.status, result.score, result.coefficient, result.alignment) == (
        status, 0, 0.0, [])
    for form, flags in FORMS.items():
        assert result.report(form) == run("TAVIRON_BIN", str(path), "-e", e, "-f", f, *flags)


def test_compound_fields(compounds):
    c = compounds["C00001"]
    assert (c.id, c.name) == ("C00001", "L-Alanine")
    assert c.atoms[2] == taviron.Atom(3, "N.sp3.1", "N", 1.5, -1.299)
    assert c.bonds[3] == taviron.Bond(4, 5, 2)
    assert len(c.atoms) == 6 and len(c.bonds) == 5
