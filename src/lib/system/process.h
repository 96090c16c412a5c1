// Starting programs for exec and shell: Windows command lines split into
// arguments the Windows way and joined back the same way, programs started
// directly (never through a shell) and left to run on their own, documents
// opened by the desktop. process_posix.cpp and process_win32.cpp start them.
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

// The command line that split_command_line() splits back into `argv`: the
// program name quoted when it has a blank, arguments quoted when empty or
// holding a blank or a quote, with their backslashes escaped only where
// they come before a quote.
std::string join_command_line(const std::vector<std::string>& argv);

// Starts a program (host path, or a bare name looked up in PATH) with its
// arguments (argv[0] included, UTF-8). True when it started.
bool spawn_program(const std::string& program, const std::vector<std::string>& argv);

// Opens a document or an address (UTF-8) with the desktop's handler for it,
// without waiting; nothing happens when there is none.
void open_document(const std::string& target);

}  // namespace talven::lib::system
