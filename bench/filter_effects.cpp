// Image filters and mesh effects on 1280x720 32-bit planes, each beside a
// reference where one exists:
//   blur radius 8 both ways      against a plain separable box blur written here,
//   smooth 640x360 -> 1280x720   against pixman's bilinear scaling of the same image,
//   rotate, mosaic               (their own cost per frame),
//   ef_copy after ef_water       (its own cost per frame).
// The argument is MultiThreading (0 or 1); the references run on one thread.
// pixman is loaded at run time (libpixman-1.so.0), so it stays a
// benchmark-only dependency; its benchmark is skipped when it is missing.
// Read the ratios from real time: e.g. Smooth/0 against PixmanBilinear.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/config.h"
#include "graphics/effect/effects.h"
#include "graphics/filter/filters.h"
#include "graphics/plane/plane.h"

namespace {

using namespace talven::graphics;

constexpr int kW = 1280, kH = 720;
constexpr int kSource = 1, kDest = 2, kHalf = 3;

void fill(Plane* p, std::uint32_t seed) {
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      seed = seed * 1103515245u + 12345u;
      const std::uint32_t v = (seed >> 8 & 0x3F3F3F) + std::uint32_t(x / 8 + y / 4) * 0x010203u;
      std::memcpy(p->row(y) + 4 * x, &v, 4);
    }
}

void setup() {
  static bool made = false;
  if (made) return;
  set_plane(kSource, CreatePlane(kW, kH, 32));
  set_plane(kDest, CreatePlane(kW, kH, 32));
  set_plane(kHalf, CreatePlane(kW / 2, kH / 2, 32));
  fill(plane_at(kSource), 7);
  fill(plane_at(kHalf), 9);
  made = true;
}

void set_threads(benchmark::State& state) {
  setup();
  talven::config().MultiThreading = int(state.range(0));
}

void frames(benchmark::State& state) { state.SetItemsProcessed(state.iterations()); }

void BM_Blur(benchmark::State& state) {
  set_threads(state);
  Plane *s = plane_at(kSource), *d = plane_at(kDest);
  for (auto _ : state) {
    blur(d, 0, 0, s, nullptr, 8);
    benchmark::DoNotOptimize(blur(d, 0, 0, d, nullptr, -8));
  }
  frames(state);
}

// The reference: running sums along rows into a buffer, then down columns.
void BM_BoxBlurReference(benchmark::State& state) {
  setup();
  const Plane* s = plane_at(kSource);
  Plane* d = plane_at(kDest);
  constexpr int r = 8, n = 2 * r + 1;
  std::vector<std::uint8_t> tmp(std::size_t(kW) * kH * 4);
  for (auto _ : state) {
    for (int y = 0; y < kH; ++y) {
      const std::uint8_t* in = s->row(y);
      std::uint8_t* out = &tmp[std::size_t(y) * kW * 4];
      for (int c = 0; c < 4; ++c) {
        int sum = 0;
        for (int k = -r; k <= r; ++k) sum += in[std::clamp(k, 0, kW - 1) * 4 + c];
        for (int x = 0; x < kW; ++x) {
          out[x * 4 + c] = std::uint8_t((sum + n / 2) / n);
          sum += in[std::min(x + r + 1, kW - 1) * 4 + c] - in[std::max(x - r, 0) * 4 + c];
        }
      }
    }
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c) {
        auto at = [&](int y) {
          return tmp[(std::size_t(std::clamp(y, 0, kH - 1)) * kW + x) * 4 + c];
        };
        int sum = 0;
        for (int k = -r; k <= r; ++k) sum += at(k);
        for (int y = 0; y < kH; ++y) {
          d->row(y)[x * 4 + c] = std::uint8_t((sum + n / 2) / n);
          sum += at(y + r + 1) - at(y - r);
        }
      }
    benchmark::ClobberMemory();
  }
  frames(state);
}

void BM_Smooth(benchmark::State& state) {
  set_threads(state);
  Plane *s = plane_at(kHalf), *d = plane_at(kDest);
  for (auto _ : state) benchmark::DoNotOptimize(smooth(d, nullptr, s, nullptr, -1));
  frames(state);
}

// The few pixman entry points used (the library is opened at run time).
struct Pixman {
  struct Transform {
    std::int32_t m[3][3];
  };
  using Create = void* (*)(int format, int w, int h, std::uint32_t* bits, int stride);
  using Composite = void (*)(int op, void* src, void* mask, void* dst, std::int32_t, std::int32_t,
                             std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                             std::int32_t);
  using Unref = int (*)(void*);
  using SetTransform = int (*)(void*, const Transform*);
  using SetFilter = int (*)(void*, int, const std::int32_t*, int);
  Create create = nullptr;
  Composite composite = nullptr;
  Unref unref = nullptr;
  SetTransform set_transform = nullptr;
  SetFilter set_filter = nullptr;
  static constexpr int kOpSrc = 1;
  static constexpr int kFilterBilinear = 4;
  static constexpr int kA8R8G8B8 = (32 << 24) | (2 << 16) | (8 << 12) | (8 << 8) | (8 << 4) | 8;
  Pixman() {
    void* lib = dlopen("libpixman-1.so.0", RTLD_NOW);
    if (!lib) return;
    create = reinterpret_cast<Create>(dlsym(lib, "pixman_image_create_bits"));
    composite = reinterpret_cast<Composite>(dlsym(lib, "pixman_image_composite32"));
    unref = reinterpret_cast<Unref>(dlsym(lib, "pixman_image_unref"));
    set_transform = reinterpret_cast<SetTransform>(dlsym(lib, "pixman_image_set_transform"));
    set_filter = reinterpret_cast<SetFilter>(dlsym(lib, "pixman_image_set_filter"));
  }
  bool ok() const { return create && composite && unref && set_transform && set_filter; }
};

void BM_PixmanBilinear(benchmark::State& state) {
  static Pixman px;
  if (!px.ok()) {
    state.SkipWithError("libpixman-1.so.0 not found");
    return;
  }
  setup();
  Plane *s = plane_at(kHalf), *d = plane_at(kDest);
  void* src = px.create(Pixman::kA8R8G8B8, s->width, s->height,
                        reinterpret_cast<std::uint32_t*>(s->pixels), s->stride);
  void* dst =
      px.create(Pixman::kA8R8G8B8, kW, kH, reinterpret_cast<std::uint32_t*>(d->pixels), d->stride);
  const Pixman::Transform half{{{0x8000, 0, 0}, {0, 0x8000, 0}, {0, 0, 0x10000}}};
  px.set_transform(src, &half);
  px.set_filter(src, Pixman::kFilterBilinear, nullptr, 0);
  for (auto _ : state) {
    px.composite(Pixman::kOpSrc, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  px.unref(src);
  px.unref(dst);
  frames(state);
}

void BM_Rotate(benchmark::State& state) {
  set_threads(state);
  Plane *s = plane_at(kSource), *d = plane_at(kDest);
  for (auto _ : state) benchmark::DoNotOptimize(rotate(d, nullptr, s, nullptr, 100, -1));
  frames(state);
}

void BM_Mosaic(benchmark::State& state) {
  set_threads(state);
  Plane *s = plane_at(kSource), *d = plane_at(kDest);
  for (auto _ : state) benchmark::DoNotOptimize(mosaic(d, 0, 0, s, nullptr, 8, 8));
  frames(state);
}

void BM_EffectCopyWater(benchmark::State& state) {
  set_threads(state);
  effect_init(0, kDest, nullptr, kSource, nullptr);
  effect_blob(0, 640, 360, 80, 30);
  effect_blob(0, 200, 500, 40, -20);
  for (int i = 0; i < 10; ++i) effect_water(0, 24);
  for (auto _ : state) benchmark::DoNotOptimize(effect_copy(0));
  effect_free(0);
  frames(state);
}

BENCHMARK(BM_Blur)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_BoxBlurReference)->UseRealTime();
BENCHMARK(BM_Smooth)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_PixmanBilinear)->UseRealTime();
BENCHMARK(BM_Rotate)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_Mosaic)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_EffectCopyWater)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
