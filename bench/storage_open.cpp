// Opening data files: every entry of a 10 000-entry archive against the
// same 10 000 files lying loose, through the file layer (open, read the
// bytes, close), as a game's loader does.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/game_path.h"
#include "base/config.h"
#include "storage/archive.h"
#include "storage/file_layer.h"

namespace {

namespace fs = std::filesystem;
using namespace talven::storage;

constexpr int kFiles = 10000;

// A scratch directory holding data.bin and the loose tree data/..., made
// once; it is the current directory while the benchmarks run.
struct Scene {
  fs::path root;
  std::vector<std::string> names;  // game paths, in a scrambled order

  Scene() {
    char pattern[] = "/tmp/talven_bench_open_XXXXXX";
    root = mkdtemp(pattern);
    fs::current_path(root);
    std::vector<ArchiveSource> sources;
    for (int i = 0; i < kFiles; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "chara/face%02d/f%05d.png", i % 40, i);
      std::string host = "data/" + std::string(name);
      fs::create_directories(fs::path(host).parent_path());
      std::ofstream(host, std::ios::binary)
          << std::string(200 + i % 1800, static_cast<char>('a' + i % 26));
      sources.push_back({name, host});
      names.push_back(host);
    }
    std::string error;
    if (!write_archive("data.bin", sources, 1234, &error))
      std::fprintf(stderr, "%s\n", error.c_str());
    for (std::size_t i = 0; i < names.size(); ++i)
      std::swap(names[i], names[(i * 7919) % names.size()]);
  }
  ~Scene() { fs::remove_all(root); }
};

Scene& scene() {
  static Scene s;
  return s;
}

void open_all(benchmark::State& state, int mode) {
  Scene& s = scene();
  talven::config().FileSystem = mode;
  talven::config().Error = 1;  // no notices while timing
  std::vector<char> buffer(4096);
  for (auto _ : state) {
    std::size_t total = 0;
    for (const std::string& name : s.names) {
      ExpFile* f = OpenExpFile(name);
      std::size_t got = 0;
      ReadExpFile(f, buffer.data(), buffer.size(), &got);
      total += got;
      CloseExpFile(f);
    }
    if (total == 0) state.SkipWithError("nothing was read");
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_Open10000ArchiveEntries(benchmark::State& state) { open_all(state, 1); }
void BM_Open10000LooseFiles(benchmark::State& state) { open_all(state, 2); }

BENCHMARK(BM_Open10000ArchiveEntries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open10000LooseFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
