// Window text drawn with SDL, for the windows the runtime draws itself (the
// debug output window, message boxes drawn in the main window): lines
// through the installed window text renderer, or the built-in bitmap font
// (host/window_font.h) from a texture of its glyphs. Main thread only.
#pragma once

#include <SDL.h>

#include <string_view>

#include "host/window_font.h"

namespace talven::host {

// The built-in font's 95 glyphs side by side, white on clear (to be tinted
// with SDL_SetTextureColorMod); null on failure. The caller destroys it.
SDL_Texture* make_glyph_texture(SDL_Renderer* renderer);

// A CP932 line through the installed renderer: its coverage as the alpha
// of `colour`, top left at (x, y). Line ends are not drawn.
void draw_rendered_line(SDL_Renderer* renderer, const WindowTextRenderer& text_renderer,
                        std::string_view cp932, int x, int y, SDL_Color colour);

// A CP932 line in the built-in font at `scale`: double-byte and other
// unprintable characters show as '?', line ends are not drawn, and drawing
// stops at x >= right (characters wholly left of `left` are skipped).
void draw_builtin_line(SDL_Renderer* renderer, SDL_Texture* glyphs, std::string_view cp932, int x,
                       int y, int scale, SDL_Color colour, int left, int right);

}  // namespace talven::host
