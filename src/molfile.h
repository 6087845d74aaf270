// Molecule files (SD, MOL, SMILES) for taviron and taviron-depict.
//
// The engine reads QTR text only. A molecule file is converted by
// taviron-convert, the converter built beside the programs (with RDKit), run
// as a process of its own: the programs stay free of RDKit, start as fast as
// ever on QTR text, and convert exactly as taviron-convert and taviron-search
// do. Its warnings (skipped molecules) go to standard error as it writes them.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct MoleculeText {
  std::string qtr;  // the records, as the converted file holds them
  std::vector<std::pair<std::string, std::string>> names;  // identifier, first name
};

// True when `path` names a molecule file by its extension (.sdf, .sd, .mol,
// .smi, .smiles; case ignored). Any other file is QTR text, as always.
bool is_molecule_file(const char *path);

// Converts every molecule of the file. False when the converter cannot be
// run or fails (it has said why, or `error` says it).
bool read_molecule_file(const char *path, MoleculeText &out, std::string &error);

// What to look up for an entry typed by the user: the typed text itself,
// unless no record has it as identifier and exactly one record has it as
// name, which then gives its identifier. Numbers stay as typed: the look-up
// completes them to identifiers.
std::string entry_for(const MoleculeText &text, const char *typed);
