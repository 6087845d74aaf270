"""screen() against taviron-search on the same data."""

import os
import re
import subprocess

import pytest

import taviron
from conftest import COMPOUNDS, NCI, run


def search_rows(*args):
    text = run("TAVIRON_SEARCH_BIN", "-q", *args)
    lines = text.splitlines()
    assert lines[0].split("\t") == list(taviron.Row._fields[:8])  # names: with --names
    return [line.split("\t") for line in lines[1:]]


def as_text(rows):
    return [[r.query, r.target, str(r.query_atoms), str(r.target_atoms), str(r.score),
             f"{r.coefficient:f}", r.status, "yes" if r.proven else "no"] for r in rows]


CASES = [  # (screen keywords, taviron-search options)
    ({}, []),
    ({"min": 0.6, "top": 1}, ["--min", "0.6", "--top", "1"]),
    ({"min": 0.4, "jobs": 1}, ["--min", "0.4", "-j", "1"]),
    ({"top": 2, "atom": True, "jobs": 2}, ["--top", "2", "--atom", "-j", "2"]),
    ({"min": 0.5, "trick": True}, ["--min", "0.5", "--trick", "1"]),
]


@pytest.mark.parametrize("kw,flags", CASES)
def test_pairs_within(kw, flags):
    records = taviron.read_qtr(COMPOUNDS)
    assert as_text(taviron.screen(records, **kw)) == search_rows(*flags, "--pairs", COMPOUNDS)


@pytest.mark.parametrize("kw,flags", CASES)
def test_queries_against_targets(kw, flags, compounds, tmp_path):
    # A slice of the NCI set keeps the test short; both sides read the same file.
    path = tmp_path / "targets.qtr"
    path.write_text("".join(r + "///\n" for r in open(NCI).read().split("///\n")[:120]))
    targets = taviron.read_qtr(path)
    queries = [compounds[q] for q in ("C00009", "C00010", "C00011")]
    rows = taviron.screen(queries, targets, **kw)
    assert as_text(rows) == search_rows(
        *flags, "-e", "9", "-e", "10", "-e", "11", COMPOUNDS, str(path))


def test_progress_and_errors(compounds):
    records = list(compounds.values())
    seen = []
    rows = taviron.screen(records, records, progress=lambda done, total: seen.append((done, total)))
    total = len(records) ** 2
    assert len(rows) == total and seen[0] == (0, total) and seen[-1] == (total, total)
    assert all(a[0] <= b[0] for a, b in zip(seen, seen[1:]))

    def boom(done, total):
        raise KeyError("stop")
    with pytest.raises(KeyError):
        taviron.screen(records, progress=boom)
    assert taviron.screen([], records) == []
    for kw in ({"min": 1.5}, {"min": float("nan")}, {"top": 0}, {"jobs": 0}, {"jobs": 1025}):
        with pytest.raises(ValueError, match="bad value for"):
            taviron.screen(records, **kw)
    with pytest.raises(TypeError, match="taviron.Compound"):
        taviron.screen(records, ["C00001"])
    with pytest.raises(TypeError):
        taviron.screen(records, progress=3)


SUMMARY = re.compile(r"(\d+) pairs, (\d+) skipped by the atom-count bound, (\d+) by the clique "
                     r"bound, (\d+) rows")


@pytest.mark.parametrize("kw,flags", [
    ({"min": 0.6}, ["--min", "0.6"]),
    ({"min": 0.4, "top": 2, "jobs": 1}, ["--min", "0.4", "--top", "2", "-j", "1"]),
    ({"min": 0.5, "trick": True}, ["--min", "0.5", "--trick", "1"]),  # no clique bound
    ({"min": 0.3, "atom": True}, ["--min", "0.3", "--atom"]),
    ({}, []),
])
def test_screen_stats_counts_as_search(kw, flags, compounds):
    """The counts are taviron-search's summary line; the rows are screen()'s."""
    program = os.environ.get("TAVIRON_SEARCH_BIN") or pytest.skip("TAVIRON_SEARCH_BIN not set")
    queries = [compounds[q] for q in ("C00009", "C00010", "C00011")]
    targets = taviron.read_qtr(NCI)
    rows, stats = taviron.screen_stats(queries, targets, **kw)
    assert rows == taviron.screen(queries, targets, **kw)
    done = subprocess.run([program, *flags, "-e", "9", "-e", "10", "-e", "11", COMPOUNDS, NCI],
                          capture_output=True, check=True)
    pairs, atom_count, clique, kept = map(int, SUMMARY.search(done.stderr.decode()).groups())
    assert (stats["pairs"], stats["skipped_atom_count"], stats["skipped_clique"],
            stats["rows"]) == (pairs, atom_count, clique, kept)
    assert stats["matched"] >= stats["rows"] and (stats["skipped_clique"] == 0 or "trick" not in kw)
    if "top" not in kw:
        assert stats["matched"] == stats["rows"]


def test_screen_stats_progress_stops(compounds):
    records = list(compounds.values())
    seen = []
    taviron.screen_stats(records, records, min=0.5, progress=lambda d, t: seen.append((d, t)))
    assert seen[0] == (0, len(records) ** 2) and seen[-1] == (len(records) ** 2,) * 2

    def boom(done, total):
        raise KeyError("stop")
    with pytest.raises(KeyError):
        taviron.screen_stats(records, records, progress=boom)
    with pytest.raises(ValueError, match="bad value for min"):
        taviron.screen_stats(records, min=2)
