// The debug output window's list scrolling and the built-in font's measures.
#include <gtest/gtest.h>

#include "host/window_debug.h"
#include "host/window_font.h"

namespace {

using namespace talven::host;

TEST(DebugList, NewLinesScrollIntoViewAndScrollingIsBounded) {
  ListView v;
  v.page = 10;
  v.width = 300;
  v.appended(4);
  EXPECT_EQ(v.top, 0);  // fits: nothing to scroll
  v.appended(25);
  EXPECT_EQ(v.top, 15);  // the newest line is visible at the bottom
  v.scroll_lines(-100);
  EXPECT_EQ(v.top, 0);
  v.scroll_lines(7);
  EXPECT_EQ(v.top, 7);
  v.scroll_lines(100);
  EXPECT_EQ(v.top, 15);

  v.widen(200);
  EXPECT_EQ(v.extent, 205);  // widest line plus 5
  v.scroll_pixels(50);
  EXPECT_EQ(v.x_offset, 0);  // narrower than the list: no horizontal range
  v.widen(100);
  EXPECT_EQ(v.extent, 205);  // only a wider line widens
  v.widen(500);
  EXPECT_EQ(v.extent, 505);
  v.scroll_pixels(1000);
  EXPECT_EQ(v.x_offset, 205);
  v.scroll_pixels(-1000);
  EXPECT_EQ(v.x_offset, 0);

  v.clear();
  EXPECT_EQ(v.count, 0);
  EXPECT_EQ(v.top, 0);
  EXPECT_EQ(v.extent, 0);
}

TEST(DebugFont, GlyphsAndWidths) {
  // 'A' has its crossbar in the middle columns; space is empty; others are '?'.
  const std::uint8_t* a = glyph_columns('A');
  EXPECT_EQ(a[0], 0x7E);
  EXPECT_EQ(a[2], 0x11);
  const std::uint8_t* sp = glyph_columns(' ');
  for (int i = 0; i < kGlyphWidth; ++i) EXPECT_EQ(sp[i], 0);
  EXPECT_EQ(glyph_columns('\x01'), glyph_columns('?'));
  EXPECT_EQ(glyph_columns('\x7F'), glyph_columns('?'));
  // A CP932 double-byte character counts as one cell.
  EXPECT_EQ(printable_length("ab\x82\xA0"
                             "c"),
            4u);
  EXPECT_EQ(text_width("abc", 2), 3 * kCellWidth * 2);
  EXPECT_EQ(text_width("", 1), 0);
  // Every printable glyph fits the 7-pixel height.
  for (char c = 0x20; c < 0x7F; ++c)
    for (int i = 0; i < kGlyphWidth; ++i) EXPECT_EQ(glyph_columns(c)[i] & 0x80, 0) << c;
}

}  // namespace
