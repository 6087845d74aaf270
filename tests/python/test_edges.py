"""Inputs and arguments at their edges: a last record cut short read alike by
the package, taviron and taviron-search; limits, paths, text and identifiers
that used to be taken or refused wrongly."""

import os
import warnings

import pytest

import taviron
from conftest import COMPOUNDS, EXAMPLES, NCI, run


def records(path, first, last):
    """The text of records first..last (identifiers C0000n) of a QTR file."""
    out, keep = [], False
    with open(path) as f:
        for line in f:
            if line.startswith("ENTRY"):
                n = int(line[13:18])
                keep = first <= n <= last
            if keep:
                out.append(line)
    return "".join(out)


# L-serine (C00003) ends the file, cut inside it without a final line feed:
# after its last bond line (no "///"), and after its last atom line (no BOND
# section). The reader keeps every line it read, so each cut scores against
# L-alanine (C00001) as the same text with a line feed: 5 (as the whole
# record; losing the last bond line would give 4) and 3 (all seven atoms, no
# bonds).
CUTS = {
    "after-bond-line": (lambda text: text[: text.rindex("\n///")], 5),
    "after-atom-line": (lambda text: text[: text.rindex("\nBOND")], 3),
}


def scores(path):
    """The score of C00001 against C00003 by taviron, taviron-search and compare()."""
    line = run("TAVIRON_BIN", str(path), "-e", "C00001", "-f", "C00003").split("\t")
    rows = run("TAVIRON_SEARCH_BIN", "-q", "-e", "C00001", str(path), str(path)).splitlines()
    row = next(r.split("\t") for r in rows if r.split("\t")[1] == "C00003")
    cs = {c.id: c for c in taviron.read_qtr(str(path))}
    return int(line[4]), int(row[4]), taviron.compare(cs["C00001"], cs["C00003"]).score


@pytest.mark.parametrize("cut", sorted(CUTS))
def test_cut_last_record_scores_alike(tmp_path, cut):
    make, expected = CUTS[cut]
    text = make(records(COMPOUNDS, 1, 3))
    cut_file, with_lf = tmp_path / "cut.qtr", tmp_path / "lf.qtr"
    cut_file.write_text(text)
    with_lf.write_text(text + "\n")
    assert scores(cut_file) == scores(with_lf) == (expected,) * 3


def sd_text(last_ends=True):
    """Two SD records (ethanol, propane); the last one without its "$$$$"
    line unless last_ends; and the line the last record starts on."""
    from rdkit import Chem

    blocks = [Chem.MolToMolBlock(Chem.MolFromSmiles(s)) for s in ("CCO", "CCC")]
    return blocks[0] + "$$$$\n" + blocks[1] + ("$$$$\n" if last_ends else ""), \
        blocks[0].count("\n") + 2


def cut_inputs(tmp_path):
    """name: (call, the one warning expected, None for none). A cut last
    record warns once, naming it; a whole one, or a MOL file without "$$$$"
    after its record, does not."""
    cut, qtr = records(COMPOUNDS, 1, 3)[: -len("///\n")], tmp_path / "cut.qtr"
    qtr.write_text(cut)
    says = ": the last record, C00003, ends without its /// line"
    cases = {
        "read_qtr": (lambda: taviron.read_qtr(qtr), f"{qtr}{says}"),
        "read-qtr": (lambda: taviron.read(qtr), f"{qtr}{says}"),
        "parse_qtr": (lambda: taviron.parse_qtr(cut), f"<string>{says}"),
        "parse_qtr-whole": (lambda: taviron.parse_qtr(cut + "///\n"), None),
    }
    if taviron.HAVE_RDKIT:
        text, line = sd_text(last_ends=False)
        (tmp_path / "cut.sdf").write_text(text)
        (tmp_path / "one.mol").write_text(text.split("$$$$\n")[1])
        (tmp_path / "whole.sdf").write_text(sd_text()[0])
        cases.update({
            "read-sdf": (lambda: taviron.read(tmp_path / "cut.sdf"),
                         f"{tmp_path / 'cut.sdf'}:{line}: the last record, molecule 2 (C00002), "
                         "ends without its $$$$ line"),
            "read-sdf-whole": (lambda: taviron.read(tmp_path / "whole.sdf"), None),
            "read-mol": (lambda: taviron.read(tmp_path / "one.mol"), None),
        })
    return cases


@pytest.mark.parametrize("case", ["read_qtr", "read-qtr", "parse_qtr", "parse_qtr-whole",
                                  "read-sdf", "read-sdf-whole", "read-mol"])
def test_cut_last_record_warns_once(tmp_path, case):
    cases = cut_inputs(tmp_path)
    if case not in cases:
        pytest.skip("built without RDKit")
    call, expected = cases[case]
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        assert call()
    assert [str(w.message) for w in seen] == ([expected] if expected else [])
    assert all(w.category is UserWarning for w in seen)


def test_limit_one_is_a_limit():
    # Alanine against serine docks far more than one node: with --limit 1 the
    # docking graph is over the limit and nothing is aligned.
    line = run("TAVIRON_BIN", COMPOUNDS, "-e", "C00001", "-f", "C00003", "--limit", "1")
    cs = {c.id: c for c in taviron.read_qtr(COMPOUNDS)}
    r = taviron.compare(cs["C00001"], cs["C00003"], limit=1)
    assert r.score == int(line.split("\t")[4]) == 0
    assert taviron.compare(cs["C00001"], cs["C00003"]).score > 0


def test_paths_as_bytes_and_clamped_limits():
    cs = taviron.read_qtr(COMPOUNDS.encode())
    assert [c.id for c in cs] == [c.id for c in taviron.read_qtr(COMPOUNDS)]
    # As in taviron, a limit outside 1..10000 means the full capacity; one
    # past the range of whole numbers is refused saying so.
    assert taviron.compare(cs[0], cs[2], limit=10**9).score == taviron.compare(cs[0], cs[2]).score
    with pytest.raises(ValueError, match="from -2147483648 to 2147483647"):
        taviron.compare(cs[0], cs[2], limit=10**12)


@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda: taviron.from_smiles("CC\0O"), ValueError, "NUL"),
        (lambda: taviron.from_smiles("CCO", id="C" + "1" * 10**6), ValueError, "at most 8179"),
        (lambda: taviron.parse_qtr("ENTRY       C00001\ud800\n"), UnicodeEncodeError, "surrogates"),
        (lambda: taviron.read_qtr(b"/no/such/file.qtr"), FileNotFoundError, "file.qtr"),
    ],
)
def test_bad_arguments_are_refused_clearly(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_docking_overflow_is_the_status_not_a_line(capfd):
    # A chain of 102 carbons docks with itself 100 x 100 CH2 pairs and 2 x 2
    # CH3 pairs: 10,004 nodes, over the capacity of 10,000.
    chain = taviron.from_smiles("C" * 102)
    r = taviron.compare(chain, chain)
    assert r.status.startswith("too-large") and r.score == 0
    assert capfd.readouterr().err == ""


def test_proven_tells_a_budget_cut():
    # NCI 1 against itself: 5 steps are too few to find its 9-atom clique,
    # the default budget finds it, and without a budget it is proven.
    nci1 = taviron.read_qtr(NCI)[0]
    cut = taviron.compare(nci1, nci1, repeat=5)
    assert (cut.score, cut.proven) == (0, False)
    assert cut.as_dict()["proven"] is False
    for repeat in (-1, 0):
        r = taviron.compare(nci1, nci1, repeat=repeat)
        assert (r.score, r.proven) == (9, True)
    rows = taviron.screen([nci1], [nci1], repeat=5)
    assert [row.proven for row in rows] == [False]


def test_time_limit_stops_a_search_unproven():
    # Two drug molecules whose proof without a budget takes minutes: a time
    # limit ends it with the best size found, not proven.
    drugs = os.path.join(EXAMPLES, "..", "bench", "drugs", "drugs.qtr")
    cs = {c.id: c for c in taviron.read_qtr(drugs)}
    a, b = cs["D01138"], cs["D01163"]
    r = taviron.compare(a, b, repeat=0, time_limit=0.2)
    assert not r.proven and r.score > 0
    [row] = taviron.screen([a], [b], repeat=0, time_limit=0.2)
    assert not row.proven
    with pytest.raises(ValueError, match="time_limit"):
        taviron.compare(a, b, time_limit=-1)
