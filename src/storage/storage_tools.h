// Tools for game authors: directory archives and compressed files.
//
//   pack DIR ARCHIVE [--seed N] [--backslash]   pack a directory into an archive
//   unpack ARCHIVE DIR                          write an archive's files below DIR
//   list ARCHIVE                                show an archive's entries
//   compress IN OUT                             write IN in the compressed form
//   expand IN OUT                               decode a compressed file
//
// Arguments are host paths (UTF-8); compress and expand take "-" for
// standard input or output. File names inside archives are CP932, converted
// from and to UTF-8 at this edge. The program's command line hands its
// subcommand and arguments to run_storage_tool().
#pragma once

#include <span>
#include <string_view>

namespace talven::storage {

struct StorageTool {
  const char* name;
  const char* usage;  // arguments after the name
  const char* help;   // one line
};

// The subcommands, in the order they are listed in help.
std::span<const StorageTool> storage_tools();
bool is_storage_tool(std::string_view name);

// Runs the tool named by argv[0] with argv[1..argc-1]. Returns the process
// exit status: 0 done, 1 failed (reason on standard error), 2 bad usage.
int run_storage_tool(int argc, char** argv);

}  // namespace talven::storage
