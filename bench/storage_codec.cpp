// Throughput of the compressed data format: encoding and decoding a few
// megabytes of script-like text and of a 24-bit BMP, in memory.
#include <benchmark/benchmark.h>

#include "storage/compressed.h"
#include "storage/sample_data.h"

namespace {

const std::string& text() {
  static const std::string data = talven::bench::sample_text(4 << 20);
  return data;
}

const std::string& bmp() {
  static const std::string data = talven::bench::sample_bmp(1280, 720);
  return data;
}

void encode(benchmark::State& state, const std::string& input) {
  std::string out;
  for (auto _ : state) {
    talven::storage::compress_bytes(input, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
  state.counters["ratio"] = static_cast<double>(out.size()) / static_cast<double>(input.size());
}

void decode(benchmark::State& state, const std::string& input) {
  std::string image, out;
  talven::storage::compress_bytes(input, image);
  for (auto _ : state) {
    if (!talven::storage::expand_bytes(image, out)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_EncodeText(benchmark::State& state) { encode(state, text()); }
void BM_EncodeBmp(benchmark::State& state) { encode(state, bmp()); }
void BM_DecodeText(benchmark::State& state) { decode(state, text()); }
void BM_DecodeBmp(benchmark::State& state) { decode(state, bmp()); }

BENCHMARK(BM_EncodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
