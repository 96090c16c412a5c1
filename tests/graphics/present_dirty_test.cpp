// The dirty-rectangle list: appending, the merge on overflow, and drt_copy
// against a per-pixel reference (covered by any rectangle, inside the clip
// and the source) over random rectangle sets and the depth pairs.
#include <random>

#include "graphics/present/page_builtins.h"
#include "graphics/present/pages.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::call;
using test::make_plane;
using test::raw_value;
using test::ScriptBlock;
using test::set_raw;

class DirtyTest : public test::GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    drt_init();
  }
  void TearDown() override {
    drt_init();
    GraphicsTest::TearDown();
  }
  static ScriptBlock rect_block(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
    std::int32_t v[4] = {l, t, r, b};
    return ScriptBlock(v, 16);
  }
  static void fill(Plane& p, std::uint32_t base) {
    const std::uint32_t mask = p.bpp == 32 ? 0xFFFFFFFFu : (1u << p.bpp) - 1;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) set_raw(p, x, y, (base + y * 131u + x * 7u) & mask);
  }
};

TEST_F(DirtyTest, OverflowMergesEverythingIntoOne) {
  for (int i = 0; i < kDirtyRectCapacity; ++i) {
    ScriptBlock r = rect_block(i, 2 * i, i + 3, 2 * i + 1);
    ASSERT_EQ(call(bi_drt_set, {r.addr}), 1u) << i;
  }
  EXPECT_EQ(drt_count(), kDirtyRectCapacity);
  ScriptBlock last = rect_block(-7, 5, 1, 9);
  EXPECT_EQ(call(bi_drt_set, {last.addr}), 0u);
  ASSERT_EQ(drt_count(), 1);
  const Rect& u = drt_rects()[0];
  EXPECT_EQ(u.left, -7);
  EXPECT_EQ(u.top, 0);
  EXPECT_EQ(u.right, kDirtyRectCapacity - 1 + 3);
  EXPECT_EQ(u.bottom, 2 * (kDirtyRectCapacity - 1) + 1);

  // The list takes rectangles again after the merge.
  EXPECT_EQ(call(bi_drt_set, {last.addr}), 1u);
  EXPECT_EQ(drt_count(), 2);

  // Empty rectangles do not stretch the union.
  drt_init();
  drt_set(Rect{10, 10, 20, 20});
  for (int i = 1; i < kDirtyRectCapacity; ++i) drt_set(Rect{-1000, -1000, -2000, 5});
  EXPECT_FALSE(drt_set(Rect{500, 500, 500, 900}));
  EXPECT_EQ(drt_rects()[0].left, 10);
  EXPECT_EQ(drt_rects()[0].bottom, 20);

  // A null or unreadable address is refused and leaves the list alone.
  EXPECT_EQ(call(bi_drt_set, {0}), 0u);
  EXPECT_EQ(call(bi_drt_set, {0xFFFFFFF0u}), 0u);
  EXPECT_EQ(drt_count(), 1);
  EXPECT_EQ(call(bi_drt_init, {}), 1u);
  EXPECT_EQ(drt_count(), 0);
}

TEST_F(DirtyTest, CopyWithAnEmptyListCopiesNothing) {
  Plane* dst = make_plane(1, 16, 16, 24);
  Plane* src = make_plane(2, 16, 16, 24);
  fill(*src, 99);
  EXPECT_EQ(call(bi_drt_copy, {1, 0, 0, 2, 0}), 1u);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(raw_value(*dst, x, y), 0u);

  // Empty slots fail, and the list is used up either way.
  drt_set(Rect{0, 0, 4, 4});
  EXPECT_EQ(call(bi_drt_copy, {1, 0, 0, 9, 0}), 0u);
  EXPECT_EQ(drt_count(), 0);
  EXPECT_EQ(call(bi_drt_copy, {1, 0, 0, 2, 0}), 1u);
  EXPECT_EQ(raw_value(*dst, 0, 0), 0u);

  // Positions and rectangles at the ends of the 32-bit range stay inside.
  const Rect huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  drt_set(huge);
  EXPECT_TRUE(drt_copy(1, INT32_MAX, INT32_MIN, 2, nullptr));
  drt_set(huge);
  EXPECT_TRUE(drt_copy(1, 0, 0, 2, &huge));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(raw_value(*dst, x, y), 0u);
  drt_set(huge);
  const Rect from_minus_five{-5, -5, INT32_MAX, INT32_MAX};
  EXPECT_TRUE(drt_copy(1, 0, 0, 2, &from_minus_five));
  EXPECT_EQ(raw_value(*dst, 4, 4), 0u);
  EXPECT_EQ(raw_value(*dst, 5, 5), raw_value(*src, 0, 0));
  EXPECT_EQ(raw_value(*dst, 15, 15), raw_value(*src, 10, 10));

  // An unreadable source rectangle fails without touching the list.
  drt_set(Rect{0, 0, 4, 4});
  EXPECT_EQ(call(bi_drt_copy, {1, 0, 0, 2, 0xFFFFFFF0u}), 0u);
  EXPECT_EQ(drt_count(), 1);
}

// Reference: destination pixel (x, y) takes source (x - dx + sl, y - dy + st)
// when a rectangle covers it, it lies in the clip, the placed source
// rectangle and the source plane.
struct Case {
  int dst_bpp, src_bpp;
  std::int32_t dx, dy;
  bool with_rect;
  Rect src_rect;
  Rect clip;
};

TEST_F(DirtyTest, CopyMatchesThePerPixelReference) {
  std::mt19937 rng(12345);
  const int W = 40, H = 30, SW = 33, SH = 27;
  const Case cases[] = {
      {24, 24, 0, 0, false, {}, {0, 0, W, H}},
      {32, 32, 5, -3, false, {}, {2, 1, 37, 28}},
      {16, 16, -4, 6, true, {3, 2, 20, 25}, {0, 0, W, H}},
      {8, 8, 10, 10, true, {-5, -5, 60, 60}, {0, 0, W, H}},
      {24, 8, 1, 2, true, {4, 4, 30, 20}, {5, 0, W, 25}},
      {32, 8, -2, -2, false, {}, {0, 0, W, H}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.src_bpp << "->" << c.dst_bpp << " at " << c.dx << "," << c.dy);
    Plane* src = make_plane(2, SW, SH, c.src_bpp);
    fill(*src, 1000);
    if (c.src_bpp == 8)
      for (int i = 0; i < 256; ++i) {
        src->colors()[4 * i] = std::uint8_t(i);
        src->colors()[4 * i + 1] = std::uint8_t(255 - i);
        src->colors()[4 * i + 2] = std::uint8_t(i * 3);
        src->colors()[4 * i + 3] = 0;
      }
    for (int round = 0; round < 20; ++round) {
      Plane* dst = make_plane(1, W, H, c.dst_bpp);
      const std::uint32_t bg = c.dst_bpp == 8 ? 0xEE : c.dst_bpp == 16 ? 0x7FFF : 0x00EEEEEE;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) set_raw(*dst, x, y, bg);
      set_clip(*dst, &c.clip);

      std::vector<Rect> rects;
      const int n = 1 + int(rng() % 12);
      for (int i = 0; i < n; ++i) {
        int l = int(rng() % 50) - 5, t = int(rng() % 40) - 5;
        rects.push_back(Rect{l, t, l + int(rng() % 20), t + int(rng() % 15)});
      }
      if (round == 0) rects = {Rect{-100, -100, 100, 100}};  // covers it all
      for (const Rect& r : rects) drt_set(r);

      ASSERT_TRUE(drt_copy(1, c.dx, c.dy, 2, c.with_rect ? &c.src_rect : nullptr));
      EXPECT_EQ(drt_count(), 0);

      const Rect s = c.with_rect ? c.src_rect : Rect{0, 0, SW, SH};
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const int sx = x - c.dx + s.left, sy = y - c.dy + s.top;
          bool covered = false;
          for (const Rect& r : rects)
            covered |= x >= r.left && x < r.right && y >= r.top && y < r.bottom;
          const bool copied = covered && x >= c.clip.left && x < c.clip.right && y >= c.clip.top &&
                              y < c.clip.bottom && sx >= s.left && sx < s.right && sy >= s.top &&
                              sy < s.bottom && sx >= 0 && sx < SW && sy >= 0 && sy < SH;
          std::uint32_t want = bg;
          if (copied) {
            want = raw_value(*src, sx, sy);
            if (c.src_bpp == 8 && c.dst_bpp != 8) {
              const std::uint8_t* e = src->colors() + 4 * want;
              want = e[0] | e[1] << 8 | e[2] << 16 | (c.dst_bpp == 32 ? 0xFF000000u : 0u);
            }
          }
          ASSERT_EQ(raw_value(*dst, x, y), want) << "round " << round << " at " << x << "," << y;
        }
    }
  }
}

TEST_F(DirtyTest, UnsupportedDepthPairsCopyNothing) {
  for (auto [d, s] : {std::pair{24, 16}, {8, 24}, {16, 32}, {32, 24}, {4, 4}}) {
    Plane* dst = make_plane(1, 8, 8, d);
    Plane* src = make_plane(2, 8, 8, s);
    fill(*src, 5);
    drt_set(Rect{0, 0, 8, 8});
    EXPECT_EQ(call(bi_drt_copy, {1, 0, 0, 2, 0}), 1u);
    EXPECT_EQ(drt_count(), 0);
    if (d == 4) continue;  // no whole-byte pixels to read back
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(raw_value(*dst, x, y), 0u) << d << "<-" << s;
  }
}

}  // namespace
}  // namespace talven::graphics
