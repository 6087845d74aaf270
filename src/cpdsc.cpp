// Single-linkage clustering: the reflexive-transitive closure of a link matrix.
#include "cpdsc.h"

#include <cstddef>
#include <numeric>
#include <vector>

#include "cpdcommon.h"

namespace {

// Completes `result` from the fixed direct links in `matrix` (both size x
// size). A pass sets cell (i, j) when some k reached from i links to j; cells
// set earlier in a pass already count for the cells after them, so one pass
// can carry a row's new members further. Passes repeat until one changes
// nothing. A long chain can take as many passes as it has members, each of
// them cubic in the size, so this serves only matrices that the component
// labelling below does not cover.
void _matrix_clustering_(int size, const char *matrix, char *result) {
  const std::size_t n = static_cast<std::size_t>(size);
  bool changed;
  do {
    changed = false;
    for (std::size_t i = 0; i < n; i++) {
      char *row = result + i * n;
      for (std::size_t j = 0; j < n; j++) {
        // A cell already set cannot change, whatever k the search would find.
        if (row[j] != 0) continue;
        for (std::size_t k = 0; k < n; k++) {
          if (row[k] == 1 && matrix[k * n + j] == 1) {
            row[j] = 1;
            changed = true;
            break;
          }
        }
      }
    }
  } while (changed);
}

// True for what the callers pass: cells 0 or 1, the diagonal set, symmetric.
bool is_link_matrix(std::size_t n, const char *m) {
  for (std::size_t i = 0; i < n; i++) {
    if (m[i * n + i] != 1) return false;
    for (std::size_t j = i + 1; j < n; j++) {
      const char c = m[i * n + j];
      if ((c != 0 && c != 1) || c != m[j * n + i]) return false;
    }
  }
  return true;
}

// For such a matrix the closure says whether two items lie in the same
// connected part, which union-find labels in one sweep over the cells.
void label_components(std::size_t n, char *m) {
  std::vector<std::size_t> parent(n);
  std::iota(parent.begin(), parent.end(), std::size_t{0});
  auto root = [&parent](std::size_t x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  };
  for (std::size_t i = 0; i < n; i++) {
    for (std::size_t j = i + 1; j < n; j++) {
      if (m[i * n + j] == 0) continue;
      const std::size_t a = root(i), b = root(j);
      if (a != b) parent[a < b ? b : a] = a < b ? a : b;
    }
  }
  for (std::size_t i = 0; i < n; i++) parent[i] = root(i);
  for (std::size_t i = 0; i < n; i++) {
    for (std::size_t j = 0; j < n; j++) m[i * n + j] = parent[i] == parent[j] ? 1 : 0;
  }
}

}  // namespace

void SingleLinkageClustering(int size, char *result) {
  if (result == nullptr || size < 1 || size > CPD_MAX) return;
  const std::size_t n = static_cast<std::size_t>(size);
  if (is_link_matrix(n, result)) {
    label_components(n, result);
    return;
  }
  // The direct links stay fixed while `result` grows.
  const std::vector<char> matrix(result, result + n * n);
  _matrix_clustering_(size, matrix.data(), result);
}
