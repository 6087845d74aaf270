#include "molfile.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

extern char **environ;

namespace {

std::string lower_extension(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return "";
  std::string ext(path.substr(dot + 1));
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// taviron-convert in the folder of the running program (installed programs
// share one folder, and so do those of a build).
std::string converter_path() {
  std::array<char, PATH_MAX> self{};
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (n <= 0) return "taviron-convert";
  std::string dir(self.data(), static_cast<std::size_t>(n));
  return dir.substr(0, dir.rfind('/') + 1) + "taviron-convert";
}

// The first name of each record: its NAME line up to the first ";".
void collect_names(MoleculeText &out) {
  std::string_view text = out.qtr;
  std::string id;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.starts_with("ENTRY") && line.size() > 12) {
      const std::string_view rest = line.substr(12);
      id = std::string(rest.substr(0, rest.find(' ')));
      out.names.emplace_back(id, "");
    } else if (line.starts_with("NAME") && line.size() > 12 && !out.names.empty()) {
      const std::string_view name = line.substr(12);
      out.names.back().second = std::string(name.substr(0, name.find(';')));
    }
  }
}

}  // namespace

bool is_molecule_file(const char *path) {
  if (path == nullptr) return false;
  const std::string ext = lower_extension(path);
  return ext == "sdf" || ext == "sd" || ext == "mol" || ext == "smi" || ext == "smiles";
}

bool read_molecule_file(const char *path, MoleculeText &out, std::string &error) {
  const std::string program = converter_path();
  if (access(program.c_str(), X_OK) != 0) {
    error =
        "reading molecule files needs taviron-convert beside this program (built with "
        "RDKit: apt-get install librdkit-dev libboost-dev)";
    return false;
  }
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    error = std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
  std::string quiet = "-q", input = path;
  char *argv[] = {const_cast<char *>(program.c_str()), quiet.data(), input.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (spawned != 0) {
    close(pipe_fds[0]);
    error = std::string("cannot run ") + program + ": " + std::strerror(spawned);
    return false;
  }
  std::array<char, 1 << 16> buf{};
  for (ssize_t n; (n = read(pipe_fds[0], buf.data(), buf.size())) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.qtr.append(buf.data(), static_cast<std::size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // Status 1: nothing could be converted; the look-up then finds no entry.
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1)) return false;
  collect_names(out);
  return true;
}

std::string entry_for(const MoleculeText &text, const char *typed) {
  const std::string t = typed;
  bool digits = !t.empty();
  for (const unsigned char c : t) digits = digits && std::isdigit(c);
  if (digits) return t;
  const std::pair<std::string, std::string> *named = nullptr;
  int count = 0;
  for (const auto &entry : text.names) {
    if (entry.first == t) return t;
    if (entry.second == t && count++ == 0) named = &entry;
  }
  return count == 1 ? named->first : t;
}
