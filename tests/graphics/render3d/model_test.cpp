// Model files, the model table, normals and materials.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "graphics/graphics_test_util.h"
#include "graphics/render3d/model.h"
#include "graphics/render3d/render3d.h"
#include "graphics/render3d/render3d_builtins.h"
#include "graphics/render3d/shapes.h"

namespace talven::graphics::render3d {
namespace {

using graphics::test::call;
using graphics::test::ScriptString;
using test::make_cube;

class ModelTest : public graphics::test::GraphicsTest {
 protected:
  void TearDown() override {
    uninit();
    GraphicsTest::TearDown();
  }
};

std::string cube_file() { return encode_model(make_cube()); }

template <typename T>
void poke(std::string& s, std::size_t at, T v) {
  std::memcpy(s.data() + at, &v, sizeof v);
}

TEST_F(ModelTest, FileRoundTripAndFaceLayout) {
  const std::string bytes = cube_file();
  ASSERT_EQ(bytes.size(), 8u + 8 * 12 + 12 * 31);
  ModelData m;
  ASSERT_TRUE(parse_model(bytes, m));
  EXPECT_EQ(m.vertices.size(), 8u);
  EXPECT_EQ(m.faces.size(), 12u);
  EXPECT_FLOAT_EQ(m.radius, std::sqrt(3.0f));
  EXPECT_EQ(encode_model(m), bytes);
  // Texture coordinates become 16.16 by truncation: 0.7 -> 45875.
  std::string one = bytes;
  poke(one, 8 + 8 * 12 + 6, 0.7f);
  poke(one, 8 + 8 * 12 + 10, -0.5f);
  ASSERT_TRUE(parse_model(one, m));
  EXPECT_EQ(m.faces[0].uv[0][0], 45875);
  EXPECT_EQ(m.faces[0].uv[0][1], -32768);
  // Trailing bytes after the faces are ignored.
  EXPECT_TRUE(parse_model(bytes + "junk", m));
}

TEST_F(ModelTest, BadFilesAreRefused) {
  const std::string good = cube_file();
  ModelData m;
  std::string why;
  EXPECT_FALSE(parse_model(good.substr(0, 7), m, &why));
  EXPECT_FALSE(parse_model(good.substr(0, good.size() - 1), m, &why)) << "one face byte short";
  std::string more = good;
  poke<std::uint16_t>(more, 0, 9);  // claims a ninth vertex
  EXPECT_FALSE(parse_model(more, m, &why));
  std::string faces = good;
  poke<std::uint16_t>(faces, 2, 13);
  EXPECT_FALSE(parse_model(faces, m, &why));
  std::string index = good;
  poke<std::uint16_t>(index, 8 + 8 * 12 + 31 * 5 + 2, 8);  // vertex 8 of 8
  EXPECT_FALSE(parse_model(index, m, &why));
  EXPECT_NE(why.find("vertex 8"), std::string::npos) << why;
  std::string nan = good;
  poke(nan, 8 + 4 * 12 + 4, std::numeric_limits<float>::quiet_NaN());
  EXPECT_FALSE(parse_model(nan, m, &why));
  std::string inf = good;
  poke(inf, 8 + 8 * 12 + 31 * 11 + 6 + 8 * 2 + 4, std::numeric_limits<float>::infinity());
  EXPECT_FALSE(parse_model(inf, m, &why)) << "infinite texture coordinate";
  std::string huge = good;
  poke(huge, 8 + 8 * 12 + 6, 40000.0f);  // does not fit 16.16
  EXPECT_FALSE(parse_model(huge, m, &why));
  std::string radius = good;
  poke(radius, 4, -1.0f);
  EXPECT_FALSE(parse_model(radius, m, &why));
  // An empty model is a model.
  EXPECT_TRUE(parse_model(std::string(8, '\0'), m, &why));
}

TEST_F(ModelTest, LoadPutsRecordsInScriptMemory) {
  graphics::test::write_host_file(dir_ / "Cube.MDL", cube_file());
  graphics::test::write_host_file(dir_ / "short.mdl", cube_file().substr(0, 100));
  ScriptString path("cube.mdl"), bad("short.mdl"), missing("none.mdl");
  const Addr a = call(bi_p3d_load, {path.addr});
  ASSERT_NE(a, 0u);
  std::uint32_t in_use = 0, nv = 0, nf = 0, verts = 0, faces = 0;
  float radius = 0;
  ASSERT_TRUE(load32(a + model_record::kInUse, in_use));
  load(a + model_record::kRadius, radius);
  load32(a + model_record::kVertexCount, nv);
  load32(a + model_record::kFaceCount, nf);
  load32(a + model_record::kVertices, verts);
  load32(a + model_record::kFaces, faces);
  EXPECT_EQ(in_use, 1u);
  EXPECT_FLOAT_EQ(radius, std::sqrt(3.0f));
  EXPECT_EQ(nv, 8u);
  EXPECT_EQ(nf, 12u);
  EXPECT_TRUE(valid_range(verts, 8 * vertex_record::kSize));
  EXPECT_TRUE(valid_range(faces, 12 * face_record::kSize));
  // Vertex 7 is (1, 1, 1); its normal is the mean of its six faces' normals.
  float v7[6];
  ASSERT_TRUE(read_bytes(verts + 7 * vertex_record::kSize, v7, sizeof v7));
  EXPECT_FLOAT_EQ(v7[0], 1.0f);
  EXPECT_FLOAT_EQ(v7[2], 1.0f);
  for (int k = 3; k < 6; ++k) EXPECT_NEAR(v7[k], 1.0f / 3.0f, 1e-6) << "not renormalised";
  // Default material: type 0, flat flag, white.
  std::uint8_t face0[face_record::kSize];
  ASSERT_TRUE(read_bytes(faces, face0, sizeof face0));
  EXPECT_EQ(face0[face_record::kType], 0);
  EXPECT_EQ(face0[face_record::kFlags], kFlagFlat);
  float n[3];
  std::memcpy(n, face0 + face_record::kNormal, 12);
  EXPECT_NEAR(std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]), 1.0f, 1e-6);

  EXPECT_EQ(call(bi_p3d_load, {bad.addr}), 0u);
  EXPECT_EQ(call(bi_p3d_load, {missing.addr}), 0u);
  EXPECT_EQ(call(bi_p3d_load, {0}), 0u);
  EXPECT_EQ(call(bi_p3d_load, {0xFFFFFF00u}), 0u);

  EXPECT_EQ(call(render3d::free_model, {a}), 1u);
  EXPECT_EQ(call(render3d::free_model, {a}), 0u) << "freed twice";
  EXPECT_EQ(call(render3d::compute_normals, {a}), 0u);
  EXPECT_EQ(call(render3d::free_model, {a + 4}), 0u);
}

TEST_F(ModelTest, NormalsFollowMovedVertices) {
  const Addr a = add_model(make_cube());
  ASSERT_NE(a, 0u);
  const ModelSlot* s = find_model(a);
  ASSERT_NE(s, nullptr);
  auto face_normal = [&](int f) {
    Vec3 n;
    read_bytes(s->faces + f * face_record::kSize + face_record::kNormal, &n, 12);
    return n;
  };
  // Stretching the cube along x leaves the normals of the x sides alone.
  const Vec3 before = face_normal(0);
  for (int i = 1; i < 8; i += 2) store(s->vertices + i * vertex_record::kSize, 3.0f);
  EXPECT_EQ(call(render3d::compute_normals, {a}), 1u);
  EXPECT_FLOAT_EQ(face_normal(0).z, before.z);
  // Collapsing it makes every face degenerate: zero normals, never NaN.
  for (int i = 0; i < 8; ++i)
    write_bytes(s->vertices + i * vertex_record::kSize, "\0\0\0\0\0\0\0\0\0\0\0\0", 12);
  EXPECT_EQ(call(render3d::compute_normals, {a}), 1u);
  for (int f = 0; f < 12; ++f) {
    const Vec3 n = face_normal(f);
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_EQ(n.z, 0.0f) << "face " << f;
  }
  float vn[3];
  read_bytes(s->vertices + vertex_record::kNormal, vn, 12);
  EXPECT_EQ(vn[0], 0.0f);
}

TEST_F(ModelTest, MaterialsSetTypesFlagsAndVertexFlags) {
  Plane* tex32 = graphics::test::make_plane(5, 8, 8, 32);
  graphics::test::make_plane(6, 8, 8, 24);
  ASSERT_NE(tex32, nullptr);
  const Addr tex = call(render3d::texture_address, {5});
  EXPECT_EQ(tex, tex32->info);
  EXPECT_EQ(call(render3d::texture_address, {7}), 0u);
  EXPECT_EQ(call(render3d::texture_address, {5000}), 0u);
  const Addr a = add_model(make_cube());
  const ModelSlot* s = find_model(a);
  auto face = [&](int f, std::uint32_t field) {
    std::uint8_t b = 0;
    load8(s->faces + f * face_record::kSize + field, b);
    return b;
  };
  auto vflags = [&](int v) {
    std::uint8_t b = 0;
    load8(s->vertices + v * vertex_record::kSize + vertex_record::kFlags, b);
    return b;
  };
  struct {
    std::uint32_t color, texture;
    std::uint8_t type;
  } __attribute__((packed)) rec{0x123456, tex, 7};
  graphics::test::ScriptBlock block(&rec, 9);
  ASSERT_EQ(call(bi_p3d_material, {a, 2, block.addr}), 1u);
  // Group 2 is faces 4 and 5: textured Gouraud, 0x20 for the 32-bit texture.
  EXPECT_EQ(face(4, face_record::kType), 7);
  EXPECT_EQ(face(5, face_record::kFlags), 0x12 | 0x20);
  std::uint32_t color = 0, texture = 0;
  load32(s->faces + 4 * face_record::kSize + face_record::kColor, color);
  load32(s->faces + 4 * face_record::kSize + face_record::kTexture, texture);
  EXPECT_EQ(color, 0x123456u);
  EXPECT_EQ(texture, tex);
  EXPECT_EQ(face(0, face_record::kFlags), kFlagFlat) << "other groups untouched";
  // Group 2 uses corners 0, 1, 4, 5: their flags gain the material's.
  EXPECT_EQ(vflags(0), 0x08 | 0x32);
  EXPECT_EQ(vflags(2), 0x08);
  // A 24-bit texture does not add 0x20; neither does an environment type.
  rec.texture = call(render3d::texture_address, {6});
  graphics::test::ScriptBlock b24(&rec, 9);
  call(bi_p3d_material, {a, 3, b24.addr});
  EXPECT_EQ(face(6, face_record::kFlags), 0x12);
  rec.texture = tex;
  rec.type = 9;
  graphics::test::ScriptBlock benv(&rec, 9);
  call(bi_p3d_material, {a, 4, benv.addr});
  EXPECT_EQ(face(8, face_record::kFlags), 0x13);
  for (int t = 0; t < kMaterialTypes; ++t) {
    rec.type = std::uint8_t(t);
    rec.texture = 0;
    graphics::test::ScriptBlock bt(&rec, 9);
    call(bi_p3d_material, {a, 5, bt.addr});
    EXPECT_EQ(face(10, face_record::kFlags), kMaterialFlags[t]) << "type " << t;
  }
  // Bad input changes nothing.
  rec.type = 11;
  graphics::test::ScriptBlock b11(&rec, 9);
  EXPECT_EQ(call(bi_p3d_material, {a, 0, b11.addr}), 0u);
  EXPECT_EQ(face(0, face_record::kType), 0);
  EXPECT_EQ(call(bi_p3d_material, {a, 0, 0}), 0u);
  EXPECT_EQ(call(bi_p3d_material, {a + 8, 0, block.addr}), 0u);
}

TEST_F(ModelTest, TableHoldsAThousandTwentyFourModels) {
  ModelData tiny;
  tiny.vertices = {Vec3{0, 0, 0}, Vec3{1, 0, 0}, Vec3{0, 1, 0}};
  tiny.faces = {ModelData::Face{{0, 1, 2}, {}, 0}};
  std::vector<Addr> all;
  for (int i = 0; i < kModelSlots; ++i) {
    const Addr a = add_model(tiny);
    ASSERT_NE(a, 0u) << i;
    all.push_back(a);
  }
  EXPECT_EQ(add_model(tiny), 0u) << "the table is full";
  EXPECT_TRUE(free_model(all[10]));
  EXPECT_NE(add_model(tiny), 0u) << "a freed slot is reused";
  // p3d_init frees every model.
  graphics::test::make_plane(1, 16, 16, 32);
  EXPECT_EQ(call(render3d::init,
                 {1, std::bit_cast<std::uint32_t>(100.0f), std::bit_cast<std::uint32_t>(1.0f),
                  std::bit_cast<std::uint32_t>(100.0f)}),
            1u);
  EXPECT_EQ(find_model(all[0]), nullptr);
  EXPECT_NE(add_model(tiny), 0u);
}

}  // namespace
}  // namespace talven::graphics::render3d
