#include "tokenizer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "complist.h"
#include "string1.h"
#include "string2.h"

namespace {

char flag_initialized = 0;
CompList *sts_list = nullptr;  // every known state, oldest first
STS *last_used_sts = nullptr;  // the most recently created state

struct StsDeleter {
  void operator()(STS *st) const {
    free(st->char_del);
    free(st->word_del);
    delete st;
  }
};
using StsPtr = std::unique_ptr<STS, StsDeleter>;

// Candidate state for s; a null s stands for the string of the last created
// state. Returns false when there is no string to work on.
bool get_STS(char *s, STS *candidate) {
  if (s == nullptr) {
    if (last_used_sts == nullptr) return false;
    s = last_used_sts->str_ptr;
  }
  *candidate = STS{s, nullptr, nullptr, s};
  return true;
}

int compare_STS(const void *a, const void *b) {
  const auto *x = static_cast<const STS *>(a);
  const auto *y = static_cast<const STS *>(b);
  return x != nullptr && y != nullptr && x->str_ptr == y->str_ptr ? 0 : 1;
}

STS *find_STS(STS *candidate) {
  return static_cast<STS *>(complist_search_data(sts_list, candidate, compare_STS));
}

// Replaces *field by a private copy of del; a null del inherits the field of
// the previously last used state when the state has none yet.
void set_delimiter(char *STS::*field, STS *st, const char *del, const STS *previous) {
  if (del != nullptr) {
    char *copy = strwrap(del);  // copied before the old one goes, in case they alias
    free(st->*field);
    st->*field = copy;
  } else if (st->*field == nullptr && previous != nullptr && previous->*field != nullptr) {
    st->*field = strwrap(previous->*field);
  }
}

// The state of s with its delimiter updated; creates and registers it when s
// has none. Null when there is no string.
STS *use_STS(char *s, char *STS::*field, const char *del) {
  strtokenizer_init();
  STS candidate;
  if (!get_STS(s, &candidate)) return nullptr;
  const STS *previous = last_used_sts;
  STS *st = find_STS(&candidate);
  if (st != nullptr) {
    set_delimiter(field, st, del, previous);
    return st;
  }
  StsPtr fresh(new STS(candidate));
  set_delimiter(field, fresh.get(), del, previous);
  last_used_sts = fresh.release();
  complist_add(sts_list, last_used_sts);
  return last_used_sts;
}

// Where the scan starts: the resume point for number 0, the string's start
// for a positive number.
const char *scan_start(const STS *st, int number) {
  if (number < 0) return nullptr;
  return number == 0 ? st->next_ptr : st->str_ptr;
}

char *take_token(STS *st, const char *start, const char *end) {
  if (start == nullptr) return nullptr;  // no token: the resume point stays
  st->next_ptr = const_cast<char *>(end);
  const size_t n = end != nullptr ? static_cast<size_t>(end - start) : strlen(start);
  return strtoken_keep(start, n);
}

char *get_char_token(STS *st, int number) {
  const char *from = scan_start(st, number);
  if (from == nullptr || st->char_del == nullptr) return nullptr;
  const char *end = nullptr;
  const char *start = strtoken_scan(from, st->char_del, number == 0 ? 1 : number, &end);
  return take_token(st, start, end);
}

char *get_word_token(STS *st, int number) {
  const char *from = scan_start(st, number);
  if (from == nullptr || st->word_del == nullptr) return nullptr;
  const char *end = nullptr;
  const char *start = strwtoken_scan(from, st->word_del, number == 0 ? 1 : number, &end);
  return take_token(st, start, end);
}

// Flushed states leave holes in the list; close them up once they outnumber the
// live states, so that a long run of tokenize-and-flush never fills the list.
void compact_if_sparse() {
  if (sts_list == nullptr) return;
  const long used =
      static_cast<long>(sts_list->lastidx_list) * sts_list->base + sts_list->lastidx_data + 1;
  if (used > 2L * sts_list->totalnum + 64) complist_gc(sts_list);
}

const char *or_null(const char *s) {
  return s != nullptr ? s : "(null)";
}

}  // namespace

int print_STS(void *item, int /*position*/) {
  const auto *st = static_cast<const STS *>(item);
  if (st == nullptr) {
    printf("[ data is null ]\n");
    return 0;
  }
  printf(" str=[%s] next=[%s] char=[%s] word=[%s]\n", or_null(st->str_ptr), or_null(st->next_ptr),
         or_null(st->char_del), or_null(st->word_del));
  return 0;
}

void strtokenizer_init() {
  if (flag_initialized != 0) return;
  flag_initialized = 1;
  sts_list = complist_new();
  last_used_sts = nullptr;
}

char *strntokenizer(char *s, const char *char_del, int number) {
  STS *st = use_STS(s, &STS::char_del, char_del);
  return st != nullptr ? get_char_token(st, number) : nullptr;
}

char *strtokenizer(char *s, const char *char_del) {
  return strntokenizer(s, char_del, 0);
}

char *strwntokenizer(char *s, const char *word_del, int number) {
  STS *st = use_STS(s, &STS::word_del, word_del);
  return st != nullptr ? get_word_token(st, number) : nullptr;
}

char *strwtokenizer(char *s, const char *word_del) {
  return strwntokenizer(s, word_del, 0);
}

int strtokenizer_flush(char *s) {
  strtokenizer_init();
  STS candidate;
  if (!get_STS(s, &candidate)) return 0;
  STS *st = find_STS(&candidate);
  if (st == nullptr) return 0;
  const int removed = complist_remove(sts_list, st);
  if (st == last_used_sts) last_used_sts = nullptr;
  StsDeleter{}(st);
  compact_if_sparse();
  return removed;
}

void strtokenizer_finish() {
  strtokenizer_init();
  for (int i = 1; i <= complist_numberof(sts_list); ++i) {
    StsDeleter{}(static_cast<STS *>(complist_getdata(sts_list, i)));
  }
  complist_clear(sts_list);
  last_used_sts = nullptr;
}

void strtokenizer_debug() {
  strtokenizer_init();
  complist_print(sts_list, print_STS);
}
