// Text of the debug output window.
//
// The program installs a window text renderer at start (the font subsystem
// of the graphics layer, which this layer cannot include): it measures and
// rasterises CP932 lines, Japanese included, as 8-bit coverage. Until one is
// installed (and in tests of this layer) the window falls back to a tiny
// built-in bitmap font (5 x 7 pixels in a 6 x 8 cell) that covers printable
// ASCII and draws any other character as '?'.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace talven::host {

// Called on the main thread only.
struct WindowTextRenderer {
  int (*width)(std::string_view cp932) = nullptr;  // pixels
  // Coverage 0..255, w x h bytes, top row first; false when nothing is drawn.
  bool (*render)(std::string_view cp932, std::vector<std::uint8_t>& coverage, int& w,
                 int& h) = nullptr;
  int (*line_height)() = nullptr;
};

void set_window_text_renderer(const WindowTextRenderer& renderer);
// The renderer installed, or null when there is none.
const WindowTextRenderer* window_text_renderer();

constexpr int kGlyphWidth = 5, kGlyphHeight = 7, kCellWidth = 6, kCellHeight = 8;

// Column bits of a glyph: bit y of column x is the pixel (x, y), y downwards.
const std::uint8_t* glyph_columns(char c);

// Width in pixels of text drawn with cells of kCellWidth at `scale`, counting
// each CP932 double-byte character as one '?'.
int text_width(std::string_view text, int scale);

// The characters that will be drawn: CP932 double-byte characters and other
// non-printable bytes become one '?' each.
std::string_view::size_type printable_length(std::string_view text);

}  // namespace talven::host
