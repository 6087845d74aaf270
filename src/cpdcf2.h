// Budgeted search for all largest cliques of the docking graph.
#pragma once

#include "cpdcommon.h"

void clifinder2(int nodenum, char *matrix, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max);
