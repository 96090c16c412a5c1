// Programs started with posix_spawn (never through a shell), each in its own
// session and reaped by a sleeping waiter thread; documents and addresses
// open through xdg-open.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "lib/system/process.h"

extern char** environ;

namespace talven::lib::system {

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

void open_document(const std::string& target) { spawn_program("xdg-open", {"xdg-open", target}); }

}  // namespace talven::lib::system
