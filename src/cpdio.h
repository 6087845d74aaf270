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
//
// A program that reads compounds again and again and must survive exhausted
// memory (the Python module) asks its arena to report it by an exception:
// std::bad_alloc is then thrown where the process would otherwise end.
class CpdStore;
class RecordArena {
 public:
  explicit RecordArena(bool throw_on_exhaustion = false);
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
    bool saved_throws_;
  };

 private:
  std::unique_ptr<CpdStore> store_;
  bool throws_;
};

// Testing and fuzzing support: releases every record, string, environment and
// matrix handed out so far (the records' line lists included) and clears
// _global_first_, as at process start. Every pointer obtained from this
// module before becomes invalid; lists returned by read_CPDMOL_list_QTR stay
// the caller's.
void cpdio_reset();
