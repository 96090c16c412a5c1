// The debug output: lines that scripts write with log_out, kept while
// `DebugMode` is on (the debug output window shows them) and echoed to
// standard output when the --log switch is given.
//
// This is the window's model; the window itself (F8 to show and hide, a
// clear and a close button) draws from it on the main thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talven {

// Creates the (hidden) output when DebugMode is on; lines are kept from then.
void debug_output_create();
void debug_output_destroy();
bool debug_output_exists();

// Echo every line to standard output (UTF-8).
void debug_output_echo(bool on);
bool debug_output_echoing();

// Appends a CP932 line (the text is kept whole, however long).
void debug_output_append(std::string_view line);
void debug_output_clear();

std::vector<std::string> debug_output_lines();
std::size_t debug_output_count();

// Shown state, toggled by F8.
bool debug_output_visible();
void debug_output_toggle();
void debug_output_hide();

}  // namespace talven
