// Sprite frames on a 1280x720 32-bit page: every frame moves all N sprites
// (N = 100, 1000, 4096) and sp_draw composes the scene over a background,
// next to the same scene drawn by SDL2.
//
// Arguments: N, kind (0 plain copies, 1 alpha layering, 2 alpha layering
// turned with smoothing), MultiThreading (0 or 1) and, for sp_draw, the
// redraw (1: the whole frame every time, the same work as the SDL side;
// 0: only the changed areas, which is what sp_draw does in a game).
// The SDL reference redraws the whole frame the way an SDL game does: the
// background, then every sprite. Kinds 0 and 1 use SDL_BlitSurface
// (SDL_BLENDMODE_NONE or SDL_BLENDMODE_BLEND); kind 2 uses SDL's software
// renderer on the same surface, SDL_RenderCopyEx turning each sprite with
// linear filtering. Compare BM_SpriteDraw/N/kind/threads/1 with
// BM_SdlDraw/N/kind. The "fps" counter is frames per second of wall time.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/plane/plane.h"
#include "graphics/present/pages.h"
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
      std::uint32_t v =
          0xFF000000u | (next_random(seed) & 0x3F3F3F) | std::uint32_t(x * 255 / kW) << 16;
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
  const bool whole_frame = state.range(3) != 0;
  const Rect screen{0, 0, kW, kH};
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
    if (whole_frame)
      drt_set(screen);  // the background goes back everywhere, as the SDL side redraws it
    benchmark::DoNotOptimize(sp_draw(0xFFFFFFFFu, &changed));
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  sp_init(0xFFFFFFFFu);
}

void BM_SdlDraw(benchmark::State& state) {
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
    std::memcpy(static_cast<std::uint8_t*>(bg->pixels) + y * bg->pitch,
                plane_at(kBackground)->row(y), kW * 4);
  for (int y = 0; y < kSize; ++y)
    std::memcpy(static_cast<std::uint8_t*>(pic->pixels) + y * pic->pitch,
                plane_at(kPicture)->row(y), kSize * 4);
  SDL_SetSurfaceBlendMode(bg, SDL_BLENDMODE_NONE);
  SDL_SetSurfaceBlendMode(pic, kind == 0 ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND);
  std::vector<Mover> m = movers(n);
  // Kind 2: SDL's software renderer drawing into the page surface.
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* bg_texture = nullptr;
  SDL_Texture* pic_texture = nullptr;
  if (kind == 2) {
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    renderer = SDL_CreateSoftwareRenderer(page);
    if (renderer) {
      bg_texture = SDL_CreateTextureFromSurface(renderer, bg);
      pic_texture = SDL_CreateTextureFromSurface(renderer, pic);
    }
    if (!renderer || !bg_texture || !pic_texture) {
      state.SkipWithError(SDL_GetError());
      return;
    }
    SDL_SetTextureBlendMode(bg_texture, SDL_BLENDMODE_NONE);
    SDL_SetTextureBlendMode(pic_texture, SDL_BLENDMODE_BLEND);
  }
  std::vector<double> angles(std::size_t(n), 0.0);
  for (auto _ : state) {
    if (renderer) {
      SDL_RenderCopy(renderer, bg_texture, nullptr, nullptr);
      for (int i = 0; i < n; ++i) {
        step(m[i]);
        angles[std::size_t(i)] += (7 + i % 5) * 360.0 / 65536.0;  // the sprites' turn per frame
        SDL_Rect d{m[i].x, m[i].y, kSize, kSize};
        SDL_RenderCopyEx(renderer, pic_texture, nullptr, &d, angles[std::size_t(i)], nullptr,
                         SDL_FLIP_NONE);
      }
      SDL_RenderFlush(renderer);
    } else {
      SDL_BlitSurface(bg, nullptr, page, nullptr);
      for (int i = 0; i < n; ++i) {
        step(m[i]);
        SDL_Rect d{m[i].x, m[i].y, kSize, kSize};
        SDL_BlitSurface(pic, nullptr, page, &d);
      }
    }
    benchmark::ClobberMemory();
  }
  if (pic_texture) SDL_DestroyTexture(pic_texture);
  if (bg_texture) SDL_DestroyTexture(bg_texture);
  if (renderer) SDL_DestroyRenderer(renderer);
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  SDL_FreeSurface(page);
  SDL_FreeSurface(bg);
  SDL_FreeSurface(pic);
}

void sprite_args(benchmark::internal::Benchmark* b) {
  for (int kind : {0, 1, 2})
    for (int n : {100, 1000, 4096})
      for (int threads : {0, 1})
        for (int whole : {1, 0}) b->Args({n, kind, threads, whole});
}

void sdl_args(benchmark::internal::Benchmark* b) {
  for (int kind : {0, 1, 2})
    for (int n : {100, 1000, 4096}) b->Args({n, kind});
}

BENCHMARK(BM_SpriteDraw)->Apply(sprite_args)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdlDraw)->Apply(sdl_args)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
