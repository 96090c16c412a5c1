// Starting programs for exec and shell: Windows command lines split into
// arguments the Windows way, programs started with posix_spawn (never
// through a shell) and reaped by a sleeping waiter thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talven::lib::system {

// Splits a command line: the program name runs to the first blank unless it
// is quoted (no escapes in it); later arguments are separated by blanks,
// quotes group, 2n backslashes before a quote give n and the quote groups,
// 2n+1 give n and a literal quote, and "" inside quotes is a literal quote.
// Two-byte CP932 characters are never split (their trail byte may be '\').
std::vector<std::string> split_command_line(std::string_view line);

// Starts a program (host path, or a bare name looked up in PATH) with its
// arguments (argv[0] included, UTF-8). True when it started.
bool spawn_program(const std::string& program, const std::vector<std::string>& argv);

}  // namespace talven::lib::system
