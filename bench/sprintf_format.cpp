// The script formatter (sprintf, log_out, gtextf) against the C library's
// snprintf on the same conversions: the price of reading 32-bit argument
// words, cutting them to their length modifiers and checking string
// addresses. Reported as items (formatted lines) per second; the ratio of
// the two rates is the overhead.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdio>
#include <vector>

#include "base/address_space.h"
#include "lib/format.h"

namespace {

constexpr const char* kFormat = "score %6d lives %hd name %-8s x=%.2f hex %08x big %lld%%";

void BM_ScriptFormatter(benchmark::State& state) {
  static talven::Addr name = [] {
    talven::Addr a = talven::script_alloc(16);
    talven::write_cstr(a, "orbit", 16);
    return a;
  }();
  const std::vector<std::uint32_t> words = {
      123456, 0x10007, name, std::bit_cast<std::uint32_t>(3.25f), 0xBEEF, 0, 1};
  for (auto _ : state) {
    std::size_t i = 0;
    std::string s = talven::lib::format_words(kFormat, [&](std::uint32_t& w) {
      if (i >= words.size()) return false;
      w = words[i++];
      return true;
    });
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CLibrarySnprintf(benchmark::State& state) {
  char buf[256];
  for (auto _ : state) {
    int n = std::snprintf(buf, sizeof buf, kFormat, 123456, static_cast<short>(7), "orbit", 3.25,
                          0xBEEFu, 1LL << 32);
    std::string s(buf, static_cast<std::size_t>(n));
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ScriptFormatter);
BENCHMARK(BM_CLibrarySnprintf);

}  // namespace

BENCHMARK_MAIN();
