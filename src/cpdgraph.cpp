// Clique scoring and connected clique pieces.
//
// Every clique is split into its connected pieces: nodes whose atom pairs are
// bonded in both compounds hang together. The pieces of all cliques form one
// list without repeats, and the membership table (row = clique, column =
// piece, row stride CPD_MAX) says which pieces make up which clique. The
// table's columns follow the order of the piece list, so exchanging two pieces
// exchanges their columns too.
#include "cpdgraph.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cpdsc.h"

namespace {

// Tables of one engine instance, bound by init_cpdgraph(). Per thread, so
// that engines on different threads do not see each other's tables.
struct Binding {
  CPDMOL *cpdmol1 = nullptr;
  CPDMOL *cpdmol2 = nullptr;
  DNODE *nodelist = nullptr;
  int *mcsnum = nullptr;
  MCS *mcslist = nullptr;
  int *sccsnum = nullptr;
  SCCS *sccslist = nullptr;
  char *mcs_sccs_table = nullptr;
  // Cliques whose pieces did not all fit into the piece list at the last
  // make_SCCS_list(); their table rows are empty and they are never chosen
  // as the best clique.
  std::vector<char> unlisted;
};

thread_local Binding bound;

bool is_bound() {
  return bound.cpdmol1 != nullptr && bound.cpdmol2 != nullptr && bound.nodelist != nullptr &&
         bound.mcsnum != nullptr && bound.mcslist != nullptr && bound.sccsnum != nullptr &&
         bound.sccslist != nullptr && bound.mcs_sccs_table != nullptr;
}

// Number of table rows in use: the clique count, within the table's capacity.
int clique_count() {
  return std::clamp(*bound.mcsnum, 0, CPD_MAX);
}

int piece_count() {
  return std::clamp(*bound.sccsnum, 0, CPD_MAX);
}

char *table_row(int clique) {
  return bound.mcs_sccs_table + static_cast<std::size_t>(clique) * CPD_MAX;
}

// Emptied entries (vnum 0) take no part; a malformed entry counts as emptied.
bool has_nodes(const MCS &c) {
  return c.vnum > 0 && c.vlist != nullptr;
}

bool is_unlisted(int clique) {
  return static_cast<std::size_t>(clique) < bound.unlisted.size() && bound.unlisted[clique] != 0;
}

int compare_int(const void *x, const void *y) {
  const int a = *static_cast<const int *>(x);
  const int b = *static_cast<const int *>(y);
  if (a > b) return 1;
  if (a < b) return -1;
  return 0;
}

// 1 when the two pieces hold the same nodes (lists are kept ascending).
char compare_SCCS_2(const SCCS *t1, const SCCS *t2) {
  if (t1->vnum != t2->vnum) return 0;
  return std::equal(t1->vlist, t1->vlist + t1->vnum, t2->vlist) ? 1 : 0;
}

// Position of the first listed piece equal to `query`, or the piece count.
int search_SCCS(const SCCS *query) {
  const int num = piece_count();
  for (int s = 0; s < num; s++) {
    if (compare_SCCS_2(&bound.sccslist[s], query)) return s;
  }
  return num;
}

// Pieces i and j change places, and so do their table columns. Only the
// meaningful prefix of the node arrays is moved.
void exchange_SCCS(int i, int j) {
  SCCS &a = bound.sccslist[i];
  SCCS &b = bound.sccslist[j];
  const int used = std::clamp(std::max(a.vnum, b.vnum), 0, CPD_MAX);
  std::swap_ranges(a.vlist, a.vlist + used, b.vlist);
  std::swap(a.vnum, b.vnum);
  std::swap(a.score, b.score);
  const int rows = clique_count();
  for (int m = 0; m < rows; m++) {
    char *row = table_row(m);
    std::swap(row[i], row[j]);
  }
}

double node_score_sum(const int *vlist, int vnum) {
  double sum = 0.0;
  for (int k = 0; k < vnum; k++) sum += bound.nodelist[vlist[k]].score;
  return sum;
}

}  // namespace

void init_cpdgraph(CPDMOL *m1, CPDMOL *m2, DNODE *np, int *cn, MCS *cl, int *sn, SCCS *sl,
                   char *tb) {
  bound.cpdmol1 = m1;
  bound.cpdmol2 = m2;
  bound.nodelist = np;
  bound.mcsnum = cn;
  bound.mcslist = cl;
  bound.sccsnum = sn;
  bound.sccslist = sl;
  bound.mcs_sccs_table = tb;
  bound.unlisted.clear();
}

void score_MCS_list() {
  if (!is_bound()) return;
  const int num = clique_count();
  const int atoms = bound.cpdmol1->nodenum + bound.cpdmol2->nodenum;
  for (int i = 0; i < num; i++) {
    MCS &c = bound.mcslist[i];
    if (!has_nodes(c)) continue;
    c.score = node_score_sum(c.vlist, c.vnum) + (atoms - 2 * c.vnum);
  }
}

void make_SCCS_list() {
  if (!is_bound()) return;
  *bound.sccsnum = 0;
  const int num = clique_count();
  bound.unlisted.assign(num, 0);

  const CPDMOL *m1 = bound.cpdmol1;
  const CPDMOL *m2 = bound.cpdmol2;
  const std::size_t n1 = static_cast<std::size_t>(m1->nodenum);
  const std::size_t n2 = static_cast<std::size_t>(m2->nodenum);

  std::vector<char> work;        // n x n links of one clique's positions
  std::vector<int> piece_nodes;  // the clique's pieces, one after the other
  std::vector<int> piece_begin;  // start of each piece in piece_nodes
  std::vector<int> piece_pos;    // list position of each piece, -1 when new
  std::unique_ptr<SCCS> probe;   // allocated with the first clique that has nodes

  for (int i = 0; i < num; i++) {
    const MCS &c = bound.mcslist[i];
    const int n = c.vnum;
    if (!has_nodes(c)) continue;
    char *row = table_row(i);
    std::memset(row, 0, CPD_MAX);
    if (n > CPD_MAX) {
      bound.unlisted[i] = 1;
      continue;
    }
    const std::size_t sn = static_cast<std::size_t>(n);
    try {
      if (!probe) probe = std::make_unique_for_overwrite<SCCS>();
      work.resize(sn * sn);
    } catch (const std::bad_alloc &) {
      bound.unlisted[i] = 1;
      continue;
    }

    // Direct links: both atom pairs bonded.
    for (std::size_t j = 0; j < sn; j++) {
      work[j * sn + j] = 1;
      const DNODE &u = bound.nodelist[c.vlist[j]];
      for (std::size_t k = j + 1; k < sn; k++) {
        const DNODE &w = bound.nodelist[c.vlist[k]];
        const int both = m1->matrix[static_cast<std::size_t>(u.e1) * n1 + w.e1] +
                         m2->matrix[static_cast<std::size_t>(u.e2) * n2 + w.e2];
        const char link = both == 2 ? 1 : 0;
        work[j * sn + k] = link;
        work[k * sn + j] = link;
      }
    }
    SingleLinkageClustering(n, work.data());

    // Each still-set diagonal cell is the lowest position of a piece not yet
    // taken; clearing the diagonal of its members takes them.
    piece_nodes.clear();
    piece_begin.clear();
    for (std::size_t j = 0; j < sn; j++) {
      if (work[j * sn + j] != 1) continue;
      const std::size_t begin = piece_nodes.size();
      piece_begin.push_back(static_cast<int>(begin));
      for (std::size_t k = j; k < sn; k++) {
        if (work[j * sn + k] != 1) continue;
        piece_nodes.push_back(c.vlist[k]);
        work[k * sn + k] = 0;
      }
      std::qsort(piece_nodes.data() + begin, piece_nodes.size() - begin, sizeof(int), compare_int);
    }
    piece_begin.push_back(static_cast<int>(piece_nodes.size()));

    // Look every piece up before storing any: the pieces of one clique are
    // disjoint, so none of them can match another of the same clique.
    const int pieces = static_cast<int>(piece_begin.size()) - 1;
    piece_pos.assign(pieces, -1);
    int fresh = 0;
    for (int p = 0; p < pieces; p++) {
      probe->vnum = piece_begin[p + 1] - piece_begin[p];
      std::copy(piece_nodes.begin() + piece_begin[p], piece_nodes.begin() + piece_begin[p + 1],
                probe->vlist);
      const int pos = search_SCCS(probe.get());
      if (pos < *bound.sccsnum) {
        piece_pos[p] = pos;
      } else {
        fresh++;
      }
    }
    // A clique is listed whole or not at all, so that a row always holds all
    // of its clique's nodes.
    if (*bound.sccsnum + fresh > CPD_MAX) {
      bound.unlisted[i] = 1;
      continue;
    }
    for (int p = 0; p < pieces; p++) {
      if (piece_pos[p] < 0) {
        SCCS &s = bound.sccslist[*bound.sccsnum];
        s.vnum = piece_begin[p + 1] - piece_begin[p];
        std::copy(piece_nodes.begin() + piece_begin[p], piece_nodes.begin() + piece_begin[p + 1],
                  s.vlist);
        s.score = 0.0;
        piece_pos[p] = (*bound.sccsnum)++;
      }
      row[piece_pos[p]] = 1;
    }
  }
}

void score_SCCS_list() {
  if (!is_bound()) return;
  const int num = piece_count();
  for (int s = 0; s < num; s++) {
    SCCS &p = bound.sccslist[s];
    p.score = node_score_sum(p.vlist, std::clamp(p.vnum, 0, CPD_MAX));
  }
}

void sort_SCCS_list(int start, int end) {
  if (!is_bound()) return;
  if (end - start <= 0) return;
  if (start < 0 || end >= piece_count()) return;
  const SCCS *list = bound.sccslist;

  bool ordered = true;
  for (int k = start; k < end; k++) {
    if (list[k].score < list[k + 1].score) {
      ordered = false;
      break;
    }
  }
  if (ordered) return;

  const double p = (list[start].score + list[end].score) * 0.5;
  int i = start;
  int j = end;
  for (;;) {
    while (i < end && list[i].score >= p) i++;
    if (i >= j) break;
    bool crossed = false;
    while (list[j].score < p) {
      j--;
      if (i >= j) {
        crossed = true;
        break;
      }
    }
    if (crossed) break;
    exchange_SCCS(i, j);
  }
  sort_SCCS_list(start, i - 1);
  sort_SCCS_list(i, end);
}

void get_maxMCSinfo(int *ri, MCS **rm, SCCS **rs, char **rt, DNODE **rn) {
  int best = -1;
  if (is_bound()) {
    const int num = clique_count();
    const int pieces = piece_count();
    for (int i = 0; i < num; i++) {
      if (!has_nodes(bound.mcslist[i]) || is_unlisted(i)) continue;
      if (best == -1) {
        best = i;
      } else if (bound.mcslist[i].score > bound.mcslist[best].score) {
        best = i;
      } else if (bound.mcslist[i].score == bound.mcslist[best].score) {
        // Equal scores: the clique holding the higher-ranked piece that the
        // other lacks wins; identical rows keep the earlier clique.
        const char *rb = table_row(best);
        const char *rc = table_row(i);
        for (int s = 0; s < pieces; s++) {
          if (rb[s] != rc[s]) {
            if (rc[s] != 0) best = i;
            break;
          }
        }
      }
    }
  }
  if (ri != nullptr) *ri = best;
  if (rm != nullptr) *rm = best >= 0 ? &bound.mcslist[best] : nullptr;
  if (rs != nullptr) *rs = bound.sccslist;
  if (rt != nullptr) *rt = bound.mcs_sccs_table;
  if (rn != nullptr) *rn = bound.nodelist;
}
