"""Libraries loaded once, compounds found in them, and query compounds made
from what a request sends. Nothing here needs the web framework."""

import os
import re
import time

import taviron

# Extensions a library file may have (each also with .gz); anything else is
# read as QTR records, as taviron-search reads it.
_EXTENSIONS = (".qtr", ".sdf", ".sd", ".mol", ".smi", ".smiles", ".txt", ".csv", ".tsv")


class BadQuery(ValueError):
    """A query the service cannot make a compound of; str() says why."""


class TooLarge(BadQuery):
    """A query above the service's size limits."""


class NotFound(LookupError):
    """A library or compound that is not there; str() says which."""


class Library:
    """The compounds of one file, prepared for screening, under a name."""

    def __init__(self, name, path, compounds, seconds):
        self.name = name
        self.path = path
        self.compounds = compounds
        self.seconds = seconds
        self.by_id = {c.id: n for n, c in enumerate(compounds)}
        # A name leads to its compound only when no other compound has it.
        names = {}
        for n, c in enumerate(compounds):
            if c.name:
                names[c.name] = None if c.name in names else n
        self.by_name = {k: v for k, v in names.items() if v is not None}
        self.letter = compounds[0].id[:1].upper() if compounds and compounds[0].id[:1].isalpha() else "C"

    def __len__(self):
        return len(self.compounds)

    def find(self, key):
        """The compound whose identifier is key (completed as taviron
        completes it: 1 is C00001) or, failing that, whose name is key and
        unique in the library."""
        for candidate in (key, complete_identifier(key, self.letter)):
            if candidate in self.by_id:
                return self.compounds[self.by_id[candidate]]
        if key in self.by_name:
            return self.compounds[self.by_name[key]]
        raise NotFound(f"no compound {key!r} in library {self.name!r}")


def complete_identifier(key, letter):
    """1 -> C00001, c12 -> C00012, D1234 -> D01234; other keys as they are."""
    m = re.fullmatch(r"([A-Za-z]?)(\d+)", key)
    if not m or len(key) > 6:
        return key
    return (m[1].upper() or letter) + m[2].rjust(5, "0")


def library_name(given):
    """(name, path) of a command-line library: NAME=PATH, or PATH named by
    its file name without extensions."""
    if "=" in given and not os.path.exists(given):
        name, path = given.split("=", 1)
        return name, path
    base = os.path.basename(given)
    if base.lower().endswith(".gz"):
        base = base[:-3]
    stem, ext = os.path.splitext(base)
    return (stem if ext.lower() in _EXTENSIONS else base), given


def load(given, **read_options):
    """The library a command-line argument names, read and timed."""
    name, path = library_name(given)
    # Names go into request paths: one path segment of printable characters.
    if not name or "/" in name or not name.isprintable():
        raise ValueError(f"bad library name {name!r} (expected printable characters, no '/')")
    start = time.perf_counter()
    compounds = taviron.read(path, **read_options)
    seconds = time.perf_counter() - start
    if not compounds:
        raise ValueError(f"{path}: no compound records")
    return Library(name, path, compounds, seconds)


def matchable_atoms(c):
    """Atoms other than H and *, as the coefficient counts them."""
    return sum(1 for a in c.atoms if a.type not in ("H", "*"))


class QueryMaker:
    """Query compounds from request text, within the service's size limits."""

    def __init__(self, libraries, max_text, max_atoms):
        self.libraries = libraries
        self.max_text = max_text
        self.max_atoms = max_atoms

    def library(self, name):
        if name is None:
            return next(iter(self.libraries.values()))
        if name not in self.libraries:
            raise NotFound(f"no library {name!r} (loaded: {', '.join(self.libraries)})")
        return self.libraries[name]

    def make(self, form, text, library=None, id="query"):
        """The compound of one query: form is smiles, mol, qtr, id or text
        (a compound of the library by identifier or name, else a QTR record,
        a MOL block or SMILES, by its look)."""
        if form == "id":
            return self.library(library).find(text)
        if len(text.encode()) > self.max_text:
            raise TooLarge(f"the {form} query is {len(text.encode())} bytes, more than the "
                           f"service's limit of {self.max_text}")
        if form == "text":
            form = self._guess(text, library)
            if form == "id":
                return self.library(library).find(text.strip())
        compound = self._convert(form, text, id)
        atoms = len(compound.atoms)
        if atoms > self.max_atoms:
            raise TooLarge(f"the query has {atoms} atoms, more than the service's limit of "
                           f"{self.max_atoms}")
        return compound

    def _guess(self, text, library):
        stripped = text.strip()
        if stripped.startswith("ENTRY"):
            return "qtr"
        if "M  END" in text or "V2000" in text or "V3000" in text:
            return "mol"
        try:
            self.library(library).find(stripped)
            return "id"
        except NotFound:
            return "smiles"

    def _convert(self, form, text, id):
        if form == "qtr":
            try:
                records = taviron.parse_qtr(text)
            except ValueError as e:
                raise BadQuery(f"cannot read the QTR record: {e}") from None
            if len(records) != 1:
                raise BadQuery(f"expected one QTR record, found {len(records)}")
            return records[0]
        if not taviron.HAVE_RDKIT:
            raise BadQuery(f"{form} queries need taviron built with RDKit; send a QTR record")
        if not text.strip():
            raise BadQuery(f"the {form} query is empty")
        try:
            if form == "smiles":
                return taviron.from_smiles(text.strip(), id=id)
        except ValueError as e:
            raise BadQuery(str(e)) from None
        try:
            return taviron.from_molblock(text, id=id)
        except ValueError as e:
            raise BadQuery(f"cannot read the MOL block: {e}") from None
