// Single-linkage clustering: the reflexive-transitive closure of a link matrix,
// completed in place by repeated passes.
#include "cpdsc.h"

#include <cstddef>
#include <vector>

#include "cpdcommon.h"

namespace {

// Completes `result` from the fixed direct links in `matrix` (both size x
// size). A pass sets cell (i, j) when some k reached from i links to j; cells
// set earlier in a pass already count for the cells after them, so one pass
// can carry a row's new members further. Passes repeat until one changes
// nothing.
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

}  // namespace

void SingleLinkageClustering(int size, char *result) {
  if (result == nullptr || size < 1 || size > CPD_MAX) return;
  const std::size_t cells = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
  // The direct links stay fixed while `result` grows.
  const std::vector<char> matrix(result, result + cells);
  _matrix_clustering_(size, matrix.data(), result);
}
