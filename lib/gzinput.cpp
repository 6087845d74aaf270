#include "gzinput.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {

FILE *failed(int error, std::string *message, const std::string &text = {}) {
  if (message != nullptr) *message = text.empty() ? std::strerror(error) : text;
  errno = error;
  return nullptr;
}

}  // namespace

bool gz_name(std::string_view path) {
  return path.size() > 3 && strncasecmp(path.data() + path.size() - 3, ".gz", 3) == 0;
}

std::string_view without_gz(std::string_view path) {
  return gz_name(path) ? path.substr(0, path.size() - 3) : path;
}

FILE *gunzip_to_tmpfile(FILE *in, std::string *error) {
  // zlib reads through its own descriptor; the caller keeps the stream.
  const int fd = dup(fileno(in));
  if (fd < 0) return failed(errno, error);
  gzFile gz = gzdopen(fd, "rb");
  if (gz == nullptr) {
    close(fd);
    return failed(ENOMEM, error);
  }
  FILE *out = std::tmpfile();
  if (out == nullptr) {
    const int e = errno;
    gzclose(gz);
    return failed(e, error);
  }
  std::vector<char> buf(1 << 16);
  int n = 0;
  while ((n = gzread(gz, buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
    if (std::fwrite(buf.data(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
      const int e = errno != 0 ? errno : EIO;
      gzclose(gz);
      std::fclose(out);
      return failed(e, error);
    }
  }
  // A truncated stream ends like a whole one, with only the error telling.
  int code = Z_OK;
  std::string word = gzerror(gz, &code);
  word.erase(0, word.rfind(": ") == std::string::npos ? 0 : word.rfind(": ") + 2);  // "<fd:N>: "
  const bool plain = gzdirect(gz) == 1;  // zlib passes data that is not gzip through
  const int saved = errno;
  gzclose(gz);
  if (n < 0 || code != Z_OK || plain) {
    std::fclose(out);
    if (code == Z_ERRNO) return failed(saved != 0 ? saved : EIO, error);
    return failed(EILSEQ, error, plain ? "not gzip data" : "corrupt gzip data (" + word + ")");
  }
  if (std::fflush(out) != 0 || std::fseek(out, 0, SEEK_SET) != 0) {
    const int e = errno;
    std::fclose(out);
    return failed(e, error);
  }
  return out;
}

FILE *open_input_file(const char *path, std::string *error) {
  FILE *fp = std::fopen(path, "r");
  if (fp == nullptr) return failed(errno, error);
  struct stat st {};
  if (fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(fp);  // a directory opens, but fails on the first read
    return failed(EISDIR, error);
  }
  if (!gz_name(path)) return fp;
  FILE *plain = gunzip_to_tmpfile(fp, error);
  const int e = errno;
  std::fclose(fp);
  errno = e;
  return plain;
}
