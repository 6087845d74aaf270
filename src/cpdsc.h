// Single-linkage clustering on a square link matrix.
#pragma once

void SingleLinkageClustering(int size, char *result);
