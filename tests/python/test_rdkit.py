"""Molecules from SMILES, molblocks and RDKit, typed as taviron-convert types them."""

import pytest

import taviron
from conftest import run

pytestmark = pytest.mark.skipif(not taviron.HAVE_RDKIT, reason="built without RDKit")

SMILES = [("Oc1ccccc1", "Phenol"), ("N[C@@H](Cc1ccc(O)cc1)C(=O)O", "L-Tyrosine"),
          ("[*:1]C(=O)O", "Acid"), ("OCl(=O)(=O)=O", "Perchloric acid")]


def converted(text, fmt):
    out = run("TAVIRON_CONVERT_BIN", "-q", "--in", fmt, "-", stdin=text.encode())
    return taviron.parse_qtr(out)[0]


def same(a, b):
    assert (a.id, a.name, a.atoms, a.bonds) == (b.id, b.name, b.atoms, b.bonds)


@pytest.mark.parametrize("smiles,name", SMILES)
def test_as_converted(smiles, name):
    from rdkit import Chem

    from_smiles = taviron.from_smiles(smiles, name)
    same(from_smiles, converted(f"{smiles}\t{name}\n", "smi"))
    mol = Chem.MolFromSmiles(smiles)
    mol.SetProp("_Name", name)
    block = Chem.MolToMolBlock(mol)
    from_sdf = converted(block + "$$$$\n", "sdf")
    same(taviron.from_molblock(block), from_sdf)
    same(taviron.from_rdkit(mol), from_sdf)
    # A molfile may list a bond the other way round; the atoms are the same.
    assert from_sdf.atoms == from_smiles.atoms


def test_compare_and_errors():
    from rdkit import Chem

    phenol = taviron.from_smiles("Oc1ccccc1", "Phenol", id="C00009")
    tyrosine = taviron.from_smiles("N[C@@H](Cc1ccc(O)cc1)C(=O)O", "L-Tyrosine", id="C00010")
    r = taviron.compare(phenol, tyrosine)
    assert (r.score, f"{r.coefficient:f}", r.atoms_a, r.atoms_b) == (6, "0.428571", 7, 13)
    assert r.report().startswith("C00009\t7\tC00010\t13\t6\t0.428571\n")
    with pytest.raises(ValueError, match="C1CC"):
        taviron.from_smiles("C1CC")
    with pytest.raises(ValueError):
        taviron.from_molblock("not a molfile\n\n\nM  END\n")
    mb = Chem.MolToMolBlock(Chem.MolFromSmiles("CC"))
    with pytest.raises(ValueError, match="more than one"):
        taviron.from_molblock(mb + "$$$$\n" + mb + "$$$$\n")
    with pytest.raises(ValueError, match="bad identifier"):
        taviron.from_smiles("CC", id="C 1")
    with pytest.raises(TypeError, match="RDKit Mol"):
        taviron.from_rdkit("CC")
