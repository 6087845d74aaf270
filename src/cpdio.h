// Compound input: QTR reader, entry look-up, atom environments, bond matrix.
#pragma once

#include <cstdio>
#include <memory>

#include "cpdcommon.h"

// Letter at index 12 of the first ENTRY line ever read (0 until then); the
// default letter of completed identifiers.
extern char _global_first_;

// Records, their strings, environments and matrices belong to this module and
// live until the process ends: callers never free them. complete_EntryName
// returns either its argument or a malloc'd string owned by the caller.
CPDMOL *read_CPDMOL_QTR(FILE *fp);
CompList *read_CPDMOL_list_QTR(FILE *fp);
char *complete_EntryName(char *name);
int nsearch_CPDMOL(CompList *list, char *name);
CPDMOL *search_CPDMOL(CompList *list, char *name);
int compare_CPDMOL(const void *a, const void *b);
CPDMOL *cnode_CPDMOL(CPDMOL *mol);
CPDMOL *matrix_CPDMOL(CPDMOL *mol);

// Records read, and environments and matrices built, on a thread while a
// Scope of an arena is active there belong to that arena and are released
// with it (by default they live until the process ends). A screen reads its
// targets block by block this way, with memory that does not grow with them.
class CpdStore;
class RecordArena {
 public:
  RecordArena();
  ~RecordArena();
  RecordArena(const RecordArena &) = delete;
  RecordArena &operator=(const RecordArena &) = delete;

  class Scope {
   public:
    explicit Scope(RecordArena &arena);
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

   private:
    CpdStore *saved_;
  };

 private:
  std::unique_ptr<CpdStore> store_;
};

// Testing and fuzzing support: releases every record, string, environment and
// matrix handed out so far (the records' line lists included) and clears
// _global_first_, as at process start. Every pointer obtained from this
// module before becomes invalid; lists returned by read_CPDMOL_list_QTR stay
// the caller's.
void cpdio_reset();

// A home of their own for records, for programs that read compounds again and
// again (the Python module). While a CpdioArena::Use is alive, everything the
// calling thread gets from the reader and the environment builders is
// allocated in that arena instead of living until exit, and exhausted memory
// throws std::bad_alloc instead of ending the process. Destroying the arena
// releases all of it at once, so no record of it may be used afterwards.
class CpdioArena {
 public:
  CpdioArena();
  ~CpdioArena();
  CpdioArena(const CpdioArena &) = delete;
  CpdioArena &operator=(const CpdioArena &) = delete;

  // Directs the calling thread's allocations to the arena for its lifetime.
  class Use {
   public:
    explicit Use(CpdioArena &arena);
    ~Use();
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

   private:
    void *previous_;
    bool previous_throws_;
  };

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
