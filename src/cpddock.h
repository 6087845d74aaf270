// Docking (association) graph of two compounds.
#pragma once

#include "cpdcommon.h"

// Row stride of the docking matrix, whatever the node count.
constexpr int DOCK_STRIDE = CPD_MAX;

void make_DockingGraph(CPDMOL *mol1, CPDMOL *mol2, int mode, int *ret_num, DNODE *ret_list,
                       char *ret_mtx);
