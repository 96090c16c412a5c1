#include "host/app/command_line.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "storage/storage_tools.h"

namespace talven {

namespace {

constexpr const char* kVersion = "0.1.0";

void print_help(std::FILE* out) {
  std::fprintf(out,
               "usage: talven [options] GAME\n"
               "       talven TOOL [arguments]\n"
               "\n"
               "Runs a script-driven 2D game. GAME is the program path the game was\n"
               "shipped with (the file itself need not exist) or the game's folder.\n"
               "\n"
               "options:\n"
               "  --help       show this text\n"
               "  --version    show the version\n"
               "\n"
               "tools for game authors:\n");
  for (const auto& tool : storage::storage_tools()) {
    std::string line = std::string(tool.name) + " " + tool.usage;
    std::fprintf(out, "  %-40s %s\n", line.c_str(), tool.help);
  }
}

}  // namespace

int run_command_line(int argc, char** argv) {
  if (argc < 2) {
    print_help(stderr);
    return 2;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    print_help(stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("talven %s\n", kVersion);
    return 0;
  }
  if (storage::is_storage_tool(first)) return storage::run_storage_tool(argc - 1, argv + 1);
  std::fprintf(stderr, "talven: running games is not available yet\n");
  return 2;
}

}  // namespace talven
