// Fonts and text: the 32 font slots and drawing CP932 text into planes.
//
// A slot holds a 48-byte font record (face, height, angle, style, weight) that
// scripts set and read. It is realised lazily, on the first use after it
// changed, into a FreeType face at the font record's size (eight times the
// height for the smoothing style) together with per-character ABC widths of
// codes 0..127 and, when the font has pairs, a 128 x 128 kerning table, both
// divided by the height used. Setting the same font record again does not realise
// the slot again.
//
// Drawing without smoothing writes 1-bit glyphs in the text colour (and the
// character cells in the background colour when asked). With smoothing the
// string is rendered at 8x into a 1-bit work bitmap and every 8 x 8 block is
// reduced to a coverage 0..255 (a full block is exactly 255), blended into
// 16-, 24- and 32-bit planes or written as is into 8-bit planes.
//
// Limits: heights beyond +-1024 (before the 8x scaling) are taken as +-1024,
// height 0 as 16; angles are taken modulo 3600. A text whose work bitmap
// would exceed kMaxWorkBytes is not drawn (the call still succeeds, as when
// memory runs out). Glyphs are cached per realised slot and character; a
// slot's cache is emptied when it passes kMaxGlyphCacheBytes.
//
// Everything here runs under the builtin lock, except the window text
// renderer at the end, which has its own font and buffers for the main
// thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_space.h"
#include "graphics/plane/plane.h"

namespace talven::graphics {

constexpr int kFontSlots = 32;
constexpr int kMaxFontHeight = 1024;
constexpr std::uint64_t kMaxWorkBytes = 64u << 20;
constexpr std::uint64_t kMaxGlyphCacheBytes = 32u << 20;

constexpr std::int32_t kStyleBold = 1, kStyleItalic = 2, kStyleUnderline = 4, kStyleStrikeOut = 8,
                       kStyleSmooth = 16;
constexpr std::uint32_t kTextOpaque = 1u << 30, kTextHardEdges = 1u << 31;

struct FontRecord {
  char face[32] = {};
  std::int32_t height = 0;
  std::int32_t angle = 0;  // tenths of a degree, counter-clockwise
  std::int32_t style = 0;
  std::int32_t weight = 0;  // 0 or less: 400
  bool operator==(const FontRecord&) const = default;
};
static_assert(sizeof(FontRecord) == 48);

// Formats gtextf's text from the format and the argument words at args
// (read no further than limit). Installed at start by the program.
using TextFormatter = std::string (*)(std::string_view format, Addr args, Addr limit);

// Clears every slot to "Meiryo" at height 16 and sets the formatter.
void fonts_start(TextFormatter formatter);
// Frees the realised fonts, kerning tables, glyph caches and work bitmap.
void fonts_release();
TextFormatter text_formatter();

bool font_set(std::int32_t slot, const FontRecord& desc);
bool font_get(std::int32_t slot, FontRecord& desc);
// 1 with A, B, C for codes below 128, else 0 (also when the font fails).
int font_abc(std::int32_t slot, std::uint32_t code, float abc[3]);
// 1 with the amount, 0 for a bad slot or pair, or a font without pairs.
int font_kern(std::int32_t slot, std::uint32_t pair, float& amount);
// How many times a slot has been realised (for tests and diagnostics).
std::uint64_t font_realisations(std::int32_t slot);

// The text box of an extent (cx, cy) at an angle (0..3599).
Rect text_box(std::int32_t cx, std::int32_t cy, std::int32_t angle);

// gtext: draws with font slot `font` (any byte; slots past 31 fail).
int draw_text(Plane* plane, std::int32_t font, std::int32_t x, std::int32_t y, std::uint32_t colour,
              std::string_view text);

// The two reduction tables (exposed for tests).
const std::uint8_t* reduction_table(bool last_row);
// Coverage of the 8 x 8 blocks i0 .. i0 + n - 1 of the eight 1-bit rows
// starting at `rows` (`stride` bytes apart, block i at byte i).
void reduce_blocks(const std::uint8_t* rows, std::int64_t stride, std::int64_t i0, std::int64_t n,
                   std::uint8_t* out);

// ---- the window text renderer (main thread) ---------------------------------

// Width in pixels of a line of CP932 text in the window font.
int window_text_width(std::string_view text);
// Coverage 0..255 of the line, w x h bytes top row first; false when
// nothing can be drawn.
bool window_text_render(std::string_view text, std::vector<std::uint8_t>& coverage, int& w, int& h);
// Height of a line of the window font.
int window_text_line_height();

}  // namespace talven::graphics
