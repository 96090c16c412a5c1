// The program's command-line arguments as UTF-8 text, on every platform
// (arguments_posix.cpp, arguments_win32.cpp).
#pragma once

#include <string>
#include <vector>

namespace talven {

// The arguments of the running program, the program's own name first. POSIX
// systems hand them over as they are; on Windows, where argv is in the ANSI
// code page, they are read again from the wide command line and converted
// (and the console, if any, is set to show the UTF-8 text talven writes).
std::vector<std::string> program_arguments(int argc, char** argv);

}  // namespace talven
