"""read() by extension, names in rows, RDKit molecules taken directly, __version__."""

import gzip
import shutil

import pytest

import taviron
from conftest import COMPOUNDS, run

RDKIT = pytest.mark.skipif(not taviron.HAVE_RDKIT, reason="built without RDKit")

# Line 2 is broken: record 3 keeps C00003, as in taviron-convert.
SMI = "Oc1ccccc1\tPhenol\nC1CC\ttypo\nCc1ccccc1\tToluene\n"
CSV = "id,name,smiles\n1,Phenol,Oc1ccccc1\n2,typo,C1CC\n3,Toluene,Cc1ccccc1\n"


def same(a, b):
    assert [(c.id, c.name, c.atoms, c.bonds) for c in a] == \
        [(c.id, c.name, c.atoms, c.bonds) for c in b]


def test_version_is_the_programs():
    assert run("TAVIRON_SEARCH_BIN", "--version") == f"taviron-search: TAVIRON ver {taviron.__version__}\n"


def test_read_qtr_and_gz(tmp_path):
    gz = tmp_path / "c.qtr.gz"
    with open(COMPOUNDS, "rb") as f, gzip.open(gz, "wb") as out:
        shutil.copyfileobj(f, out)
    same(taviron.read(gz), taviron.read_qtr(COMPOUNDS))
    same(taviron.read(COMPOUNDS), taviron.read_qtr(COMPOUNDS))


@RDKIT
@pytest.mark.parametrize("name,text,kw", [
    ("m.smi", SMI, {}),
    ("m.smi.gz", SMI, {}),
    ("m.csv", CSV, {}),
    ("m.tsv", "SMI\tTitle\n" + SMI, {"smiles_column": "smi", "name_column": "title"}),
])
def test_read_molecules_as_converted(tmp_path, name, text, kw):
    path = tmp_path / name
    data = text.encode()
    path.write_bytes(gzip.compress(data) if name.endswith(".gz") else data)
    got = taviron.read(str(path), **kw)
    assert [c.id for c in got] == ["C00001", "C00003"]
    same(got, taviron.parse_qtr(run("TAVIRON_CONVERT_BIN", "-q", "--in", "smi", "-",
                                    stdin=SMI.encode())))


@RDKIT
def test_read_refusals(tmp_path):
    (tmp_path / "m.csv").write_text("id,smi\n1,C\n")
    with pytest.raises(ValueError, match="no column 'smiles'"):
        taviron.read(tmp_path / "m.csv")
    with pytest.raises(FileNotFoundError):
        taviron.read(tmp_path / "missing.sdf.gz")


def test_rows_carry_names(compounds):
    mols = list(compounds.values())[:3]
    rows = taviron.screen(mols)
    want = {c.id: c.name for c in mols}
    assert rows and all((r.query_name, r.target_name) == (want[r.query], want[r.target])
                        for r in rows)


@RDKIT
def test_rdkit_molecules_directly():
    from rdkit import Chem

    phenol, toluene = Chem.MolFromSmiles("Oc1ccccc1"), Chem.MolFromSmiles("Cc1ccccc1")
    direct = taviron.compare(phenol, toluene, atom=True)
    converted = taviron.compare(taviron.from_rdkit(phenol), taviron.from_rdkit(toluene), atom=True)
    assert (direct.score, direct.coefficient) == (converted.score, converted.coefficient)
    rows = taviron.screen([phenol], [taviron.from_rdkit(toluene), toluene])
    assert [(r.query, r.target, r.score) for r in rows] == \
        [("Q00001", "C00001", converted.score), ("Q00001", "T00002", converted.score)]
    with pytest.raises(TypeError):
        taviron.compare("CCO", toluene)
