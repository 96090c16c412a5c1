// Text drawing: one 40-character Japanese line (kana, kanji and ASCII)
// drawn 10,000 times into a 1280 x 720 32-bit plane, plain and smoothed,
// beside SDL2_ttf's blended rendering of the same line with the same font
// file and em size, blitted onto a 1280 x 720 surface of the same depth.
// Items are characters: compare items_per_second; the ratio printed at the
// end is ours / SDL2_ttf for both modes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/cp932.h"
#include "graphics/plane/plane.h"
#include "graphics/text/text.h"

#if TALVEN_BENCH_REFS
#include <SDL.h>
#include <SDL_ttf.h>
#endif

namespace {

using namespace talven::graphics;

constexpr const char* kFontFile = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
constexpr const char* kLine = "今日はGameの話をしよう。Text描画の速さを比べる、ABC漢字カナ123!?";
constexpr int kChars = 40;
constexpr int kEm = 24;
constexpr int kIterations = 10000;

Plane* target() {
  static bool made = false;
  if (!made) {
    set_plane(1, CreatePlane(1280, 720, 32));
    fonts_start(nullptr);
    made = true;
  }
  return plane_at(1);
}

void draw_ours(benchmark::State& state, bool smooth) {
  Plane* p = target();
  FontRecord desc;
  std::strcpy(desc.face, "IPAGothic");
  desc.height = -kEm;
  desc.style = smooth ? kStyleSmooth : 0;
  font_set(0, desc);
  const std::string line = talven::cp932::from_utf8(kLine).value_or("");
  int y = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(draw_text(p, 0, 16, y, 0xFF, line));
    y = (y + 29) % 680;
  }
  state.SetItemsProcessed(state.iterations() * kChars);
}

void BM_TextPlain(benchmark::State& state) { draw_ours(state, false); }
void BM_TextSmooth(benchmark::State& state) { draw_ours(state, true); }
BENCHMARK(BM_TextPlain)->Iterations(kIterations);
BENCHMARK(BM_TextSmooth)->Iterations(kIterations);

#if TALVEN_BENCH_REFS
void ttf_render(benchmark::State& state, bool solid) {
  if (!TTF_WasInit() && TTF_Init() != 0) {
    state.SkipWithError("TTF_Init failed");
    return;
  }
  TTF_Font* font = TTF_OpenFont(kFontFile, kEm);
  SDL_Surface* screen = SDL_CreateRGBSurfaceWithFormat(0, 1280, 720, 32, SDL_PIXELFORMAT_ARGB8888);
  if (!font || !screen) {
    state.SkipWithError("SDL2_ttf cannot open the font");
    return;
  }
  SDL_Color white{255, 255, 255, 255};
  int y = 0;
  for (auto _ : state) {
    SDL_Surface* s = solid ? TTF_RenderUTF8_Solid(font, kLine, white)
                           : TTF_RenderUTF8_Blended(font, kLine, white);
    SDL_Rect at{16, y, 0, 0};
    SDL_BlitSurface(s, nullptr, screen, &at);
    SDL_FreeSurface(s);
    y = (y + 29) % 680;
  }
  state.SetItemsProcessed(state.iterations() * kChars);
  SDL_FreeSurface(screen);
  TTF_CloseFont(font);
}

void BM_SdlTtfSolid(benchmark::State& state) { ttf_render(state, true); }
void BM_SdlTtfBlended(benchmark::State& state) { ttf_render(state, false); }
BENCHMARK(BM_SdlTtfSolid)->Iterations(kIterations);
BENCHMARK(BM_SdlTtfBlended)->Iterations(kIterations);
#endif

}  // namespace

BENCHMARK_MAIN();
