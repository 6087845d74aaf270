"""The common substructure in the user's own atom indices: molecules written
with their hydrogens as atoms (interleaved with the heavy atoms, as RDKit
writes them) must map back atom for atom."""

import json
import os

import pytest

import taviron
from conftest import run

pytestmark = pytest.mark.skipif(not taviron.HAVE_RDKIT, reason="built without RDKit")

DATA = os.path.join(os.path.dirname(__file__), "..", "data", "convert", "small.smi")


@pytest.fixture(scope="module")
def with_hydrogens():
    """The small molecules as SMILES with every hydrogen an atom, and the
    molecules RDKit reads from them with hydrogens kept."""
    from rdkit import Chem

    params = Chem.SmilesParserParams()
    params.removeHs = False
    out = []
    for line in open(DATA):
        smiles = Chem.MolToSmiles(Chem.AddHs(Chem.MolFromSmiles(line.split()[0])))
        out.append((smiles, Chem.MolFromSmiles(smiles, params)))
    return out


def test_indices_name_the_input_atoms(with_hydrogens):
    """Each aligned record atom is the input atom its index names: same
    element, same number of heavy neighbours; and the two matched parts are
    one graph of len(atom_pairs) atoms."""
    from rdkit import Chem

    checked = 0
    for (sa, ma), (sb, mb) in zip(with_hydrogens, with_hydrogens[1:]):
        a, b = taviron.from_smiles(sa), taviron.from_smiles(sb)
        r = taviron.compare(a, b)
        assert len(r.atom_pairs) == len(r.alignment) == r.score
        for (i, j), p in zip(r.atom_pairs, r.alignment):
            for mol, index, rec, number in ((ma, i, a, p.a), (mb, j, b, p.b)):
                atom = mol.GetAtomWithIdx(index)
                element = rec.atoms[number - 1].element
                assert atom.GetSymbol() == ("*" if element == "R" else element)
                heavy = sum(n.GetAtomicNum() != 1 for n in atom.GetNeighbors())  # * counts
                assert heavy == sum(number in (bd.a, bd.b) for bd in rec.bonds)
        pa, pb = Chem.MolFromSmiles(r.smiles_a), Chem.MolFromSmiles(r.smiles_b)
        assert pa.GetNumAtoms() == pb.GetNumAtoms() == r.score
        assert pa.GetNumBonds() == pb.GetNumBonds()
        checked += r.score > 0
    assert checked >= 10


def test_search_rows_agree_with_compare(with_hydrogens, tmp_path):
    """taviron-search --substructure writes what compare() gives, in both
    formats."""
    lib = tmp_path / "lib.smi"
    lib.write_text("".join(f"{s}\n" for s, _ in with_hydrogens[:6]))
    compounds = taviron.read(lib)
    rows = [json.loads(line) for line in
            run("TAVIRON_SEARCH_BIN", "-q", "--pairs", str(lib), "--substructure",
                "--format", "jsonl").splitlines()]
    tsv = run("TAVIRON_SEARCH_BIN", "-q", "--pairs", str(lib), "--substructure").splitlines()
    assert tsv[0].endswith("\tatom_pairs\tquery_match\ttarget_match")
    assert len(rows) == len(tsv) - 1 == 15
    by_id = {c.id: c for c in compounds}
    for row, line in zip(rows, tsv[1:]):
        r = taviron.compare(by_id[row["query"]], by_id[row["target"]])
        assert [tuple(p) for p in row["atom_pairs"]] == r.atom_pairs
        assert (row["query_match"], row["target_match"]) == (r.smiles_a, r.smiles_b)
        cells = line.split("\t")[-3:]
        assert cells == [",".join(f"{i}:{j}" for i, j in r.atom_pairs), r.smiles_a, r.smiles_b]


def test_qtr_records_use_atom_line_positions(compounds):
    r = taviron.compare(compounds["C00001"], compounds["C00005"])
    assert r.atom_pairs == [(p.a - 1, p.b - 1) for p in r.alignment]
    assert (r.smiles_a, r.smiles_b) == (None, None)
