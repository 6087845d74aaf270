#include "convert/limits.h"

#include <cctype>
#include <algorithm>
#include <charconv>

namespace {

bool is_organic_symbol_start(char c) {
  switch (c) {
    case 'B':  // B, Br
    case 'C':  // C, Cl
    case 'N':
    case 'O':
    case 'P':
    case 'S':
    case 'F':
    case 'I':
    case 'b':
    case 'c':
    case 'n':
    case 'o':
    case 'p':
    case 's':
    case '*':
      return true;
    default:
      return false;
  }
}

// The leading whole number of a field, blanks around it allowed; -1 if none.
long leading_number(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  long value = -1;
  const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data() + i) return -1;
  return value;
}

}  // namespace

SmilesSize measure_smiles(std::string_view smiles) {
  SmilesSize size;
  long depth = 0;
  for (size_t i = 0; i < smiles.size(); ++i) {
    const char c = smiles[i];
    if (c == '[') {
      // A bracket atom is one atom whatever it holds (isotope, H count,
      // charge, map number).
      ++size.atoms;
      const size_t close = smiles.find(']', i + 1);
      if (close == std::string_view::npos) break;
      i = close;
    } else if (c == '(') {
      if (++depth > size.depth) size.depth = depth;
    } else if (c == ')') {
      if (depth > 0) --depth;
    } else if (is_organic_symbol_start(c)) {
      // The second letters of Cl and Br are lower-case and not counted.
      ++size.atoms;
    }
  }
  return size;
}

long molfile_atom_count(std::span<const std::string> lines) {
  if (lines.size() < 4) return -1;
  const std::string_view counts = lines[3];
  if (counts.find("V3000") == std::string_view::npos) {
    return leading_number(counts.substr(0, 3));
  }
  constexpr std::string_view kTag = "M  V30 COUNTS";
  for (const std::string &line : lines.subspan(4)) {
    if (line.starts_with(kTag)) return leading_number(std::string_view(line).substr(kTag.size()));
    if (line.starts_with("M  END")) break;
  }
  return -1;
}

std::string molfile_bond_problem(std::span<const std::string> lines) {
  if (lines.size() < 4 || lines[3].find("V3000") != std::string::npos) return {};
  const std::string_view counts = lines[3];
  const long atoms = leading_number(counts.substr(0, 3));
  const long bonds = leading_number(counts.substr(std::min<size_t>(3, counts.size()), 3));
  if (atoms < 0 || bonds < 0) return {};
  for (long k = 0; k < bonds; ++k) {
    const size_t at = 4 + static_cast<size_t>(atoms + k);
    if (at >= lines.size()) break;
    const std::string_view line = lines[at];
    for (size_t column : {0u, 3u}) {
      if (line.size() <= column) break;
      const long atom = leading_number(line.substr(column, 3));
      if (atom < 0 || (atom >= 1 && atom <= atoms)) continue;
      return "bond " + std::to_string(k + 1) + " names atom " + std::to_string(atom) + " of " +
             std::to_string(atoms);
    }
  }
  return {};
}
