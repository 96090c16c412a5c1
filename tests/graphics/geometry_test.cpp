// Scaled, mirrored and rotated copies, and the shape fills: exact checks
// of the geometry plus golden pictures under tests/data/graphics (run with
// TALVEN_UPDATE_GOLDEN=1 to rewrite them after a deliberate change).
#include <cstdlib>

#include "graphics/kernels/kernel_builtins.h"
#include "graphics/kernels/kernels.h"
#include "graphics/plane/image_io.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::Bgra;
using test::call;
using test::color_at;
using test::expect_golden;
using test::make_plane;
using test::raw_value;
using test::ScriptBlock;

class GeometryTest : public test::GraphicsTest {
 protected:
  void SetUp() override {
    test::GraphicsTest::SetUp();
    config().MultiThreading = 1;
  }
};

struct RectArg : ScriptBlock {
  RectArg(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) : ScriptBlock(16) {
    std::int32_t v[4] = {l, t, r, b};
    write_bytes(addr, v, 16);
  }
};

struct ModeArg : ScriptBlock {
  ModeArg(int mode, int op, int opacity, int extra = 0, std::uint32_t p1 = 0, std::uint32_t p2 = 0)
      : ScriptBlock(12) {
    std::uint8_t r[12] = {std::uint8_t(mode), std::uint8_t(op), std::uint8_t(opacity),
                          std::uint8_t(extra)};
    std::memcpy(r + 4, &p1, 4);
    std::memcpy(r + 8, &p2, 4);
    write_bytes(addr, r, 12);
  }
};

// A source whose every pixel is distinct: value = 0xFF000000 | y << 8 | x.
Plane* numbered(int slot, int w, int h) {
  Plane* p = make_plane(slot, w, h, 32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      test::set_raw(*p, x, y, 0xFF000000u | std::uint32_t(y) << 8 | std::uint32_t(x) | 0x400000u);
  return p;
}

void fill_all(Plane& p, std::uint32_t v) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) test::set_raw(p, x, y, v);
}

TEST_F(GeometryTest, GblitScalesAndMirrors) {
  Plane* src = numbered(1, 4, 3);
  Plane* dst = make_plane(2, 8, 6, 32);
  // Twice the size: each source pixel becomes a 2x2 block.
  EXPECT_EQ(call(bi_gblit, {2, 0, 1, 0, 0, 0}), 1u);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, x / 2, y / 2));

  Plane* d2 = make_plane(3, 4, 3, 32);
  RectArg reversed_x(4, 0, 0, 3);
  EXPECT_EQ(call(bi_gblit, {3, reversed_x.addr, 1, 0, 0, 0}), 1u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*d2, x, y), raw_value(*src, 3 - x, y));
  // Both rectangles reversed: no mirror.
  RectArg src_reversed_x(4, 0, 0, 3);
  EXPECT_EQ(call(bi_gblit, {3, reversed_x.addr, 1, src_reversed_x.addr, 0, 0}), 1u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*d2, x, y), raw_value(*src, x, y));
  // Vertical mirror, and both axes at once.
  RectArg reversed_y(0, 3, 4, 0);
  EXPECT_EQ(call(bi_gblit, {3, reversed_y.addr, 1, 0, 0, 0}), 1u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*d2, x, y), raw_value(*src, x, 2 - y));
  RectArg reversed_xy(4, 3, 0, 0);
  EXPECT_EQ(call(bi_gblit, {3, reversed_xy.addr, 1, 0, 0, 0}), 1u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*d2, x, y), raw_value(*src, 3 - x, 2 - y));

  // The stretch copy service mirrors the same way.
  Plane* d3 = make_plane(4, 4, 3, 32);
  EXPECT_EQ(stretch_copy(d3, Rect{4, 0, 0, 3}, src, src->bounds(), nullptr, nullptr), 1);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*d3, x, y), raw_value(*src, 3 - x, y));
  EXPECT_EQ(stretch_copy(d3, Rect{0, 0, 2, 3}, src, src->bounds(), nullptr, nullptr), 1);
  EXPECT_EQ(raw_value(*d3, 1, 1), raw_value(*src, 2, 1));  // halved: every other column
  EXPECT_EQ(call(bi_gblit, {9, 0, 1, 0, 0, 0}), 0u);
}

TEST_F(GeometryTest, GblitRotatesAndLeavesUnmappedPixels) {
  Plane* src = numbered(1, 4, 4);
  Plane* dst = make_plane(2, 4, 4, 32);
  EXPECT_EQ(call(bi_gblit, {2, 0, 1, 0, 0, 512}), 1u);
  // A quarter turn: the top row of the result is the left column, bottom up.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, y, 3 - x)) << x << "," << y;
  // Two quarter turns are a half turn; -512 turns back.
  EXPECT_EQ(call(bi_gblit, {2, 0, 1, 0, 0, 1024}), 1u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, 3 - x, 3 - y));
  EXPECT_EQ(call(bi_gblit, {2, 0, 1, 0, 0, std::uint32_t(-512)}), 1u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, 3 - y, x));

  // An eighth of a turn into a marked plane: the corners of the box map
  // outside the source and keep the marker.
  Plane* big = make_plane(3, 20, 20, 32);
  fill_all(*big, 0x12345678);
  numbered(4, 10, 10);
  RectArg centre(5, 5, 15, 15);
  EXPECT_EQ(call(bi_gblit, {3, centre.addr, 4, 0, 0, 256}), 1u);
  EXPECT_EQ(raw_value(*big, 4, 4), 0x12345678u);
  EXPECT_EQ(raw_value(*big, 0, 0), 0x12345678u);
  EXPECT_NE(raw_value(*big, 10, 10), 0x12345678u);
  EXPECT_NE(raw_value(*big, 10, 4), 0x12345678u);  // the turned square reaches past its rectangle
  int marked = 0;
  for (int y = 3; y < 17; ++y)
    for (int x = 3; x < 17; ++x) marked += raw_value(*big, x, y) == 0x12345678u;
  EXPECT_GT(marked, 20);
  // A quarter turn of a source rectangle that reaches past its plane: the
  // box pixels that map to the missing columns keep their old values.
  Plane* edge = make_plane(6, 8, 8, 32);
  fill_all(*edge, 0x12345678);
  RectArg wide_src(-2, 0, 4, 4), wide_dst(1, 2, 7, 6);
  EXPECT_EQ(call(bi_gblit, {6, wide_dst.addr, 1, wide_src.addr, 0, 512}), 1u);
  int changed = 0, kept_in_box = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool in_box = x >= 2 && x < 6 && y >= 1 && y < 7;  // the 6x4 rectangle turned: 4x6
      if (raw_value(*edge, x, y) != 0x12345678u) {
        ++changed;
        EXPECT_TRUE(in_box) << x << "," << y;
      } else if (in_box) {
        ++kept_in_box;
      }
    }
  EXPECT_EQ(changed, 16);  // the 4x4 pixels that exist
  EXPECT_EQ(kept_in_box, 8);

  // Mirroring one axis turns the other way: mirrored and turned by a
  // quarter, the picture comes out transposed.
  Plane* m = make_plane(5, 4, 4, 32);
  RectArg mx(4, 0, 0, 4);
  EXPECT_EQ(call(bi_gblit, {5, mx.addr, 1, 0, 0, 512}), 1u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      ASSERT_EQ(raw_value(*m, x, y), raw_value(*src, y, x)) << x << "," << y;
}

TEST_F(GeometryTest, CopiesWithinOnePlaneReadTheOldPixels) {
  Plane* p = numbered(1, 16, 12);
  std::vector<std::uint32_t> before;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) before.push_back(raw_value(*p, x, y));
  // Shift right and down by one, overlapping itself.
  EXPECT_EQ(call(bi_gcopy, {1, 1, 1, 1, 0, 0}), 1u);
  for (int y = 1; y < 12; ++y)
    for (int x = 1; x < 16; ++x)
      ASSERT_EQ(raw_value(*p, x, y), before[std::size_t((y - 1) * 16 + x - 1)]);
  // The same for a scaled and a turned copy.
  Plane* q = numbered(2, 16, 12);
  RectArg half(0, 0, 8, 6);
  EXPECT_EQ(call(bi_gblit, {2, half.addr, 2, 0, 0, 0}), 1u);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(raw_value(*q, x, y), before[std::size_t((2 * y + 1) * 16 + 2 * x + 1)]);  // centres
  Plane* r = numbered(3, 8, 8);
  std::vector<std::uint32_t> square;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) square.push_back(raw_value(*r, x, y));
  EXPECT_EQ(call(bi_gblit, {3, 0, 3, 0, 0, 1024}), 1u);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(raw_value(*r, x, y), square[std::size_t((7 - y) * 8 + 7 - x)]);
}

TEST_F(GeometryTest, OneToOneScaledAndTurnedCopiesMatchGcopy) {
  // gcopy is checked pixel by pixel against the formulas; the stretch copy,
  // gblit and gblita at 1:1 without a turn must give the same pixels, with
  // and without a mask, for a plain and a layering mode.
  for (int mode : {0, 3, 5, 6, 12}) {
    for (bool masked : {false, true}) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << " masked " << masked);
      std::uint32_t seed = 5;
      auto fill = [&](Plane& p) {
        for (int y = 0; y < p.height; ++y)
          for (int x = 0; x < p.width; ++x) {
            seed = seed * 1103515245u + 12345u;
            test::set_raw(p, x, y, seed ^ (seed >> 13));
          }
      };
      Plane* src = make_plane(1, 9, 7, 32);
      fill(*src);
      if (masked) {
        fill(*make_plane(3, 9, 7, 8));
        PlaneTable().slots[1].mask = 3;
      } else {
        PlaneTable().slots[1].mask = -1;
      }
      ModeArg rec(mode, 3, 200, 90, 0, 0x4080C0);
      std::vector<std::vector<std::uint8_t>> results;
      for (int way = 0; way < 4; ++way) {
        Plane* dst = make_plane(2, 9, 7, 32);
        seed = 77;
        fill(*dst);
        BlendMode bm;
        load_blend_mode(rec.addr, bm);
        switch (way) {
          case 0: ASSERT_EQ(call(bi_gcopy, {2, 0, 0, 1, 0, rec.addr}), 1u); break;
          case 1:
            ASSERT_EQ(stretch_copy(dst, dst->bounds(), src, src->bounds(), mask_of(1), &bm), 1);
            break;
          case 2: ASSERT_EQ(call(bi_gblit, {2, 0, 1, 0, rec.addr, 0}), 1u); break;
          default: ASSERT_EQ(call(bi_gblita, {2, 0, 1, 0, rec.addr, 0}), 1u); break;
        }
        results.emplace_back(dst->pixels, dst->pixels + dst->stride * dst->height);
      }
      EXPECT_EQ(results[1], results[0]);
      EXPECT_EQ(results[2], results[0]);
      EXPECT_EQ(results[3], results[0]);
    }
  }
}

TEST_F(GeometryTest, ExtremeRectanglesAreHandled) {
  numbered(1, 8, 8);
  Plane* d = make_plane(2, 8, 8, 32);
  const std::int32_t big = 0x7FFFFFFF, small = std::int32_t(0x80000000);
  RectArg huge(small, small, big, big), tiny(3, 3, 4, 4), wide(small, 0, big, 1);
  for (auto h : {bi_gblit, bi_gblita}) {
    EXPECT_EQ(call(h, {2, huge.addr, 1, 0, 0, 77}), 1u);
    call(h, {2, tiny.addr, 1, huge.addr, 0, 300});
    call(h, {2, wide.addr, 1, tiny.addr, 0, 5});
  }
  EXPECT_EQ(call(bi_gcopy, {2, std::uint32_t(big), std::uint32_t(big), 1, huge.addr, 0}), 0u);
  call(bi_gcopy, {2, std::uint32_t(small), 0, 1, huge.addr, 0});
  EXPECT_EQ(stretch_copy(d, Rect{small, small, big, big}, plane_at(1), Rect{0, 0, 8, 8}, nullptr,
                         nullptr),
            1);
  stretch_copy(d, Rect{0, 0, 8, 8}, plane_at(1), Rect{small, small, big, big}, nullptr, nullptr);
  EXPECT_EQ(call(bi_gline, {2, std::uint32_t(small), std::uint32_t(small), std::uint32_t(big),
                            std::uint32_t(big), 0xFFFFFFFF}),
            1u);
  call(bi_gline, {2, std::uint32_t(small), 3, std::uint32_t(big), 5, 0xFFFFFFFF});
  // x + width wraps to -1 here: an empty rectangle.
  EXPECT_EQ(call(bi_gfill, {2, std::uint32_t(small), std::uint32_t(small), std::uint32_t(big),
                            std::uint32_t(big), 0xFF0000FF}),
            0u);
  EXPECT_EQ(call(bi_gfill, {2, std::uint32_t(-5), std::uint32_t(-5), std::uint32_t(big),
                            std::uint32_t(big), 0xFF0000FF}),
            1u);
  std::int32_t pts[6] = {small, small, big, 0, 0, big};
  ScriptBlock pb(pts, 24);
  EXPECT_EQ(call(bi_gpoly, {2, pb.addr, 3, 0xFF00FF00}), 1u);
}

TEST_F(GeometryTest, GblitaSamplesBilinearlyWithSoftEdges) {
  Plane* src = numbered(1, 6, 5);
  Plane* dst = make_plane(2, 6, 5, 32);
  // At 1:1 without a turn every sample falls on a pixel centre.
  EXPECT_EQ(call(bi_gblita, {2, 0, 1, 0, 0, 0}), 1u);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, x, y));
  // Doubling a two-pixel row: inner samples mix the neighbours a quarter
  // and three quarters, outer ones fade against alpha 0.
  Plane* two = make_plane(3, 2, 1, 32);
  test::set_raw(*two, 0, 0, 0xFF000000);
  test::set_raw(*two, 1, 0, 0xFF0000FF);
  Plane* out = make_plane(4, 4, 1, 32);
  EXPECT_EQ(call(bi_gblita, {4, 0, 3, 0, 0, 0}), 1u);
  Bgra c1 = color_at(*out, 1, 0), c2 = color_at(*out, 2, 0);
  // Pixel 1 samples source position 0.75: a quarter of the way from the
  // centre of pixel 0 to that of pixel 1.
  EXPECT_EQ(c1.b, 0 + (((255 - 0) * 0x40 * 256) >> 16));
  EXPECT_EQ(c2.b, 0 + (((255 - 0) * 0xC0 * 256) >> 16));
  EXPECT_LT(color_at(*out, 0, 0).a, 255);
  EXPECT_GT(color_at(*out, 0, 0).a, 0);
  EXPECT_LT(color_at(*out, 3, 0).a, 255);
  EXPECT_EQ(c1.a, 255);
  // Mode 11 from an 8-bit coverage source tints through the samples.
  Plane* cov = make_plane(5, 4, 4, 8);
  fill_all(*cov, 255);
  Plane* canvas = make_plane(6, 4, 4, 24);
  ModeArg m11(11, 0, 255, 0, 0, 0x00FF00);
  EXPECT_EQ(call(bi_gblita, {6, 0, 5, 0, m11.addr, 0}), 1u);
  EXPECT_EQ(raw_value(*canvas, 1, 1), 0x00FF00u);
}

TEST_F(GeometryTest, GoldenBlits) {
  // A source with colour, alpha and a hard edge.
  Plane* src = make_plane(1, 16, 12, 32);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      std::uint32_t a = (x < 2 || y < 2) ? 128 : 255;
      test::set_raw(*src, x, y,
                    a << 24 | std::uint32_t(x * 16) << 16 | std::uint32_t(y * 20) << 8 |
                        std::uint32_t((x ^ y) & 1 ? 255 : 40));
    }
  for (bool bilinear : {false, true}) {
    Plane* dst = make_plane(2, 64, 48, 32);
    fill_all(*dst, 0xFF202020);
    auto handler = bilinear ? bi_gblita : bi_gblit;
    RectArg big(2, 2, 34, 26), mirrored(62, 2, 38, 20), turned(8, 26, 40, 46),
        small(44, 28, 60, 44);
    ModeArg layer(5, 0, 220);
    EXPECT_EQ(call(handler, {2, big.addr, 1, 0, 0, 0}), 1u);
    EXPECT_EQ(call(handler, {2, mirrored.addr, 1, 0, layer.addr, 0}), 1u);
    EXPECT_EQ(call(handler, {2, turned.addr, 1, 0, layer.addr, 171}), 1u);
    EXPECT_EQ(call(handler, {2, small.addr, 1, 0, 0, 256 + 2048 * 3}), 1u);
    expect_golden(*dst, bilinear ? "gblita.png" : "gblit.png");
  }
}

TEST_F(GeometryTest, ClearAndFill) {
  Plane* p8 = make_plane(1, 4, 4, 8);
  Plane* p16 = make_plane(2, 4, 4, 16);
  Plane* p24 = make_plane(3, 4, 4, 24);
  Plane* p32 = make_plane(4, 4, 4, 32);
  RectArg r(1, 1, 3, 9);
  for (int s = 1; s <= 4; ++s)
    EXPECT_EQ(call(bi_gclear, {std::uint32_t(s), r.addr, 0x80FF8040}), 1u);
  EXPECT_EQ(raw_value(*p8, 1, 1), 0x40u);
  EXPECT_EQ(raw_value(*p16, 2, 3), (31u << 10) | (16u << 5) | 8u);
  EXPECT_EQ(raw_value(*p24, 1, 3), 0xFF8040u);
  EXPECT_EQ(raw_value(*p32, 2, 2), 0x80FF8040u);
  EXPECT_EQ(raw_value(*p32, 0, 1), 0u);
  EXPECT_EQ(raw_value(*p32, 3, 1), 0u);
  EXPECT_EQ(call(bi_gclear, {4, 0, 0x11223344}), 1u);
  EXPECT_EQ(raw_value(*p32, 0, 0), 0x11223344u);
  p32->clip = Rect{0, 0, 2, 2};
  EXPECT_EQ(call(bi_gclear, {4, 0, 0x55}), 1u);
  EXPECT_EQ(raw_value(*p32, 1, 1), 0x55u);
  EXPECT_EQ(raw_value(*p32, 2, 2), 0x11223344u);
  RectArg outside(3, 3, 4, 4);
  EXPECT_EQ(call(bi_gclear, {4, outside.addr, 0}), 0u);
  p32->clip = p32->bounds();
  EXPECT_EQ(call(bi_gclear, {4, 0, 0x11223344}), 1u);

  // gfill with alpha 0: success and no change.
  EXPECT_EQ(call(bi_gfill, {4, 0, 0, 4, 4, 0x00FF0000}), 1u);
  EXPECT_EQ(raw_value(*p32, 0, 0), 0x11223344u);
  // Opaque red on 32 bits: alpha 255.
  EXPECT_EQ(call(bi_gfill, {4, 1, 1, 2, 2, 0xFFFF0000}), 1u);
  EXPECT_EQ(raw_value(*p32, 1, 1), 0xFFFF0000u);
  EXPECT_EQ(raw_value(*p32, 0, 0), 0x11223344u);
  // Translucent on 32 bits layers as mode 5.
  auto over = [](int a, int b) {
    double x = a / 255.0, y = b / 255.0;
    double v = 255 * x / (x + y * (1 - x));
    return b == 0 ? 255 : (v >= 256 ? 255 : int(v));
  };
  EXPECT_EQ(call(bi_gfill, {4, 0, 0, 1, 1, 0x6400FF00}), 1u);
  int w = over(0x64, 0x11);
  auto mix = [](int x, int y, int w) { return x * w / 255 + y * (255 - w) / 255; };
  std::uint32_t want = std::uint32_t(0x64 + 0x11 - 0x64 * 0x11 / 255) << 24 |
                       std::uint32_t(mix(0, 0x22, w)) << 16 |
                       std::uint32_t(mix(255, 0x33, w)) << 8 | std::uint32_t(mix(0, 0x44, w));
  EXPECT_EQ(raw_value(*p32, 0, 0), want);
  // Other depths mix each channel; 8-bit numerically.
  EXPECT_EQ(call(bi_gfill, {1, 0, 0, 2, 2, 0x80000010}), 1u);
  EXPECT_EQ(raw_value(*p8, 1, 1), std::uint32_t(mix(0x10, 0x40, 0x80)));
  EXPECT_EQ(raw_value(*p8, 0, 0), std::uint32_t(mix(0x10, 0, 0x80)));
  EXPECT_EQ(call(bi_gfill, {3, 1, 1, 1, 1, 0xC0000080}), 1u);
  EXPECT_EQ(raw_value(*p24, 1, 1), std::uint32_t(mix(0, 0xFF, 0xC0)) << 16 |
                                       std::uint32_t(mix(0, 0x80, 0xC0)) << 8 |
                                       std::uint32_t(mix(0x80, 0x40, 0xC0)));
  EXPECT_EQ(call(bi_gfill, {2, 2, 3, 1, 1, 0xFF0000FF}), 1u);
  EXPECT_EQ(raw_value(*p16, 2, 3), 31u);
  EXPECT_EQ(call(bi_gfill, {4, 5, 5, 2, 2, 0xFF000000}), 0u);  // outside
  EXPECT_EQ(call(bi_gfill, {9, 0, 0, 2, 2, 0xFF000000}), 0u);
}

TEST_F(GeometryTest, LinesIncludeBothEndsAndClipToThePlane) {
  Plane* p = make_plane(1, 10, 8, 24);
  EXPECT_EQ(call(bi_gline, {1, 2, 3, 6, 3, 0xFF0000FF}), 1u);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(raw_value(*p, x, 3), (x >= 2 && x <= 6) ? 0xFFu : 0u) << x;
  EXPECT_EQ(call(bi_gline, {1, 8, 7, 8, 5, 0xFF00FF00}), 1u);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(raw_value(*p, 8, y), (y >= 5) ? 0xFF00u : 0u) << y;
  // Clipped to the plane's bounds, not the clip rectangle.
  p->clip = Rect{0, 0, 1, 1};
  EXPECT_EQ(call(bi_gline, {1, -5u, 1, 50, 1, 0xFFFF0000}), 1u);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(raw_value(*p, x, 1), 0xFF0000u);
  EXPECT_EQ(call(bi_gline, {1, -5u, -1u, 50, -1u, 0xFFFF0000}), 0u);  // stays outside
  EXPECT_EQ(call(bi_gline, {1, 20, 0, 30, 7, 0xFFFF0000}), 0u);
  EXPECT_EQ(call(bi_gline, {1, 0, 0, 9, 7, 0x00FF0000}), 1u);  // alpha 0: drawn as nothing
  // A diagonal is anti-aliased into two pixels per column.
  Plane* q = make_plane(2, 8, 8, 24);
  EXPECT_EQ(call(bi_gline, {2, 0, 0, 7, 7, 0xFFFFFFFF}), 1u);
  int lit = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) lit += raw_value(*q, x, y) != 0;
  EXPECT_GE(lit, 8);
  EXPECT_NE(raw_value(*q, 0, 0), 0u);
  EXPECT_NE(raw_value(*q, 7, 7), 0u);
  EXPECT_EQ(raw_value(*q, 7, 0), 0u);
}

// The plane's pixels as one FNV-1a hash.
std::uint64_t plane_hash(const Plane& p, std::uint64_t h) {
  for (int y = 0; y < p.height; ++y) {
    const std::uint8_t* r = p.row(y);
    for (int i = 0; i < p.width * p.bpp / 8; ++i) h = (h ^ r[i]) * 0x100000001B3ull;
  }
  return h;
}

TEST_F(GeometryTest, LinesWhollyOutsideThePlaneDrawNothing) {
  Plane* p = make_plane(1, 8, 8, 24);
  auto untouched = [&] {
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        if (raw_value(*p, x, y) != 0) return false;
    return true;
  };
  // A run left of the plane, a diagonal above its corner, and one that
  // passes the corner at a distance: moving an end to the plane's edge
  // would go past the other end.
  const std::int32_t misses[][4] = {{-5, 2, -1, 2},  {-5, -5, -1, -1}, {-10, 3, 3, -10},
                                    {12, 9, 20, 30}, {9, -4, 30, -1},  {3, 9, 4, 40},
                                    {-1, 9, -9, 20}, {8, 0, 8, 7}};
  for (const auto& s : misses) {
    EXPECT_EQ(call(bi_gline, {1, std::uint32_t(s[0]), std::uint32_t(s[1]), std::uint32_t(s[2]),
                              std::uint32_t(s[3]), 0xFFFFFFFF}),
              0u)
        << s[0] << "," << s[1] << " " << s[2] << "," << s[3];
    ASSERT_TRUE(untouched()) << s[0] << "," << s[1] << " " << s[2] << "," << s[3];
  }
  // Every segment with both ends on the same outer side of the plane.
  auto side = [](int x, int y) {
    return (x < 0 ? 1 : 0) | (x >= 8 ? 2 : 0) | (y < 0 ? 4 : 0) | (y >= 8 ? 8 : 0);
  };
  for (int x1 = -4; x1 < 12; ++x1)
    for (int y1 = -4; y1 < 12; ++y1)
      for (int x2 = -4; x2 < 12; ++x2)
        for (int y2 = -4; y2 < 12; ++y2) {
          if ((side(x1, y1) & side(x2, y2)) == 0) continue;
          ASSERT_EQ(call(bi_gline, {1, std::uint32_t(x1), std::uint32_t(y1), std::uint32_t(x2),
                                    std::uint32_t(y2), 0xFFFFFFFF}),
                    0u)
              << x1 << "," << y1 << " " << x2 << "," << y2;
          ASSERT_TRUE(untouched()) << x1 << "," << y1 << " " << x2 << "," << y2;
        }
}

TEST_F(GeometryTest, LinesThroughThePlaneKeepTheirPixels) {
  // Segments that pass through a point of the plane, in every direction and
  // leaving it on every side (or not at all), each drawn on a cleared plane;
  // the hash of all results pins the pixels clipping and stepping give.
  Plane* p = make_plane(1, 23, 17, 24);
  std::uint64_t h = 0xCBF29CE484222325ull;
  std::uint32_t seed = 12345;
  auto next = [&](int n) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 8) % std::uint32_t(n));
  };
  int drawn = 0;
  for (int i = 0; i < 4000; ++i) {
    fill_all(*p, 0);
    const int reach = i % 4 == 0 ? 400 : 40;
    const int px = next(23), py = next(17);
    const int ax = next(2 * reach + 23) - reach, ay = next(2 * reach + 17) - reach;
    // Half end at the point itself, half with the point in the middle.
    const int bx = i % 2 ? px : 2 * px - ax, by = i % 2 ? py : 2 * py - ay;
    const std::uint32_t r = call(bi_gline, {1, std::uint32_t(ax), std::uint32_t(ay),
                                            std::uint32_t(bx), std::uint32_t(by), 0xFFFFFFFF});
    drawn += r == 1;
    h = plane_hash(*p, (h ^ r) * 0x100000001B3ull);
  }
  EXPECT_GT(drawn, 3900);
  EXPECT_EQ(h, 0xC67F45CE4D204BDCull);
}

TEST_F(GeometryTest, PolygonsFillEvenOdd) {
  Plane* p = make_plane(1, 10, 10, 32);
  std::int32_t two[4] = {0, 0, 5, 5};
  ScriptBlock pts2(two, 16);
  EXPECT_EQ(call(bi_gpoly, {1, pts2.addr, 2, 0xFFFFFFFF}), 0u);
  std::int32_t square[8] = {1, 1, 5, 1, 5, 5, 1, 5};
  ScriptBlock sq(square, 32);
  EXPECT_EQ(call(bi_gpoly, {1, sq.addr, 4, 0x00FFFFFF}), 0u);  // alpha 0
  EXPECT_EQ(call(bi_gpoly, {1, sq.addr, 4, 0xFF0000FF}), 1u);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      bool in = x >= 1 && x <= 5 && y >= 1 && y < 5;  // rows: upper included, lower not
      EXPECT_EQ(raw_value(*p, x, y), in ? 0xFF0000FFu : 0u) << x << "," << y;
    }
  EXPECT_EQ(call(bi_gpoly, {1, 0x20, 4, 0xFFFFFFFF}), 0u);
  EXPECT_EQ(call(bi_gpoly, {9, sq.addr, 4, 0xFFFFFFFF}), 0u);
}

TEST_F(GeometryTest, GoldenLinesAndPolygons) {
  Plane* lines = make_plane(1, 40, 32, 24);
  fill_all(*lines, 0x101010);
  const std::int32_t segs[][4] = {{1, 1, 38, 9},   {2, 30, 20, 2},    {39, 31, 25, 0},
                                  {5, 20, 35, 21}, {-10, 15, 50, 28}, {30, 5, 30, 25},
                                  {3, 25, 12, 25}};
  const std::uint32_t colours[] = {0xFFFFFFFF, 0xFFFF4000, 0xC000FF80, 0xFF4080FF,
                                   0x80FFFF00, 0xFFFF00FF, 0xFF00FFFF};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(call(bi_gline, {1, std::uint32_t(segs[i][0]), std::uint32_t(segs[i][1]),
                              std::uint32_t(segs[i][2]), std::uint32_t(segs[i][3]), colours[i]}),
              1u);
  expect_golden(*lines, "gline.png");

  Plane* poly = make_plane(2, 40, 32, 32);
  fill_all(*poly, 0xFF000040);
  // A five-pointed star: its centre is outside under the even-odd rule.
  std::int32_t star[10] = {20, 1, 31, 30, 2, 11, 38, 11, 9, 30};
  ScriptBlock st(star, 40);
  EXPECT_EQ(call(bi_gpoly, {2, st.addr, 5, 0xFFFFC000}), 1u);
  std::int32_t tri[6] = {-5, 20, 15, 31, 0, 40};
  ScriptBlock tr(tri, 24);
  EXPECT_EQ(call(bi_gpoly, {2, tr.addr, 3, 0x8000FF00}), 1u);
  expect_golden(*poly, "gpoly.png");
  EXPECT_EQ(raw_value(*poly, 20, 16), 0xFF000040u);  // the star's hole
  EXPECT_EQ(raw_value(*poly, 20, 5), 0xFFFFC000u);
}

}  // namespace
}  // namespace talven::graphics
