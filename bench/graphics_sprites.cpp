// Sprite frames on a 1280x720 32-bit page: every frame moves all N sprites
// (N = 100, 1000, 4096) and sp_draw composes the scene over a background,
// next to the same scene drawn with SDL2's own software blitter.
//
// Arguments: N, kind (0 plain copies, 1 alpha layering, 2 alpha layering
// turned with smoothing), and for sp_draw MultiThreading (0 or 1).
// The SDL reference redraws the frame the way an SDL game does: the whole
// background with SDL_BlitSurface, then every sprite (SDL_BLENDMODE_NONE or
// SDL_BLENDMODE_BLEND). SDL's surface blitter cannot turn pictures; for
// kind 2 it draws each sprite scaled by SDL_BlitScaled (1.25 times, the size
// of the turned sprite's box), the nearest thing it offers.
// The "fps" counter is frames per second of wall time.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/plane/plane.h"
#include "graphics/sprite/sprite.h"
#include "base/config.h"

namespace {

using namespace talven;
using namespace talven::graphics;

constexpr int kW = 1280, kH = 720, kSize = 32;
constexpr int kPage = 0, kBackground = 1, kPicture = 2;

std::uint32_t next_random(std::uint32_t& seed) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 8;
}

// Background: a busy opaque pattern. Picture: a disc whose alpha falls off
// towards the edge, so that layering has real work on every pixel.
void make_pictures() {
  static bool made = false;
  if (made) return;
  set_plane(kPage, CreatePlane(kW, kH, 32));
  set_plane(kBackground, CreatePlane(kW, kH, 32));
  set_plane(kPicture, CreatePlane(kSize, kSize, 32));
  std::uint32_t seed = 3;
  Plane* bg = plane_at(kBackground);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      std::uint32_t v = 0xFF000000u | (next_random(seed) & 0x3F3F3F) | std::uint32_t(x * 255 / kW) << 16;
      std::memcpy(bg->row(y) + 4 * x, &v, 4);
    }
  Plane* pic = plane_at(kPicture);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      int dx = 2 * x - (kSize - 1), dy = 2 * y - (kSize - 1);
      int a = 255 - (dx * dx + dy * dy) * 255 / (kSize * kSize);
      std::uint32_t v = std::uint32_t(a < 0 ? 0 : a) << 24 | 0x40A0F0u;
      std::memcpy(pic->row(y) + 4 * x, &v, 4);
    }
  PlaneTable().active_page = kPage;
  made = true;
}

struct Mover {
  int x, y, vx, vy;
};

std::vector<Mover> movers(int n) {
  std::vector<Mover> m(static_cast<std::size_t>(n));
  std::uint32_t seed = 17;
  for (Mover& v : m) {
    v.x = int(next_random(seed) % (kW - kSize));
    v.y = int(next_random(seed) % (kH - kSize));
    v.vx = int(next_random(seed) % 7) - 3;
    v.vy = int(next_random(seed) % 7) - 3;
  }
  return m;
}

void step(Mover& v) {
  v.x += v.vx;
  v.y += v.vy;
  if (v.x < 0 || v.x > kW - kSize) v.vx = -v.vx;
  if (v.y < 0 || v.y > kH - kSize) v.vy = -v.vy;
}

void BM_SpriteDraw(benchmark::State& state) {
  const int n = int(state.range(0)), kind = int(state.range(1));
  config().MultiThreading = int(state.range(2));
  config().Smoothing = 0;
  make_pictures();
  sp_init(0xFFFFFFFFu);
  sp_setbg(kBackground);
  std::uint8_t blend[12] = {std::uint8_t(kind == 0 ? 0 : 5), 0, 255};
  std::vector<Mover> m = movers(n);
  std::vector<SpriteRecord*> sprites;
  for (int i = 0; i < n; ++i) {
    SpriteRecord* s = sprite_at(sp_set(i % 8, 2, m[i].x, m[i].y, kPicture, nullptr, blend));
    if (!s) {
      state.SkipWithError("sp_set failed");
      return;
    }
    if (kind == 2) {
      s->pivot_x = s->pivot_y = kSize / 2;
      s->flags |= kSpriteSmoothing;
    }
    sprites.push_back(s);
  }
  Rect changed;
  sp_draw(0xFFFFFFFFu, &changed);
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) {
      step(m[i]);
      SpriteRecord* s = sprites[std::size_t(i)];
      s->x = m[i].x;
      s->y = m[i].y;
      if (kind == 2) s->angle = std::uint16_t(s->angle + 7 + i % 5);
      s->flags |= kSpriteChangedBit;
    }
    benchmark::DoNotOptimize(sp_draw(0xFFFFFFFFu, &changed));
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  sp_init(0xFFFFFFFFu);
}

void BM_SdlBlit(benchmark::State& state) {
  const int n = int(state.range(0)), kind = int(state.range(1));
  make_pictures();
  // The same pixels as the planes above, as SDL surfaces (rows top-down).
  SDL_Surface* page = SDL_CreateRGBSurfaceWithFormat(0, kW, kH, 32, SDL_PIXELFORMAT_XRGB8888);
  SDL_Surface* bg = SDL_CreateRGBSurfaceWithFormat(0, kW, kH, 32, SDL_PIXELFORMAT_XRGB8888);
  SDL_Surface* pic = SDL_CreateRGBSurfaceWithFormat(0, kSize, kSize, 32, SDL_PIXELFORMAT_ARGB8888);
  if (!page || !bg || !pic) {
    state.SkipWithError(SDL_GetError());
    return;
  }
  for (int y = 0; y < kH; ++y)
    std::memcpy(static_cast<std::uint8_t*>(bg->pixels) + y * bg->pitch, plane_at(kBackground)->row(y), kW * 4);
  for (int y = 0; y < kSize; ++y)
    std::memcpy(static_cast<std::uint8_t*>(pic->pixels) + y * pic->pitch, plane_at(kPicture)->row(y), kSize * 4);
  SDL_SetSurfaceBlendMode(bg, SDL_BLENDMODE_NONE);
  SDL_SetSurfaceBlendMode(pic, kind == 0 ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND);
  std::vector<Mover> m = movers(n);
  const int scaled = kSize * 5 / 4;
  for (auto _ : state) {
    SDL_BlitSurface(bg, nullptr, page, nullptr);
    for (int i = 0; i < n; ++i) {
      step(m[i]);
      if (kind == 2) {
        SDL_Rect d{m[i].x - (scaled - kSize) / 2, m[i].y - (scaled - kSize) / 2, scaled, scaled};
        SDL_BlitScaled(pic, nullptr, page, &d);
      } else {
        SDL_Rect d{m[i].x, m[i].y, kSize, kSize};
        SDL_BlitSurface(pic, nullptr, page, &d);
      }
    }
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  SDL_FreeSurface(page);
  SDL_FreeSurface(bg);
  SDL_FreeSurface(pic);
}

void sprite_args(benchmark::internal::Benchmark* b) {
  for (int kind : {0, 1, 2})
    for (int n : {100, 1000, 4096})
      for (int threads : {0, 1}) b->Args({n, kind, threads});
}

void sdl_args(benchmark::internal::Benchmark* b) {
  for (int kind : {0, 1, 2})
    for (int n : {100, 1000, 4096}) b->Args({n, kind});
}

BENCHMARK(BM_SpriteDraw)->Apply(sprite_args)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdlBlit)->Apply(sdl_args)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
