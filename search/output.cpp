#include "search/output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace screen {

namespace {

constexpr std::size_t kBuffer = 1 << 16;
// A running screen saves its state at most this often.
constexpr auto kSaveInterval = std::chrono::seconds(1);
constexpr const char *kStateTag = "taviron-search resume 1";

volatile std::sig_atomic_t caught_signal = 0;

extern "C" void on_interrupt(int sig) {
  caught_signal = sig;
}

// First line where two fingerprints differ, for the refusal message.
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
      fingerprint_(std::move(fingerprint)),
      resumable_(resumable),
      saved_(std::chrono::steady_clock::now()) {
  if (resume && access(state_.c_str(), F_OK) != 0) {
    throw ResumeRefused{"nothing to resume: " + state_ + " not found"};
  }
  const int fd = open_part(!resume);
  if (resume) {
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
    // Rows past the saved point may be cut short: they are done again.
    if (ftruncate(fd, static_cast<off_t>(bytes_)) != 0 || fseeko(fp_, 0, SEEK_END) != 0) {
      throw WriteError{drop(), part_};
    }
    written_ = bytes_;
    start_pairs_ = pairs_;
    return;
  }
  // An earlier interrupted run of this output is replaced, not continued.
  if (ftruncate(fd, 0) != 0 || (fp_ = fdopen(fd, "w")) == nullptr) {
    const int error = errno;
    close(fd);
    throw WriteError{error, part_};
  }
  std::remove(state_.c_str());
  write(header);
  bytes_ = written_;
}

void SafeOutput::read_state() {
  std::ifstream in(state_);
  if (!in) throw ResumeRefused{"nothing to resume: " + state_ + " not found"};
  std::string tag, saved_fingerprint, line;
  std::getline(in, tag);
  in >> pairs_ >> bytes_;
  std::getline(in, line);
  while (std::getline(in, line)) saved_fingerprint += line + "\n";
  if (tag != kStateTag || !in.eof() || pairs_ < 0) {
    throw ResumeRefused{state_ + " is not a resume state of this program"};
  }
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
}

void SafeOutput::write(std::string_view rows) {
  buf_ += rows;
  written_ += rows.size();
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
  if (resumable_ && std::chrono::steady_clock::now() - saved_ >= kSaveInterval) {
    flush();
    save_state();
  }
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
  std::fprintf(fp, "%s\n%lld %llu\n%s", kStateTag, static_cast<long long>(pairs_),
               static_cast<unsigned long long>(bytes_), fingerprint_.c_str());
  bool failed = std::ferror(fp) != 0;
  failed = std::fclose(fp) != 0 || failed;
  if (failed || std::rename(tmp.c_str(), state_.c_str()) != 0) {
    const int error = errno;
    std::remove(tmp.c_str());
    throw WriteError{error != 0 ? error : EIO, state_};
  }
  saved_ = std::chrono::steady_clock::now();
}

void SafeOutput::commit() {
  flush();
  errno = 0;
  if (fsync(fileno(fp_)) != 0 && errno != EINVAL) throw WriteError{errno, part_};
  // Renamed while still locked, so that no other screen takes FILE.part
  // between the last row and the rename.
  if (std::rename(part_.c_str(), path_.c_str()) != 0) throw WriteError{errno, path_};
  std::remove(state_.c_str());
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
}

void SafeOutput::abandon() {
  if (fp_ != nullptr) std::fclose(fp_);
  fp_ = nullptr;
  std::remove(part_.c_str());
  std::remove(state_.c_str());
}

std::string input_fingerprint(const std::string &path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return path + " missing";
  std::ostringstream out;
  out << path << " " << st.st_size << " bytes, modified " << st.st_mtim.tv_sec << "."
      << st.st_mtim.tv_nsec;
  return out.str();
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
