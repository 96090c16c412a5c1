#include "host/window_text.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/cp932.h"

namespace talven::host {

SDL_Texture* make_glyph_texture(SDL_Renderer* renderer) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 95 * kGlyphWidth, kGlyphHeight, 32,
                                                  SDL_PIXELFORMAT_ARGB8888);
  if (!s) return nullptr;
  SDL_LockSurface(s);
  for (int g = 0; g < 95; ++g) {
    const std::uint8_t* cols = glyph_columns(static_cast<char>(0x20 + g));
    for (int x = 0; x < kGlyphWidth; ++x) {
      for (int y = 0; y < kGlyphHeight; ++y) {
        auto* row =
            reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(s->pixels) + y * s->pitch);
        row[g * kGlyphWidth + x] = (cols[x] >> y) & 1 ? 0xFFFFFFFFu : 0x00FFFFFFu;
      }
    }
  }
  SDL_UnlockSurface(s);
  SDL_Texture* t = SDL_CreateTextureFromSurface(renderer, s);
  SDL_FreeSurface(s);
  if (t) SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
  return t;
}

void draw_rendered_line(SDL_Renderer* renderer, const WindowTextRenderer& text_renderer,
                        std::string_view cp932, int x, int y, SDL_Color colour) {
  std::string line(cp932);
  line.erase(
      std::remove_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }),
      line.end());
  std::vector<std::uint8_t> coverage;
  int w = 0, h = 0;
  if (line.empty() || !text_renderer.render(line, coverage, w, h)) return;
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
  if (!s) return;
  SDL_LockSurface(s);
  const std::uint32_t rgb = std::uint32_t(colour.r) << 16 | std::uint32_t(colour.g) << 8 | colour.b;
  for (int j = 0; j < h; ++j) {
    auto* row =
        reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(s->pixels) + j * s->pitch);
    for (int i = 0; i < w; ++i)
      row[i] = rgb | std::uint32_t(coverage[std::size_t(j) * w + i]) << 24;
  }
  SDL_UnlockSurface(s);
  if (SDL_Texture* t = SDL_CreateTextureFromSurface(renderer, s)) {
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    SDL_Rect dst{x, y, w, h};
    SDL_RenderCopy(renderer, t, nullptr, &dst);
    SDL_DestroyTexture(t);
  }
  SDL_FreeSurface(s);
}

void draw_builtin_line(SDL_Renderer* renderer, SDL_Texture* glyphs, std::string_view cp932, int x,
                       int y, int scale, SDL_Color colour, int left, int right) {
  if (!glyphs) return;
  SDL_SetTextureColorMod(glyphs, colour.r, colour.g, colour.b);
  for (std::size_t i = 0; i < cp932.size(); i = cp932::next(cp932, i)) {
    if (x >= right) break;
    if (cp932[i] == '\n' || cp932[i] == '\r') continue;
    if (x + kCellWidth * scale > left) {
      const auto c = static_cast<unsigned char>(cp932[i]);
      const bool single = cp932::char_len(cp932, i) == 1 && c >= 0x20 && c <= 0x7E;
      const int g = (single ? c : '?') - 0x20;
      SDL_Rect src{g * kGlyphWidth, 0, kGlyphWidth, kGlyphHeight};
      SDL_Rect dst{x, y, kGlyphWidth * scale, kGlyphHeight * scale};
      SDL_RenderCopy(renderer, glyphs, &src, &dst);
    }
    x += kCellWidth * scale;
  }
}

}  // namespace talven::host
