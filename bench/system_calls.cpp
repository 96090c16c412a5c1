// The system builtins against the libraries and calls they wrap, side by
// side in one run:
//   Regex/Builtin vs Regex/Oniguruma    reg_search with a region (handle
//       checks, the script-memory text, the region copied out) against
//       onig_search on the same bytes with a host region;
//   Wildcard/Talven vs Wildcard/Fnmatch the platform's wildcard rules on
//       CP932 names against glibc fnmatch(FNM_CASEFOLD) on the same names;
//   DllCall/Talven vs DllCall/Direct    dll_call's libffi call of libc abs()
//       against a direct call through a function pointer.
// Read the ratio of each pair's time per iteration (talven / reference).
#include <benchmark/benchmark.h>
#include <fnmatch.h>
#include <oniguruma.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "lib/system/file_search.h"
#include "lib/system/native_calls.h"
#include "lib/system/regex.h"

namespace {

using namespace talven;

// A 64 KiB text of mixed ASCII and two-byte words with one match near the end.
std::string sample_text() {
  std::string t;
  while (t.size() < 65536) t += "abc def \x8A\xBF\x8E\x9A ghi 12345 ";
  t += "target=\x93\xFA\x96\x7B;";
  return t;
}

const char kPattern[] = "target=([\x88\x9F-\x98\x72]+);";

void BM_Regex_Builtin(benchmark::State& state) {
  const std::string text = sample_text();
  Addr t = script_alloc(static_cast<std::uint32_t>(text.size()));
  write_bytes(t, text.data(), static_cast<std::uint32_t>(text.size()));
  const std::uint32_t re = lib::system::regex_new(kPattern, 0);
  const Addr region = lib::system::region_new();
  const std::uint32_t len = static_cast<std::uint32_t>(text.size());
  for (auto _ : state)
    benchmark::DoNotOptimize(lib::system::regex_search(re, t, len, 0, len, region, 0));
  lib::system::region_free(region);
  lib::system::regex_free(re);
  script_free(t);
}
BENCHMARK(BM_Regex_Builtin);

void BM_Regex_Oniguruma(benchmark::State& state) {
  const std::string text = sample_text();
  OnigEncoding encodings[] = {ONIG_ENCODING_SJIS};
  onig_initialize(encodings, 1);
  regex_t* reg = nullptr;
  OnigErrorInfo info;
  const auto* p = reinterpret_cast<const OnigUChar*>(kPattern);
  onig_new(&reg, p, p + sizeof kPattern - 1, 0, ONIG_ENCODING_SJIS, ONIG_SYNTAX_RUBY, &info);
  OnigRegion* region = onig_region_new();
  const auto* s = reinterpret_cast<const OnigUChar*>(text.data());
  const auto* e = s + text.size();
  for (auto _ : state) benchmark::DoNotOptimize(onig_search(reg, s, e, s, e, region, 0));
  onig_region_free(region, 1);
  onig_free(reg);
}
BENCHMARK(BM_Regex_Oniguruma);

std::vector<std::string> sample_names() {
  std::vector<std::string> names;
  for (int i = 0; i < 1000; ++i)
    names.push_back((i % 3 ? "Save" : "image_") + std::to_string(i) + (i % 2 ? ".DAT" : ".png"));
  return names;
}

void BM_Wildcard_Talven(benchmark::State& state) {
  const std::vector<std::string> names = sample_names();
  for (auto _ : state) {
    int n = 0;
    for (const std::string& name : names) n += lib::system::wildcard_match("save*.dat", name);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_Wildcard_Talven);

void BM_Wildcard_Fnmatch(benchmark::State& state) {
  const std::vector<std::string> names = sample_names();
  for (auto _ : state) {
    int n = 0;
    for (const std::string& name : names)
      n += fnmatch("save*.dat", name.c_str(), FNM_CASEFOLD) == 0;
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_Wildcard_Fnmatch);

void BM_DllCall_Talven(benchmark::State& state) {
  const std::int32_t slot = lib::system::dll_load("libc.so.6");
  const std::uint32_t fn = lib::system::dll_proc(slot, "abs");
  std::uint32_t arg = static_cast<std::uint32_t>(-12345);
  for (auto _ : state) benchmark::DoNotOptimize(lib::system::dll_call(fn, &arg, 1));
  lib::system::dll_release_all();
}
BENCHMARK(BM_DllCall_Talven);

void BM_DllCall_Direct(benchmark::State& state) {
  int (*volatile fn)(int) = std::abs;
  int arg = -12345;
  for (auto _ : state) benchmark::DoNotOptimize(fn(arg));
}
BENCHMARK(BM_DllCall_Direct);

}  // namespace

BENCHMARK_MAIN();
