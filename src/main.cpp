// talven: the program entry. Everything lives in the runtime library; this
// file only hands the command line over, as UTF-8 on every platform.
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments = talven::program_arguments(argc, argv);
  std::vector<char*> pointers;
  pointers.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);  // argv ends in a null pointer, as C programs expect
  return talven::run_command_line(static_cast<int>(arguments.size()), pointers.data());
}
