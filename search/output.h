// Safe and resumable output of a screen.
//
// An output file is written under a temporary name beside it (FILE.part) and
// renamed to FILE only when the screen is complete, so that FILE is never seen
// half written: after an error or an interruption it is exactly what it was.
// FILE.part is locked for the screen's whole life: a second screen of the same
// FILE is refused before it touches anything. FILE.part and the state file are
// never written through a symbolic link, and FILE keeps the mode of the file
// it replaces.
// While the screen runs, the point up to which the rows are complete is saved
// about once a second in FILE.resume, with a fingerprint of the options and
// inputs; rows a pass holds back for later queries are kept in FILE.spill
// and the state says how far each of its queries got. An interrupted screen
// keeps these files, and the same command with --resume continues from there.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "search/stream.h"

namespace screen {

// A failed write or file operation; errno as it was then.
struct WriteError {
  int error;
  std::string path;
};

// A resume that cannot go on: the message says why.
struct ResumeRefused {
  std::string message;
};

// An output this screen may not write: another screen holds it, or its
// temporary name is a symbolic link. Nothing was touched.
struct OutputRefused {
  std::string message;
};

// Rows to an open stream (standard output): nothing to resume.
class StreamSink final : public RowSink {
 public:
  StreamSink(FILE *fp, std::string name) : fp_(fp), name_(std::move(name)) {}
  void write(std::string_view rows) override;
  void checkpoint(std::int64_t) override {}
  void flush();  // throws WriteError

 private:
  FILE *fp_;
  std::string name_;
  std::string buf_;
};

class SafeOutput final : public RowSink {
 public:
  // Starts FILE.part afresh with `header`, or with `resume` continues the
  // kept one when FILE.resume carries the same fingerprint (ResumeRefused
  // otherwise). Without `resumable` no state is ever saved.
  SafeOutput(std::string path, std::string fingerprint, std::string_view header, bool resume,
             bool resumable);
  ~SafeOutput() override;
  SafeOutput(const SafeOutput &) = delete;
  SafeOutput &operator=(const SafeOutput &) = delete;

  // Pairs already done by the interrupted run (0 for a fresh one).
  std::int64_t resume_point() const { return start_pairs_; }

  void write(std::string_view rows) override;
  void checkpoint(std::int64_t pairs) override;
  void pass_checkpoint(std::int64_t pairs, const PassPoint *pass) override;
  bool save_due() const override;
  FILE *spill_file(bool resumed) override;
  const PassPoint *resumed_pass() const override { return resumed_ ? &*resumed_ : nullptr; }

  // The screen is complete: FILE.part becomes FILE, FILE.resume goes.
  void commit();
  // The screen was interrupted: the complete rows and the point stay for a
  // resume (when resumable; otherwise both files go). FILE is not touched.
  void keep_for_resume();
  // The screen failed: both files go, FILE is not touched.
  void abandon();

  const std::string &partial_path() const { return part_; }
  std::int64_t checkpoint_pairs() const { return pairs_; }
  // Size and CRC-32 of everything written so far (the whole file once
  // committed).
  std::uint64_t bytes_written() const { return written_; }
  std::uint32_t crc_written() const { return written_crc_; }

 private:
  void flush();
  void read_state();
  int open_part(bool create);    // FILE.part opened and locked; throws OutputRefused
  void continue_part(int fd);    // an interrupted run's rows and spill, checked
  void open_spill(bool resume);  // FILE.spill, checked against the state on a resume
  void close_spill(bool remove);
  std::string spill_link_message() const;
  void save_state();

  std::string path_, part_, state_, spill_path_, fingerprint_;
  bool resumable_;
  FILE *fp_ = nullptr;
  std::string buf_;
  std::uint64_t written_ = 0;      // bytes in the file and the buffer
  std::int64_t start_pairs_ = 0;   // where this run began
  std::int64_t pairs_ = 0;         // last checkpoint: pairs complete...
  std::uint64_t bytes_ = 0;        // ...the bytes of their rows...
  std::uint32_t crc_ = 0;          // ...and their CRC-32
  std::uint32_t written_crc_ = 0;  // CRC-32 of the file and the buffer
  std::optional<PassPoint> pass_;  // ...and the pass under way
  bool saved_pass_ = false;        // the saved state names a pass (its spill is in use)
  std::optional<PassPoint> resumed_;
  FILE *spill_ = nullptr;
  std::chrono::steady_clock::time_point saved_;
};

// The key (first word) of the first "key value" line in which two
// fingerprints differ; empty when they are the same.
std::string first_difference(const std::string &a, const std::string &b);

// What an input holds, told by its content: its size and CRC-32 (a file
// changed in place with its modification time restored is still told apart).
std::string input_content(const std::string &path);
// The fingerprint line of an input file: its name and content.
std::string input_fingerprint(const std::string &path);

// SIGINT and SIGTERM set a flag instead of ending the process; a second
// one ends it, unless `again` (the launcher of an MPI job ends a rank that
// takes too long by SIGKILL anyway).
void catch_interrupts(bool again = false);
// The signal that arrived (0 when none).
int interrupt_signal();

}  // namespace screen
