// Size of a molecule told from its text before any parser sees it.
//
// A SMILES line or a molfile can describe a molecule far larger than the rest
// of the tool can take, or nest branches deeper than a parser's stack allows.
// These scans read the text once, in linear time, so that such a molecule is
// turned away before it is parsed.
#pragma once

#include <span>
#include <string>
#include <string_view>

struct SmilesSize {
  long atoms = 0;  // atom tokens: bracket atoms, organic-subset symbols, '*'
  long depth = 0;  // deepest branch nesting, '(' inside '(' ...
};

// Atoms and branch depth of a SMILES string (without its name). Unbalanced
// parentheses are counted as they come; the parser reports them later.
SmilesSize measure_smiles(std::string_view smiles);

// Atoms an SD record's molfile claims: the counts line (the fourth) of a V2000
// molfile, or the "M  V30 COUNTS" line of a V3000 one. -1 when neither can be
// read; the parser reports such a record.
long molfile_atom_count(std::span<const std::string> lines);

// A V2000 bond line naming an atom the molfile does not have, as a reason
// ("bond 3 names atom 0 of 12"); empty when there is none or the molfile is
// another kind. RDKit's reader throws a bare "idx" on such a line and loses
// the molecule it was building.
std::string molfile_bond_problem(std::span<const std::string> lines);
