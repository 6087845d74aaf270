#include "mollimits.h"

#include <cctype>
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
