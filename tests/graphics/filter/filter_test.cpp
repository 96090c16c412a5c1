// The image filters against references computed here from their rules
// (box sums, grey levels, bilinear weights, wrap-around), their edge cases
// and failure results, hostile arguments, and a golden image of each.
#include "graphics/filter/filters.h"

#include <chrono>
#include <cmath>
#include <vector>

#include "base/random.h"
#include "graphics/filter/filter_builtins.h"
#include "graphics/graphics_test_util.h"
#include "graphics/kernels/tables.h"

namespace talven::graphics {
namespace {

using test::call;
using test::color_at;
using test::make_plane;
using test::raw_value;
using test::ScriptBlock;
using test::set_raw;

class Filters : public test::GraphicsTest {};

// Fills a plane with a reproducible pattern: smooth gradients plus noise,
// alpha varying too.
void pattern(Plane& p, std::uint32_t seed = 1) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      seed = seed * 1103515245u + 12345u;
      const std::uint32_t n = seed >> 16;
      const std::uint32_t b = (x * 255 / std::max(1, p.width - 1)) ^ (n & 0x1F);
      const std::uint32_t g = (y * 255 / std::max(1, p.height - 1)) ^ (n >> 5 & 0x1F);
      const std::uint32_t r = ((x + y) * 8) & 0xFF, a = (n >> 8) & 0xFF;
      std::uint32_t v = 0;
      switch (p.bpp) {
        case 8: v = n & 0xFF; break;
        case 16: v = (b >> 3) | (g >> 3) << 5 | (r >> 3) << 10; break;
        default: v = (b & 0xFF) | (g & 0xFF) << 8 | r << 16 | a << 24;
      }
      set_raw(p, x, y, v);
    }
}

std::vector<std::uint32_t> pixels(const Plane& p) {
  std::vector<std::uint32_t> v;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) v.push_back(raw_value(p, x, y));
  return v;
}

int byte_of(std::uint32_t v, int i) { return int(v >> (8 * i) & 0xFF); }

// ---- blur ----------------------------------------------------------------------

TEST_F(Filters, BlurMatchesTheBoxSumWithEdgeReplication) {
  for (int bpp : {8, 24, 32}) {
    Plane* src = make_plane(1, 23, 17, bpp);
    pattern(*src, 5);
    for (int radius : {1, 3, -2, -5, 30}) {
      Plane* dst = make_plane(2, 23, 17, bpp);
      const Rect sr{2, 1, 21, 15};
      ASSERT_EQ(blur(dst, 3, 2, src, &sr, radius), 1);
      const int r = std::abs(radius), bytes = bpp / 8;
      const std::uint32_t mult = 65536 / (2 * r + 1);
      for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 19; ++x) {
          const std::uint32_t got = raw_value(*dst, 3 + x, 2 + y);
          for (int c = 0; c < bytes; ++c) {
            std::uint32_t sum = 0;
            for (int k = -r; k <= r; ++k) {
              int sx = x, sy = y;
              (radius > 0 ? sx : sy) += k;
              sx = std::clamp(sx, 0, 18), sy = std::clamp(sy, 0, 13);
              sum += byte_of(raw_value(*src, 2 + sx, 1 + sy), c);
            }
            ASSERT_EQ(byte_of(got, c), int((sum * mult + 0x8000) >> 16))
                << bpp << " bpp radius " << radius << " at " << x << "," << y << " channel " << c;
          }
        }
      EXPECT_EQ(raw_value(*dst, 2, 2), 0u) << "outside the placed area stays";
    }
  }
}

TEST_F(Filters, BlurRadiusZeroCopiesAndLargeRadiiCap) {
  Plane* src = make_plane(1, 40, 30, 32);
  pattern(*src);
  Plane* dst = make_plane(2, 40, 30, 32);
  EXPECT_EQ(blur(dst, 0, 0, src, nullptr, 0), 1);
  EXPECT_EQ(pixels(*dst), pixels(*src));

  Plane* capped = make_plane(3, 40, 30, 32);
  EXPECT_EQ(blur(dst, 0, 0, src, nullptr, 127), 1);
  EXPECT_EQ(blur(capped, 0, 0, src, nullptr, 100000), 1);
  EXPECT_EQ(pixels(*capped), pixels(*dst));
  EXPECT_EQ(blur(dst, 0, 0, src, nullptr, -127), 1);
  EXPECT_EQ(blur(capped, 0, 0, src, nullptr, INT32_MIN), 1);
  EXPECT_EQ(pixels(*capped), pixels(*dst));
}

TEST_F(Filters, BlurInPlaceEqualsBlurIntoAnotherPlane) {
  Plane* a = make_plane(1, 50, 20, 24);
  pattern(*a, 9);
  Plane* b = make_plane(2, 50, 20, 24);
  ASSERT_EQ(blur(b, 0, 0, a, nullptr, 4), 1);
  ASSERT_EQ(blur(a, 0, 0, a, nullptr, 4), 1);
  EXPECT_EQ(pixels(*a), pixels(*b));
  ASSERT_EQ(blur(b, 0, 0, b, nullptr, -3), 1);
  Plane* c = make_plane(3, 50, 20, 24);
  ASSERT_EQ(blur(c, 0, 0, a, nullptr, -3), 1);
  EXPECT_EQ(pixels(*b), pixels(*c));
}

TEST_F(Filters, BlurParallelEqualsSerial) {
  Plane* src = make_plane(1, 400, 300, 32);
  pattern(*src, 3);
  Plane* one = make_plane(2, 400, 300, 32);
  Plane* many = make_plane(3, 400, 300, 32);
  config().MultiThreading = 0;
  blur(one, 0, 0, src, nullptr, 8);
  blur(one, 0, 0, one, nullptr, -8);
  config().MultiThreading = 1;
  blur(many, 0, 0, src, nullptr, 8);
  blur(many, 0, 0, many, nullptr, -8);
  EXPECT_EQ(pixels(*one), pixels(*many));
}

TEST_F(Filters, BlurRefusesOtherDepthsAndEmptyAreas) {
  Plane* s16 = make_plane(1, 8, 8, 16);
  Plane* d16 = make_plane(2, 8, 8, 16);
  EXPECT_EQ(blur(d16, 0, 0, s16, nullptr, 2), 0);
  Plane* s32 = make_plane(3, 8, 8, 32);
  Plane* d24 = make_plane(4, 8, 8, 24);
  EXPECT_EQ(blur(d24, 0, 0, s32, nullptr, 2), 0);
  Plane* d32 = make_plane(5, 8, 8, 32);
  EXPECT_EQ(blur(d32, 8, 0, s32, nullptr, 2), 0);  // placed outside
  EXPECT_EQ(blur(d32, INT32_MAX, INT32_MAX, s32, nullptr, 2), 0);
  const Rect empty{4, 4, 4, 9};
  EXPECT_EQ(blur(d32, 0, 0, s32, &empty, 2), 0);
  EXPECT_EQ(blur(nullptr, 0, 0, s32, nullptr, 2), 0);
}

// ---- monotone ----------------------------------------------------------------

TEST_F(Filters, MonotoneMapsGreyLevelsThroughTheGradient) {
  const std::uint32_t dark = 0x102030, light = 0xF0A010;  // red falls, others rise
  auto expect_row = [&](int i, int c) {
    const int d = int(dark >> (8 * c) & 0xFF), l = int(light >> (8 * c) & 0xFF);
    return d + (l - d) * i / 255;
  };
  Plane* p = make_plane(1, 31, 9, 32);
  pattern(*p, 4);
  std::vector<std::uint32_t> before = pixels(*p);
  ASSERT_EQ(monotone(p, nullptr, dark, light), 1);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 31; ++x) {
      const std::uint32_t old = before[std::size_t(y * 31 + x)], now = raw_value(*p, x, y);
      const int grey =
          (19595 * byte_of(old, 2) + 38470 * byte_of(old, 1) + 7471 * byte_of(old, 0)) >> 16;
      for (int c = 0; c < 3; ++c) ASSERT_EQ(byte_of(now, c), expect_row(grey, c)) << x << "," << y;
      ASSERT_EQ(byte_of(now, 3), byte_of(old, 3)) << "alpha kept";
    }

  // 16-bit: the grey of the widened fields, packed back by dropping 3 bits.
  Plane* q = make_plane(2, 16, 4, 16);
  pattern(*q, 8);
  before = pixels(*q);
  ASSERT_EQ(monotone(q, nullptr, 0x000000, 0xFFFFFF), 1);
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t old = before[std::size_t(i)];
    const int b = int(old & 31) * 255 / 31, g = int(old >> 5 & 31) * 255 / 31,
              r = int(old >> 10 & 31) * 255 / 31;
    const int grey = (19595 * r + 38470 * g + 7471 * b) >> 16;
    const std::uint32_t want = std::uint32_t(grey >> 3) * 0x421;
    ASSERT_EQ(raw_value(*q, i % 16, i / 16), want);
  }

  Plane* idx = make_plane(3, 4, 4, 8);
  EXPECT_EQ(monotone(idx, nullptr, 0, 0xFFFFFF), 0);
}

TEST_F(Filters, MonotoneStaysInsideRectangleAndClip) {
  Plane* p = make_plane(1, 20, 20, 24);
  pattern(*p);
  std::vector<std::uint32_t> before = pixels(*p);
  Rect clip{0, 0, 10, 20};
  set_clip(*p, &clip);
  const Rect r{5, 5, 15, 15};
  ASSERT_EQ(monotone(p, &r, 0, 0), 1);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool inside = x >= 5 && x < 10 && y >= 5 && y < 15;
      EXPECT_EQ(raw_value(*p, x, y) == 0, inside || before[std::size_t(y * 20 + x)] == 0)
          << x << "," << y;
    }
}

// ---- gradation -----------------------------------------------------------------

TEST_F(Filters, GradationAveragesFourNeighboursWithBorderReplication) {
  for (int bpp : {16, 24, 32}) {
    Plane* src = make_plane(1, 12, 10, bpp);
    pattern(*src, 7);
    Plane* dst = make_plane(2, 12, 10, bpp);
    const Rect sr{1, 1, 11, 9};
    ASSERT_EQ(gradation(dst, 2, 1, src, &sr), 1);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) {
        if (2 + x >= 12) continue;
        auto at = [&](int sx, int sy) {
          return raw_value(*src, 1 + std::clamp(sx, 0, 9), 1 + std::clamp(sy, 0, 7));
        };
        const std::uint32_t n[4] = {at(x, y - 1), at(x, y + 1), at(x - 1, y), at(x + 1, y)};
        std::uint32_t want = 0;
        if (bpp == 16) {
          for (int s = 0; s < 15; s += 5) {
            int sum = 0;
            for (std::uint32_t v : n) sum += int(v >> s & 31);
            want |= std::uint32_t(sum >> 2) << s;
          }
        } else {
          for (int c = 0; c < bpp / 8; ++c) {
            int sum = 0;
            for (std::uint32_t v : n) sum += byte_of(v, c);
            want |= std::uint32_t(sum >> 2) << (8 * c);
          }
        }
        ASSERT_EQ(raw_value(*dst, 2 + x, 1 + y), want) << bpp << " bpp at " << x << "," << y;
      }
  }
}

// ---- smooth --------------------------------------------------------------------

// The bilinear value of one channel, from the rule with 8-bit weights.
int bilinear(int c00, int c10, int c01, int c11, int fx, int fy) {
  return c00 +
         (((c11 - c10 - c01 + c00) * fx * fy + ((c01 - c00) * fy + (c10 - c00) * fx) * 256) >> 16);
}

struct Axis {
  std::uint64_t start, step;
};
Axis axis(std::uint64_t s, std::uint64_t d, bool vertical) {
  if (d > s) {
    const std::uint64_t step = (s << 32) / (vertical ? d + 1 : d);
    return {step / 2, step};
  }
  return {0, (s << 32) / d};
}

void expect_smooth(const Plane& dst, const Rect& dr, const Plane& src, const Rect& sr) {
  const int dw = int(dr.width()), dh = int(dr.height()), sw = int(sr.width()),
            sh = int(sr.height());
  const Axis ax = axis(sw, dw, false), ay = axis(sh, dh, true);
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x) {
      const std::uint64_t u = ax.start + std::uint64_t(x) * ax.step,
                          v = ay.start + std::uint64_t(y) * ay.step;
      const int ix = std::min(int(u >> 32), sw - 1), iy = std::min(int(v >> 32), sh - 1);
      const int ix1 = std::min(ix + 1, sw - 1), iy1 = std::min(iy + 1, sh - 1);
      const int fx = int(u >> 24 & 0xFF), fy = int(v >> 24 & 0xFF);
      const std::uint32_t got = raw_value(dst, dr.left + x, dr.top + y);
      for (int c = 0; c < 4; ++c) {
        const int want = bilinear(byte_of(raw_value(src, sr.left + ix, sr.top + iy), c),
                                  byte_of(raw_value(src, sr.left + ix1, sr.top + iy), c),
                                  byte_of(raw_value(src, sr.left + ix, sr.top + iy1), c),
                                  byte_of(raw_value(src, sr.left + ix1, sr.top + iy1), c), fx, fy);
        ASSERT_EQ(byte_of(got, c), want) << "at " << x << "," << y << " channel " << c;
      }
    }
}

TEST_F(Filters, SmoothInterpolatesWithFixedPointSteps) {
  Plane* src = make_plane(1, 13, 11, 32);
  pattern(*src, 2);
  Plane* dst = make_plane(2, 40, 40, 32);
  const Rect sr{1, 2, 9, 8};
  for (const Rect dr :
       {Rect{3, 4, 35, 29}, Rect{0, 0, 5, 3}, Rect{2, 2, 10, 8}, Rect{0, 0, 8, 30}}) {
    ASSERT_EQ(smooth(dst, &dr, src, &sr, -1), 1);
    expect_smooth(*dst, dr, *src, sr);
  }
  // 1:1 is an exact copy.
  const Rect same{0, 0, 8, 6};
  ASSERT_EQ(smooth(dst, &same, src, &sr, -1), 1);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, 1 + x, 2 + y));
}

TEST_F(Filters, SmoothReplacesKeyedSamplesByTheDestination) {
  Plane* src = make_plane(1, 2, 2, 32);
  set_raw(*src, 0, 0, 0xFF00FF00);  // the key colour (green)
  set_raw(*src, 1, 0, 0xFF0000FF);
  set_raw(*src, 0, 1, 0xFF0000FF);
  set_raw(*src, 1, 1, 0xFF0000FF);
  Plane* dst = make_plane(2, 4, 4, 32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) set_raw(*dst, x, y, 0xFFFF0000);
  ASSERT_EQ(smooth(dst, nullptr, src, nullptr, 0x00FF00), 1);
  // The top-left pixel samples mostly the keyed pixel: it becomes a blend of
  // red (beneath) and blue, with no green at all.
  const std::uint32_t tl = raw_value(*dst, 0, 0);
  EXPECT_EQ(byte_of(tl, 1), 0);
  EXPECT_GT(byte_of(tl, 2), 0);
  EXPECT_GT(byte_of(tl, 0), 0);
  // Without a key green shows.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) set_raw(*dst, x, y, 0xFFFF0000);
  ASSERT_EQ(smooth(dst, nullptr, src, nullptr, -1), 1);
  EXPECT_GT(byte_of(raw_value(*dst, 0, 0), 1), 0);
}

TEST_F(Filters, SmoothLargeSizesDoNotOverflow) {
  Plane* src = make_plane(1, 16384, 2, 8);
  Plane* dst = make_plane(2, 3, 16383, 8);
  ASSERT_NE(src, nullptr);
  ASSERT_NE(dst, nullptr);
  for (int x = 0; x < 16384; ++x) set_raw(*src, x, 0, x & 0xFF), set_raw(*src, x, 1, x & 0xFF);
  ASSERT_EQ(smooth(dst, nullptr, src, nullptr, -1), 1);
  const Rect huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  EXPECT_EQ(smooth(dst, &huge, src, &huge, -1), 1);
  expect_smooth(*dst, dst->bounds(), *src, src->bounds());
}

// ---- scroll -------------------------------------------------------------------

TEST_F(Filters, ScrollRotatesContentCyclically) {
  Plane* p = make_plane(1, 9, 7, 32);
  pattern(*p);
  const std::vector<std::uint32_t> before = pixels(*p);
  const Rect r{1, 1, 8, 6};  // 7 x 5
  EXPECT_EQ(scroll(p, &r, 7, -10), 1);
  EXPECT_EQ(pixels(*p), before) << "multiples of the size change nothing";
  EXPECT_EQ(scroll(p, &r, 0, 0), 1);
  EXPECT_EQ(pixels(*p), before);
  for (auto [dx, dy] : {std::pair{2, 1}, std::pair{-3, 4}, std::pair{INT32_MIN, INT32_MAX}}) {
    Plane* q = make_plane(2, 9, 7, 32);
    pattern(*q);
    ASSERT_EQ(scroll(q, &r, dx, dy), 1);
    const std::int64_t ox = ((std::int64_t(dx) % 7) + 7) % 7, oy = ((std::int64_t(dy) % 5) + 5) % 5;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x) {
        std::uint32_t want = before[std::size_t(y * 9 + x)];
        if (x >= 1 && x < 8 && y >= 1 && y < 6)
          want = before[std::size_t((1 + (y - 1 + oy) % 5) * 9 + 1 + (x - 1 + ox) % 7)];
        ASSERT_EQ(raw_value(*q, x, y), want) << dx << "," << dy << " at " << x << "," << y;
      }
  }
  const Rect outside{20, 20, 30, 30};
  EXPECT_EQ(scroll(p, &outside, 1, 1), 0);
}

// ---- mosaic -------------------------------------------------------------------

TEST_F(Filters, MosaicOfOnePixelBlocksIsACopy) {
  Plane* src = make_plane(1, 10, 8, 16);
  pattern(*src);
  for (auto [bw, bh] : {std::pair{1, 1}, std::pair{0, -1}, std::pair{-1, 0}}) {
    Plane* dst = make_plane(2, 10, 8, 16);
    ASSERT_EQ(mosaic(dst, 0, 0, src, nullptr, bw, bh), 1);
    EXPECT_EQ(pixels(*dst), pixels(*src));
  }
}

TEST_F(Filters, MosaicFillsBlocksWithTheMeanOfTheirCorners) {
  Plane* src = make_plane(1, 7, 5, 32);
  pattern(*src, 11);
  Plane* dst = make_plane(2, 10, 10, 32);
  ASSERT_EQ(mosaic(dst, 1, 2, src, nullptr, 3, -2), 1);
  auto mean = [&](std::initializer_list<std::pair<int, int>> pts) {
    std::uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
      int sum = 0;
      for (auto [x, y] : pts) sum += byte_of(raw_value(*src, x, y), c);
      out |= std::uint32_t(sum / int(pts.size())) << (8 * c);
    }
    return out;
  };
  // Block (0,0) covers source 0..2 x 0..1; block (2,2) is the one-column,
  // one-row corner at source (6, 4).
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(raw_value(*dst, 1 + x, 2 + y), mean({{0, 0}, {2, 0}, {0, 1}, {2, 1}}));
  EXPECT_EQ(raw_value(*dst, 7, 6), mean({{6, 4}}));
  // Block (2,0): one column wide (x 6), two rows: two samples.
  EXPECT_EQ(raw_value(*dst, 7, 2), mean({{6, 0}, {6, 1}}));
  EXPECT_EQ(raw_value(*dst, 0, 0), 0u);
}

TEST_F(Filters, MosaicAveragesPackedFieldsOf16BitPlanes) {
  Plane* src = make_plane(1, 2, 2, 16);
  set_raw(*src, 0, 0, 0x7FFF);
  set_raw(*src, 1, 0, 0x0000);
  set_raw(*src, 0, 1, 0x7C00);
  set_raw(*src, 1, 1, 0x03FF);
  Plane* dst = make_plane(2, 2, 2, 16);
  ASSERT_EQ(mosaic(dst, 0, 0, src, nullptr, 2, 2), 1);
  // Per field: red (31+0+31+0)/4 = 15, green (31+0+0+31)/4 = 15, blue 15.
  EXPECT_EQ(raw_value(*dst, 1, 1), std::uint32_t(15 | 15 << 5 | 15 << 10));
}

// ---- freemap and rotate ------------------------------------------------------

TEST_F(Filters, FreemapOfTheWholePlaneWithoutKeyCopiesEveryPixel) {
  Plane* src = make_plane(1, 17, 13, 32);
  pattern(*src);
  set_raw(*src, 3, 3, 0);  // black pixels are drawn too without a key
  Plane* dst = make_plane(2, 17, 13, 32);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 17; ++x) set_raw(*dst, x, y, 0x12345678);
  ASSERT_EQ(freemap(dst, nullptr, src, nullptr, -1), 1);
  EXPECT_EQ(pixels(*dst), pixels(*src));

  // With a key the keyed pixel keeps the destination.
  Plane* keyed = make_plane(3, 17, 13, 32);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 17; ++x) set_raw(*keyed, x, y, 0x12345678);
  ASSERT_EQ(freemap(keyed, nullptr, src, nullptr, 0), 1);
  EXPECT_EQ(raw_value(*keyed, 3, 3), 0x12345678u);
  EXPECT_EQ(raw_value(*keyed, 4, 3), raw_value(*src, 4, 3));
}

TEST_F(Filters, FreemapScalesMirrorsAndSurvivesWildPoints) {
  Plane* src = make_plane(1, 4, 4, 8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) set_raw(*src, x, y, std::uint32_t(y * 4 + x));
  Plane* dst = make_plane(2, 8, 8, 8);
  // Doubled: each source pixel covers a 2x2 block.
  const Point64 big[4] = {{0, 0}, {0, 7}, {7, 7}, {7, 0}};
  ASSERT_EQ(freemap(dst, big, src, nullptr, -1), 1);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(raw_value(*dst, x, y), std::uint32_t((y / 2) * 4 + x / 2)) << x << "," << y;
  // Mirrored horizontally by swapping the edges.
  const Point64 mirror[4] = {{3, 0}, {3, 3}, {0, 3}, {0, 0}};
  ASSERT_EQ(freemap(dst, mirror, src, nullptr, -1), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(raw_value(*dst, x, y), std::uint32_t(y * 4 + 3 - x));

  // Points far outside the plane: a clear result, quickly, and no writes outside.
  const auto start = std::chrono::steady_clock::now();
  const Point64 wild[4] = {{-2000000000, -2000000000},
                           {-2000000000, 2000000000},
                           {2000000000, 2000000000},
                           {2000000000, -2000000000}};
  EXPECT_EQ(freemap(dst, wild, src, nullptr, -1), 0);
  const Point64 long_thin[4] = {{-8000000, 3}, {-8000000, 4}, {8000000, 4}, {8000000, 3}};
  EXPECT_EQ(freemap(dst, long_thin, src, nullptr, -1), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  Plane* d32 = make_plane(3, 8, 8, 32);
  EXPECT_EQ(freemap(d32, nullptr, src, nullptr, -1), 0) << "depths differ";
}

TEST_F(Filters, RotateByWholeTurnsIsACopyAndByAHalfTurnFlips) {
  Plane* src = make_plane(1, 7, 5, 32);
  pattern(*src, 21);
  Plane* dst = make_plane(2, 7, 5, 32);
  for (int angle : {0, 2048, -2048 * 1000, 2048 * 1000000}) {
    ASSERT_EQ(rotate(dst, nullptr, src, nullptr, angle, -1), 1);
    EXPECT_EQ(pixels(*dst), pixels(*src)) << angle;
  }
  ASSERT_EQ(rotate(dst, nullptr, src, nullptr, 1024 + 2048 * 7, -1), 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, 6 - x, 4 - y));
  const Rect huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  EXPECT_EQ(rotate(dst, &huge, src, nullptr, 300, -1), 0);
  const Rect empty{3, 3, 3, 3};
  EXPECT_EQ(rotate(dst, &empty, src, nullptr, 300, -1), 0);
}

TEST_F(Filters, RotateLeavesNoHolesInsideTheTurnedRectangle) {
  Plane* src = make_plane(1, 41, 41, 8);
  for (int y = 0; y < 41; ++y)
    for (int x = 0; x < 41; ++x) set_raw(*src, x, y, 1);
  for (int angle = 0; angle < 2048; angle += 37) {
    Plane* dst = make_plane(2, 41, 41, 8);
    ASSERT_EQ(rotate(dst, nullptr, src, nullptr, angle, -1), 1);
    for (int y = 0; y < 41; ++y)
      for (int x = 0; x < 41; ++x)
        if ((x - 20) * (x - 20) + (y - 20) * (y - 20) <= 18 * 18) {
          ASSERT_EQ(raw_value(*dst, x, y), 1u) << "hole at " << x << "," << y << " angle " << angle;
        }
  }
}

// ---- tiled --------------------------------------------------------------------

TEST_F(Filters, TiledRepeatsTheSourceFromTheCentre) {
  for (int sw : {4, 5}) {
    Plane* src = make_plane(1, 9, 9, 32);
    pattern(*src, 13);
    Plane* dst = make_plane(2, 20, 16, 32);
    const Rect sr{2, 1, 2 + sw, 1 + 3};
    const Rect dr{1, 2, 19, 15};
    ASSERT_EQ(tiled(dst, &dr, src, &sr, 0, 0), 1);
    const int cx = (1 + 19) / 2, cy = (2 + 15) / 2;
    for (int y = 2; y < 15; ++y)
      for (int x = 1; x < 19; ++x) {
        const int sx = (((x - cx) % sw) + sw) % sw, sy = (((y - cy) % 3) + 3) % 3;
        ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, 2 + sx, 1 + sy))
            << sw << " at " << x << "," << y;
      }
    EXPECT_EQ(raw_value(*dst, 0, 0), 0u);
    // Zoom 2 shows each source pixel twice per axis (steps of half a pixel).
    ASSERT_EQ(tiled(dst, &dr, src, &sr, 0, 2), 1);
    for (int y = 2; y < 15; ++y)
      for (int x = 1; x < 19; ++x) {
        const int sx = (((int(std::floor((x - cx) / 2.0))) % sw) + sw) % sw;
        const int sy = (((int(std::floor((y - cy) / 2.0))) % 3) + 3) % 3;
        ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, 2 + sx, 1 + sy));
      }
  }
}

// ---- noise, slice, fire ----------------------------------------------------------

TEST_F(Filters, NoiseBrightensByTheCounterAboveTheThreshold) {
  Plane* p = make_plane(1, 37, 6, 32);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 37; ++x) set_raw(*p, x, y, 0x80102030);
  mt_seed(77);
  ASSERT_EQ(noise(p, nullptr, 100), 1);
  mt_seed(77);
  const auto& t = kernel_tables();
  for (int y = 0; y < 6; ++y) {
    std::uint32_t counter = std::uint32_t(mt_rand31());
    const std::uint32_t grow = std::uint32_t(mt_rand31());
    for (int x = 0; x < 37; ++x, counter += grow) {
      const int v = int(counter & 255), e = 155;
      const int add = v > e ? v - e : 0;
      const std::uint32_t want = std::uint32_t(t.clamp(0x30 + add) | t.clamp(0x20 + add) << 8 |
                                               t.clamp(0x10 + add) << 16) |
                                 0x80000000u;
      ASSERT_EQ(raw_value(*p, x, y), want) << x << "," << y;
    }
  }
  EXPECT_EQ(noise(p, nullptr, 0), 0);
  EXPECT_EQ(noise(p, nullptr, -5), 0);
  Plane* idx = make_plane(2, 4, 4, 8);
  EXPECT_EQ(noise(idx, nullptr, 50), 0);
}

TEST_F(Filters, SliceShiftsRowsWithZeroFill) {
  Plane* p = make_plane(1, 32, 40, 32);
  pattern(*p);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 32; ++x) set_raw(*p, x, y, 0xFF000000u | std::uint32_t(x + 1));
  const std::vector<std::uint32_t> before = pixels(*p);
  EXPECT_EQ(slice(p, nullptr, 0), 0);
  EXPECT_EQ(slice(p, nullptr, -1), 0);
  EXPECT_EQ(pixels(*p), before);
  EXPECT_EQ(slice(p, nullptr, 7), 1) << "a = 32 * 7 / 256 = 0: rows stay";
  EXPECT_EQ(pixels(*p), before);
  mt_seed(5);
  ASSERT_EQ(slice(p, nullptr, 1000), 1);  // clamped to 256: shifts in [-32, 32)
  mt_seed(5);
  for (int y = 0; y < 40; ++y) {
    const int shift = mt_rand31() % 64 - 32;
    for (int x = 0; x < 32; ++x) {
      const int from = x - shift;
      const std::uint32_t want = from >= 0 && from < 32 ? 0xFF000000u | std::uint32_t(from + 1) : 0;
      ASSERT_EQ(raw_value(*p, x, y), want) << x << "," << y;
    }
  }
}

TEST_F(Filters, FireNeedsTwoRowsAndRepeatsWithTheSameSeed) {
  Plane* p = make_plane(1, 20, 12, 8);
  pattern(*p);
  const std::vector<std::uint32_t> before = pixels(*p);
  const Rect one_row{0, 5, 20, 6};
  EXPECT_EQ(fire(p, &one_row), 0);
  EXPECT_EQ(pixels(*p), before);

  mt_seed(3);
  ASSERT_EQ(fire(p, nullptr), 1);
  const std::vector<std::uint32_t> first = pixels(*p);
  for (int x = 0; x < 20; ++x)
    EXPECT_EQ(raw_value(*p, x, 11), before[std::size_t(11 * 20 + x)]) << "last row stays";
  // Every pixel of a row above the last is either untouched or a lowered
  // pixel from within one column on the row below.
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 20; ++x) {
      const std::uint32_t v = first[std::size_t(y * 20 + x)];
      bool ok = v == before[std::size_t(y * 20 + x)];
      for (int k = -1; k <= 1; ++k) {
        const int sx = x + k;
        if (sx < 0 || sx >= 20) continue;
        const std::uint32_t below = before[std::size_t((y + 1) * 20 + sx)];
        ok = ok || v == (below > 2 ? below - 2 : 0);
      }
      ASSERT_TRUE(ok) << x << "," << y;
    }
  Plane* q = make_plane(2, 20, 12, 8);
  pattern(*q);
  mt_seed(3);
  ASSERT_EQ(fire(q, nullptr), 1);
  EXPECT_EQ(pixels(*q), first);

  Plane* c = make_plane(3, 3, 2, 32);
  for (int x = 0; x < 3; ++x) set_raw(*c, x, 1, 0x00000102), set_raw(*c, x, 0, 0x55555555);
  ASSERT_EQ(fire(c, nullptr), 1);
  int lowered = 0;
  for (int x = 0; x < 3; ++x) lowered += raw_value(*c, x, 0) == 0x00000001u;
  EXPECT_GE(lowered, 1) << "channels and alpha drop by one, floor 0";
}

TEST_F(Filters, PackedPixelPlanesAreRefused) {
  for (int bpp : {1, 4}) {
    Plane* a = make_plane(1, 16, 16, bpp);
    Plane* b = make_plane(2, 16, 16, bpp);
    EXPECT_EQ(freemap(b, nullptr, a, nullptr, -1), 0);
    EXPECT_EQ(rotate(b, nullptr, a, nullptr, 5, -1), 0);
    EXPECT_EQ(smooth(b, nullptr, a, nullptr, -1), 0);
    EXPECT_EQ(tiled(b, nullptr, a, nullptr, 5, 1), 0);
    EXPECT_EQ(scroll(a, nullptr, 1, 1), 0);
    EXPECT_EQ(noise(a, nullptr, 10), 0);
    EXPECT_EQ(slice(a, nullptr, 10), 0);
    EXPECT_EQ(fire(a, nullptr), 0);
    EXPECT_EQ(gradation(b, 0, 0, a, nullptr), 0);
    EXPECT_EQ(mosaic(b, 0, 0, a, nullptr, 2, 2), 0);
    EXPECT_EQ(monotone(a, nullptr, 0, 0xFFFFFF), 0);
    EXPECT_EQ(blur(b, 0, 0, a, nullptr, 2), 0);
  }
}

// ---- builtins -------------------------------------------------------------------

TEST_F(Filters, BuiltinsRejectBadAddressesAndSlots) {
  make_plane(1, 16, 16, 32);
  make_plane(2, 16, 16, 32);
  const std::uint32_t wild = 0xFFFFFFF0u, low = 0x100;
  EXPECT_EQ(call(bi_freemap, {2, wild, 1, 0, 0xFFFFFFFFu}), 0u);
  EXPECT_EQ(call(bi_freemap, {2, 0, 1, low, 0xFFFFFFFFu}), 0u);
  EXPECT_EQ(call(bi_freemap, {2, 0, 1, 0, 0xFFFFFFFFu}), 1u);
  EXPECT_EQ(call(bi_smooth, {2, wild, 1, 0, 0}), 0u);
  EXPECT_EQ(call(bi_rotate, {2, 0, 1, wild, 10, 0}), 0u);
  EXPECT_EQ(call(bi_tiled, {2, 0, 1, 0, 10, 0}), 1u);
  EXPECT_EQ(call(bi_scroll, {1, wild, 1, 1}), 0u);
  EXPECT_EQ(call(bi_scroll, {1, 0, 16, 16}), 1u);
  EXPECT_EQ(call(bi_noise, {5000, 0, 10}), 0u);
  EXPECT_EQ(call(bi_slice, {1, 0, 0}), 0u);
  EXPECT_EQ(call(bi_gradation, {2, 0, 0, 1, wild}), 0u);
  EXPECT_EQ(call(bi_mosaic, {2, 0, 0, 1, 0, 1, 1}), 1u);
  EXPECT_EQ(call(bi_monotone, {1, 0, 0, 0xFFFFFF}), 1u);
  EXPECT_EQ(call(bi_blur, {2, 0, 0, 3, 0, 1}), 0u) << "no plane in slot 3";
  EXPECT_EQ(call(bi_fire, {1, wild}), 0u);
  EXPECT_EQ(call(bi_fire, {0xFFFFFFFFu, 0}), 0u);
  // A four-point array read from script memory.
  const std::int32_t pts[8] = {0, 0, 0, 15, 15, 15, 15, 0};
  ScriptBlock block(pts, sizeof pts);
  EXPECT_EQ(call(bi_freemap, {2, block.addr, 1, 0, 0xFFFFFFFFu}), 1u);
}

// ---- golden images ------------------------------------------------------------

TEST_F(Filters, GoldenImages) {
  auto fresh = [&](int slot) {
    Plane* p = make_plane(slot, 64, 48, 32);
    pattern(*p, 99);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) set_raw(*p, x, y, raw_value(*p, x, y) | 0xFF000000u);
    return p;
  };
  Plane* src = fresh(1);
  mt_seed(2024);
  Plane* d = make_plane(2, 64, 48, 32);
  const Point64 quad[4] = {{10, 4}, {2, 40}, {60, 46}, {50, 8}};
  freemap(d, quad, src, nullptr, -1);
  test::expect_golden(*d, "filter/freemap.png");
  d = make_plane(2, 64, 48, 32);
  rotate(d, nullptr, src, nullptr, 200, -1);
  test::expect_golden(*d, "filter/rotate.png");
  d = make_plane(2, 64, 48, 32);
  const Rect small{8, 8, 24, 20};
  smooth(d, nullptr, src, &small, -1);
  test::expect_golden(*d, "filter/smooth.png");
  d = make_plane(2, 64, 48, 32);
  tiled(d, nullptr, src, &small, 150, 2);
  test::expect_golden(*d, "filter/tiled.png");
  d = fresh(2);
  scroll(d, nullptr, 20, -7);
  test::expect_golden(*d, "filter/scroll.png");
  d = fresh(2);
  noise(d, nullptr, 120);
  test::expect_golden(*d, "filter/noise.png");
  d = fresh(2);
  slice(d, nullptr, 40);
  test::expect_golden(*d, "filter/slice.png");
  d = fresh(2);
  for (int i = 0; i < 10; ++i) fire(d, nullptr);
  test::expect_golden(*d, "filter/fire.png");
  d = make_plane(2, 64, 48, 32);
  gradation(d, 0, 0, src, nullptr);
  test::expect_golden(*d, "filter/gradation.png");
  d = make_plane(2, 64, 48, 32);
  mosaic(d, 0, 0, src, nullptr, 6, 5);
  test::expect_golden(*d, "filter/mosaic.png");
  d = fresh(2);
  monotone(d, nullptr, 0x201000, 0xFFE0A0);
  test::expect_golden(*d, "filter/monotone.png");
  d = make_plane(2, 64, 48, 32);
  blur(d, 0, 0, src, nullptr, 3);
  blur(d, 0, 0, d, nullptr, -3);
  test::expect_golden(*d, "filter/blur.png");
}

}  // namespace
}  // namespace talven::graphics
