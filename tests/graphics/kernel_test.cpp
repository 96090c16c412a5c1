// The blend kernels: start-up tables against their formulas, and every
// mode over every depth pair against a reference written here from the
// formulas (not from the kernels), plus the mode-preparation edge cases.
#include "graphics/kernels/kernels.h"

#include <cmath>
#include <numbers>

#include "graphics/kernels/fast_paths.h"
#include "graphics/kernels/kernel_builtins.h"
#include "graphics/kernels/tables.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::Bgra;
using test::call;
using test::color_at;
using test::make_plane;
using test::raw_value;
using test::ScriptBlock;

// ---- the formulas, independently -------------------------------------------

namespace ref {

int mul(int a, int b) { return a * b / 255; }
int mix(int x, int y, int w) { return mul(w, x) + mul(255 - w, y); }
int screen(int a, int b) { return a + b - a * b / 255; }
int over(int a, int b) {
  if (b == 0) return 255;
  double x = a / 255.0, y = b / 255.0;
  double v = 255 * x / (x + y * (1 - x));
  return v >= 256 ? 255 : int(v);
}

int op(int n, int s, int d) {
  switch (n) {
    case 0: return s;
    case 1: return s + d > 255 ? 255 : s + d;
    case 2: return d - s < 0 ? 0 : d - s;
    case 3: return s * d / 255;
    case 4: return s == 0 ? 255 : std::min(255, 255 * d / s);
    case 5: return 255 - (255 - s) * (255 - d) / 255;
    case 6: return d < 128 ? 2 * s * d / 255 : 255 - 2 * (255 - s) * (255 - d) / 255;
    case 7: {
      double m = s / 255.0, o = d / 255.0, r = (o - o * o) * (2 * m - 1);
      double v =
          m < 0.5 ? o + r
                  : (o <= 32.0 / 255 ? o + (3 - 8 * o) * r : o + (std::sqrt(o) - o) * (2 * m - 1));
      return int(v * 255);
    }
    case 8: return s > 127 ? 255 - 2 * (255 - s) * (255 - d) / 255 : 2 * s * d / 255;
    case 9: return s + d >= 256 ? 255 : d == 0 ? 0 : 255 * d / (255 - s);
    case 10: return s + d <= 254 ? 0 : s == 0 ? 255 : 255 - 255 * (255 - d) / s;
    case 11: return std::max(s, d);
    case 12: return std::min(s, d);
    default: return s ^ d;
  }
}

}  // namespace ref

TEST(KernelTables, MatchTheirFormulas) {
  const KernelTables& t = kernel_tables();
  for (int n = 0; n < 14; ++n)
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d)
        ASSERT_EQ(operator_table(n)[s][d], ref::op(n, s, d)) << n << " " << s << " " << d;
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      ASSERT_EQ(t.mul[a][b], ref::mul(a, b));
      ASSERT_EQ(t.over[a][b], ref::over(a, b)) << a << " " << b;
      ASSERT_EQ(t.screen[a][b], ref::screen(a, b));
    }
  EXPECT_EQ(t.over[0][0], 255);
  EXPECT_EQ(t.over[255][128], 255);
  EXPECT_EQ(t.over[128][255], 128);
  EXPECT_EQ(t.clamp(-256), 0);
  EXPECT_EQ(t.clamp(-1), 0);
  EXPECT_EQ(t.clamp(77), 77);
  EXPECT_EQ(t.clamp(511), 255);
  const std::uint32_t widened[] = {0, 8, 16, 24, 32, 41};
  for (int v = 0; v < 6; ++v) EXPECT_EQ(t.expand15[v], widened[v]);
  EXPECT_EQ(t.expand15[0x7FFF], 0xFFFFFFu);
  EXPECT_EQ(t.expand15[30 << 10], 246u << 16);
  EXPECT_EQ(t.sine[0], 0);
  EXPECT_EQ(t.sine[512], 65536);
  EXPECT_EQ(t.sine[512 + 512], 0);  // cos(quarter turn) read at i + 512
  EXPECT_EQ(t.sine[1536], -65536);
  EXPECT_EQ(t.sine[2047 + 512], 65536 - 1);  // cos of just under a turn, truncated
  EXPECT_EQ(t.arc[256], 256);
  EXPECT_EQ(t.arc[128], int(std::atan(0.5) * 1024 / std::numbers::pi));
  for (float f : t.random) {
    ASSERT_GE(f, 0.0f);
    ASSERT_LT(f, 1.0f);
  }
}

// ---- the reference blend ----------------------------------------------------

struct Params {
  int mode = 0, op = 0, opacity = 0, extra = 0;
  std::uint32_t p1 = 0, p2 = 0;
};

bool has_kernel(int mode, bool masked, int sb, int db) {
  if (masked) return mode >= 5 && mode <= 8;
  if ((mode == 7 || mode == 8) && sb != 4) return false;
  if (mode == 10) return (sb == 1 || sb == 4) && (db == 1 || db == 4);
  if (mode == 11) return sb == 1;
  return true;
}

// The pixel of a plane as channels; between two 8-bit planes without
// colour mapping an index is a grey level.
Bgra channels(const Plane& p, int x, int y, bool grey) {
  if (p.bpp == 8 && grey) {
    int v = int(raw_value(p, x, y));
    return Bgra{v, v, v, 255};
  }
  return color_at(p, x, y);
}

std::uint32_t encode(const Plane& dst, Bgra c, bool write_alpha, std::uint32_t old, bool grey) {
  switch (dst.bpp) {
    case 8:
      return grey ? std::uint32_t(c.b)
                  : InverseColorMap()[(c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3)];
    case 16: return std::uint32_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
    case 24: return std::uint32_t(c.r << 16 | c.g << 8 | c.b);
    default:
      return std::uint32_t(c.r << 16 | c.g << 8 | c.b) |
             (write_alpha ? std::uint32_t(c.a) << 24 : old & 0xFF000000u);
  }
}

// Expected raw destination value after blending source (sx, sy) onto (dx, dy).
std::uint32_t expected(const Plane& src, int sx, int sy, Plane& dst, int dx, int dy,
                       const Plane* mask, const Params& m, bool grey) {
  const std::uint32_t old = raw_value(dst, dx, dy);
  const int sb = src.bpp / 8, db = dst.bpp / 8;
  if (!has_kernel(m.mode, mask != nullptr, sb, db)) return old;
  const Bgra S = channels(src, sx, sy, grey), D = channels(dst, dx, dy, grey);
  const int alpha = mask ? int(test::raw_pixel(*mask, sx, sy)[0]) : S.a;
  const int C[3] = {int(m.p2 & 0xFF), int((m.p2 >> 8) & 0xFF), int((m.p2 >> 16) & 0xFF)};
  auto rgb_only = [&](Bgra c) { return encode(dst, Bgra{c.b, c.g, c.r, D.a}, false, old, grey); };
  auto layer = [&](Bgra t, int a) -> std::uint32_t {
    if (a == 0) return old;
    if (a == 255) return encode(dst, Bgra{t.b, t.g, t.r, 255}, true, old, grey);
    int w = ref::over(a, D.a);
    return encode(dst,
                  Bgra{ref::mix(t.b, D.b, w), ref::mix(t.g, D.g, w), ref::mix(t.r, D.r, w),
                       ref::screen(a, D.a)},
                  true, old, grey);
  };
  auto rgb = [](Bgra c) { return std::uint32_t(c.r << 16 | c.g << 8 | c.b); };
  switch (m.mode) {
    case 0:
      // Same-depth copies move the bytes as they are (bit 15 of 16-bit
      // pixels too), except indexes mapped through their colours.
      if (sb == db && (sb != 1 || grey)) return raw_value(src, sx, sy);
      return encode(dst, S, true, old, grey);
    case 1: {
      bool differs =
          sb == 1 ? raw_value(src, sx, sy) != (m.p1 & 0xFF) : rgb(S) != (m.p1 & 0xFFFFFF);
      return differs ? rgb_only(S) : old;
    }
    case 2: {
      bool equal = db == 1 ? old == (m.p1 & 0xFF) : rgb(D) == (m.p1 & 0xFFFFFF);
      return equal ? rgb_only(S) : old;
    }
    case 3: {
      int o = m.opacity;
      return encode(dst,
                    Bgra{ref::mix(S.b, D.b, o), ref::mix(S.g, D.g, o), ref::mix(S.r, D.r, o),
                         ref::mix(S.a, D.a, o)},
                    true, old, grey);
    }
    case 4: {
      int a = ref::mul(S.a, m.opacity);
      if (a == 0) return old;
      return rgb_only(Bgra{ref::mix(ref::op(m.op, S.b, D.b), D.b, a),
                           ref::mix(ref::op(m.op, S.g, D.g), D.g, a),
                           ref::mix(ref::op(m.op, S.r, D.r), D.r, a), 0});
    }
    case 5: return layer(S, ref::mul(alpha, m.opacity));
    case 6: {
      auto t = [&](int c, int s) { return ref::mix(ref::op(m.op, c, s), s, m.extra); };
      return layer(Bgra{t(C[0], S.b), t(C[1], S.g), t(C[2], S.r), S.a}, ref::mul(alpha, m.opacity));
    }
    case 7: return (alpha >= m.opacity && alpha <= m.opacity + m.extra) ? rgb_only(S) : old;
    case 8: {
      int w = alpha < m.opacity ? 255
              : alpha >= m.opacity + m.extra
                  ? 0
                  : std::clamp(255 + 255 * (m.opacity - alpha) / m.extra, 0, 255);
      if (w == 0) return old;
      return rgb_only(Bgra{ref::mix(S.b, D.b, w), ref::mix(S.g, D.g, w), ref::mix(S.r, D.r, w), 0});
    }
    case 9: {
      const int ch[4] = {S.b, S.g, S.r, S.a};
      int o = m.opacity;
      std::uint32_t n = std::uint32_t(ref::mix(ch[m.op & 3], D.b, o)) |
                        std::uint32_t(ref::mix(ch[(m.op >> 2) & 3], D.g, o)) << 8 |
                        std::uint32_t(ref::mix(ch[m.op & 3], D.r, o)) << 16 |
                        std::uint32_t(ref::mix(ch[(m.op >> 6) & 3], D.a, o)) << 24;
      std::uint32_t d = std::uint32_t(D.b) | std::uint32_t(D.g) << 8 | std::uint32_t(D.r) << 16 |
                        std::uint32_t(D.a) << 24;
      std::uint32_t r = (d & ~m.p1) | (n & m.p1);
      return encode(dst,
                    Bgra{int(r & 0xFF), int((r >> 8) & 0xFF), int((r >> 16) & 0xFF), int(r >> 24)},
                    true, old, grey);
    }
    case 10: {
      int sa = sb == 4 ? int(raw_value(src, sx, sy) >> 24) : int(raw_value(src, sx, sy));
      std::uint32_t a = std::uint32_t(ref::mul(sa, m.opacity));
      return db == 4 ? (old & 0xFFFFFF) | a << 24 : a;
    }
    case 11: {
      int a = ref::mul(int(raw_value(src, sx, sy)), m.opacity);
      return layer(
          Bgra{ref::op(m.op, C[0], D.b), ref::op(m.op, C[1], D.g), ref::op(m.op, C[2], D.r), 255},
          a);
    }
    default: {
      int y = (19595 * S.r + 38470 * S.g + 7471 * S.b) >> 16;
      auto t = [&](int c) { return ref::mix(ref::op(m.op, c, y), y, m.extra); };
      return layer(Bgra{t(C[0]), t(C[1]), t(C[2]), S.a}, ref::mul(alpha, m.opacity));
    }
  }
}

class KernelTest : public test::GraphicsTest {
 public:
  void SetUp() override {
    test::GraphicsTest::SetUp();
    config().MultiThreading = 0;
    // Inverse map of the default 3:3:2 palette that 8-bit planes start with.
    Plane* p = make_plane(1000, 1, 1, 8);
    std::uint32_t pal[256];
    for (int i = 0; i < 256; ++i) pal[i] = p->color(i);
    build_inverse_color_map(pal);
    free_plane(1000);
    color_mapping() = 0;
  }
  void TearDown() override {
    color_mapping() = 0;
    test::GraphicsTest::TearDown();
  }

  std::uint32_t seed_ = 12345;
  std::uint32_t next() {
    seed_ = seed_ * 1103515245u + 12345u;
    return seed_ >> 8;
  }
  // Random pixels; 32-bit alphas include 0 and 255.
  void randomise(Plane& p) {
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        std::uint32_t v = next() | (next() & 0xFF) << 24;
        if (p.bpp == 32 && x == 0) v &= 0x00FFFFFF;
        if (p.bpp == 32 && x == 1) v |= 0xFF000000;
        test::set_raw(p, x, y, v);
      }
  }
};

const int kDepths[] = {8, 16, 24, 32};

// Runs one mode over every depth pair (and both colour-mapping settings
// between 8-bit planes), optionally with a mask of the given depth.
void check_mode(KernelTest& t, Params m, int mask_bpp) {
  for (int sbpp : kDepths)
    for (int dbpp : kDepths)
      for (int mapping : {0, 1}) {
        if (mapping && !(sbpp == 8 && dbpp == 8)) continue;
        SCOPED_TRACE(testing::Message()
                     << "mode " << m.mode << " op " << m.op << " opacity " << m.opacity << " src "
                     << sbpp << " dst " << dbpp << " mapping " << mapping << " mask " << mask_bpp);
        color_mapping() = mapping;
        const bool grey = sbpp == 8 && dbpp == 8 && mapping == 0;
        Plane* src = make_plane(1, 7, 3, sbpp);
        Plane* dst = make_plane(2, 7, 3, dbpp);
        Plane* mask = nullptr;
        t.randomise(*src);
        t.randomise(*dst);
        PlaneTable().slots[1].mask = -1;
        if (mask_bpp) {
          mask = make_plane(3, 7, 3, mask_bpp);
          t.randomise(*mask);
          test::raw_pixel(*mask, 0, 0)[0] = 0;
          test::raw_pixel(*mask, 1, 0)[0] = 255;
          PlaneTable().slots[1].mask = 3;
        }
        Params pm = m;
        // Keys taken from the pictures so that some pixels match.
        if (m.mode == 1)
          pm.p1 = sbpp == 8 ? kPaletteIndexFlag | raw_value(*src, 1, 1)
                            : std::uint32_t(color_at(*src, 1, 1).r << 16 |
                                            color_at(*src, 1, 1).g << 8 | color_at(*src, 1, 1).b);
        if (m.mode == 2) {
          if (dbpp == 8) {
            pm.p1 = kPaletteIndexFlag | raw_value(*dst, 2, 1);
          } else {
            Bgra c = color_at(*dst, 2, 1);
            pm.p1 = std::uint32_t(c.r << 16 | c.g << 8 | c.b);
          }
        }
        std::vector<std::uint32_t> want;
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 7; ++x)
            want.push_back(expected(*src, x, y, *dst, x, y, mask, pm, grey));
        std::uint8_t record[12] = {std::uint8_t(pm.mode), std::uint8_t(pm.op),
                                   std::uint8_t(pm.opacity), std::uint8_t(pm.extra)};
        std::memcpy(record + 4, &pm.p1, 4);
        std::memcpy(record + 8, &pm.p2, 4);
        ScriptBlock rec(record, 12);
        ASSERT_EQ(call(bi_gcopy, {2, 0, 0, 1, 0, rec.addr}), 1u);
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 7; ++x)
            ASSERT_EQ(raw_value(*dst, x, y), want[std::size_t(y * 7 + x)])
                << "pixel " << x << "," << y;
        free_plane(3);
      }
}

}  // namespace

namespace {

TEST_F(KernelTest, ModesZeroToThreeOverEveryPair) {
  check_mode(*this, Params{0, 0, 0, 0}, 0);
  check_mode(*this, Params{1, 0, 0, 0}, 0);
  check_mode(*this, Params{2, 0, 0, 0}, 0);
  check_mode(*this, Params{3, 0, 100, 0}, 0);
  check_mode(*this, Params{3, 0, 1, 0}, 0);
}

TEST_F(KernelTest, ModeFourWithEveryOperator) {
  for (int op = 0; op < 14; ++op) check_mode(*this, Params{4, op, 200, 0}, 0);
}

TEST_F(KernelTest, LayeringModesPlainAndMasked) {
  for (int mask : {0, 8, 32}) {
    check_mode(*this, Params{5, 0, 255, 0}, mask);
    check_mode(*this, Params{5, 0, 128, 0}, mask);
    check_mode(*this, Params{6, 3, 200, 100, 0, 0x336699}, mask);
    check_mode(*this, Params{6, 7, 255, 255, 0, 0xC08040}, mask);
    check_mode(*this, Params{7, 0, 50, 100}, mask);
    check_mode(*this, Params{7, 0, 200, 100}, mask);
    check_mode(*this, Params{8, 0, 60, 80}, mask);
    check_mode(*this, Params{8, 0, 90, 0}, mask);
  }
}

TEST_F(KernelTest, ChannelAlphaColourAndGreyModes) {
  // Selectors: blue/red <- red (2), green <- alpha (3), alpha <- blue (0).
  check_mode(*this, Params{9, 0x0E, 255, 0, 0x00FF00FF}, 0);
  check_mode(*this, Params{9, 0x0E, 100, 0, 0xFF00FF00}, 0);
  check_mode(*this, Params{9, 0x4D, 0, 0, 0xFFFFFFFF}, 0);
  check_mode(*this, Params{10, 0, 200, 0}, 0);
  check_mode(*this, Params{10, 0, 0, 0}, 0);
  check_mode(*this, Params{11, 0, 255, 0, 0, 0xFF8000}, 0);
  check_mode(*this, Params{11, 5, 128, 0, 0, 0x204060}, 0);
  check_mode(*this, Params{12, 3, 200, 128, 0, 0x8040C0}, 0);
  check_mode(*this, Params{12, 1, 255, 0, 0, 0x010203}, 0);
}

// The result of a gcopy with a record into a fresh copy of the same pictures.
std::vector<std::uint8_t> copy_result(int sbpp, int dbpp, const std::uint8_t* record,
                                      bool run = true) {
  Plane* src = make_plane(11, 5, 4, sbpp);
  Plane* dst = make_plane(12, 5, 4, dbpp);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      test::set_raw(*src, x, y,
                    std::uint32_t(x * 0x1F3D5B79u + y * 0x2468ACE1u) | (x == 2 ? 0x80000000u : 0));
      test::set_raw(*dst, x, y, std::uint32_t(x * 0x0F1E2D3Cu ^ y * 0x13579BDFu));
    }
  ScriptBlock rec(12);
  if (record) write_bytes(rec.addr, record, 12);
  Addr r = record ? rec.addr : 0;
  std::vector<std::uint8_t> out;
  out.push_back(run ? std::uint8_t(call(bi_gcopy, {12, 0, 0, 11, 0, r})) : 0);
  out.insert(out.end(), dst->pixels, dst->pixels + dst->stride * dst->height);
  return out;
}

TEST_F(KernelTest, ModePreparationEdgeCases) {
  const std::uint8_t mode0[12] = {0};
  for (int s : kDepths)
    for (int d : kDepths) {
      SCOPED_TRACE(testing::Message() << s << " -> " << d);
      std::vector<std::uint8_t> base = copy_result(s, d, mode0);
      EXPECT_EQ(copy_result(s, d, nullptr), base);  // null record: mode 0
      const std::uint8_t m3_255[12] = {3, 0, 255};
      EXPECT_EQ(copy_result(s, d, m3_255), base);
      const std::uint8_t m4_14_255[12] = {4, 14, 255};
      EXPECT_EQ(copy_result(s, d, m4_14_255), base);
      const std::uint8_t m3_77[12] = {3, 0, 77};
      const std::uint8_t m4_14_77[12] = {4, 14, 77};
      EXPECT_EQ(copy_result(s, d, m4_14_77), copy_result(s, d, m3_77));
      // Opacity 0 refuses the modes that need it and draws nothing.
      const std::vector<std::uint8_t> untouched = copy_result(s, d, nullptr, false);
      for (std::uint8_t mode : {3, 4, 5, 6, 7, 8, 11, 12}) {
        const std::uint8_t rec[12] = {mode, 0, 0, 10};
        EXPECT_EQ(copy_result(s, d, rec), untouched) << int(mode);
      }
      // Modes 0, 1, 2, 9 and 10 accept opacity 0.
      const std::uint8_t m1_0[12] = {1, 0, 0, 0, 1, 2, 3, 0};
      EXPECT_EQ(copy_result(s, d, m1_0)[0], 1);
      // Mode 6 with extra 0 or a bad operator is mode 5.
      const std::uint8_t m5[12] = {5, 0, 180};
      const std::uint8_t m6_e0[12] = {6, 3, 180, 0, 0, 0, 0, 0, 0x44, 0x55, 0x66};
      const std::uint8_t m6_bad[12] = {6, 20, 180, 90, 0, 0, 0, 0, 0x44, 0x55, 0x66};
      EXPECT_EQ(copy_result(s, d, m6_e0), copy_result(s, d, m5));
      EXPECT_EQ(copy_result(s, d, m6_bad), copy_result(s, d, m5));
      // Modes 11 and 12 with a bad operator use operator 0.
      const std::uint8_t m12_bad[12] = {12, 99, 180, 90, 0, 0, 0, 0, 0x44, 0x55, 0x66};
      const std::uint8_t m12_0[12] = {12, 0, 180, 90, 0, 0, 0, 0, 0x44, 0x55, 0x66};
      EXPECT_EQ(copy_result(s, d, m12_bad), copy_result(s, d, m12_0));
      // Mode 9 with no write mask fails; modes above 12 fail.
      const std::uint8_t m9_0[12] = {9, 0, 255};
      EXPECT_EQ(copy_result(s, d, m9_0)[0], 0);
      const std::uint8_t m13[12] = {13, 0, 255};
      EXPECT_EQ(copy_result(s, d, m13)[0], 0);
    }
}

TEST_F(KernelTest, UncoveredPairsDrawNothingAndSucceed) {
  // Mode 11 from a 24-bit source: 1 and no change.
  Plane* src = make_plane(1, 4, 4, 24);
  Plane* dst = make_plane(2, 4, 4, 32);
  randomise(*src);
  randomise(*dst);
  std::vector<std::uint8_t> before(dst->pixels, dst->pixels + dst->stride * 4);
  const std::uint8_t m11[12] = {11, 0, 255, 0, 0, 0, 0, 0, 0xFF};
  ScriptBlock rec(m11, 12);
  EXPECT_EQ(call(bi_gcopy, {2, 0, 0, 1, 0, rec.addr}), 1u);
  EXPECT_EQ(std::vector<std::uint8_t>(dst->pixels, dst->pixels + dst->stride * 4), before);
  // Mode 9 with param1 0x00FFFFFF keeps every destination alpha.
  const std::uint8_t m9[12] = {9, 0xFF, 255, 0, 0xFF, 0xFF, 0xFF, 0x00};
  ScriptBlock rec9(m9, 12);
  EXPECT_EQ(call(bi_gcopy, {2, 0, 0, 1, 0, rec9.addr}), 1u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(raw_value(*dst, x, y) >> 24,
                std::uint32_t(before[std::size_t((3 - y) * 16 + x * 4 + 3)]));
  // Depths below 8 and missing planes fail.
  make_plane(3, 4, 4, 4);
  EXPECT_EQ(call(bi_gcopy, {2, 0, 0, 3, 0, 0}), 0u);
  EXPECT_EQ(call(bi_gcopy, {3, 0, 0, 1, 0, 0}), 0u);
  EXPECT_EQ(call(bi_gcopy, {2, 0, 0, 9, 0, 0}), 0u);
  EXPECT_EQ(call(bi_gcopy, {2, 0, 0, 1, 0, 0x20}), 0u);  // bad record address
}

TEST_F(KernelTest, GcopyClipsToTheDestinationClipAndSourceBounds) {
  Plane* src = make_plane(1, 6, 5, 32);
  Plane* dst = make_plane(2, 8, 8, 32);
  randomise(*src);
  std::int32_t r[4] = {1, 1, 5, 4};
  ScriptBlock rect(r, 16);
  std::int32_t clip[4] = {0, 0, 6, 8};
  ScriptBlock cr(clip, 16);
  src->clip = Rect{0, 0, 1, 1};  // the source clip does not matter
  dst->clip = Rect{0, 0, 6, 8};
  EXPECT_EQ(call(bi_gcopy, {2, 3, -1u, 1, rect.addr, 0}), 1u);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool inside = x >= 3 && x < 6 && y >= 0 && y < 2;
      std::uint32_t want = inside ? raw_value(*src, x - 3 + 1, y + 1 + 1) : 0;
      EXPECT_EQ(raw_value(*dst, x, y), want) << x << "," << y;
    }
  EXPECT_EQ(call(bi_gcopy, {2, 6, 0, 1, rect.addr, 0}), 0u);  // all clipped
  EXPECT_EQ(call(bi_gcopy, {2, 0, 10, 1, 0, 0}), 0u);
  // The fast row copy and the kernels agree: 24 -> 32 through a key mode
  // that copies everything (a key no pixel has).
  Plane* s24 = make_plane(3, 6, 5, 24);
  randomise(*s24);
  make_plane(4, 6, 5, 32);
  make_plane(5, 6, 5, 32);
  EXPECT_EQ(call(bi_gcopy, {4, 0, 0, 3, 0, 0}), 1u);
  const std::uint8_t m2[12] = {2, 0, 0, 0, 0, 0, 0, 0};  // key black: the zeroed destination
  ScriptBlock rec(m2, 12);
  EXPECT_EQ(call(bi_gcopy, {5, 0, 0, 3, 0, rec.addr}), 1u);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(raw_value(*plane_at(4), x, y) & 0xFFFFFF, raw_value(*plane_at(5), x, y));
}

TEST(FastPaths, GiveTheGenericResultForEveryInputTheyCover) {
  // The division-free x / 255 is exact for every product of two bytes.
  for (int x = 0; x <= 255 * 255; ++x) ASSERT_EQ(div255_int(x), x / 255) << x;
  // Mode 5, 32 to 32 bits: every (source alpha, destination alpha) pair,
  // with channel values that vary across the row, plain and masked, at
  // several opacities, against the generic kernel.
  const int n = 256 * 256;
  std::vector<std::uint8_t> src(4 * n), dst(4 * n), mask(2 * n);
  for (int i = 0; i < n; ++i) {
    const int sa = i >> 8, da = i & 0xFF;
    src[4 * i] = std::uint8_t(i * 7), src[4 * i + 1] = std::uint8_t(i * 13 + 5);
    src[4 * i + 2] = std::uint8_t(255 - i * 3), src[4 * i + 3] = std::uint8_t(sa);
    dst[4 * i] = std::uint8_t(i * 11 + 1), dst[4 * i + 1] = std::uint8_t(200 - i);
    dst[4 * i + 2] = std::uint8_t(i * 5 + 9), dst[4 * i + 3] = std::uint8_t(da);
    mask[2 * i] = std::uint8_t(sa);
  }
  // Over an opaque destination the weight is the alpha itself.
  for (int a = 0; a < 256; ++a) ASSERT_EQ(kernel_tables().over[a][255], a);
  // Rows with runs of opaque destination pixels take the table-free path.
  for (int i = 0; i < n; ++i)
    if ((i / 4) % 3 == 0) dst[4 * i + 3] = 255;
  for (bool masked : {false, true})
    for (int opacity : {255, 254, 128, 1}) {
      SCOPED_TRACE(testing::Message() << "masked " << masked << " opacity " << opacity);
      KernelContext c;
      c.mode = Blend::kAlphaLayering;
      c.opacity = std::uint8_t(opacity);
      c.mask_step = 2;
      KernelFn generic = find_kernel(Blend::kAlphaLayering, masked, 4, 4);
      ASSERT_NE(generic, nullptr);
      std::vector<std::uint8_t> want = dst, got = dst;
      generic(c, want.data(), src.data(), masked ? mask.data() : nullptr, n);
      layer_row_32(got.data(), src.data(), masked ? mask.data() : nullptr, 2, n, opacity);
      ASSERT_EQ(got, want);
      // Odd lengths take the scalar tail.
      std::vector<std::uint8_t> want3 = dst, got3 = dst;
      generic(c, want3.data() + 4, src.data() + 4, masked ? mask.data() + 2 : nullptr, 3);
      layer_row_32(got3.data() + 4, src.data() + 4, masked ? mask.data() + 2 : nullptr, 2, 3,
                   opacity);
      ASSERT_EQ(got3, want3);
    }
}

TEST_F(KernelTest, ParallelRowsGiveTheSameResult) {
  Plane* src = make_plane(1, 64, 61, 32);
  randomise(*src);
  const std::uint8_t m5[12] = {5, 0, 200};
  ScriptBlock rec(m5, 12);
  std::vector<std::uint8_t> results[2];
  for (int mt : {0, 1}) {
    config().MultiThreading = mt;
    Plane* dst = make_plane(2, 64, 61, 32);
    seed_ = 99;
    randomise(*dst);
    ASSERT_EQ(call(bi_gcopy, {2, 0, 0, 1, 0, rec.addr}), 1u);
    ASSERT_EQ(call(bi_gblit, {2, 0, 1, 0, rec.addr, 300}), 1u);
    ASSERT_EQ(call(bi_gblita, {2, 0, 1, 0, rec.addr, 1700}), 1u);
    std::int32_t pts[8] = {3, 2, 60, 9, 20, 58, 50, 40};
    ScriptBlock pb(pts, 32);
    ASSERT_EQ(call(bi_gpoly, {2, pb.addr, 4, 0x80FF2040}), 1u);
    ASSERT_EQ(call(bi_gfill, {2, 5, 5, 40, 40, 0x40102030}), 1u);
    results[mt].assign(dst->pixels, dst->pixels + dst->stride * dst->height);
  }
  EXPECT_EQ(results[0], results[1]);
}

}  // namespace
}  // namespace talven::graphics
