// The storage author tools as a small program for comparison scripts, plus
// generators of the benchmark inputs:
//   bench_storage_tool compress|expand|pack|unpack|list ...
//   bench_storage_tool gen-text BYTES OUT
//   bench_storage_tool gen-bmp WIDTH HEIGHT OUT
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "storage/sample_data.h"
#include "storage/storage_tools.h"

namespace {

int write_out(const char* path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TOOL ARGS... | gen-text BYTES OUT | gen-bmp W H OUT\n",
                 argv[0]);
    for (const auto& t : talven::storage::storage_tools())
      std::fprintf(stderr, "  %s %s\n      %s\n", t.name, t.usage, t.help);
    return 2;
  }
  std::string tool = argv[1];
  if (tool == "gen-text" && argc == 4)
    return write_out(argv[3], talven::bench::sample_text(std::strtoull(argv[2], nullptr, 0)));
  if (tool == "gen-bmp" && argc == 5)
    return write_out(argv[4], talven::bench::sample_bmp(std::atoi(argv[2]), std::atoi(argv[3])));
  return talven::storage::run_storage_tool(argc - 1, argv + 1);
}
