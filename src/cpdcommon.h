// Records shared by the compound reader, the similarity engine and the report.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>

#include "vembo.h"

// Capacity of the engine: docking nodes, cliques, pieces and nodes per piece.
constexpr int CPD_MAX = 10000;

// Environment of one atom.
typedef struct _compound_node_ {
  char *nid;        // environment type: token 2 of the atom line
  char *aid;        // element symbol: token 3 of the atom line
  char HAflag;      // 1 for types "H" and "*": never matched
  char RAneighbor;  // 1 when bonded to an atom of type "R" or "*"
} CNODE;

// One compound record as read from a QTR file.
typedef struct _compound_mol_ {
  char *name;        // entry identifier
  char *definition;  // first name, or null
  CompList *node;    // atom lines as read, line ends included
  CompList *connect; // bond lines as read
  int nodenum;       // number of atom lines
  int nodenum_sub;   // atoms that are neither "H" nor "*" (once cnode is built)
  CNODE *cnode;      // nodenum environments, or null until built
  char *matrix;      // nodenum x nodenum bond matrix, or null until built
} CPDMOL;

// One node of the docking graph: a pair of atoms that may be aligned.
typedef struct _docking_node_ {
  int e1;        // 0-based atom of the first compound
  int e2;        // 0-based atom of the second compound
  double score;  // 1.0 for equal environment types, else 0.5
  char ident;    // 1 for equal environment types
} DNODE;

// One clique of the docking graph.
typedef struct _graph_mcs_ {
  int vnum;      // number of nodes; 0 marks an emptied entry
  int *vlist;    // ascending node numbers, owned by the entry (malloc)
  double score;
} MCS;

// One connected piece of a clique.
typedef struct _graph_sccs_ {
  int vnum;
  int vlist[CPD_MAX];  // ascending node numbers in the first vnum entries
  double score;
} SCCS;

// Zero-filled storage for one T, taken from the OS as anonymous pages. Pages
// cost memory only once they are touched, so tables sized for the engine's
// capacity cost what a run uses of them.
template <class T>
class LazyZeroed {
 public:
  LazyZeroed() {
    void *p = mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    ptr_ = new (p) T;  // default-initialised: the zero pages stay untouched
  }
  ~LazyZeroed() {
    ptr_->~T();
    munmap(ptr_, sizeof(T));
  }
  LazyZeroed(const LazyZeroed &) = delete;
  LazyZeroed &operator=(const LazyZeroed &) = delete;

  T *get() const { return ptr_; }
  T *operator->() const { return ptr_; }
  T &operator*() const { return *ptr_; }

 private:
  T *ptr_;
};
