// Checked script-memory access against raw host pointers: the price of the
// bounds check on every load and store.
#include <benchmark/benchmark.h>

#include <cstring>

#include "base/address_space.h"

namespace {

using talven::Addr;

constexpr std::uint32_t kWords = 16384;  // 64 KiB: stays in cache

Addr block() {
  static Addr a = talven::script_zalloc(kWords * 4);
  return a;
}

void BM_Load32Checked(benchmark::State& state) {
  Addr a = block();
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < kWords; ++i) {
      std::uint32_t v;
      if (talven::load32(a + i * 4, v)) sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kWords);
}

void BM_Load32Raw(benchmark::State& state) {
  auto* p = reinterpret_cast<std::uint32_t*>(talven::span(block(), kWords * 4));
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < kWords; ++i) {
      benchmark::DoNotOptimize(p);
      sum += p[i];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kWords);
}

void BM_Store32Checked(benchmark::State& state) {
  Addr a = block();
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < kWords; ++i) talven::store32(a + i * 4, i);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWords);
}

void BM_Store32Raw(benchmark::State& state) {
  auto* p = reinterpret_cast<std::uint32_t*>(talven::span(block(), kWords * 4));
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < kWords; ++i) {
      benchmark::DoNotOptimize(p);
      p[i] = i;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWords);
}

// Scattered addresses, as an interpreter sees them: the address comes from
// data, so neither version can hoist the check or vectorise.
void BM_Load32CheckedScattered(benchmark::State& state) {
  Addr a = block();
  auto* p = reinterpret_cast<std::uint32_t*>(talven::span(a, kWords * 4));
  for (std::uint32_t i = 0; i < kWords; ++i) p[i] = a + ((i * 2654435761u) % kWords) * 4;
  for (auto _ : state) {
    Addr cur = a;
    for (std::uint32_t i = 0; i < kWords; ++i) {
      std::uint32_t v = 0;
      talven::load32(cur, v);
      cur = v;
    }
    benchmark::DoNotOptimize(cur);
  }
  state.SetItemsProcessed(state.iterations() * kWords);
}

void BM_Load32RawScattered(benchmark::State& state) {
  Addr a = block();
  std::uint8_t* base = talven::script_space().base();
  auto* p = reinterpret_cast<std::uint32_t*>(talven::span(a, kWords * 4));
  for (std::uint32_t i = 0; i < kWords; ++i) p[i] = a + ((i * 2654435761u) % kWords) * 4;
  for (auto _ : state) {
    Addr cur = a;
    for (std::uint32_t i = 0; i < kWords; ++i) {
      std::uint32_t v;
      std::memcpy(&v, base + cur, 4);
      cur = v;
    }
    benchmark::DoNotOptimize(cur);
  }
  state.SetItemsProcessed(state.iterations() * kWords);
}

BENCHMARK(BM_Load32Checked);
BENCHMARK(BM_Load32Raw);
BENCHMARK(BM_Store32Checked);
BENCHMARK(BM_Store32Raw);
BENCHMARK(BM_Load32CheckedScattered);
BENCHMARK(BM_Load32RawScattered);

}  // namespace

BENCHMARK_MAIN();
