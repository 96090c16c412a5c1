// Mesh effects: slot lifecycle and failure results, the identity mesh, the
// renderer against the bilinear rule computed here, wrap-around and hostile
// mesh values written by a script, the water height fields, and a golden
// image of every deformation.
#include "graphics/effect/effects.h"

#include <cmath>
#include <numbers>
#include <limits>
#include <vector>

#include "graphics/effect/effect_builtins.h"
#include "graphics/graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::call;
using test::make_plane;
using test::raw_value;
using test::ScriptBlock;
using test::set_raw;

class Effects : public test::GraphicsTest {
 protected:
  void TearDown() override {
    effects_release();
    GraphicsTest::TearDown();
  }
};

void pattern(Plane& p, std::uint32_t seed = 1) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      seed = seed * 1103515245u + 12345u;
      const std::uint32_t n = seed >> 16;
      std::uint32_t v = (std::uint32_t(x * 255 / std::max(1, p.width - 1)) ^ (n & 0xF)) |
                        (std::uint32_t(y * 255 / std::max(1, p.height - 1)) << 8) |
                        (std::uint32_t((x * 16 + y * 8) & 0xFF) << 16) | (n & 0xFF) << 24;
      if (p.bpp == 16) v = (v & 0x7FFF);
      if (p.bpp == 8) v &= 0xFF;
      set_raw(p, x, y, v);
    }
}

std::vector<std::uint32_t> pixels(const Plane& p) {
  std::vector<std::uint32_t> v;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) v.push_back(raw_value(p, x, y));
  return v;
}

float* mesh_of(int slot, int& columns, int& rows) {
  Addr mesh = 0;
  if (!effect_info(slot, columns, rows, mesh)) return nullptr;
  return reinterpret_cast<float*>(span(mesh, std::uint64_t(columns + 1) * (rows + 1) * 8));
}

// The renderer's rule, written out: bilinear position inside a cell,
// wrapped integer parts, 16-bit fractions, and the byte formula.
std::uint32_t expected_pixel(const Plane& src, const Rect& sr, const float* mesh, int columns,
                             int x, int y) {
  const int cj = x / 8, ci = y / 8;
  const double tx = (x % 8) / 8.0, ty = (y % 8) / 8.0;
  auto pt = [&](int j, int i, int k) {
    const float v = mesh[2 * (i * (columns + 1) + j) + k];
    return std::isfinite(v) ? double(v) : 0.0;
  };
  double uv[2];
  for (int k = 0; k < 2; ++k) {
    const double a = pt(cj, ci, k), b = pt(cj + 1, ci, k), c = pt(cj, ci + 1, k),
                 d = pt(cj + 1, ci + 1, k);
    uv[k] = a + (b - a) * tx + (c - a) * ty + (d - c - b + a) * tx * ty;
  }
  const std::int64_t sw = sr.width(), sh = sr.height();
  auto wrap = [](double u, std::int64_t size, std::int64_t& i0, std::int64_t& i1, std::int64_t& f) {
    const double fl = std::floor(u);
    f = std::int64_t((u - fl) * 65536.0);
    i0 = ((std::int64_t(fl) % size) + size) % size;
    i1 = (i0 + 1) % size;
  };
  std::int64_t x0, x1, fx, y0, y1, fy;
  wrap(uv[0], sw, x0, x1, fx);
  wrap(uv[1], sh, y0, y1, fy);
  const std::uint32_t c00 = raw_value(src, int(sr.left + x0), int(sr.top + y0));
  const std::uint32_t c10 = raw_value(src, int(sr.left + x1), int(sr.top + y0));
  const std::uint32_t c01 = raw_value(src, int(sr.left + x0), int(sr.top + y1));
  const std::uint32_t c11 = raw_value(src, int(sr.left + x1), int(sr.top + y1));
  std::uint32_t out = 0;
  for (int b = 0; b < src.bpp / 8; ++b) {
    const std::int64_t a00 = c00 >> (8 * b) & 0xFF, a10 = c10 >> (8 * b) & 0xFF;
    const std::int64_t a01 = c01 >> (8 * b) & 0xFF, a11 = c11 >> (8 * b) & 0xFF;
    const std::int64_t v =
        a00 +
        (((a11 - a10 - a01 + a00) * fx * fy / 65536 + (a10 - a00) * fx + (a01 - a00) * fy) >> 16);
    out |= std::uint32_t(v) << (8 * b);
  }
  return out;
}

// ---- lifecycle --------------------------------------------------------------------

TEST_F(Effects, InitChecksSlotsPlanesDepthsAndSizes) {
  make_plane(1, 40, 32, 32);
  make_plane(2, 40, 32, 32);
  make_plane(3, 40, 32, 24);
  make_plane(4, 7, 30, 32);
  EXPECT_EQ(effect_init(8, 2, nullptr, 1, nullptr), 0u);
  EXPECT_EQ(effect_init(-1, 2, nullptr, 1, nullptr), 0u);
  EXPECT_EQ(effect_init(0, 2, nullptr, 9, nullptr), 0u);
  EXPECT_EQ(effect_init(0, 4, nullptr, 1, nullptr), 0u) << "narrower than one cell";

  const Addr obj = effect_init(0, 2, nullptr, 1, nullptr);
  ASSERT_NE(obj, 0u);
  int columns = 0, rows = 0;
  ASSERT_NE(mesh_of(0, columns, rows), nullptr);
  EXPECT_EQ(columns, 5);
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(effect_clear(0), 1);
  // Mismatched depths: null, and the old object is gone.
  EXPECT_EQ(effect_init(0, 3, nullptr, 1, nullptr), 0u);
  EXPECT_EQ(effect_copy(0), 0);
  EXPECT_EQ(effect_clear(0), 0);
  Addr none = 0;
  EXPECT_FALSE(effect_info(0, columns, rows, none));

  // A destination rectangle clipped to the clip.
  Rect clip{4, 0, 40, 20};
  set_clip(*plane_at(2), &clip);
  const Rect want{0, 0, 100, 100};
  ASSERT_NE(effect_init(1, 2, &want, 1, nullptr), 0u);
  ASSERT_NE(mesh_of(1, columns, rows), nullptr);
  EXPECT_EQ(columns, 4);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(effect_free(1), 1);
  EXPECT_EQ(effect_free(1), 1);
  EXPECT_EQ(effect_free(8), 0);
  EXPECT_EQ(effect_copy(1), 0);
}

TEST_F(Effects, EveryDeformationFailsOnEmptyAndBadSlots) {
  for (int slot : {3, 8, -5}) {
    EXPECT_EQ(effect_clear(slot), 0);
    EXPECT_EQ(effect_copy(slot), 0);
    EXPECT_EQ(effect_rotate(slot, 0, 0, 1, 0), 0);
    EXPECT_EQ(effect_tunnel(slot, 1, 0, 1), 0);
    EXPECT_EQ(effect_land(slot, 1, 0, 0, 1), 0);
    EXPECT_EQ(effect_ball(slot, 1, 0, 0, 1), 0);
    EXPECT_EQ(effect_whirl(slot, 1), 0);
    EXPECT_EQ(effect_raster(slot, 0, 1, 1), 0);
    EXPECT_EQ(effect_lens(slot, 0, 0, 1, 1), 0);
    EXPECT_EQ(effect_blob(slot, 0, 0, 1, 1), 0);
    EXPECT_EQ(effect_water(slot, 2), 0);
  }
}

// ---- identity and rendering ------------------------------------------------------

TEST_F(Effects, ClearThenCopyReproducesTheSourceStretchedToWholeCells) {
  Plane* src = make_plane(1, 24, 16, 32);
  pattern(*src, 3);
  Plane* dst = make_plane(2, 36, 21, 32);  // 4 x 2 cells, 4 columns and 5 rows left over
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 36; ++x) set_raw(*dst, x, y, 0xDEADBEEF);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  ASSERT_EQ(effect_clear(0), 1);
  int columns, rows;
  float* mesh = mesh_of(0, columns, rows);
  ASSERT_NE(mesh, nullptr);
  for (int i = 0; i <= rows; ++i)
    for (int j = 0; j <= columns; ++j) {
      EXPECT_EQ(mesh[2 * (i * (columns + 1) + j)], float(j * 24 / 4));
      EXPECT_EQ(mesh[2 * (i * (columns + 1) + j) + 1], float(i * 16 / 2));
    }
  ASSERT_EQ(effect_copy(0), 1);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 36; ++x) {
      const std::uint32_t got = raw_value(*dst, x, y);
      if (x >= 32 || y >= 16) {
        ASSERT_EQ(got, 0xDEADBEEFu) << "remainder left unchanged at " << x << "," << y;
      } else {
        ASSERT_EQ(got, expected_pixel(*src, src->bounds(), mesh, columns, x, y)) << x << "," << y;
      }
    }
  // Source and destination of one size: an exact copy.
  Plane* same = make_plane(3, 24, 16, 32);
  ASSERT_NE(effect_init(1, 3, nullptr, 1, nullptr), 0u);
  ASSERT_EQ(effect_clear(1), 1);
  ASSERT_EQ(effect_copy(1), 1);
  EXPECT_EQ(pixels(*same), pixels(*src));
}

TEST_F(Effects, CopyFollowsTheBilinearRuleOnEveryDepth) {
  for (int bpp : {8, 24, 32}) {
    Plane* src = make_plane(1, 30, 20, bpp);
    pattern(*src, 17);
    Plane* dst = make_plane(2, 48, 40, bpp);
    const Rect sr{3, 2, 27, 19}, dr{4, 4, 44, 36};
    ASSERT_NE(effect_init(2, 2, &dr, 1, &sr), 0u);
    // An affine mesh, then one whose cells are not parallelograms.
    for (int warp = 0; warp < 2; ++warp) {
      ASSERT_EQ(warp ? effect_whirl(2, 2.2) : effect_rotate(2, 12, 8, 1.3, 0.7), 1);
      int columns, rows;
      const float* mesh = mesh_of(2, columns, rows);
      ASSERT_EQ(effect_copy(2), 1);
      for (int y = 0; y < rows * 8; ++y)
        for (int x = 0; x < columns * 8; ++x)
          ASSERT_EQ(raw_value(*dst, 4 + x, 4 + y), expected_pixel(*src, sr, mesh, columns, x, y))
              << bpp << " bpp, warp " << warp << " at " << x << "," << y;
    }
  }
}

TEST_F(Effects, ParallelCopyEqualsSerialAndSourceMayBeTheDestination) {
  Plane* src = make_plane(1, 320, 240, 32);
  pattern(*src, 4);
  Plane* a = make_plane(2, 320, 240, 32);
  Plane* b = make_plane(3, 320, 240, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  ASSERT_NE(effect_init(1, 3, nullptr, 1, nullptr), 0u);
  effect_whirl(0, 2.5);
  effect_whirl(1, 2.5);
  config().MultiThreading = 0;
  effect_copy(0);
  config().MultiThreading = 1;
  effect_copy(1);
  EXPECT_EQ(pixels(*a), pixels(*b));

  // Warping a plane into itself reads the picture as it was before the call.
  Plane* self = make_plane(4, 320, 240, 32);
  pattern(*self, 4);
  ASSERT_NE(effect_init(2, 4, nullptr, 4, nullptr), 0u);
  effect_whirl(2, 2.5);
  ASSERT_EQ(effect_copy(2), 1);
  EXPECT_EQ(pixels(*self), pixels(*a));
}

TEST_F(Effects, MeshOutsideTheSourceTilesIt) {
  Plane* src = make_plane(1, 16, 16, 32);
  pattern(*src, 8);
  Plane* a = make_plane(2, 32, 32, 32);
  Plane* b = make_plane(3, 32, 32, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  ASSERT_NE(effect_init(1, 3, nullptr, 1, nullptr), 0u);
  effect_clear(0);
  effect_clear(1);
  int columns, rows;
  float* mesh = mesh_of(1, columns, rows);
  // Shift every point by whole multiples of the source size, some negative.
  for (int i = 0; i <= rows; ++i)
    for (int j = 0; j <= columns; ++j) {
      mesh[2 * (i * (columns + 1) + j)] += float(16 * ((i + j) % 3 - 1) * 1000);
      mesh[2 * (i * (columns + 1) + j) + 1] -= float(16 * 7 * (j % 2));
    }
  // The shifts differ between neighbouring points, so compare only the mesh
  // points themselves (cell corners), which sample exactly their pixel.
  effect_copy(0);
  effect_copy(1);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j)
      EXPECT_EQ(raw_value(*b, 8 * j, 8 * i), raw_value(*a, 8 * j, 8 * i));

  // A uniform shift of whole tiles changes nothing anywhere.
  effect_clear(1);
  for (int k = 0; k < (rows + 1) * (columns + 1); ++k) mesh[2 * k] -= 48, mesh[2 * k + 1] += 160;
  effect_copy(1);
  EXPECT_EQ(pixels(*b), pixels(*a));
}

TEST_F(Effects, HostileMeshValuesRenderWithoutHarm) {
  Plane* src = make_plane(1, 24, 24, 32);
  pattern(*src, 9);
  Plane* dst = make_plane(2, 24, 24, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  int columns, rows;
  float* mesh = mesh_of(0, columns, rows);
  const float nan = std::numeric_limits<float>::quiet_NaN(),
              inf = std::numeric_limits<float>::infinity();
  const float values[] = {nan, inf, -inf, 3.0e38f, -3.0e38f, 1e20f, -1e-30f, 16777216.5f};
  for (int k = 0; k < (rows + 1) * (columns + 1) * 2; ++k) mesh[k] = values[k % 8];
  EXPECT_EQ(effect_copy(0), 1);
  // NaN everywhere is the origin everywhere.
  for (int k = 0; k < (rows + 1) * (columns + 1) * 2; ++k) mesh[k] = nan;
  ASSERT_EQ(effect_copy(0), 1);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) ASSERT_EQ(raw_value(*dst, x, y), raw_value(*src, 0, 0));
}

TEST_F(Effects, ReplacedPlanesAreNotOverrun) {
  make_plane(1, 64, 64, 32);
  make_plane(2, 64, 64, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  effect_clear(0);
  make_plane(2, 16, 16, 32);  // the destination shrank
  EXPECT_EQ(effect_copy(0), 0);
  make_plane(2, 64, 64, 24);  // now its depth differs
  EXPECT_EQ(effect_copy(0), 0);
  make_plane(2, 64, 64, 32);
  EXPECT_EQ(effect_copy(0), 1);
  // A script that frees the object's block makes the slot unusable, not unsafe.
  int columns, rows;
  Addr mesh;
  ASSERT_TRUE(effect_info(0, columns, rows, mesh));
  ASSERT_TRUE(script_free(mesh - 16));
  EXPECT_EQ(effect_clear(0), 0);
  EXPECT_EQ(effect_copy(0), 0);
  EXPECT_EQ(effect_free(0), 1);
}

// ---- deformations ---------------------------------------------------------------------

TEST_F(Effects, RasterWithoutWavelengthIsTheIdentity) {
  make_plane(1, 50, 40, 32);
  make_plane(2, 50, 40, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  ASSERT_NE(effect_init(1, 2, nullptr, 1, nullptr), 0u);
  effect_clear(0);
  for (double wavelength : {0.0, 0.00005, -0.00009}) {
    ASSERT_EQ(effect_raster(1, 3.5, wavelength, 40), 1);
    int c0, r0, c1, r1;
    const float* m0 = mesh_of(0, c0, r0);
    const float* m1 = mesh_of(1, c1, r1);
    for (int k = 0; k < (c0 + 1) * (r0 + 1) * 2; ++k) ASSERT_EQ(m0[k], m1[k]) << k;
  }
  // With a wavelength, row i shifts by amplitude * sin(2 pi (phase + 8 i) / wavelength).
  ASSERT_EQ(effect_raster(1, 3, 20, 5), 1);
  int c, r;
  const float* m = mesh_of(1, c, r);
  for (int i = 0; i <= r; ++i)
    EXPECT_FLOAT_EQ(m[2 * (i * (c + 1) + 2)],
                    float(5 * std::sin(2 * std::numbers::pi * (3 + 8 * i) / 20) + 2 * 50 / c));
}

TEST_F(Effects, DeformationsFollowTheirFormulas) {
  make_plane(1, 40, 30, 32);
  make_plane(2, 48, 40, 32);  // 6 x 5 cells
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  int c, r;
  const float* m = mesh_of(0, c, r);
  auto u = [&](int j, int i) { return m[2 * (i * (c + 1) + j)]; };
  auto v = [&](int j, int i) { return m[2 * (i * (c + 1) + j) + 1]; };
  const double W = 40, H = 30;
  const int j = 5, i = 1;
  const double dx = 8 * j - 8 * (c / 2), dy = 8 * i - 8 * (r / 2);

  ASSERT_EQ(effect_rotate(0, 10, 5, 2, 0.5), 1);
  const double w = j * 40 / 6 - 10.0, h = i * 30 / 5 - 5.0;
  EXPECT_FLOAT_EQ(u(j, i), float(10 + 2 * (std::cos(0.5) * w - std::sin(0.5) * h)));
  EXPECT_FLOAT_EQ(v(j, i), float(5 + 2 * (std::sin(0.5) * w + std::cos(0.5) * h)));

  ASSERT_EQ(effect_tunnel(0, 300, 0.25, 12), 1);
  {
    const double B = 12 * std::sin(0.25) + std::cos(0.25) * dx;
    const double n = 12 * std::cos(0.25) - std::sin(0.25) * dx;
    double D = std::atan2(dy, B) / (2 * std::numbers::pi);
    if (D < 0) D += 1;
    EXPECT_FLOAT_EQ(u(j, i), float(D * W));
    EXPECT_FLOAT_EQ(v(j, i), float(n * n / (dy * dy + B * B) * 3));
    // The centre point: divisor 0 gives 0, and |B| small gives the quarter rules.
    ASSERT_EQ(effect_tunnel(0, 300, 0, 0), 1);
    EXPECT_EQ(v(c / 2, r / 2), 0.0f);
    EXPECT_FLOAT_EQ(u(c / 2, r / 2), float(0.75 * W));
    EXPECT_FLOAT_EQ(u(c / 2, r / 2 + 1), float(0.25 * W));
  }

  // The land, ball and whirl meshes are held by the golden images; here
  // only their special cases.
  ASSERT_EQ(effect_ball(0, 50, 0, 0, 0), 1);  // an eye at the sphere's centre
  EXPECT_EQ(u(c / 2, r / 2), 0.0f);
  ASSERT_EQ(effect_whirl(0, 1.5), 1);  // straight above the centre: 3 pi / 2
  EXPECT_FLOAT_EQ(u(c / 2, r / 2 - 2),
                  float(W / 2 + (W / c) * 2 * std::cos(3 * std::numbers::pi / 2 + 1.5 / 3)));
  EXPECT_FLOAT_EQ(v(c / 2, r / 2 + 2),
                  float(H / 2 + (H / r) * 2 * std::sin(std::numbers::pi / 2 + 1.5 / 3)));
}

TEST_F(Effects, LensPushesPointsInsideTheCircle) {
  make_plane(1, 64, 64, 32);
  make_plane(2, 64, 64, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  effect_clear(0);
  int c, r;
  const float* m = mesh_of(0, c, r);
  EXPECT_EQ(effect_lens(0, 500, 500, 20, 1), 0) << "circle misses the grid";
  EXPECT_EQ(effect_lens(0, std::nan(""), 0, 20, 1), 0);
  ASSERT_EQ(effect_lens(0, 30, 34, 12, 0.5), 1);
  for (int i = 0; i <= r; ++i)
    for (int j = 0; j <= c; ++j) {
      const double px = 8 * j - 30.0, py = 8 * i - 34.0, dist = std::sqrt(px * px + py * py);
      const double k = dist <= 12 ? (12 - dist) * 0.5 / 12 : 0;
      EXPECT_FLOAT_EQ(m[2 * (i * (c + 1) + j)], float(j * 64 / c + k * px));
      EXPECT_FLOAT_EQ(m[2 * (i * (c + 1) + j) + 1], float(i * 64 / r + k * py));
    }
  EXPECT_EQ(effect_lens(0, 30, 30, 0, 1), 1) << "an empty circle moves nothing";
}

TEST_F(Effects, WaterNeedsABlobAndSpreadsIt) {
  make_plane(1, 64, 64, 32);
  make_plane(2, 64, 64, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  EXPECT_EQ(effect_water(0, 16), 0) << "no height field before the first blob";
  ASSERT_EQ(effect_blob(0, 32, 32, 10, 8), 1);
  // Damping 0 runs no step: the mesh comes from the blob alone.
  ASSERT_EQ(effect_water(0, 0), 1);
  int c, r;
  const float* m = mesh_of(0, c, r);
  // h(4,4) = 10 * 8 / 10 = 8 at the centre; h(5,4) = (10 - 8) * 0.8 = 1.6.
  EXPECT_FLOAT_EQ(m[2 * (4 * (c + 1) + 4)], float(32 + (8 - 1.6)));
  EXPECT_FLOAT_EQ(m[2 * (4 * (c + 1) + 4) + 1], float(32 + (8 - 1.6)));
  EXPECT_FLOAT_EQ(m[2 * (0 * (c + 1) + 0)], 0.0f);
  // One step: n = (sum of the eight neighbours) / 4 - previous (0), stored
  // as n - n / 16. At (4,4) the sum is 4 x 1.6, so 1.6 - 0.1 = 1.5; at (5,4)
  // it is 8 + 2 x 1.6, so 2.8 - 0.175 = 2.625; likewise (4,5).
  ASSERT_EQ(effect_water(0, 16), 1);
  EXPECT_FLOAT_EQ(m[2 * (4 * (c + 1) + 4)], 32 + (1.5f - 2.625f));
  EXPECT_FLOAT_EQ(m[2 * (4 * (c + 1) + 4) + 1], 32 + (1.5f - 2.625f));
  // The ripple spreads: points two cells from the centre move after a few steps.
  for (int k = 0; k < 4; ++k) effect_water(0, 16);
  EXPECT_NE(m[2 * (4 * (c + 1) + 6)], 48.0f);
  EXPECT_EQ(effect_blob(0, 1000, 1000, 5, 5), 1) << "a blob off the grid is harmless";
}

TEST_F(Effects, InfoAndBuiltinsDecodeArguments) {
  make_plane(1, 32, 32, 32);
  make_plane(2, 32, 32, 32);
  const Rect dr{0, 0, 16, 24};
  ScriptBlock rect(&dr, sizeof dr);
  const std::uint32_t obj = call(bi_ef_init, {1, 2, rect.addr, 1, 0});
  ASSERT_NE(obj, 0u);
  ScriptBlock out(12);
  ASSERT_EQ(call(bi_ef_info, {1, out.addr}), 1u);
  std::uint32_t info[3];
  read_bytes(out.addr, info, 12);
  EXPECT_EQ(info[0], 2u);
  EXPECT_EQ(info[1], 3u);
  EXPECT_TRUE(valid_range(info[2], 3 * 4 * 8));
  EXPECT_EQ(call(bi_ef_info, {1, 0xFFFFFFF0u}), 0u);
  EXPECT_EQ(call(bi_ef_info, {2, out.addr}), 0u);
  // Float arguments arrive as float words.
  auto fw = [](float f) { return std::bit_cast<std::uint32_t>(f); };
  EXPECT_EQ(call(bi_ef_rotate, {1, fw(8), fw(12), fw(1), fw(0)}), 1u);
  float p[2];
  read_bytes(info[2] + 8 * (1 * 3 + 2), p, 8);  // point (2, 1)
  EXPECT_EQ(p[0], 32.0f);                       // 2 * 32 / 2
  EXPECT_EQ(p[1], 10.0f);                       // 1 * 32 / 3, integer division
  EXPECT_EQ(call(effect_clear, {1}), 1u);
  EXPECT_EQ(call(effect_copy, {1}), 1u);
  EXPECT_EQ(call(bi_ef_water, {1, fw(8)}), 0u);
  EXPECT_EQ(call(bi_ef_blob, {1, fw(8), fw(8), fw(6), fw(3)}), 1u);
  EXPECT_EQ(call(bi_ef_water, {1, fw(8)}), 1u);
  EXPECT_EQ(call(bi_ef_init, {1, 2, 0xFFFFFFF0u, 1, 0}), 0u);
  EXPECT_EQ(call(effect_copy, {1}), 0u) << "a failed init empties the slot";
  EXPECT_EQ(call(effect_free, {9}), 0u);
}

// ---- golden images -------------------------------------------------------------------

TEST_F(Effects, GoldenImages) {
  Plane* src = make_plane(1, 64, 48, 32);
  pattern(*src, 31);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) set_raw(*src, x, y, raw_value(*src, x, y) | 0xFF000000u);
  Plane* dst = make_plane(2, 64, 48, 32);
  ASSERT_NE(effect_init(0, 2, nullptr, 1, nullptr), 0u);
  auto shot = [&](const char* name) {
    ASSERT_EQ(effect_copy(0), 1);
    test::expect_golden(*dst, std::string("effect/") + name + ".png");
  };
  effect_rotate(0, 32, 24, 1.4f, 0.6f);
  shot("rotate");
  effect_tunnel(0, 800, 0.3f, 20);
  shot("tunnel");
  effect_land(0, 40, 0.4f, 1.2f, 30);
  shot("land");
  effect_ball(0, 30, 0.5f, 0.8f, 60);
  shot("ball");
  effect_whirl(0, 3);
  shot("whirl");
  effect_raster(0, 2, 24, 4);
  shot("raster");
  effect_clear(0);
  effect_lens(0, 30, 22, 18, 0.8f);
  shot("lens");
  effect_blob(0, 24, 20, 14, 12);
  for (int i = 0; i < 3; ++i) effect_water(0, 32);
  shot("water");
}

}  // namespace
}  // namespace talven::graphics
