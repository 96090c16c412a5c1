#include "lib/system/process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "base/cp932.h"

extern char** environ;

namespace talven::lib::system {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size() && blank(line[i])) ++i;
  if (i == line.size()) return out;

  // The program name.
  std::string program;
  if (line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') {
      const std::size_t len = cp932::char_len(line, i);
      program.append(line.substr(i, len));
      i += len;
    }
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && !blank(line[i])) {
      const std::size_t len = cp932::char_len(line, i);
      program.append(line.substr(i, len));
      i += len;
    }
  }
  out.push_back(program);

  for (;;) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !blank(line[i]))) {
      const std::size_t len = cp932::char_len(line, i);
      if (len == 2) {
        arg.append(line.substr(i, 2));
        i += 2;
        continue;
      }
      const char c = line[i];
      if (c == '\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == '\\') ++n, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(c);
      ++i;
    }
    out.push_back(arg);
  }
  return out;
}

bool spawn_program(const std::string& program, const std::vector<std::string>& argv) {
  if (program.empty() || argv.empty()) return false;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  // Its own session: the program outlives the game and its terminal signals.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const bool path_search = program.find('/') == std::string::npos;
  const int rc = path_search
                     ? posix_spawnp(&pid, program.c_str(), nullptr, &attr, args.data(), environ)
                     : posix_spawn(&pid, program.c_str(), nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace talven::lib::system
