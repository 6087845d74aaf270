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

// Tells that the membership table `tb` holds only zeros; the thread's later
// writes to it, while bound, then clear the cells they set before instead
// of the whole table. Nothing else may write to it.
void cpdgraph_zeroed_table(char *tb);

// Distance between rows of the bound membership table: cell (m, s) is
// element m * stride + s. Rows are as long as the piece list made by the last
// make_SCCS_list(); the capacity CPD_MAX until one has run.
int cpdgraph_table_stride();
