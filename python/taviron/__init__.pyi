import os
from typing import Any, Callable, Iterable, Literal, NamedTuple, Optional, Union

__version__: str
HAVE_PNG: bool
HAVE_RDKIT: bool
RDKIT_VERSION: str

class Atom(NamedTuple):
    number: int
    type: str
    element: str
    x: Optional[float]
    y: Optional[float]

class Bond(NamedTuple):
    a: int
    b: int
    order: Optional[int]

class AlignedPair(NamedTuple):
    a: int
    b: int
    piece: int

class Row(NamedTuple):
    query: str
    target: str
    query_atoms: int
    target_atoms: int
    score: int
    coefficient: float
    status: str
    proven: bool
    query_name: str
    target_name: str

class Compound:
    @property
    def id(self) -> str: ...
    @property
    def name(self) -> str: ...
    @property
    def atoms(self) -> list[Atom]: ...
    @property
    def bonds(self) -> list[Bond]: ...
    def _repr_svg_(self) -> str: ...
    def to_png(self, *, scale: float = 2.0) -> bytes: ...

class Result:
    @property
    def score(self) -> int: ...
    @property
    def coefficient(self) -> float: ...
    @property
    def status(self) -> str: ...
    @property
    def proven(self) -> bool: ...
    @property
    def atoms_a(self) -> int: ...
    @property
    def atoms_b(self) -> int: ...
    @property
    def alignment(self) -> list[AlignedPair]: ...
    @property
    def atom_pairs(self) -> list[tuple[int, int]]: ...  # 0-based atoms of the molecules given
    @property
    def smiles_a(self) -> Optional[str]: ...  # matched part; None for a QTR record
    @property
    def smiles_b(self) -> Optional[str]: ...
    def as_dict(self) -> dict[str, Any]: ...
    def report(self, form: Literal["score", "align", "qtr"] = "score") -> str: ...
    def _repr_svg_(self) -> str: ...
    def to_png(self, *, scale: float = 2.0) -> bytes: ...

def read_qtr(path: Union[str, os.PathLike[str]]) -> list[Compound]: ...
def read(
    path: Union[str, os.PathLike[str]],
    *,
    name_field: str = "",
    smiles_column: str = "smiles",
    name_column: str = "",
) -> list[Compound]: ...
def parse_qtr(text: Union[str, bytes]) -> list[Compound]: ...
def compare(
    a: Any,  # a Compound or an RDKit Mol
    b: Any,
    *,
    atom: bool = False,
    trick: bool = False,
    repeat: int = -1,
    limit: int = 10000,
    time_limit: Optional[float] = None,  # seconds of clique search; not proven when it stops
) -> Result: ...
def screen(
    queries: Iterable[Any],  # Compounds or RDKit Mols
    targets: Optional[Iterable[Any]] = None,
    *,
    min: Optional[float] = None,
    top: Optional[int] = None,
    jobs: Optional[int] = None,
    atom: bool = False,
    trick: bool = False,
    repeat: int = -1,
    limit: int = 10000,
    time_limit: Optional[float] = None,
    progress: Optional[Callable[[int, int], object]] = None,
) -> list[Row]: ...
def screen_stats(
    queries: Iterable[Any],
    targets: Optional[Iterable[Any]] = None,
    *,
    min: Optional[float] = None,
    top: Optional[int] = None,
    jobs: Optional[int] = None,
    atom: bool = False,
    trick: bool = False,
    repeat: int = -1,
    limit: int = 10000,
    time_limit: Optional[float] = None,
    progress: Optional[Callable[[int, int], object]] = None,
) -> tuple[list[Row], dict[str, int]]: ...
def from_smiles(smiles: str, name: str = "", *, id: str = "C00001") -> Compound: ...
def from_molblock(molblock: str, *, id: str = "C00001") -> Compound: ...
def from_rdkit(mol: Any, *, id: str = "C00001") -> Compound: ...
