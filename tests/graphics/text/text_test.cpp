// Font slots, metrics and drawing, through the text module and its builtins.
#include <algorithm>
#include <cmath>
#include <array>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "graphics/graphics_test_util.h"
#include "graphics/kernels/tables.h"
#include "graphics/text/text.h"
#include "graphics/text/text_builtins.h"
#include "storage/archive.h"
#include "support/game_font.h"
#include "support/temp_dir.h"

namespace talven::graphics {
namespace {

using test::Args;
using test::call;
using test::call_raw;
using test::make_plane;
using test::raw_value;
using test::ScriptBlock;
using test::ScriptString;
using test::set_raw;

namespace fs = std::filesystem;

// The IPA gothic face the tests ship (tests/data/fonts, with its licence).
// An installed face without Japanese, with kerning pairs.
const char* const kDejaVu = TALVEN_TEST_HOST_ROOT "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const kGothic = TALVEN_TEST_DATA "/fonts/ipag.ttf";

FontRecord record_of(const char* face, std::int32_t height, std::int32_t angle = 0,
                     std::int32_t style = 0, std::int32_t weight = 0) {
  FontRecord s;
  std::strncpy(s.face, face, sizeof s.face - 1);
  s.height = height;
  s.angle = angle;
  s.style = style;
  s.weight = weight;
  return s;
}

class TextTest : public test::GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    saved_palette_ = DisplayPalette();  // tests change entries; others must not see it
    if (!fs::exists(kGothic)) GTEST_SKIP() << "the tests' IPA gothic font is missing";
    // The game's own fonts folder holds the font the tests name, so the
    // results do not depend on which system fonts fontconfig prefers.
    fs::create_directories(dir_ / "fonts");
    fs::copy_file(kGothic, dir_ / "fonts" / "ipag.ttf");
    fonts_start(nullptr);
    call(bi_font_use, {0});
    for (int i = 0; i < 3; ++i) DisplayPalette()[4 * 255 + i] = 255;  // entry 255 white
  }
  void TearDown() override {
    DisplayPalette() = saved_palette_;
    fonts_release();
    GraphicsTest::TearDown();
  }
  std::array<std::uint8_t, 1024> saved_palette_{};

  // Fills an 8-bit plane with one index.
  static void fill8(Plane& p, std::uint8_t v) {
    for (int y = 0; y < p.height; ++y) std::memset(p.row(y), v, std::size_t(p.width));
  }
  static int gtext(int plane, int x, int y, std::uint32_t colour, const std::string& s) {
    ScriptString str(s);
    return int(call(bi_gtext,
                    {std::uint32_t(plane), std::uint32_t(x), std::uint32_t(y), colour, str.addr}));
  }
  static int set_font(int slot, const FontRecord& desc) {
    ScriptBlock b(&desc, sizeof desc);
    return int(call(bi_font_set, {std::uint32_t(slot), b.addr}));
  }
  // Bounding box of the pixels differing from `background` (empty when none).
  static Rect ink_box(const Plane& p, std::uint32_t background) {
    Rect r{p.width, p.height, 0, 0};
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        if (raw_value(p, x, y) != background) {
          r.left = std::min(r.left, x);
          r.top = std::min(r.top, y);
          r.right = std::max(r.right, x + 1);
          r.bottom = std::max(r.bottom, y + 1);
        }
    return r;
  }
};

TEST_F(TextTest, SlotsStartAsMeiryo16AndSpecsRoundTrip) {
  for (int slot : {0, 17, 31}) {
    ScriptBlock out(48);
    ASSERT_EQ(call(bi_font_get, {std::uint32_t(slot), out.addr}), 1u);
    FontRecord got;
    std::memcpy(&got, out.host(), 48);
    EXPECT_EQ(got, record_of("Meiryo", 16)) << slot;
  }
  FontRecord s = record_of("IPAGothic", -20, 450, kStyleSmooth | kStyleBold, 700);
  EXPECT_EQ(set_font(3, s), 1);
  ScriptBlock out(48);
  ASSERT_EQ(call(bi_font_get, {3, out.addr}), 1u);
  EXPECT_EQ(std::memcmp(out.host(), &s, 48), 0);
  // Bad slots and addresses.
  EXPECT_EQ(set_font(32, s), 0);
  EXPECT_EQ(set_font(-1, s), 0);
  EXPECT_EQ(call(bi_font_set, {3, 0}), 0u);
  EXPECT_EQ(call(bi_font_get, {3, 0}), 0u);
  EXPECT_EQ(call(bi_font_get, {32, out.addr}), 0u);
  EXPECT_EQ(call(bi_font_get, {3, 0x1234}), 0u);
}

TEST_F(TextTest, SameSpecDoesNotRealiseAgain) {
  Plane* p = make_plane(1, 64, 32, 32);
  ASSERT_EQ(set_font(2, record_of("IPAGothic", 16)), 1);
  call(bi_font_use, {2});
  EXPECT_EQ(gtext(1, 0, 0, 0, "abc"), 1);
  EXPECT_EQ(font_realisations(2), 1u);
  EXPECT_EQ(gtext(1, 0, 0, 0, "def"), 1);
  EXPECT_EQ(set_font(2, record_of("IPAGothic", 16)), 1);  // same bytes again
  EXPECT_EQ(gtext(1, 0, 0, 0, "abc"), 1);
  EXPECT_EQ(font_realisations(2), 1u);
  EXPECT_EQ(set_font(2, record_of("IPAGothic", 18)), 1);
  EXPECT_EQ(font_realisations(2), 1u);  // lazily: only on the next use
  float abc[3];
  EXPECT_EQ(font_abc(2, 'A', abc), 1);
  EXPECT_EQ(font_realisations(2), 2u);
  (void)p;
}

TEST_F(TextTest, AbcWidthsAreHeightRelative) {
  ASSERT_EQ(set_font(4, record_of("IPAGothic", -32)), 1);
  ScriptBlock out(12);
  EXPECT_EQ(call(bi_font_abc, {4, 200, out.addr}), 0u);
  EXPECT_EQ(call(bi_font_abc, {4, 128, out.addr}), 0u);
  EXPECT_EQ(call(bi_font_abc, {4, 'W', 0}), 0u);
  EXPECT_EQ(call(bi_font_abc, {40, 'W', out.addr}), 0u);
  ASSERT_EQ(call(bi_font_abc, {4, 'W', out.addr}), 1u);
  float w[3];
  std::memcpy(w, out.host(), 12);
  // Height -32: the widths are divided by -32, so they come out negated;
  // the IPA gothic 'W' is about half an em wide.
  float advance = -(w[0] + w[1] + w[2]) * 32;
  EXPECT_NEAR(advance, 16.0f, 1.5f);
  EXPECT_LT(w[1], 0.0f);
  // The same font with a positive (cell) height gives positive widths.
  ASSERT_EQ(set_font(5, record_of("IPAGothic", 32)), 1);
  float v[3];
  ASSERT_EQ(font_abc(5, 'W', v), 1);
  EXPECT_GT(v[1], 0.2f);
  EXPECT_LT(v[1], 0.7f);
  // Smoothing realises at 8x and divides by 8x the height: the same ratios.
  ASSERT_EQ(set_font(6, record_of("IPAGothic", 32, 0, kStyleSmooth)), 1);
  float s[3];
  ASSERT_EQ(font_abc(6, 'W', s), 1);
  EXPECT_NEAR(s[0] + s[1] + s[2], v[0] + v[1] + v[2], 0.02f);
  // A space has no black box.
  ASSERT_EQ(font_abc(5, ' ', v), 1);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_GT(v[0] + v[2], 0.0f);
}

TEST_F(TextTest, KerningResults) {
  ScriptBlock out(4);
  EXPECT_EQ(call(bi_font_kern, {0, 16384, out.addr}), 0u);
  EXPECT_EQ(call(bi_font_kern, {0, 0xFFFFFFFFu, out.addr}), 0u);
  EXPECT_EQ(call(bi_font_kern, {0, 'A' * 128 + 'V', 0}), 0u);
  EXPECT_EQ(call(bi_font_kern, {32, 'A' * 128 + 'V', out.addr}), 0u);
  // The IPA gothic has no kerning pairs: the query fails and writes nothing.
  store32(out.addr, 0xDEADBEEF);
  ASSERT_EQ(set_font(1, record_of("IPAGothic", 16)), 1);
  EXPECT_EQ(call(bi_font_kern, {1, 'A' * 128 + 'V', out.addr}), 0u);
  EXPECT_EQ(load32(out.addr).value(), 0xDEADBEEFu);
}

TEST_F(TextTest, ReductionTablesMakeAFullBlock255) {
  const std::uint8_t* rows = reduction_table(false);
  const std::uint8_t* last = reduction_table(true);
  EXPECT_EQ(rows[0], 0);
  EXPECT_EQ(rows[0x81], 8);
  EXPECT_EQ(rows[255], 32);
  EXPECT_EQ(last[255], 31);
  EXPECT_EQ(last[254], 28);
  EXPECT_EQ(7 * rows[255] + last[255], 255);
  for (int b = 0; b < 255; ++b) EXPECT_EQ(rows[b], last[b]) << b;
}

TEST_F(TextTest, FastReductionEqualsTheTables) {
  // Random rows with many full and empty bytes, reduced at every offset and
  // length (word-wide and byte-wise paths), against the table sums.
  const std::uint8_t* rows = reduction_table(false);
  const std::uint8_t* last = reduction_table(true);
  constexpr int kStride = 37;
  std::uint8_t bits[8 * kStride];
  std::uint32_t seed = 12345;
  for (int round = 0; round < 50; ++round) {
    for (std::uint8_t& b : bits) {
      seed = seed * 1103515245u + 12345u;
      int pick = (seed >> 16) % 4;
      b = pick == 0 ? 0 : pick == 1 ? 0xFF : std::uint8_t(seed >> 8);
    }
    for (int i0 : {0, 1, 5, 29}) {
      int n = kStride - i0;
      std::uint8_t out[kStride];
      reduce_blocks(bits, kStride, i0, n, out);
      for (int i = 0; i < n; ++i) {
        int want = last[bits[7 * kStride + i0 + i]];
        for (int r = 0; r < 7; ++r) want += rows[bits[r * kStride + i0 + i]];
        ASSERT_EQ(out[i], want) << "round " << round << " block " << i0 + i;
      }
    }
  }
  std::memset(bits, 0xFF, sizeof bits);
  std::uint8_t out[8];
  reduce_blocks(bits, kStride, 0, 8, out);
  for (std::uint8_t v : out) EXPECT_EQ(v, 255);
}

TEST_F(TextTest, TextBoxForEveryAngleRange) {
  auto eq = [](Rect r, Rect e) {
    return r.left == e.left && r.top == e.top && r.right == e.right && r.bottom == e.bottom;
  };
  EXPECT_TRUE(eq(text_box(100, 20, 0), {0, 0, 100, 20}));
  EXPECT_TRUE(eq(text_box(100, 20, 2700), {-20, 0, 0, 100}));
  EXPECT_TRUE(eq(text_box(100, 20, 900), {0, -100, 20, 0}));
  EXPECT_TRUE(eq(text_box(100, 20, 1800), {-100, -20, 0, 0}));
  // 45 degrees: sin = cos = 0.7071..., values truncated.
  EXPECT_TRUE(eq(text_box(100, 20, 450), {0, -70, 84, 14}));
  EXPECT_TRUE(eq(text_box(100, 20, 1350), {-70, -84, 14, 0}));
  EXPECT_TRUE(eq(text_box(100, 20, 2250), {-84, -14, 0, 70}));
  EXPECT_TRUE(eq(text_box(100, 20, 3150), {-14, 0, 70, 84}));
  // Angles outside 0..3599 are taken modulo a full turn.
  EXPECT_TRUE(eq(text_box(100, 20, -900), text_box(100, 20, 2700)));
  EXPECT_TRUE(eq(text_box(100, 20, 4500), text_box(100, 20, 900)));
}

TEST_F(TextTest, SmoothedTextIntoAnEightBitPlaneIsCoverage) {
  Plane* p = make_plane(1, 96, 64, 8);
  fill8(*p, 77);
  // A full-width block (0x81A1) is solid ink: its inside covers whole blocks.
  ASSERT_EQ(set_font(7, record_of("IPAGothic", -40, 0, kStyleSmooth)), 1);
  call(bi_font_use, {7});
  ASSERT_EQ(gtext(1, 10, 5, 0, "\x81\xA1"), 1);
  std::set<int> values;
  int full = 0, partial = 0;
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      int v = p->row(y)[x];
      values.insert(v);
      full += v == 255;
      partial += v > 0 && v < 255 && v != 77;
    }
  EXPECT_GT(full, 200);   // the inside of the block
  EXPECT_GT(partial, 0);  // its edges
  // Pixels above and left of the text box are untouched, the box's own
  // uncovered pixels are written 0.
  EXPECT_EQ(p->row(0)[0], 77);
  EXPECT_EQ(p->row(4)[50], 77);
  EXPECT_EQ(p->row(10)[9], 77);
  EXPECT_EQ(p->row(5)[10], 0);
  // A fully covered pixel is exactly 255 and never more than one block of ink.
  EXPECT_EQ(*values.rbegin(), 255);
}

TEST_F(TextTest, BlendingMatchesTheCoverage) {
  // The same text into an 8-bit coverage map and onto 24-, 32- and 16-bit
  // planes: every pixel must be the mul-table blend of its coverage.
  ASSERT_EQ(set_font(8, record_of("IPAGothic", 24, 0, kStyleSmooth)), 1);
  call(bi_font_use, {8});
  const std::string text = "Ag\x82\xA0\x8A\xBF";  // A g hiragana-a kanji
  Plane* cov = make_plane(1, 120, 40, 8);
  ASSERT_EQ(gtext(1, 3, 4, 0, text), 1);
  DisplayPalette()[4 * 9 + 0] = 10;   // blue
  DisplayPalette()[4 * 9 + 1] = 200;  // green
  DisplayPalette()[4 * 9 + 2] = 90;   // red
  const KernelTables& k = kernel_tables();
  for (int bpp : {24, 32, 16}) {
    Plane* p = make_plane(2, 120, 40, bpp);
    const std::uint32_t back = bpp == 16 ? 0x1234u : 0x00406080u;
    for (int y = 0; y < p->height; ++y)
      for (int x = 0; x < p->width; ++x) set_raw(*p, x, y, back);
    ASSERT_EQ(gtext(2, 3, 4, 9, text), 1);
    int partial = 0;
    for (int y = 0; y < p->height; ++y)
      for (int x = 0; x < p->width; ++x) {
        int c = cov->row(y)[x];
        std::uint32_t got = raw_value(*p, x, y);
        std::uint32_t want = back;
        if (c) {
          std::uint32_t d = bpp == 16 ? k.expand15[back] : back;
          int inv = 255 - c;
          int b = k.mul[c][10] + k.mul[inv][d & 0xFF];
          int g = k.mul[c][200] + k.mul[inv][(d >> 8) & 0xFF];
          int r = k.mul[c][90] + k.mul[inv][(d >> 16) & 0xFF];
          want = bpp == 16 ? std::uint32_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3))
                           : (back & 0xFF000000u) | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 |
                                 std::uint32_t(b);
          partial += c < 255;
        }
        ASSERT_EQ(got, want) << bpp << " bpp at " << x << "," << y << " coverage " << c;
      }
    EXPECT_GT(partial, 20);
  }
}

TEST_F(TextTest, HardEdgesWriteThePaletteWord) {
  ASSERT_EQ(set_font(9, record_of("IPAGothic", 20, 0, kStyleSmooth)), 1);
  call(bi_font_use, {9});
  DisplayPalette()[4 * 5 + 0] = 1;
  DisplayPalette()[4 * 5 + 1] = 2;
  DisplayPalette()[4 * 5 + 2] = 3;
  DisplayPalette()[4 * 5 + 3] = 4;
  Plane* p = make_plane(1, 80, 30, 32);
  ASSERT_EQ(gtext(1, 2, 2, kTextHardEdges | 5, "Wave"), 1);
  int inked = 0;
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      std::uint32_t v = raw_value(*p, x, y);
      ASSERT_TRUE(v == 0 || v == 0x04030201u) << x << "," << y << " " << std::hex << v;
      inked += v != 0;
    }
  EXPECT_GT(inked, 30);
}

TEST_F(TextTest, PlainTextWritesTheTwoIndexes) {
  ASSERT_EQ(set_font(10, record_of("IPAGothic", 16)), 1);
  call(bi_font_use, {10});
  Plane* p = make_plane(1, 100, 30, 8);
  fill8(*p, 200);
  ASSERT_EQ(gtext(1, 4, 6, kTextOpaque | 3 << 8 | 7, "Hi \x82\xA0"), 1);
  int text = 0, back = 0;
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      int v = p->row(y)[x];
      ASSERT_TRUE(v == 200 || v == 7 || v == 3) << v;
      text += v == 7;
      back += v == 3;
      bool in_cell = x >= 4 && y >= 6 && y < 6 + 16;
      if (!in_cell) {
        EXPECT_NE(v, 3) << x << "," << y;  // background only in the cells
      }
    }
  EXPECT_GT(text, 20);
  EXPECT_GT(back, 200);
  EXPECT_EQ(p->row(6)[4], 3);  // the cell's corner
  // Transparent: only the text index appears.
  fill8(*p, 200);
  ASSERT_EQ(gtext(1, 4, 6, 3 << 8 | 7, "Hi"), 1);
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) ASSERT_TRUE(p->row(y)[x] == 200 || p->row(y)[x] == 7);
}

TEST_F(TextTest, ClipAndFailureResults) {
  Plane* p = make_plane(1, 64, 32, 24);
  ASSERT_EQ(set_font(11, record_of("IPAGothic", 16)), 1);
  ASSERT_EQ(set_font(12, record_of("IPAGothic", 16, 0, kStyleSmooth)), 1);
  for (int font : {11, 12}) {
    call(bi_font_use, {std::uint32_t(font)});
    EXPECT_EQ(gtext(1, -1000, 0, 0, "abc"), 0) << font;        // wholly left of the clip
    EXPECT_EQ(gtext(1, 64, 0, 0, "abc"), 0) << font;           // wholly right
    EXPECT_EQ(gtext(1, 0, 40, 0, "abc"), 0) << font;           // below
    EXPECT_EQ(gtext(1, -10, 0, 0, "abc"), 1) << font;          // partly inside
    EXPECT_EQ(gtext(2, 0, 0, 0, "abc"), 0) << font;            // no plane
    EXPECT_EQ(call(bi_gtext, {1, 0, 0, 0, 0}), 0u);            // null string
    EXPECT_EQ(call(bi_gtext, {1, 0, 0, 0, 0x7FFFFFF0u}), 0u);  // wild string
  }
  // A clip rectangle counts, not the plane's bounds.
  Rect clip{20, 0, 64, 32};
  set_clip(*p, &clip);
  call(bi_font_use, {11});
  EXPECT_EQ(gtext(1, -40, 0, 0, "abc"), 0);
  // A font slot that does not exist cannot be realised.
  call(bi_font_use, {200});
  EXPECT_EQ(gtext(1, 30, 0, 0, "abc"), 0);
  // An empty string at angle 0 has an empty box.
  call(bi_font_use, {11});
  EXPECT_EQ(gtext(1, 30, 0, 0, ""), 0);
}

TEST_F(TextTest, UnsetSlotDrawsAsMeiryo16) {
  Plane* a = make_plane(1, 120, 24, 32);
  Plane* b = make_plane(2, 120, 24, 32);
  call(bi_font_use, {13});  // never set
  ASSERT_EQ(gtext(1, 0, 0, 0xFF, "Text \x82\xA0\x82\xA2"), 1);
  ASSERT_EQ(set_font(14, record_of("Meiryo", 16)), 1);
  call(bi_font_use, {14});
  ASSERT_EQ(gtext(2, 0, 0, 0xFF, "Text \x82\xA0\x82\xA2"), 1);
  Rect ink = ink_box(*a, 0);
  EXPECT_FALSE(ink.empty());
  EXPECT_LE(ink.bottom, 16);  // cell height 16
  for (int y = 0; y < a->height; ++y)
    for (int x = 0; x < a->width; ++x)
      ASSERT_EQ(raw_value(*a, x, y), raw_value(*b, x, y)) << x << "," << y;
  // "Meiryo" is a name we map: no fallback notice.
  EXPECT_TRUE(messages_.empty());
}

TEST_F(TextTest, UnknownFaceFallsBackWithOneNotice) {
  make_plane(1, 100, 24, 32);
  ASSERT_EQ(set_font(15, record_of("No Such Face", 16)), 1);
  call(bi_font_use, {15});
  EXPECT_EQ(gtext(1, 0, 0, 0xFF, "abc"), 1);
  ASSERT_EQ(set_font(15, record_of("No Such Face", 18)), 1);
  EXPECT_EQ(gtext(1, 0, 0, 0xFF, "abc"), 1);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, 2u);
  EXPECT_NE(messages_[0].second.find("No Such Face"), std::string::npos);
  EXPECT_FALSE(ink_box(*plane_at(1), 0).empty());
}

// Whatever faces the host has (none with Japanese, say), a name that is not
// the game's own still draws kana and kanji: the host's Japanese face, else
// the game's.
TEST_F(TextTest, NamesOutsideTheGameStillDrawJapanese) {
  const char* kana_kanji = "\x82\xA0\x8A\xBF\x8E\x9A";  // "あ漢字"
  int slot = 4;
  for (const char* name : {"Meiryo", "MS Mincho", "No Such Face"}) {
    Plane* p = make_plane(slot, 80, 24, 32);
    ASSERT_EQ(set_font(slot, record_of(name, 16)), 1) << name;
    call(bi_font_use, {static_cast<std::uint32_t>(slot)});
    EXPECT_EQ(gtext(slot, 0, 0, 0xFF, kana_kanji), 1) << name;
    const Rect ink = ink_box(*p, 0);
    EXPECT_FALSE(ink.empty()) << name;
    EXPECT_GT(ink.right - ink.left, 30) << name;  // three glyphs, not one box
    ++slot;
  }
}

TEST_F(TextTest, BrokenLeadByteDrawsNothing) {
  Plane* a = make_plane(1, 80, 24, 8);
  Plane* b = make_plane(2, 80, 24, 8);
  ASSERT_EQ(set_font(16, record_of("IPAGothic", 16, 0, kStyleSmooth)), 1);
  call(bi_font_use, {16});
  ASSERT_EQ(gtext(1, 0, 0, 0, "AB"), 1);
  ASSERT_EQ(gtext(2, 0, 0, 0, "AB\x82"), 1);
  for (int y = 0; y < 24; ++y) ASSERT_EQ(std::memcmp(a->row(y), b->row(y), 80), 0) << y;
}

TEST_F(TextTest, HugeHeightsAndOddAnglesStayBounded) {
  make_plane(1, 64, 64, 32);
  ASSERT_EQ(set_font(17, record_of("IPAGothic", 1 << 30, 123456, kStyleSmooth | kStyleItalic)), 1);
  call(bi_font_use, {17});
  EXPECT_EQ(gtext(1, 0, 0, 0xFF, "A"), 1);  // capped at 1024 before the 8x scaling
  ASSERT_EQ(set_font(18, record_of("IPAGothic", -(1 << 30), -7)), 1);
  call(bi_font_use, {18});
  EXPECT_EQ(gtext(1, 0, 0, 0xFF, "A"), 1);
  ASSERT_EQ(set_font(19, record_of("IPAGothic", 0, 0, 0, 1 << 30)), 1);  // height 0, huge weight
  float abc[3];
  EXPECT_EQ(font_abc(19, 'A', abc), 1);
  EXPECT_TRUE(std::isfinite(abc[0]) && std::isfinite(abc[1]) && std::isfinite(abc[2]));
  // A long smoothed line whose work bitmap would be too large is refused
  // without drawing, but succeeds as when memory runs out.
  ASSERT_EQ(set_font(20, record_of("IPAGothic", 1024, 0, kStyleSmooth)), 1);
  call(bi_font_use, {20});
  EXPECT_EQ(gtext(1, 0, 0, 0xFF, std::string(200, 'W')), 1);
}

TEST_F(TextTest, UnderlineAndStrikeOutMarkTheLine) {
  Plane* plain = make_plane(1, 80, 24, 8);
  Plane* lined = make_plane(2, 80, 24, 8);
  ASSERT_EQ(set_font(21, record_of("IPAGothic", 20)), 1);
  ASSERT_EQ(set_font(22, record_of("IPAGothic", 20, 0, kStyleUnderline | kStyleStrikeOut)), 1);
  call(bi_font_use, {21});
  ASSERT_EQ(gtext(1, 0, 0, 1, "    "), 1);  // spaces: no ink at all
  call(bi_font_use, {22});
  ASSERT_EQ(gtext(2, 0, 0, 1, "    "), 1);
  EXPECT_TRUE(ink_box(*plain, 0).empty());
  // Two full-width horizontal runs: one above the baseline, one below.
  std::vector<int> rows;
  for (int y = 0; y < 24; ++y) {
    int n = 0;
    for (int x = 0; x < 80; ++x) n += lined->row(y)[x] == 1;
    if (n) {
      EXPECT_GT(n, 15) << y;
      rows.push_back(y);
    }
  }
  ASSERT_GE(rows.size(), 2u);
  EXPECT_GT(rows.back() - rows.front(), 4);
}

TEST_F(TextTest, FontListFindsJapaneseFaces) {
  ScriptBlock names(32 * 64);
  std::uint32_t n = call(bi_font_list, {names.addr, 64});
  ASSERT_GT(n, 0u);
  bool gothic = false;
  for (std::uint32_t i = 0; i < n; ++i) {
    const char* name = reinterpret_cast<const char*>(names.host() + 32 * i);
    ASSERT_LT(strnlen(name, 32), 32u);
    EXPECT_NE(name[0], '@');
    gothic = gothic || std::string(name) == "IPAGothic";
  }
  EXPECT_TRUE(gothic);
  EXPECT_EQ(call(bi_font_list, {names.addr, 1}), 1u);
  EXPECT_EQ(call(bi_font_list, {names.addr, 0}), 0u);
  EXPECT_EQ(call(bi_font_list, {0, 10}), 0u);
}

TEST_F(TextTest, BrokenGameFontsAreSkipped) {
  test::write_host_file(dir_ / "fonts" / "broken.ttf", std::string(5000, '\x42'));
  test::write_host_file(dir_ / "fonts" / "empty.otf", "");
  fonts_release();
  make_plane(1, 64, 24, 32);
  ASSERT_EQ(set_font(1, record_of("IPAGothic", 16)), 1);
  call(bi_font_use, {1});
  EXPECT_EQ(gtext(1, 0, 0, 0xFF, "ok"), 1);
  EXPECT_FALSE(ink_box(*plane_at(1), 0).empty());
  ScriptBlock names(32 * 4);
  EXPECT_GT(call(bi_font_list, {names.addr, 4}), 0u);
}

TEST_F(TextTest, GameFontsAreFoundInTheFontsArchive) {
  if (!fs::exists(kDejaVu)) GTEST_SKIP() << "DejaVu Sans is not installed";
  // The loose folder goes; the same font packed into fonts.bin is found
  // when archives are searched, and it lists first under its own names.
  fs::remove_all(dir_ / "fonts");
  test::write_host_file(dir_ / "junk", std::string(3000, '\x17'));  // packed as a broken font
  std::string error;
  ASSERT_TRUE(storage::write_archive((dir_ / "fonts.bin").string(),
                                     {{"a_broken.ttf", (dir_ / "junk").string()},
                                      {"DejaVuSans.ttf", kDejaVu},
                                      {"ipag.ttf", kGothic}},
                                     7, &error))
      << error;
  config().FileSystem = 1;
  fonts_release();
  // DejaVu Sans has no Japanese, so only the game's own list names it.
  ScriptBlock names(32 * 3);
  ASSERT_EQ(call(bi_font_list, {names.addr, 3}), 3u);
  EXPECT_STREQ(reinterpret_cast<const char*>(names.host()), "DejaVu Sans");
  EXPECT_STREQ(reinterpret_cast<const char*>(names.host() + 32), "IPAGothic");
  EXPECT_STREQ(reinterpret_cast<const char*>(names.host() + 64),
               "IPA\x83\x53\x83\x56\x83\x62\x83\x4E");
  make_plane(1, 64, 24, 32);
  ASSERT_EQ(set_font(1, record_of("IPA\x83\x53\x83\x56\x83\x62\x83\x4E", 16)),
            1);  // the Japanese name
  call(bi_font_use, {1});
  EXPECT_EQ(gtext(1, 0, 0, 0xFF, "ok"), 1);
  EXPECT_FALSE(ink_box(*plane_at(1), 0).empty());
  EXPECT_TRUE(messages_.empty());
  // DejaVu Sans has kerning pairs: "AV" closes up, divided by the height.
  ASSERT_EQ(set_font(2, record_of("DejaVu Sans", 40)), 1);
  float av = 0, aa = 1;
  ASSERT_EQ(font_kern(2, 'A' * 128 + 'V', av), 1);
  EXPECT_LT(av, -0.01f);
  EXPECT_GT(av, -0.2f);
  ASSERT_EQ(font_kern(2, 1 * 128 + 2, aa), 1);  // characters without glyphs: no pair
  EXPECT_EQ(aa, 0.0f);
}

TEST_F(TextTest, RandomSpecsAndStringsNeverFault) {
  // Random font records (faces of garbage bytes, any height, angle, style and
  // weight) and random CP932-ish strings into planes of every depth.
  for (int bpp : {1, 4, 8, 16, 24, 32}) make_plane(bpp, 40, 30, bpp);
  std::uint32_t seed = 777;
  auto next = [&]() {
    seed = seed * 1664525u + 1013904223u;
    return seed;
  };
  const std::int32_t heights[] = {0, 1, -1, 8, -12, 16, 40, -64, 1 << 30, -(1 << 30), 3};
  for (int round = 0; round < 120; ++round) {
    FontRecord s;
    for (char& ch : s.face) ch = char(next() % 3 ? 'A' + next() % 26 : next());
    if (next() % 2) std::strcpy(s.face, "IPAGothic");
    s.height = heights[next() % (sizeof heights / sizeof heights[0])];
    s.angle = std::int32_t(next());
    if (next() % 2) s.angle = std::int32_t(next() % 3600);
    s.style = std::int32_t(next() & 31);
    s.weight = std::int32_t(next() % 4 ? next() % 1200 : next());
    int slot = int(next() % 32);
    ASSERT_EQ(set_font(slot, s), 1);
    call(bi_font_use, {std::uint32_t(slot)});
    std::string text;
    for (int i = int(next() % 6); i > 0; --i)
      text += char(next() % 2 ? 0x81 + next() % 0x7B : 0x20 + next() % 0xE0);
    int bpp = std::initializer_list<int>{1, 4, 8, 16, 24, 32}.begin()[next() % 6];
    int x = int(next() % 80) - 40, y = int(next() % 60) - 30;
    int r = gtext(bpp, x, y, next(), text);
    EXPECT_TRUE(r == 0 || r == 1);
    float abc[3], kern;
    font_abc(slot, next() % 256, abc);
    font_kern(slot, next() % 20000, kern);
  }
}

// A formatter that shows what it was given.
std::string echo_formatter(std::string_view format, Addr args, Addr) {
  return std::string(format) + std::to_string(load32(args).value_or(0));
}

TEST_F(TextTest, GtextfFormatsThenDraws) {
  fonts_start(echo_formatter);
  Plane* a = make_plane(1, 80, 24, 8);
  Plane* b = make_plane(2, 80, 24, 8);
  ASSERT_EQ(gtext(1, 0, 0, 1, "n=42"), 1);
  ScriptString format("n=");
  ASSERT_EQ(call_raw(bi_gtextf, {2, 0, 0, 1, format.addr, 42}), 1u);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 80; ++x) ASSERT_EQ(a->row(y)[x], b->row(y)[x]) << x << "," << y;
  EXPECT_EQ(call_raw(bi_gtextf, {2, 0, 0, 1, 0, 42}), 0u);
}

}  // namespace
}  // namespace talven::graphics

namespace talven::graphics {
namespace {

// A game folder holding the tests' face as the current folder: the debug
// window's face is the host's, or the game's where the host has no
// Japanese face (as under Wine).
struct GameFolderWithFont {
  fs::path dir = ::talven::test::make_temp_dir("talven_wtext_");
  fs::path old = fs::current_path();
  int file_system = config().FileSystem;
  GameFolderWithFont() {
    ::talven::test::add_game_font(dir);
    fs::current_path(dir);
    config().FileSystem = 3;  // loose files
    fonts_release();
  }
  ~GameFolderWithFont() {
    fonts_release();
    config().FileSystem = file_system;
    fs::current_path(old);
    fs::remove_all(dir);
  }
};

TEST(WindowText, RendersJapaneseLinesAsCoverage) {
  // The debug window's font: its own face and buffers, no font slot used.
  GameFolderWithFont game;
  const std::string line = "log: \x93\xFA\x96\x7B\x8C\xEA";  // "log: " and three kanji
  std::vector<std::uint8_t> cov;
  int w = 0, h = 0;
  ASSERT_TRUE(window_text_render(line, cov, w, h));
  ASSERT_EQ(cov.size(), std::size_t(w) * std::size_t(h));
  EXPECT_GE(w, window_text_width(line));
  EXPECT_GT(window_text_width(line), window_text_width("log: "));
  EXPECT_GE(h, window_text_line_height());
  EXPECT_GT(window_text_line_height(), 8);
  int solid = 0, partial = 0;
  for (std::uint8_t c : cov) {
    solid += c == 255;
    partial += c > 0 && c < 255;
  }
  EXPECT_GT(solid, 0);  // thin strokes at 14 pixels rarely cover a whole block
  EXPECT_GT(partial, 50);
  EXPECT_EQ(window_text_width(""), 0);
  EXPECT_FALSE(window_text_render("", cov, w, h) && w > 1);
  EXPECT_EQ(font_realisations(0), 0u);
}

}  // namespace
}  // namespace talven::graphics
