// Command-line arguments on POSIX systems: argv already holds the bytes the
// player typed (UTF-8 on every system talven runs on).
#include "app/arguments.h"

namespace talven {

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace talven
