// Single instance per game: the first instance of a game claims a name
// made from the game's program path; a second one finds the name taken,
// asks the first to raise its window and ends. On POSIX hosts the name is
// an abstract local socket the first instance listens on
// (instance_posix.cpp); on Windows a named mutex, with a named event for
// raise requests (instance_win32.cpp).
#pragma once

#include <string>

namespace talven {

// The instance name for a program path: "TALVEN_GAMES_MUTEX:" and a hash of
// the absolute path (abstract names are short).
std::string instance_name(const std::string& program_path);

class InstanceGuard {
 public:
  enum class Result { First, Other, Unavailable };

  InstanceGuard() = default;
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;
  ~InstanceGuard();

  // Claims the name. First: this is the one instance (keep the guard alive);
  // Other: another instance holds it; Unavailable: no socket could be made
  // (the run goes on unguarded).
  Result acquire(const std::string& name);

  // Serves waiting requests without blocking: true when another instance
  // asked for the window to be raised.
  bool poll_raise_requests();

  void release();

 private:
  // What holds the name while this instance has it (the platform file's
  // own: a listening socket, or a mutex and an event); null when nothing.
  struct Held;
  Held* held_ = nullptr;
};

// Asks the instance holding `name` to raise its window. False when none answers.
bool ask_instance_to_raise(const std::string& name);

}  // namespace talven
