#include "search/output.h"

#include "search/checksum.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace screen {

namespace {

constexpr std::size_t kBuffer = 1 << 16;
// A running screen saves its state at most this often.
constexpr auto kSaveInterval = std::chrono::seconds(1);
// Version 2 carries checksums of the kept rows and of the state itself;
// version 3 may add the line of a pass under way. Both are read.
constexpr const char *kStateTag = "taviron-search resume 3";
constexpr const char *kStateTag2 = "taviron-search resume 2";

volatile std::sig_atomic_t caught_signal = 0;

extern "C" void on_interrupt(int sig) {
  caught_signal = sig;
}

// "qa qb head bytes crc done..." of a pass under way.
std::string pass_text(const PassPoint &p) {
  std::ostringstream text;
  text << p.qa << ' ' << p.qb << ' ' << p.head << ' ' << p.spill_bytes << ' ' << hex32(p.spill_crc);
  for (const std::int64_t d : p.done) text << ' ' << d;
  return text.str();
}

std::optional<PassPoint> parse_pass(const std::string &text) {
  std::istringstream in(text);
  PassPoint p;
  std::string crc;
  if (!(in >> p.qa >> p.qb >> p.head >> p.spill_bytes >> crc) || crc.size() != 8) return {};
  char *end = nullptr;
  p.spill_crc = static_cast<std::uint32_t>(std::strtoul(crc.c_str(), &end, 16));
  for (std::int64_t d = 0; in >> d;) p.done.push_back(d);
  if (*end != 0 || !in.eof() || p.qa < 0 || p.qb <= p.qa ||
      p.done.size() != static_cast<std::size_t>(p.qb - p.qa)) {
    return {};
  }
  return p;
}

}  // namespace

void StreamSink::write(std::string_view rows) {
  buf_ += rows;
  if (buf_.size() >= kBuffer) flush();
}

void StreamSink::flush() {
  errno = 0;
  if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), fp_) != buf_.size()) {
    throw WriteError{errno != 0 ? errno : EIO, name_};
  }
  buf_.clear();
}

SafeOutput::SafeOutput(std::string path, std::string fingerprint, std::string_view header,
                       bool resume, bool resumable)
    : path_(std::move(path)),
      part_(path_ + ".part"),
      state_(path_ + ".resume"),
      spill_path_(path_ + ".spill"),
      fingerprint_(std::move(fingerprint)),
      resumable_(resumable),
      saved_(std::chrono::steady_clock::now()) {
  if (resume && access(state_.c_str(), F_OK) != 0) {
    throw ResumeRefused{"nothing to resume: " + state_ + " not found"};
  }
  // Told before anything is touched; opening it never follows a link anyway.
  struct stat link {};
  if (resumable_ && lstat(spill_path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    throw OutputRefused{spill_link_message()};
  }
  const int fd = open_part(!resume);
  if (resume) {
    continue_part(fd);
    return;
  }
  // An earlier interrupted run of this output is replaced, not continued.
  if (ftruncate(fd, 0) != 0 || (fp_ = fdopen(fd, "w")) == nullptr) {
    const int error = errno;
    close(fd);
    throw WriteError{error, part_};
  }
  std::remove(state_.c_str());
  try {
    open_spill(false);
  } catch (...) {
    close_spill(false);
    std::fclose(fp_);
    fp_ = nullptr;
    throw;
  }
  write(header);
  bytes_ = written_;
  crc_ = written_crc_;
}

// The kept rows of an interrupted run, checked against its state, and its
// spill; FILE.part (open as `fd`) goes on after them.
void SafeOutput::continue_part(int fd) {
  try {
    read_state();
  } catch (...) {
    close(fd);
    throw;
  }
  // A constructor that throws runs no destructor: the stream goes here.
  const auto drop = [&] {
    const int error = errno;
    if (fp_ != nullptr) std::fclose(fp_);
    if (fp_ == nullptr) close(fd);
    fp_ = nullptr;
    return error;
  };
  fp_ = fdopen(fd, "r+");
  struct stat st {};
  if (fp_ == nullptr || fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < bytes_) {
    drop();
    throw ResumeRefused{"cannot resume " + path_ + ": " + part_ + " is missing or too short"};
  }
  // The kept rows must be the ones the state was saved for.
  const std::optional<FileSum> kept = file_sum(part_, bytes_);
  if (!kept || kept->crc != crc_) {
    drop();
    throw ResumeRefused{"cannot resume " + path_ + ": " + part_ +
                        " does not match its resume state (run without --resume to start "
                        "again)"};
  }
  try {
    open_spill(true);
  } catch (...) {
    close_spill(false);
    drop();
    throw;
  }
  // Rows past the saved point may be cut short: they are done again.
  if (ftruncate(fd, static_cast<off_t>(bytes_)) != 0 || fseeko(fp_, 0, SEEK_END) != 0) {
    throw WriteError{drop(), part_};
  }
  written_ = bytes_;
  written_crc_ = crc_;
  start_pairs_ = pairs_;
}

void SafeOutput::open_spill(bool resume) {
  if (!resumable_) return;
  const std::uint64_t keep = resume && resumed_ ? resumed_->spill_bytes : 0;
  const std::string refused = "cannot resume " + path_ + ": " + spill_path_ +
                              " does not match its resume state (run without --resume to start "
                              "again)";
  // Never through a link, as FILE.part; rows kept aside must be there.
  const int fd =
      open(spill_path_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | (keep ? 0 : O_CREAT), 0600);
  if (fd < 0 && errno == ELOOP) throw OutputRefused{spill_link_message()};
  if (fd < 0 && errno == ENOENT && keep > 0) throw ResumeRefused{refused};
  if (fd < 0) throw WriteError{errno, spill_path_};
  if ((spill_ = fdopen(fd, "r+")) == nullptr) {
    const int error = errno;
    close(fd);
    throw WriteError{error, spill_path_};
  }
  if (keep > 0) {
    const std::optional<FileSum> kept = file_sum(spill_path_, keep);
    if (!kept || kept->size != keep || kept->crc != resumed_->spill_crc) {
      throw ResumeRefused{refused};
    }
  }
  // Past the saved point the rows are done again.
  if (ftruncate(fd, static_cast<off_t>(keep)) != 0) throw WriteError{errno, spill_path_};
}

std::string SafeOutput::spill_link_message() const {
  return "cannot write " + path_ + ": " + spill_path_ + " is a symbolic link (remove it first)";
}

void SafeOutput::close_spill(bool remove) {
  if (spill_ != nullptr) std::fclose(spill_);
  spill_ = nullptr;
  if (remove) std::remove(spill_path_.c_str());
}

FILE *SafeOutput::spill_file(bool resumed) {
  if (spill_ == nullptr) return nullptr;
  // A new pass empties the file: the state saved at the end of the one
  // before no longer needs it.
  if (std::fflush(spill_) != 0 || (!resumed && ftruncate(fileno(spill_), 0) != 0) ||
      fseeko(spill_, 0, resumed ? SEEK_END : SEEK_SET) != 0) {
    throw WriteError{errno != 0 ? errno : EIO, spill_path_};
  }
  return spill_;
}

void SafeOutput::read_state() {
  std::ifstream file(state_, std::ios::binary);
  if (!file) throw ResumeRefused{"nothing to resume: " + state_ + " not found"};
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The last line checks all before it: an edited or damaged state is refused.
  const std::size_t check = text.rfind("check ", text.empty() ? 0 : text.size() - 1);
  const bool whole = check != std::string::npos && (check == 0 || text[check - 1] == '\n') &&
                     text.ends_with("\n") &&
                     text.substr(check + 6, text.size() - check - 7) ==
                         hex32(crc32_of(std::string_view(text).substr(0, check)));
  std::istringstream in(whole ? text.substr(0, check) : std::string());
  std::string tag, saved_fingerprint, line, crc;
  std::getline(in, tag);
  in >> pairs_ >> bytes_ >> crc;
  std::getline(in, line);
  bool pass_ok = true;
  while (std::getline(in, line)) {
    if (line.starts_with("pass ") && saved_fingerprint.empty() && !resumed_) {
      resumed_ = parse_pass(line.substr(5));
      pass_ok = resumed_.has_value() && tag == kStateTag;
    } else {
      saved_fingerprint += line + "\n";
    }
  }
  char *end = nullptr;
  crc_ = static_cast<std::uint32_t>(std::strtoul(crc.c_str(), &end, 16));
  if (!whole || (tag != kStateTag && tag != kStateTag2) || !pass_ok || !in.eof() || pairs_ < 0 ||
      crc.size() != 8 || *end != 0) {
    throw ResumeRefused{state_ + " is not a resume state of this program, or it was changed"};
  }
  pass_ = resumed_;
  saved_pass_ = resumed_.has_value();
  if (saved_fingerprint != fingerprint_) {
    throw ResumeRefused{"cannot resume " + path_ + ": " +
                        first_difference(saved_fingerprint, fingerprint_) +
                        " differs from the interrupted run (run without --resume to start "
                        "again)"};
  }
}

int SafeOutput::open_part(bool create) {
  // Never through a symbolic link: a link planted at FILE.part would have
  // the screen overwrite whatever it points to.
  const int fd =
      open(part_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0 && errno == ENOENT && !create) {
    throw ResumeRefused{"cannot resume " + path_ + ": " + part_ + " is missing or too short"};
  }
  if (fd < 0 && errno == ELOOP) {
    throw OutputRefused{"cannot write " + path_ + ": " + part_ +
                        " is a symbolic link (remove it first)"};
  }
  if (fd < 0) throw WriteError{errno, part_};
  // One screen per output, for its whole life: the lock goes with the
  // descriptor, which is closed only after the rename.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    throw OutputRefused{"cannot write " + path_ + ": another screen is writing it (" + part_ +
                        " is in use)"};
  }
  // FILE keeps the mode of the file it replaces; a new one gets the umask's.
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
  return fd;
}

SafeOutput::~SafeOutput() {
  if (fp_ != nullptr) std::fclose(fp_);
  if (spill_ != nullptr) std::fclose(spill_);
}

void SafeOutput::write(std::string_view rows) {
  buf_ += rows;
  written_ += rows.size();
  written_crc_ = crc32_of(rows, written_crc_);
  if (buf_.size() >= kBuffer) flush();
}

void SafeOutput::flush() {
  errno = 0;
  if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), fp_) != buf_.size()) {
    throw WriteError{errno != 0 ? errno : EIO, part_};
  }
  buf_.clear();
  if (std::fflush(fp_) != 0) throw WriteError{errno != 0 ? errno : EIO, part_};
}

void SafeOutput::checkpoint(std::int64_t pairs) {
  pairs_ = pairs;
  bytes_ = written_;
  crc_ = written_crc_;
  if (save_due()) {
    flush();
    save_state();
  }
}

void SafeOutput::pass_checkpoint(std::int64_t pairs, const PassPoint *pass) {
  pairs_ = pairs;
  bytes_ = written_;
  crc_ = written_crc_;
  if (pass != nullptr) {
    pass_ = *pass;
  } else {
    pass_.reset();
  }
  // Once a pass has ended, a state that still names it goes at once: the
  // next pass starts its spill file afresh.
  if (save_due() || (pass == nullptr && saved_pass_)) {
    flush();
    save_state();
  }
}

bool SafeOutput::save_due() const {
  return resumable_ && std::chrono::steady_clock::now() - saved_ >= kSaveInterval;
}

void SafeOutput::save_state() {
  // Written aside and renamed, so that a state file is always whole.
  // Created afresh, never through a link; only this screen writes here.
  const std::string tmp = state_ + ".tmp";
  unlink(tmp.c_str());
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  FILE *fp = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (fp == nullptr) {
    const int error = errno;
    if (fd >= 0) close(fd);
    throw WriteError{error, tmp};
  }
  const std::string text = std::string(kStateTag) + "\n" + std::to_string(pairs_) + " " +
                           std::to_string(bytes_) + " " + hex32(crc_) + "\n" +
                           (pass_ ? "pass " + pass_text(*pass_) + "\n" : "") + fingerprint_;
  std::fprintf(fp, "%scheck %s\n", text.c_str(), hex32(crc32_of(text)).c_str());
  bool failed = std::ferror(fp) != 0;
  failed = std::fclose(fp) != 0 || failed;
  if (failed || std::rename(tmp.c_str(), state_.c_str()) != 0) {
    const int error = errno;
    std::remove(tmp.c_str());
    throw WriteError{error != 0 ? error : EIO, state_};
  }
  saved_ = std::chrono::steady_clock::now();
  saved_pass_ = pass_.has_value();
}

void SafeOutput::commit() {
  flush();
  errno = 0;
  if (fsync(fileno(fp_)) != 0 && errno != EINVAL) throw WriteError{errno, part_};
  // Renamed while still locked, so that no other screen takes FILE.part
  // between the last row and the rename.
  if (std::rename(part_.c_str(), path_.c_str()) != 0) throw WriteError{errno, path_};
  std::remove(state_.c_str());
  close_spill(true);
  const bool failed = std::fclose(fp_) != 0;
  fp_ = nullptr;
  if (failed) throw WriteError{errno != 0 ? errno : EIO, path_};
}

void SafeOutput::keep_for_resume() {
  if (!resumable_) {
    abandon();
    return;
  }
  flush();
  // Only whole rows of complete pairs stay.
  if (ftruncate(fileno(fp_), static_cast<off_t>(bytes_)) != 0) throw WriteError{errno, part_};
  std::fclose(fp_);
  fp_ = nullptr;
  save_state();
  // Rows held aside stay only for a pass under way.
  close_spill(!pass_);
}

void SafeOutput::abandon() {
  if (fp_ != nullptr) std::fclose(fp_);
  fp_ = nullptr;
  std::remove(part_.c_str());
  std::remove(state_.c_str());
  close_spill(true);
}

std::string first_difference(const std::string &a, const std::string &b) {
  std::istringstream x(a), y(b);
  std::string lx, ly;
  for (;;) {
    const bool more_x = static_cast<bool>(std::getline(x, lx));
    const bool more_y = static_cast<bool>(std::getline(y, ly));
    if (!more_x && !more_y) return "";
    if (!more_x || !more_y || lx != ly) {
      const std::string &line = more_y ? ly : lx;
      return line.substr(0, line.find(' '));
    }
  }
}

std::string input_content(const std::string &path) {
  const std::optional<FileSum> sum = file_sum(path);
  if (!sum) return "unreadable";
  return std::to_string(sum->size) + " bytes, crc32 " + hex32(sum->crc);
}

std::string input_fingerprint(const std::string &path) {
  return path + " " + input_content(path);
}

void catch_interrupts(bool again) {
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  // A second signal ends the process at once; FILE is still untouched then.
  sa.sa_flags = again ? 0 : SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int interrupt_signal() {
  return caught_signal;
}

}  // namespace screen
