// The desktop builtins' logic without the desktop: system variables, the
// message box's buttons, the clipboard's result rules and command-line
// programs. The builtins in system_builtins.cpp put them together with the
// SDL desktop (windowed runs) or the headless stand-ins.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talven::lib::system {

// Index of a system variable name (compared without regard to case), or -1.
int system_variable(std::string_view name);

// The button set, default button and escape answer of a message box type
// (the platform's MB_ bits); no buttons for a type without a button set.
struct BoxLayout {
  std::vector<int> ids;  // IDOK 1, IDCANCEL 2, IDABORT 3, IDRETRY 4, IDIGNORE 5,
                         // IDYES 6, IDNO 7, IDTRYAGAIN 10, IDCONTINUE 11
  int default_index = 0;
  int escape_id = 0;  // the answer when the box is closed
  int icon = 0;       // 0 none, 1 error, 2 warning, 3 information
};
BoxLayout box_layout(std::uint32_t type);
const char* button_label(int id);  // UTF-8

// clip_read's copy rule: how many bytes of a text of length L go into a
// buffer of `size` bytes (zero included) and what is returned.
struct ClipCopy {
  std::uint32_t copy = 0;  // bytes copied before the added zero
  std::int32_t result = 0;
};
ClipCopy clip_copy(std::uint32_t length, std::int32_t size);

// Line ends: the clipboard holds "\n", scripts see "\r\n".
std::string crlf_from_lf(std::string_view text);
std::string lf_from_crlf(std::string_view text);

// The headless clipboard (CP932): what clip_write stored, if anything.
std::optional<std::string>& headless_clipboard();

// The host program that a command line's program name names: a game path
// (from the current directory, then the game's folder), else a bare name
// for a PATH search with a trailing ".exe" dropped. Empty when a name with
// a folder names nothing.
std::string program_for(std::string_view name);

}  // namespace talven::lib::system
