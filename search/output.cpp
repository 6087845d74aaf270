#include "search/output.h"

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
  if (resume) {
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
    fp_ = std::fopen(part_.c_str(), "r+");
    struct stat st {};
    if (fp_ == nullptr || fstat(fileno(fp_), &st) != 0 ||
        static_cast<std::uint64_t>(st.st_size) < bytes_) {
      if (fp_ != nullptr) std::fclose(fp_);
      fp_ = nullptr;
      throw ResumeRefused{"cannot resume " + path_ + ": " + part_ + " is missing or too short"};
    }
    // Rows past the saved point may be cut short: they are done again.
    if (ftruncate(fileno(fp_), static_cast<off_t>(bytes_)) != 0 || fseeko(fp_, 0, SEEK_END) != 0) {
      const int error = errno;
      std::fclose(fp_);
      fp_ = nullptr;
      throw WriteError{error, part_};
    }
    written_ = bytes_;
    start_pairs_ = pairs_;
    return;
  }
  fp_ = std::fopen(part_.c_str(), "w");
  if (fp_ == nullptr) throw WriteError{errno, part_};
  // An earlier interrupted run of this output is replaced, not continued.
  std::remove(state_.c_str());
  write(header);
  bytes_ = written_;
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
  const std::string tmp = state_ + ".tmp";
  FILE *fp = std::fopen(tmp.c_str(), "w");
  if (fp == nullptr) throw WriteError{errno, tmp};
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
  const int fd = fileno(fp_);
  bool failed = fsync(fd) != 0 && errno != EINVAL;
  failed = std::fclose(fp_) != 0 || failed;
  fp_ = nullptr;
  if (failed) throw WriteError{errno != 0 ? errno : EIO, part_};
  if (std::rename(part_.c_str(), path_.c_str()) != 0) throw WriteError{errno, path_};
  std::remove(state_.c_str());
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
