// Clique scoring, connected clique pieces and the choice of the best clique.
//
// The functions work on tables owned by the caller and bound by
// init_cpdgraph(); the binding belongs to the calling thread. Cliques with
// vnum 0 are emptied entries and are skipped everywhere.
#pragma once

#include "cpdcommon.h"

void init_cpdgraph(CPDMOL *m1, CPDMOL *m2, DNODE *np, int *cn, MCS *cl, int *sn, SCCS *sl,
                   char *tb);
void score_MCS_list();
void make_SCCS_list();
void score_SCCS_list();
void sort_SCCS_list(int start, int end);
void get_maxMCSinfo(int *ri, MCS **rm, SCCS **rs, char **rt, DNODE **rn);

// Tells the calling thread's binding that `table` is all zeros, so that rows
// need clearing only where later runs write. Tables not announced are
// cleared whole, row by row, the first time.
void cpdgraph_clean_table(const char *table);
