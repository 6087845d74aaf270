// Single-linkage clustering on a square link matrix.
#pragma once

// `result` holds size x size cells (row-major), 0 or 1, symmetric, with the
// diagonal set. On return cell (i, j) is 1 exactly when a chain of links
// joins i and j. A size outside 1..10000 is refused: `result` is left as is.
void SingleLinkageClustering(int size, char *result);
