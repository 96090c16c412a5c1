// Tools for game authors: checking and disassembling scripts.
//
//   check FILE.c [-I DIR]... [--config KEY=VALUE]...
//                                          compile without running; print
//                                          the diagnostics, exit 0 only on
//                                          success
//   disasm FILE.c [-I DIR]...              print the compiled image
//
// FILE is a host path (UTF-8). Includes are looked up beside it (the file's
// folder is the script folder), loose first, then in directory archives,
// then in each -I folder in order; "talven.h" last of all in the binary.
// Diagnostics are printed in UTF-8 with file and line. The program's
// command line hands the subcommand and its arguments to run_script_tool().
#pragma once

#include <span>
#include <string_view>

namespace talven::script {

struct ScriptTool {
  const char* name;
  const char* usage;  // arguments after the name
  const char* help;   // one line
};

std::span<const ScriptTool> script_tools();
bool is_script_tool(std::string_view name);

// Runs the tool named by argv[0] with argv[1..argc-1]. Returns the process
// exit status: 0 success, 1 the script does not compile, 2 bad usage.
int run_script_tool(int argc, char** argv);

}  // namespace talven::script
