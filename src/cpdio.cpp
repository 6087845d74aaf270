#include "cpdio.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

char _global_first_ = 0;

// Everything the reader and the environment builders hand out lives until the
// process ends. It is kept here, reachable from one immortal object, so that a
// run (or a leak checker) never sees it as lost. Strings are packed into large
// chunks: a compound file is mostly short atom and bond lines, and a separate
// heap block per line would cost a third again on top of the text.
class CpdStore {
 public:
  CpdStore() = default;
  CpdStore(const CpdStore &) = delete;
  CpdStore &operator=(const CpdStore &) = delete;
  ~CpdStore() { clear(); }

  // Copy of n characters at s, terminated.
  char *copy(const char *s, size_t n) {
    const size_t need = n + 1;
    if (need > left_) {
      const size_t size = need > kChunk ? need : kChunk;
      chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));
      cur_ = chunks_.back().get();
      left_ = size;
    }
    char *out = cur_;
    if (n > 0) std::memcpy(out, s, n);
    out[n] = '\0';
    cur_ += need;
    left_ -= need;
    return out;
  }
  char *copy(std::string_view s) { return copy(s.data(), s.size()); }

  CPDMOL *record(const CPDMOL &mol) { return &records_.emplace_back(mol); }

  // Zero-filled block of `bytes` bytes (at least one), or null when memory is
  // exhausted. Large zeroed blocks come from the allocator as untouched pages,
  // so a big matrix costs only the pages that are written.
  void *zeroed(size_t bytes) {
    void *p = std::calloc(bytes ? bytes : 1, 1);
    if (p) blocks_.emplace_back(p);
    return p;
  }

  // Releases everything handed out, the records' line lists included.
  void clear() {
    for (CPDMOL &mol : records_) {
      delete mol.node;
      delete mol.connect;
    }
    records_.clear();
    blocks_.clear();
    chunks_.clear();
    cur_ = nullptr;
    left_ = 0;
  }

 private:
  struct Free {
    void operator()(void *p) const { std::free(p); }
  };
  static constexpr size_t kChunk = 256 * 1024;
  std::vector<std::unique_ptr<char[]>> chunks_;
  char *cur_ = nullptr;
  size_t left_ = 0;
  std::deque<CPDMOL> records_;
  std::vector<std::unique_ptr<void, Free>> blocks_;
};

namespace {

// The arena the calling thread reads into, if any, and whether exhausted
// memory is to be reported by an exception there.
thread_local CpdStore *current_store = nullptr;
thread_local bool store_throws = false;

CpdStore &store() {
  static CpdStore &s = *new CpdStore;  // never destroyed: records outlive every static
  return current_store != nullptr ? *current_store : s;
}

// The tool ends on exhausted memory; a program that keeps its records in an
// arena gets an exception it can report and survive.
[[noreturn]] void out_of_memory(const char *where) {
  if (store_throws) throw std::bad_alloc();
  std::fprintf(stderr, "%s: can't allocate memory\n", where);
  std::exit(9);
}

constexpr int kLineBuffer = 8192;

// Reads the stream line by line as fgets does: a line longer than the buffer
// comes back in pieces.
class LineReader {
 public:
  explicit LineReader(FILE *fp) : fp_(fp) {}
  bool next() { return fp_ != nullptr && std::fgets(buf_, kLineBuffer, fp_) != nullptr; }
  const char *line() const { return buf_; }

 private:
  FILE *fp_;
  char buf_[kLineBuffer];
};

// True where the text of a line stops: at its terminator, at the LF, or at a CR
// that stands right before either of them.
bool at_line_end(const char *p) {
  return *p == '\0' || *p == '\n' || (*p == '\r' && (p[1] == '\n' || p[1] == '\0'));
}

// The number-th (from 1) maximal run of characters that are neither in `delims`
// nor part of the line end; empty when the line has fewer tokens. Same tokens as
// strtoken with the line-end characters added to the set, without its copy.
std::string_view line_token(const char *s, std::string_view delims, int number) {
  if (s == nullptr || number <= 0) return {};
  // The sets are a character or two: a loop the compiler unrolls, where a
  // find() would call memchr for every character of the line.
  auto is_delim = [delims](char c) {
    for (const char d : delims)
      if (d == c) return true;
    return false;
  };
  const char *p = s;
  for (;;) {
    while (!at_line_end(p) && is_delim(*p)) ++p;
    if (at_line_end(p)) return {};
    const char *start = p;
    while (!at_line_end(p) && !is_delim(*p)) ++p;
    if (--number == 0) return {start, static_cast<size_t>(p - start)};
  }
}

constexpr std::string_view kBlanks = " \t";

bool starts_with(const char *line, std::string_view word) {
  return std::strncmp(line, word.data(), word.size()) == 0;
}
bool is_entry(const char *line) {
  return starts_with(line, "ENTRY");
}
bool is_name(const char *line) {
  return starts_with(line, "NAME");
}
bool is_atom_header(const char *line) {
  return starts_with(line, "ATOM");
}
bool is_bond_header(const char *line) {
  return starts_with(line, "BOND");
}
bool is_record_end(const char *line) {
  return starts_with(line, "///");
}
bool is_continuation(const char *line) {
  return line[0] == ' ' || line[0] == '\t' || at_line_end(line);
}

// Index of the column where ENTRY and NAME values start.
constexpr size_t kValueColumn = 12;

// True when the line has text (not its line end) at the value column.
bool has_value_column(const char *line) {
  return std::strlen(line) > kValueColumn && !at_line_end(line + kValueColumn);
}

void add_line(CompList *list, const char *line) {
  complist_add(list, store().copy(line, std::strlen(line)));
}

// Reads the atom number in a bond line's token; 0 unless it is a number
// naming one of the record's atoms.
int atom_number(std::string_view token, int nodenum) {
  if (token.empty()) return 0;
  const std::string text(token);
  char *end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || v < 1 || v > nodenum) return 0;
  return static_cast<int>(v);
}

bool marks_neighbours(const char *nid) {
  return std::strcmp(nid, "R") == 0 || std::strcmp(nid, "*") == 0;
}

}  // namespace

CPDMOL *read_CPDMOL_QTR(FILE *fp) {
  LineReader in(fp);
  if (!in.next() || !is_entry(in.line())) return nullptr;

  CPDMOL mol{};
  // A missing identifier becomes the empty string, which no completed
  // look-up name can equal.
  mol.name = store().copy(line_token(in.line(), kBlanks, 2));
  if (_global_first_ == 0 && has_value_column(in.line())) _global_first_ = in.line()[kValueColumn];

  if (!in.next()) return nullptr;  // nothing after ENTRY: the record is dropped
  if (is_name(in.line()) && has_value_column(in.line())) {
    const std::string_view first = line_token(in.line() + kValueColumn, ";\t", 1);
    if (!first.empty()) mol.definition = store().copy(first);
  }

  mol.node = complist_new();
  mol.connect = complist_new();
  CPDMOL *rec = store().record(mol);

  while (!is_atom_header(in.line())) {
    if (is_record_end(in.line()) || !in.next()) return rec;
  }
  for (;;) {
    if (!in.next()) return rec;
    if (!is_continuation(in.line())) break;
    add_line(rec->node, in.line());
    // Counted from the list, so that the count always equals its length.
    rec->nodenum = complist_numberof(rec->node);
    rec->nodenum_sub = rec->nodenum;
  }
  if (is_record_end(in.line())) return rec;

  while (!is_bond_header(in.line())) {
    if (is_record_end(in.line()) || !in.next()) return rec;
  }
  for (;;) {
    if (!in.next() || is_record_end(in.line())) return rec;
    if (!is_continuation(in.line())) break;
    add_line(rec->connect, in.line());
  }
  for (;;) {
    if (!in.next() || is_record_end(in.line())) return rec;
  }
}

CompList *read_CPDMOL_list_QTR(FILE *fp) {
  CompList *list = complist_new();
  if (list == nullptr) return nullptr;
  while (CPDMOL *mol = read_CPDMOL_QTR(fp)) complist_add(list, mol);
  return list;
}

char *complete_EntryName(char *name) {
  if (name == nullptr) return nullptr;
  const size_t len = std::strlen(name);
  if (len > 6) return name;

  const auto *s = reinterpret_cast<const unsigned char *>(name);
  char letter = 0;
  size_t first_digit = 0;
  if (len > 0 && std::isalpha(s[0])) {
    letter = static_cast<char>(std::toupper(s[0]));
    first_digit = 1;
  }
  for (size_t i = first_digit; i < len; ++i) {
    if (!std::isdigit(s[i])) return name;
  }
  if (letter == 0) letter = _global_first_ != 0 ? _global_first_ : 'C';

  // Five digit places at least; six bare digits keep all six.
  const size_t digits = len - first_digit;
  const size_t places = digits < 5 ? 5 : digits;
  auto *out = static_cast<char *>(std::malloc(1 + places + 1));
  if (out == nullptr) return name;
  out[0] = letter;
  std::memset(out + 1, '0', places - digits);
  std::memcpy(out + 1 + places - digits, name + first_digit, digits);
  out[1 + places] = '\0';
  return out;
}

int compare_CPDMOL(const void *a, const void *b) {
  const char *x = a ? static_cast<const CPDMOL *>(a)->name : nullptr;
  const char *y = b ? static_cast<const CPDMOL *>(b)->name : nullptr;
  if (x == nullptr || y == nullptr) return (x != nullptr) - (y != nullptr);
  return std::strcmp(x, y);
}

int nsearch_CPDMOL(CompList *list, char *name) {
  if (list == nullptr || name == nullptr) return 0;
  char *full = complete_EntryName(name);
  CPDMOL probe{};
  probe.name = full;
  const int pos = complist_search_num(list, &probe, compare_CPDMOL);
  if (full != name) std::free(full);
  return pos;
}

CPDMOL *search_CPDMOL(CompList *list, char *name) {
  const int pos = nsearch_CPDMOL(list, name);
  return pos > 0 ? static_cast<CPDMOL *>(complist_getdata(list, pos)) : nullptr;
}

CPDMOL *cnode_CPDMOL(CPDMOL *mol) {
  if (mol == nullptr) return mol;
  const int n = mol->nodenum > 0 ? mol->nodenum : 0;
  auto *cnode = static_cast<CNODE *>(store().zeroed(sizeof(CNODE) * static_cast<size_t>(n)));
  if (cnode == nullptr) out_of_memory("cnode_CPDMOL");

  int excluded = 0;
  for (int k = 0; k < n; ++k) {
    const auto *line =
        static_cast<const char *>(mol->node ? complist_getdata(mol->node, k + 1) : nullptr);
    const std::string_view nid = line_token(line, kBlanks, 2);
    const std::string_view aid = line_token(line, kBlanks, 3);
    CNODE &c = cnode[k];
    // The type is all the default docking needs, so a line with a type keeps
    // it; a missing element is the empty string, which pairs only with
    // another empty element. A line without a type (blank, led by NUL, or a
    // number alone) cannot be matched: the atom keeps its number but is left
    // out like a hydrogen.
    c.nid = store().copy(nid);
    c.aid = store().copy(aid);
    c.HAflag = (nid.empty() || nid == "H" || nid == "*") ? 1 : 0;
    c.RAneighbor = 0;
    excluded += c.HAflag;
  }
  mol->cnode = cnode;
  mol->nodenum_sub = n - excluded;
  return mol;
}

CPDMOL *matrix_CPDMOL(CPDMOL *mol) {
  if (mol == nullptr) return mol;
  if (mol->cnode == nullptr) cnode_CPDMOL(mol);
  const int n = mol->nodenum > 0 ? mol->nodenum : 0;
  const size_t side = static_cast<size_t>(n);
  auto *m = static_cast<char *>(store().zeroed(side * side));
  if (m == nullptr) out_of_memory("matrix_CPDMOL");
  for (size_t i = 0; i < side; ++i) m[i * side + i] = 1;

  const int bonds = mol->connect ? complist_numberof(mol->connect) : 0;
  for (int k = 1; k <= bonds; ++k) {
    const auto *line = static_cast<const char *>(complist_getdata(mol->connect, k));
    // Lines that do not name two of the record's atoms are ignored.
    const int p = atom_number(line_token(line, kBlanks, 2), n);
    const int q = atom_number(line_token(line, kBlanks, 3), n);
    if (p == 0 || q == 0) continue;
    const size_t a = static_cast<size_t>(p - 1), b = static_cast<size_t>(q - 1);
    m[a * side + b] = 1;
    m[b * side + a] = 1;
    if (marks_neighbours(mol->cnode[a].nid)) mol->cnode[b].RAneighbor = 1;
    if (marks_neighbours(mol->cnode[b].nid)) mol->cnode[a].RAneighbor = 1;
  }
  mol->matrix = m;
  return mol;
}

RecordArena::RecordArena(bool throw_on_exhaustion)
    : store_(std::make_unique<CpdStore>()), throws_(throw_on_exhaustion) {}
RecordArena::~RecordArena() = default;

RecordArena::Scope::Scope(RecordArena &arena) : saved_(current_store), saved_throws_(store_throws) {
  current_store = arena.store_.get();
  store_throws = arena.throws_;
}
RecordArena::Scope::~Scope() {
  current_store = saved_;
  store_throws = saved_throws_;
}

void cpdio_reset() {
  store().clear();
  _global_first_ = 0;
}
