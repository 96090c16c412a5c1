// Pixel kernels on 1280x720 32-bit planes, each beside a reference:
//   gcopy mode 0 against memcpy of the same bytes,
//   gcopy mode 5 (alpha layering) against pixman's OVER composite,
//   gblita with a rotation (no outside reference: its own cost per pixel).
// The argument is MultiThreading (0 or 1). pixman is loaded at run time
// (libpixman-1.so.0) so that it stays a benchmark-only dependency; its
// benchmark is skipped when the library is not installed.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/kernels/kernels.h"
#include "graphics/plane/plane.h"
#include "base/config.h"

namespace {

using namespace talven::graphics;

constexpr int kW = 1280, kH = 720;

Plane* planes(int which) {
  static bool made = false;
  if (!made) {
    set_plane(1, CreatePlane(kW, kH, 32));
    set_plane(2, CreatePlane(kW, kH, 32));
    std::uint32_t seed = 7;
    for (int s : {1, 2}) {
      Plane* p = plane_at(s);
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          seed = seed * 1103515245u + 12345u;
          std::uint32_t v = seed >> 4;
          std::memcpy(p->row(y) + 4 * x, &v, 4);
        }
    }
    made = true;
  }
  return plane_at(which);
}

// The destination as an opaque page (sprites are drawn onto one), reset
// before each layering benchmark since the copies overwrite it.
void opaque_destination() {
  Plane* d = planes(2);
  std::uint32_t seed = 11;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      seed = seed * 1103515245u + 12345u;
      std::uint32_t v = seed >> 8 | 0xFF000000u;
      std::memcpy(d->row(y) + 4 * x, &v, 4);
    }
}

void set_threads(benchmark::State& state) { talven::config().MultiThreading = int(state.range(0)); }

void BM_GcopyMode0(benchmark::State& state) {
  set_threads(state);
  planes(1);
  BlendMode m;
  for (auto _ : state) benchmark::DoNotOptimize(gcopy(2, 0, 0, 1, nullptr, &m));
  state.SetBytesProcessed(state.iterations() * std::int64_t(kW) * kH * 4);
}

void BM_Memcpy(benchmark::State& state) {
  Plane* s = planes(1);
  Plane* d = planes(2);
  for (auto _ : state) {
    std::memcpy(d->pixels, s->pixels, std::size_t(kW) * kH * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(kW) * kH * 4);
}

void BM_GcopyMode5(benchmark::State& state) {
  set_threads(state);
  opaque_destination();
  BlendMode m;
  m.mode = 5;
  m.opacity = 255;
  for (auto _ : state) benchmark::DoNotOptimize(gcopy(2, 0, 0, 1, nullptr, &m));
  state.SetItemsProcessed(state.iterations() * std::int64_t(kW) * kH);
}

// The few pixman entry points used, declared here (the library is opened
// at run time, no header needed).
struct Pixman {
  using Create = void* (*)(int format, int w, int h, std::uint32_t* bits, int stride);
  using Composite = void (*)(int op, void* src, void* mask, void* dst, std::int32_t, std::int32_t,
                             std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                             std::int32_t);
  using Unref = int (*)(void*);
  Create create = nullptr;
  Composite composite = nullptr;
  Unref unref = nullptr;
  static constexpr int kOpOver = 3;
  static constexpr int kA8R8G8B8 = (32 << 24) | (2 << 16) | (8 << 12) | (8 << 8) | (8 << 4) | 8;
  Pixman() {
    void* lib = dlopen("libpixman-1.so.0", RTLD_NOW);
    if (!lib) return;
    create = reinterpret_cast<Create>(dlsym(lib, "pixman_image_create_bits"));
    composite = reinterpret_cast<Composite>(dlsym(lib, "pixman_image_composite32"));
    unref = reinterpret_cast<Unref>(dlsym(lib, "pixman_image_unref"));
  }
  bool ok() const { return create && composite && unref; }
};

void BM_PixmanOver(benchmark::State& state) {
  static Pixman px;
  if (!px.ok()) {
    state.SkipWithError("libpixman-1.so.0 not found");
    return;
  }
  Plane* s = planes(1);
  Plane* d = planes(2);
  opaque_destination();
  // The same pixel memory: both planes are 32-bit bottom-up rows, which
  // pixman sees top-down; the order does not change the work.
  void* src =
      px.create(Pixman::kA8R8G8B8, kW, kH, reinterpret_cast<std::uint32_t*>(s->pixels), s->stride);
  void* dst =
      px.create(Pixman::kA8R8G8B8, kW, kH, reinterpret_cast<std::uint32_t*>(d->pixels), d->stride);
  for (auto _ : state) {
    px.composite(Pixman::kOpOver, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  px.unref(src);
  px.unref(dst);
  state.SetItemsProcessed(state.iterations() * std::int64_t(kW) * kH);
}

void BM_GblitaRotated(benchmark::State& state) {
  set_threads(state);
  opaque_destination();
  Plane* s = planes(1);
  Plane* d = planes(2);
  BlendMode m;
  m.mode = 5;
  m.opacity = 255;
  for (auto _ : state)
    benchmark::DoNotOptimize(rotated_copy(d, nullptr, s, nullptr, nullptr, &m, 100, true));
  state.SetItemsProcessed(state.iterations() * std::int64_t(kW) * kH);
}

BENCHMARK(BM_GcopyMode0)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_Memcpy)->UseRealTime();
BENCHMARK(BM_GcopyMode5)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_PixmanOver)->UseRealTime();
BENCHMARK(BM_GblitaRotated)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
