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
    HAVE_PNG,
    HAVE_RDKIT,
    AlignedPair,
    Atom,
    Bond,
    Compound,
    Result,
    Row,
    compare,
    parse_qtr,
    read_qtr,
    screen,
)

__all__ = [
    "AlignedPair",
    "Atom",
    "Bond",
    "Compound",
    "HAVE_PNG",
    "HAVE_RDKIT",
    "Result",
    "Row",
    "compare",
    "parse_qtr",
    "read_qtr",
    "screen",
]

Compound.__module__ = __name__
Result.__module__ = __name__

if HAVE_RDKIT:
    from ._taviron import RDKIT_VERSION, from_molblock, from_smiles

    def from_rdkit(mol, *, id="C00001"):
        """A compound from an RDKit molecule, through its molblock: typed as
        taviron-convert types the same molecule read from an SD file, named
        by the molecule's _Name."""
        from rdkit import Chem

        if not isinstance(mol, Chem.Mol):
            raise TypeError(f"from_rdkit() expects an RDKit Mol, not {type(mol).__name__}")
        return from_molblock(Chem.MolToMolBlock(mol), id=id)

    __all__ += ["RDKIT_VERSION", "from_molblock", "from_rdkit", "from_smiles"]
