// Command-line arguments on Windows: the C run-time's argv is in the ANSI
// code page, which cannot spell most file names, so the arguments are split
// again from the UTF-16 command line and converted to UTF-8.
#include <windows.h>

#include <shellapi.h>

#include "app/arguments.h"
#include "base/wide_text_win32.h"

namespace talven {

std::vector<std::string> program_arguments(int argc, char** argv) {
  // Everything talven writes is UTF-8; a console shows it as such.
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);  // what the run-time gave
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(utf8_from_wide(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace talven
