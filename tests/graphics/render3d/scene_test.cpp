// Culling, lighting, sort keys and the rasterisers of the 3D renderer.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "graphics/graphics_test_util.h"
#include "graphics/render3d/model.h"
#include "graphics/render3d/raster.h"
#include "graphics/render3d/render3d.h"
#include "graphics/render3d/render3d_builtins.h"
#include "graphics/render3d/shapes.h"

namespace talven::graphics::render3d {
namespace {

using graphics::test::Bgra;
using graphics::test::call;
using graphics::test::color_at;
using graphics::test::ScriptBlock;

std::uint32_t fw(float f) { return std::bit_cast<std::uint32_t>(f); }

// A square of half size 1 in the plane z = 0, facing the camera (-z), as
// two triangles in groups 0 and 1, texture coordinates 0..1.
ModelData square() {
  ModelData m;
  m.vertices = {Vec3{-1, -1, 0}, Vec3{-1, 1, 0}, Vec3{1, -1, 0}, Vec3{1, 1, 0}};
  const std::int32_t one = 65536;
  m.faces = {ModelData::Face{{0, 1, 2}, {{0, one}, {0, 0}, {one, one}}, 0},
             ModelData::Face{{1, 3, 2}, {{0, 0}, {one, 0}, {one, one}}, 1}};
  m.radius = std::sqrt(2.0f);
  return m;
}

class SceneTest : public graphics::test::GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    target_ = graphics::test::make_plane(1, 64, 64, 32);
    ASSERT_TRUE(init(1, 64.0f, 1.0f, 100.0f));
    const std::int32_t zero[3] = {0, 0, 0};
    set_view(Vec3{}, zero);
    set_ambient(1, 1, 1);
  }
  void TearDown() override {
    uninit();
    GraphicsTest::TearDown();
  }
  void material(Addr model, std::uint32_t group, std::uint32_t type, std::uint32_t color = 0xFFFFFF,
                Addr texture = 0) {
    ASSERT_TRUE(set_material(model, group, color, texture, type));
  }
  bool place(Addr model, Vec3 at, std::int32_t a0 = 0, std::int32_t a1 = 0, std::int32_t a2 = 0) {
    const std::int32_t angles[3] = {a0, a1, a2};
    return set_object(model, at, angles);
  }
  Bgra px(int x, int y) { return color_at(*target_, x, y); }
  Plane* target_ = nullptr;
};

TEST_F(SceneTest, ObjectsOutsideTheViewAreNotQueued) {
  const Addr sq = add_model(square());
  // Centre 40 units right at z 5: f (cx - r) = 64 * 38.6 > 32 * 5.
  EXPECT_TRUE(place(sq, Vec3{40, 0, 5}));
  EXPECT_EQ(scene_stats().vertices, 0u);
  EXPECT_TRUE(place(sq, Vec3{0, -40, 5}));
  EXPECT_TRUE(place(sq, Vec3{-40, 0, 5}));
  EXPECT_TRUE(place(sq, Vec3{0, 40, 5}));
  EXPECT_EQ(scene_stats().triangles, 0u);
  // Overlapping an edge is enough to be queued.
  EXPECT_TRUE(place(sq, Vec3{3, 0, 5}));
  EXPECT_EQ(scene_stats().triangles, 2u);
  // The camera turned away (yaw half a turn) puts the same object behind it.
  clear();
  const std::int32_t back[3] = {0, 1024, 0};
  set_view(Vec3{}, back);
  EXPECT_TRUE(place(sq, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().triangles, 0u);
  EXPECT_FALSE(place(sq + 4, Vec3{0, 0, 5})) << "not a live model";
}

TEST_F(SceneTest, TrianglesCrossingTheNearOrFarDistanceAreDropped) {
  ModelData m = square();
  m.vertices[0].z = -4.5f;  // at z 5 this vertex lies at 0.5, nearer than 1
  const Addr a = add_model(m);
  EXPECT_TRUE(place(a, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().vertices, 4u);
  EXPECT_EQ(scene_stats().triangles, 1u) << "only the face without vertex 0";
  clear();
  m.vertices[0].z = 96.0f;  // 101, beyond the far distance
  const Addr b = add_model(m);
  EXPECT_TRUE(place(b, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().triangles, 1u);
}

TEST_F(SceneTest, BackFacesAreDroppedUnlessTwoSided) {
  const Addr a = add_model(square());
  for (std::uint32_t type = 0; type < kMaterialTypes; ++type) {
    clear();
    material(a, 0, type);
    material(a, 1, type);
    place(a, Vec3{0, 0, 5}, 0, 1024, 0);  // turned half round: we see its back
    const bool two_sided = type >= 3 && type <= 5;
    EXPECT_EQ(scene_stats().triangles, two_sided ? 2u : 0u) << "type " << type;
    clear();
    place(a, Vec3{0, 0, 5});
    EXPECT_EQ(scene_stats().triangles, 2u) << "type " << type;
  }
}

TEST_F(SceneTest, SortKeysSumDepthsAndReverseForAdditiveTypes) {
  const Addr a = add_model(square());
  material(a, 1, 3);
  place(a, Vec3{0, 0, 5});
  ASSERT_EQ(scene_stats().triangles, 2u);
  // 65536 / 5 = 13107.2 for each vertex.
  EXPECT_EQ(queued_key(0), 3 * 13107);
  EXPECT_EQ(queued_key(1), 0x7fffffff - 3 * 13107);
}

TEST_F(SceneTest, LightsAreLimitedAndPointLightsHaveARange) {
  const Addr a = add_model(square());
  const LightRecord dark{{0, 0, 0}, 10, 0};
  const LightRecord bright{{1, 1, 1}, 10, 0};
  set_ambient(0.5f, 0.5f, 0.5f);
  clear();
  for (int i = 0; i < 17; ++i) EXPECT_TRUE(add_light(dark, 0, 0, 0));
  EXPECT_FALSE(add_light(bright, 0, 0, 0)) << "the 18th light";
  EXPECT_EQ(scene_stats().lights, 17u);
  place(a, Vec3{0, 0, 5});
  ASSERT_TRUE(render());
  EXPECT_EQ(px(32, 32), (Bgra{127, 127, 127, 255})) << "ambient alone";
  // p3d_clear empties the lights; one light along +z brightens the square.
  clear();
  EXPECT_EQ(scene_stats().lights, 0u);
  const LightRecord quarter{{0.25f, 0.25f, 0.25f}, 10, 0};
  EXPECT_TRUE(add_light(quarter, 0, 0, 0));
  place(a, Vec3{0, 0, 5});
  render();
  EXPECT_EQ(px(32, 32), (Bgra{191, 191, 191, 255}));
  // A light pointing the other way (a = half a turn) adds nothing.
  clear();
  add_light(quarter, 1024, 0, 0);
  place(a, Vec3{0, 0, 5});
  render();
  EXPECT_EQ(px(32, 32), (Bgra{127, 127, 127, 255}));
  // Point lights: out of range is dropped; in range falls off with distance.
  clear();
  const LightRecord lamp{{1, 1, 1}, 4, 1};
  EXPECT_FALSE(add_light(lamp, fw(0), fw(0), fw(4.5f)));
  EXPECT_TRUE(add_light(lamp, fw(0), fw(0), fw(3.5f)));
  EXPECT_FALSE(add_light(LightRecord{{1, 1, 1}, 4, 2}, 0, 0, 0)) << "unknown kind";
  set_ambient(0, 0, 0);
  place(a, Vec3{0, 0, 5});
  render();
  // Flat faces are lit at their centroid: for the lower left triangle
  // (-1/3, -1/3, 5), d = (-1/3, -1/3, 1.5) from the lamp.
  const float d2 = 1.0f / 9 + 1.0f / 9 + 2.25f;
  const float k = 1.5f / std::sqrt(d2) * (16 - d2) / 16;
  EXPECT_NEAR(px(24, 40).r, 255 * k, 1.0);
  const int near_lamp = px(24, 40).r;
  clear();
  add_light(lamp, fw(0), fw(0), fw(3.5f));
  place(a, Vec3{0, 0, 6});
  render();
  EXPECT_LT(px(29, 35).r, near_lamp) << "farther from the lamp";
  EXPECT_GT(px(29, 35).r, 0);
}

TEST_F(SceneTest, FlatColoursAndSaturation) {
  const Addr a = add_model(square());
  material(a, 0, 0, 0xFF8040);
  material(a, 1, 0, 0xFF8040);
  set_ambient(0.5f, 0.5f, 0.5f);
  clear();
  place(a, Vec3{0, 0, 5});
  render();
  EXPECT_EQ(px(32, 32), (Bgra{31, 63, 127, 255}));
  EXPECT_EQ(px(0, 0), (Bgra{0, 0, 0, 0})) << "outside the square";
  set_ambient(3.0f, 3.0f, 3.0f);
  clear();
  place(a, Vec3{0, 0, 5});
  render();
  EXPECT_EQ(px(32, 32), (Bgra{64, 128, 255, 255})) << "light saturates at 1.0";
}

TEST_F(SceneTest, TexturePlanesOfEachDepth) {
  const Addr a = add_model(square());
  // 16 bits: x1r5g5b5 red widens to 255; 24 bits: blue.
  Plane* t16 = graphics::test::make_plane(2, 2, 2, 16);
  Plane* t24 = graphics::test::make_plane(3, 2, 2, 24);
  Plane* t32 = graphics::test::make_plane(4, 2, 2, 32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      graphics::test::set_raw(*t16, x, y, 0x7C00);
      graphics::test::set_raw(*t24, x, y, 0x0000FF);
      graphics::test::set_raw(*t32, x, y, 0x00FFFFFF);  // alpha 0
    }
  material(a, 0, 6, 0xFFFFFF, texture_address(2));
  material(a, 1, 6, 0xFFFFFF, texture_address(3));
  clear();
  place(a, Vec3{0, 0, 5});
  ASSERT_TRUE(render());
  EXPECT_EQ(px(24, 40), (Bgra{0, 0, 255, 255}));
  EXPECT_EQ(px(40, 24), (Bgra{255, 0, 0, 255}));
  // A 32-bit texture blends by alpha: fully transparent texels leave the
  // picture as it was.
  material(a, 0, 7, 0xFFFFFF, texture_address(4));
  clear();
  place(a, Vec3{0, 0, 5});
  render();
  EXPECT_EQ(px(24, 40), (Bgra{0, 0, 255, 255}));
}

TEST_F(SceneTest, StoresThatWouldOverflowSkipTheObject) {
  ModelData big;
  big.vertices.assign(20000, Vec3{0, 0, 0});
  big.vertices[1] = Vec3{0, 1, 0};
  big.vertices[2] = Vec3{1, 0, 0};
  big.faces.assign(1, ModelData::Face{{0, 1, 2}, {}, 0});
  big.radius = 1;
  const Addr a = add_model(big);
  EXPECT_TRUE(place(a, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().vertices, 20000u);
  EXPECT_TRUE(place(a, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().vertices, 20000u) << "40000 would overflow";
  EXPECT_EQ(scene_stats().triangles, 1u);
  ModelData many = square();
  many.faces.assign(30000, many.faces[0]);
  const Addr b = add_model(many);
  EXPECT_TRUE(place(b, Vec3{0, 0, 5}));
  EXPECT_TRUE(place(b, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().triangles, 60001u);
  EXPECT_TRUE(place(b, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().triangles, 60001u) << "90001 would overflow";
}

TEST_F(SceneTest, ScribbledRecordsAndFreedPlanesAreSafe) {
  const Addr a = add_model(square());
  const ModelSlot* s = find_model(a);
  // A face naming a vertex out of range and a face with an unknown type
  // are skipped.
  store16(s->faces + face_record::kIndex, 60000);
  store8(s->faces + face_record::kSize + face_record::kType, 200);
  store(s->vertices + 4, std::numeric_limits<float>::quiet_NaN());
  store32(a + model_record::kVertices, 0xFFFFFFF0u);  // the table's copy is used
  EXPECT_TRUE(place(a, Vec3{0, 0, 5}));
  EXPECT_EQ(scene_stats().triangles, 0u);
  EXPECT_TRUE(render());

  // A texture freed after p3d_material: the face is drawn in its colour.
  const Addr b = add_model(square());
  graphics::test::make_plane(2, 4, 4, 24);
  const Addr tex = texture_address(2);
  material(b, 0, 6, 0x00FF00, tex);
  material(b, 1, 6, 0x00FF00, tex);
  free_plane(2);
  clear();
  place(b, Vec3{0, 0, 5});
  EXPECT_TRUE(render());
  EXPECT_EQ(px(32, 32), (Bgra{0, 255, 0, 255}));
  // A target freed after p3d_setobj: nothing is drawn, nothing breaks.
  clear();
  place(b, Vec3{0, 0, 5});
  free_plane(1);
  EXPECT_FALSE(render());
  EXPECT_FALSE(init(7, 1, 1, 10)) << "no plane";
  graphics::test::make_plane(7, 8, 8, 8);
  EXPECT_FALSE(init(7, 1, 1, 10)) << "8-bit target";
  EXPECT_FALSE(scene_stats().ready);
  // Builtins with addresses out of reach answer 0.
  EXPECT_EQ(call(bi_p3d_view, {0, 0}), 0u);
  EXPECT_EQ(call(bi_p3d_setobj, {b, 0x10, 0}), 0u);
  EXPECT_EQ(call(bi_p3d_light, {0xFFFFFFF0u, 0, 0, 0}), 0u);
  EXPECT_EQ(call(render3d::render, {}), 0u);
}

TEST_F(SceneTest, MutatedModelFilesNeverBreakTheRenderer) {
  // Random byte changes to a valid file: each result is refused or loads
  // and renders within bounds (the sanitizer build checks the memory).
  const std::string good = encode_model(test::make_sphere(1.0f, 6, 8));
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  int loaded = 0;
  for (int round = 0; round < 400; ++round) {
    std::string bytes = good;
    const int changes = 1 + int(next() % 4);
    for (int c = 0; c < changes; ++c) bytes[next() % bytes.size()] = char(next() >> 24);
    if (next() % 8 == 0) bytes.resize(next() % bytes.size());
    ModelData m;
    if (!parse_model(bytes, m)) continue;
    const Addr a = add_model(m);
    ASSERT_NE(a, 0u);
    ++loaded;
    material(a, 0, next() % kMaterialTypes, 0xFFFFFF, 0);
    clear();
    place(a, Vec3{0, 0, 4}, std::int32_t(next() % 2048), std::int32_t(next() % 2048), 0);
    EXPECT_TRUE(render());
    EXPECT_TRUE(free_model(a));
  }
  EXPECT_GT(loaded, 50);
}

// ---- the rasterisers directly ----------------------------------------------

class RasterTest : public graphics::test::GraphicsTest {
 protected:
  void make(int bpp) {
    plane_ = graphics::test::make_plane(1, 16, 16, bpp);
    depth_.assign(256, 0.0f);
  }
  // A triangle covering the top-left half of the plane and beyond, at
  // depth rz, colour (r, g, b).
  void tri(float rz, float r, float g, float b, Blend blend = Blend::kOpaque,
           const Texture* t = nullptr, bool doubled = false) {
    RasterVertex v[3];
    const double xy[3][2] = {{0, 0}, {32, 0}, {0, 32}};
    for (int k = 0; k < 3; ++k) {
      v[k].x = xy[k][0];
      v[k].y = xy[k][1];
      v[k].rz = rz;
      v[k].r = r, v[k].g = g, v[k].b = b;
      v[k].u = float(xy[k][0] / 16), v[k].v = float(xy[k][1] / 16);
    }
    draw_triangle(RasterTarget{plane_, depth_.data()}, v, t, blend, doubled);
  }
  Plane* plane_ = nullptr;
  std::vector<float> depth_;
};

TEST_F(RasterTest, DepthTestKeepsTheNearerSurface) {
  make(32);
  tri(100, 255, 0, 0);
  tri(50, 0, 255, 0);  // farther: rejected
  EXPECT_EQ(color_at(*plane_, 3, 3), (Bgra{0, 0, 255, 255}));
  EXPECT_FLOAT_EQ(depth_[3 * 16 + 3], 100.0f);
  tri(200, 0, 0, 255);
  EXPECT_EQ(color_at(*plane_, 3, 3), (Bgra{255, 0, 0, 255}));
  tri(200, 0, 255, 0);  // equal depth is not greater
  EXPECT_EQ(color_at(*plane_, 3, 3), (Bgra{255, 0, 0, 255}));
}

TEST_F(RasterTest, SharedEdgesAreDrawnOnce) {
  make(32);
  // Two triangles of one square, drawn additively: a pixel covered twice
  // would show double.
  RasterVertex a[3], b[3];
  const double q[4][2] = {{2, 2}, {13, 3}, {12, 14}, {3, 12}};
  const int ia[3] = {0, 1, 2}, ib[3] = {0, 2, 3};
  for (int k = 0; k < 3; ++k) {
    a[k].x = q[ia[k]][0], a[k].y = q[ia[k]][1], a[k].rz = 1, a[k].r = 100;
    b[k].x = q[ib[k]][0], b[k].y = q[ib[k]][1], b[k].rz = 1, b[k].r = 100;
  }
  draw_triangle(RasterTarget{plane_, depth_.data()}, a, nullptr, Blend::kAdditive, false);
  std::fill(depth_.begin(), depth_.end(), 0.0f);
  draw_triangle(RasterTarget{plane_, depth_.data()}, b, nullptr, Blend::kAdditive, false);
  int covered = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const int r = color_at(*plane_, x, y).r;
      EXPECT_TRUE(r == 0 || r == 100) << x << "," << y << " " << r;
      covered += r == 100;
    }
  EXPECT_GT(covered, 90);
}

TEST_F(RasterTest, AdditiveSaturatesAndTargetsOf16And24Bits) {
  for (int bpp : {16, 24, 32}) {
    make(bpp);
    tri(1, 200, 100, 0);
    std::fill(depth_.begin(), depth_.end(), 0.0f);
    tri(2, 200, 100, 255, Blend::kAdditive);
    const Bgra p = color_at(*plane_, 2, 2);
    if (bpp == 16) {
      EXPECT_EQ(p, (Bgra{255, 197, 255, 255})) << "5-bit channels: 98 + 100 kept as 24/31";
    } else {
      EXPECT_EQ(p, (Bgra{255, 200, 255, 255})) << bpp;
    }
  }
}

TEST_F(RasterTest, TexturesWrapModulateAndBlendByAlpha) {
  make(32);
  // A 2 x 2 texture: white, red / green, transparent blue.
  std::uint32_t texels[4] = {0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00, 0x000000FF};
  Texture t{texels, 2, 2, 2};
  tri(1, 255, 128, 255, Blend::kAlpha, &t);
  // u and v run 0..2 over 32 pixels, 8 pixels a texel: pixel 2 is texel 0,
  // pixel 10 texel 1, pixel 18 wraps to texel 0 again.
  EXPECT_EQ(color_at(*plane_, 2, 1), (Bgra{255, 128, 255, 255}));
  EXPECT_EQ(color_at(*plane_, 10, 1), (Bgra{0, 0, 255, 255}));
  EXPECT_EQ(color_at(*plane_, 18, 1), (Bgra{255, 128, 255, 255}));
  EXPECT_EQ(color_at(*plane_, 2, 10), (Bgra{0, 128, 0, 255}));
  // Alpha 0: neither colour nor depth changes.
  EXPECT_EQ(color_at(*plane_, 10, 10), (Bgra{0, 0, 0, 0}));
  EXPECT_FLOAT_EQ(depth_[10 * 16 + 10], 0.0f);
  // Half alpha over black: half the colour, alpha laid over alpha.
  make(32);
  texels[0] = 0x80FFFFFF;
  tri(1, 255, 255, 255, Blend::kAlpha, &t);
  EXPECT_EQ(color_at(*plane_, 2, 1), (Bgra{128, 128, 128, 128}));
  // The doubled variant: half light shows the full texel.
  make(32);
  tri(1, 128, 128, 128, Blend::kOpaque, &t, true);
  EXPECT_EQ(color_at(*plane_, 2, 1), (Bgra{255, 255, 255, 255}));
  EXPECT_EQ(color_at(*plane_, 10, 10), (Bgra{255, 0, 0, 255})) << "opaque ignores alpha";
}

TEST_F(RasterTest, ClippedPiecesDrawExactlyTheWholeTriangle) {
  // A perspective-textured, shaded triangle drawn whole, then again as the
  // four 16 x 16 tiles of a 32 x 32 target: the same pixels either way.
  std::vector<std::uint32_t> texels(64 * 64);
  for (std::size_t i = 0; i < texels.size(); ++i)
    texels[i] = 0xFF000000u | std::uint32_t(i * 2654435761u >> 8);
  Texture t{texels.data(), 64, 64, 64};
  RasterVertex v[3];
  const double xy[3][2] = {{1, 2}, {31, 5}, {4, 30}};
  const float rz[3] = {1000, 4000, 200}, u[3] = {0.1f, 3.7f, -1.2f}, w[3] = {0, 0.5f, 2.25f};
  for (int k = 0; k < 3; ++k) {
    v[k].x = xy[k][0], v[k].y = xy[k][1], v[k].rz = rz[k];
    v[k].r = 255, v[k].g = float(80 * k), v[k].b = 30;
    v[k].u = u[k], v[k].v = w[k];
  }
  Plane* whole = graphics::test::make_plane(2, 32, 32, 32);
  Plane* tiled = graphics::test::make_plane(3, 32, 32, 32);
  std::vector<float> d1(32 * 32, 0.0f), d2(32 * 32, 0.0f);
  draw_triangle(RasterTarget{whole, d1.data()}, v, &t, Blend::kOpaque, false);
  for (int ty = 0; ty < 2; ++ty)
    for (int tx = 0; tx < 2; ++tx)
      draw_triangle(
          RasterTarget{tiled, d2.data(), Rect{tx * 16, ty * 16, tx * 16 + 16, ty * 16 + 16}}, v, &t,
          Blend::kOpaque, false);
  int drawn = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(color_at(*whole, x, y), color_at(*tiled, x, y)) << x << "," << y;
      drawn += d1[y * 32 + x] > 0;
    }
  EXPECT_EQ(d1, d2);
  EXPECT_GT(drawn, 300);
}

}  // namespace
}  // namespace talven::graphics::render3d
