// Small compound records for tests: built from QTR text, or reduced to a bond
// matrix for code that reads nothing else.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cpdio.h"

namespace test_records {

// A compound reduced to its atom count and bond matrix (0-based bonds).
struct Mol {
  CPDMOL rec{};
  std::vector<char> bonds;

  Mol(int atoms, const std::vector<std::pair<int, int>> &pairs)
      : bonds(static_cast<std::size_t>(atoms) * atoms, 0) {
    for (int a = 0; a < atoms; a++) bonds[a * atoms + a] = 1;
    for (auto [p, q] : pairs) {
      bonds[p * atoms + q] = 1;
      bonds[q * atoms + p] = 1;
    }
    rec.nodenum = atoms;
    rec.nodenum_sub = atoms;
    rec.matrix = bonds.data();
  }
};

// Reads one QTR record from text.
inline CPDMOL *parse(const std::string &text) {
  FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  if (fp == nullptr) return nullptr;
  CPDMOL *mol = read_CPDMOL_QTR(fp);
  fclose(fp);
  return mol;
}

// A record of `types.size()` atoms (element = type up to the first '.') and
// the given 1-based bonds.
inline CPDMOL *record(const std::vector<std::string> &types,
                      const std::vector<std::pair<int, int>> &bonds = {}) {
  std::string t = "ENTRY       X00001                      Compound\n";
  t += "ATOM        " + std::to_string(types.size()) + "\n";
  char line[160];
  for (std::size_t k = 0; k < types.size(); k++) {
    const std::string elem = types[k].substr(0, types[k].find('.'));
    std::snprintf(line, sizeof line, "            %-3zu %-10s %-3s    0.0000     0.0000\n", k + 1,
                  types[k].c_str(), elem.c_str());
    t += line;
  }
  t += "BOND        " + std::to_string(bonds.size()) + "\n";
  for (std::size_t k = 0; k < bonds.size(); k++) {
    std::snprintf(line, sizeof line, "            %-3zu %3d %3d 1\n", k + 1, bonds[k].first,
                  bonds[k].second);
    t += line;
  }
  t += "///\n";
  return parse(t);
}

}  // namespace test_records
