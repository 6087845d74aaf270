#include "qtrscan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cpdio.h"

namespace qtrscan {

namespace {

// fgets with the reader's 8192-byte buffer returns at most this many bytes.
constexpr std::size_t kPiece = 8191;

bool starts(std::string_view line, std::string_view word) {
  return line.size() >= word.size() && std::memcmp(line.data(), word.data(), word.size()) == 0;
}

// The text of a line as the reader's string functions see it: up to a NUL.
std::string_view text_of(std::string_view piece) {
  const void *nul = std::memchr(piece.data(), '\0', piece.size());
  return nul ? piece.substr(0, static_cast<const char *>(nul) - piece.data()) : piece;
}

// True where the text stops: its end, the LF, or a CR right before either.
bool at_end(std::string_view text, std::size_t i) {
  return i >= text.size() || text[i] == '\n' ||
         (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] == '\n'));
}

bool blank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

bool is_continuation(std::string_view piece) {
  if (piece.empty()) return false;
  const char c = piece[0];
  if (c == ' ' || c == '\t' || c == '\n' || c == '\0') return true;
  return c == '\r' && (piece.size() == 1 || piece[1] == '\n' || piece[1] == '\0');
}

std::string_view entry_name(std::string_view piece) {
  const std::string_view text = text_of(piece);
  std::size_t i = 0;
  for (int field = 1;; field++) {
    while (!at_end(text, i) && blank(text[i])) i++;
    if (at_end(text, i)) return {};
    const std::size_t start = i;
    while (!at_end(text, i) && !blank(text[i])) i++;
    if (field == 2) return text.substr(start, i - start);
  }
}

Scanner::Scanner(int fd, std::size_t block) : fd_(fd), buf_(std::max(block, 2 * kPiece)) {}

bool Scanner::fill() {
  // Keep the unread tail (shorter than a piece) and read behind it.
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    base_ += pos_;
    end_ -= pos_;
    pos_ = 0;
  }
  for (;;) {
    const ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = errno;
    eof_ = true;
    return false;
  }
}

std::string_view Scanner::piece() {
  for (;;) {
    const std::size_t avail = end_ - pos_;
    const std::size_t look = std::min(avail, kPiece);
    const char *p = buf_.data() + pos_;
    if (const void *lf = std::memchr(p, '\n', look)) {
      const std::size_t n = static_cast<std::size_t>(static_cast<const char *>(lf) - p) + 1;
      pos_ += n;
      return {p, n};
    }
    if (look == kPiece || (eof_ && avail > 0)) {
      pos_ += look;
      return {p, look};
    }
    if (eof_) return {};
    fill();
  }
}

bool Scanner::next(Record &rec, const Capture &capture) {
  rec.name.clear();
  rec.text.clear();
  rec.atoms = 0;
  rec.size = 0;
  rec.cut = false;
  rec.captured = false;
  if (done_) return false;

  std::string_view line = piece();
  if (!starts(line, "ENTRY")) {
    done_ = true;  // the end, or a line where a record should begin
    return false;
  }
  rec.offset = consumed() - line.size();
  rec.name = entry_name(line);
  if (first_letter_ == 0) {
    const std::string_view text = text_of(line);
    if (text.size() > 12 && !at_end(text, 12)) first_letter_ = text[12];
  }
  rec.captured = capture && capture(rec.name);
  // Each piece is copied before the next one is read: a refill moves them.
  auto read = [&] {
    line = piece();
    if (rec.captured) rec.text.append(line);
    return !line.empty();
  };
  auto finish = [&] {
    rec.size = consumed() - rec.offset;
    return true;
  };
  // The input ended inside the record: the reader keeps what it read.
  auto cut = [&] {
    rec.cut = true;
    return finish();
  };
  if (rec.captured) rec.text.append(line);

  if (!read()) {  // nothing after ENTRY: the reader drops the record
    done_ = true;
    return false;
  }
  while (!starts(line, "ATOM")) {
    if (starts(line, "///")) return finish();
    if (!read()) return cut();
  }
  for (;;) {
    if (!read()) return cut();
    if (!is_continuation(line)) break;
    rec.atoms++;
  }
  if (starts(line, "///")) return finish();
  while (!starts(line, "BOND")) {
    if (starts(line, "///")) return finish();
    if (!read()) return cut();
  }
  for (;;) {
    if (!read()) return cut();
    if (starts(line, "///")) return finish();
    if (!is_continuation(line)) break;
  }
  for (;;) {
    if (!read()) return cut();
    if (starts(line, "///")) return finish();
  }
}

// ---------------------------------------------------------------------------

EntryFinder::EntryFinder(const std::vector<const char *> &typed) {
  // Completing with two different default letters tells whether the result
  // takes the default letter at all, with the reader's own completion rules.
  const char saved = _global_first_;
  for (const char *id : typed) {
    Wanted w;
    char *name = const_cast<char *>(id);
    _global_first_ = 'A';
    char *a = complete_EntryName(name);
    _global_first_ = 'B';
    char *b = complete_EntryName(name);
    const std::string sa = a != nullptr ? a : "", sb = b != nullptr ? b : "";
    if (a != name) std::free(a);
    if (b != name) std::free(b);
    if (sa != sb) {
      w.by_letter = true;
      w.digits = sa.substr(1);
    } else {
      w.fixed = sa;
    }
    wanted_.push_back(std::move(w));
  }
  _global_first_ = saved;
}

namespace {

bool letter_match(std::string_view name, const std::string &digits) {
  return name.size() == digits.size() + 1 && name.substr(1) == digits;
}

}  // namespace

bool EntryFinder::wants(std::string_view name) const {
  for (const Wanted &w : wanted_) {
    if (w.by_letter ? letter_match(name, w.digits) && !w.letters.contains(name[0])
                    : w.first.index < 0 && name == w.fixed) {
      return true;
    }
  }
  return false;
}

void EntryFinder::offer(const Record &rec, std::int64_t index) {
  for (Wanted &w : wanted_) {
    if (w.by_letter) {
      if (letter_match(rec.name, w.digits)) w.letters.try_emplace(rec.name[0], Match{index, rec});
    } else if (w.first.index < 0 && rec.name == w.fixed) {
      w.first = Match{index, rec};
    }
  }
}

const EntryFinder::Match &EntryFinder::result(std::size_t i, char letter) const {
  const Wanted &w = wanted_.at(i);
  if (!w.by_letter) return w.first;
  const auto it = w.letters.find(letter != 0 ? letter : 'C');
  return it != w.letters.end() ? it->second : none_;
}

CPDMOL *read_record(std::string_view text) {
  if (text.empty()) return nullptr;
  FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  if (fp == nullptr) return nullptr;
  CPDMOL *mol = read_CPDMOL_QTR(fp);
  std::fclose(fp);
  return mol;
}

}  // namespace qtrscan
