// Fast record scanner for QTR input.
//
// Finds the records of a QTR stream at memory speed: the input is read in
// large blocks and split into lines with memchr, and only the first bytes of a
// line decide where a record begins and ends. The reading rules are the
// reader's (read_CPDMOL_QTR): lines come in pieces of at most 8191 bytes, a
// CR before the LF belongs to the line end, text stops at a NUL byte, and the
// scan stops at the first line where a record should begin but no ENTRY line
// stands. The bytes of a record, read back with read_CPDMOL_QTR, give the very
// record the reader would have made, since every record starts a line piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cpdcommon.h"

namespace qtrscan {

// One record found in the input.
struct Record {
  std::uint64_t offset = 0;  // byte offset of its ENTRY line
  std::uint64_t size = 0;    // bytes up to and including the line that ends it
  std::string name;          // the identifier: second field of the ENTRY line
  int atoms = 0;             // atom lines, counted as the reader counts them
  bool cut = false;          // the input ended before its "///" line
  bool captured = false;     // `text` holds the record's bytes
  std::string text;
};

class Scanner {
 public:
  // Decides from a record's identifier whether its bytes are kept.
  using Capture = std::function<bool(std::string_view name)>;

  // Reads from `fd` (not closed here) in blocks of `block` bytes.
  explicit Scanner(int fd, std::size_t block = std::size_t{1} << 20);

  // The next record, or false at the end of the records (or a read error).
  bool next(Record &rec, const Capture &capture = {});

  // The character at index 12 of the first ENTRY line that has one, as the
  // reader stores it for completing identifiers; 0 when there was none.
  char first_letter() const { return first_letter_; }
  int error() const { return error_; }  // errno of a failed read, else 0
  std::uint64_t consumed() const { return base_ + pos_; }

 private:
  // The next line piece as the reader's fgets sees it; empty at the end.
  std::string_view piece();
  bool fill();

  int fd_;
  std::vector<char> buf_;
  std::size_t pos_ = 0;     // first unread byte in buf_
  std::size_t end_ = 0;     // bytes held in buf_
  std::uint64_t base_ = 0;  // input offset of buf_[0]
  bool eof_ = false;
  bool done_ = false;
  int error_ = 0;
  char first_letter_ = 0;
};

// Predicates on one line piece, exactly as the reader applies them.
bool is_continuation(std::string_view piece);
// Second blank-separated field of a line (text ends at NUL and at the line end).
std::string_view entry_name(std::string_view piece);

// Finds, for identifiers typed by a user, the first record of the input whose
// name equals the identifier completed as nsearch_CPDMOL completes it. The
// default letter of the completion is only known once the input is read, so
// for a bare number the first record of every letter is remembered.
class EntryFinder {
 public:
  explicit EntryFinder(const std::vector<const char *> &typed);

  // For Scanner::next: true when the record may be one of the wanted ones.
  bool wants(std::string_view name) const;
  // Offers a scanned record (`index` counts records from 0).
  void offer(const Record &rec, std::int64_t index);

  struct Match {
    std::int64_t index = -1;  // -1: not in the input
    Record record;
  };
  // The match of the i-th identifier, once the input was scanned; `letter` is
  // Scanner::first_letter().
  const Match &result(std::size_t i, char letter) const;

 private:
  struct Wanted {
    std::string fixed;              // completed name, when it takes no default letter
    std::string digits;             // the digits after the letter, when it does
    bool by_letter = false;         // completion depends on the default letter
    Match first;                    // first match of `fixed`
    std::map<char, Match> letters;  // first match per letter
  };
  std::vector<Wanted> wanted_;
  Match none_;
};

// The record in `text` (the bytes of one scanned record) read with
// read_CPDMOL_QTR; null when it holds none.
CPDMOL *read_record(std::string_view text);

}  // namespace qtrscan
