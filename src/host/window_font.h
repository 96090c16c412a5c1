// A tiny built-in bitmap font (5 x 7 pixels in a 6 x 8 cell) for the debug
// output window's text and buttons. It covers printable ASCII; any other
// character is drawn as '?'. The font subsystem of the graphics layer comes
// later and is not used here, so the window needs no font files.
#pragma once

#include <cstdint>
#include <string_view>

namespace talven::host {

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
