"""taviron: structural similarity of two compounds through the maximum cliques
of their docking graph, the same engine as the ``taviron`` command line.

    >>> import taviron
    >>> a, b = taviron.read_qtr("examples/compounds.qtr")[:2]
    >>> r = taviron.compare(a, b)
    >>> r.score, r.coefficient, r.status
    >>> print(r.report("align"), end="")

Every number is the command line's: ``compare`` gives what ``taviron`` prints
for the pair, ``screen`` the rows of ``taviron-search``.

In a notebook a ``Compound`` shows as its structure and a ``Result`` as the
pair with the aligned atoms coloured by piece (``_repr_svg_``, the drawing of
``taviron-depict``); ``to_png()`` gives the same picture as PNG bytes where
``HAVE_PNG`` (built with librsvg).
"""

from ._taviron import (
    __version__,
    HAVE_PNG,
    HAVE_RDKIT,
    AlignedPair,
    Atom,
    Bond,
    Compound,
    Result,
    Row,
    parse_qtr,
    read_qtr,
)
from ._taviron import compare as _compare
from ._taviron import screen as _screen
from ._taviron import screen_stats as _screen_stats

__all__ = [
    "AlignedPair",
    "Atom",
    "Bond",
    "Compound",
    "HAVE_PNG",
    "HAVE_RDKIT",
    "Result",
    "Row",
    "__version__",
    "compare",
    "parse_qtr",
    "read",
    "read_qtr",
    "screen",
    "screen_stats",
]

# Extensions of molecule files, a final .gz set aside; any other name is QTR.
_MOLECULE_EXTENSIONS = (".sdf", ".sd", ".mol", ".smi", ".smiles", ".txt", ".csv", ".tsv")


def _as_compound(x, id):
    """A Compound as it is; an RDKit molecule through from_rdkit()."""
    if isinstance(x, Compound) or not HAVE_RDKIT:
        return x
    try:
        from rdkit import Chem
    except ImportError:
        return x
    return from_rdkit(x, id=id) if isinstance(x, Chem.Mol) else x


def _as_compounds(seq, prefix):
    if seq is None:
        return None
    return [_as_compound(x, f"{prefix}{n:05d}") for n, x in enumerate(seq, 1)]


def compare(a, b, **kw):
    """The similarity of a pair, as taviron computes it. a and b are
    Compounds or RDKit molecules (converted with from_rdkit())."""
    return _compare(_as_compound(a, "C00001"), _as_compound(b, "C00002"), **kw)


def screen(queries, targets=None, **kw):
    """Rows of taviron-search for queries against targets (every pair within
    queries when targets is None). Compounds or RDKit molecules; molecules are
    converted with from_rdkit() and numbered Q00001..., T00001... by place."""
    return _screen(_as_compounds(queries, "Q"), _as_compounds(targets, "T"), **kw)


def screen_stats(queries, targets=None, **kw):
    """(rows, counts): the rows of screen() and what the screen counted, as
    taviron-search's summary line: pairs, skipped_atom_count and
    skipped_clique (pairs each bound of min ruled out without a search),
    matched (rows at or above min before top) and rows."""
    return _screen_stats(_as_compounds(queries, "Q"), _as_compounds(targets, "T"), **kw)


compare.__wrapped__ = _compare
screen.__wrapped__ = _screen
screen_stats.__wrapped__ = _screen_stats


def read(path, *, name_field="", smiles_column="smiles", name_column=""):
    """Every compound of a file, by its extension as taviron-search reads it:
    SD/MOL (.sdf, .sd, .mol), SMILES (.smi, .smiles, .txt), CSV/TSV with a
    header line (.csv, .tsv; columns by name), each also with .gz; any other
    name is a QTR file. Molecules are converted as taviron-convert converts
    them, record N numbered C0000N (a skipped record leaves a gap)."""
    import os

    name = os.fsdecode(os.fspath(path))
    plain = name[:-3] if name.lower().endswith(".gz") else name
    if not plain.lower().endswith(_MOLECULE_EXTENSIONS):
        return read_qtr(path)
    if not HAVE_RDKIT:
        raise ValueError(f"{name}: molecule files need taviron built with RDKit")
    return _read_molecules(path, name_field=name_field, smiles_column=smiles_column,
                           name_column=name_column)

Compound.__module__ = __name__
Result.__module__ = __name__

if HAVE_RDKIT:
    from ._taviron import RDKIT_VERSION, _read_molecules, from_molblock, from_smiles

    def from_rdkit(mol, *, id="C00001"):
        """A compound from an RDKit molecule, through its molblock: typed as
        taviron-convert types the same molecule read from an SD file, named
        by the molecule's _Name."""
        from rdkit import Chem

        if not isinstance(mol, Chem.Mol):
            raise TypeError(f"from_rdkit() expects an RDKit Mol, not {type(mol).__name__}")
        return from_molblock(Chem.MolToMolBlock(mol), id=id)

    __all__ += ["RDKIT_VERSION", "from_molblock", "from_rdkit", "from_smiles"]
