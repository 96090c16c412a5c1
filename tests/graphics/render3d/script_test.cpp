// The 3D builtins from a script run headless by the real binary, checked
// against golden images; the `model` tool; the example game.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "graphics/graphics_test_util.h"
#include "graphics/render3d/model.h"
#include "graphics/render3d/model_tools.h"
#include "graphics/render3d/shapes.h"
#include "support/run_binary.h"

namespace talven::graphics::render3d {
namespace {

namespace fs = std::filesystem;

const fs::path kTests = fs::path(TALVEN_TEST_DATA).parent_path();
const fs::path kRoot = kTests.parent_path();

class Render3dScript : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
    dir_ = fs::temp_directory_path() /
           ("talven_r3d_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& name, const std::string& bytes) {
    graphics::test::write_host_file(dir_ / name, bytes);
  }
  std::string read(const std::string& name) { return graphics::test::read_host_file(dir_ / name); }
  fs::path dir_;
};

// Compares a PNG the script wrote with its golden image.
void expect_png_golden(const std::string& png, const std::string& golden) {
  ASSERT_FALSE(png.empty()) << golden << " was not written";
  MemorySource src(png.data(), png.size());
  PlanePtr p = read_png(src);
  ASSERT_NE(p, nullptr);
  graphics::test::expect_golden(*p, "render3d/" + golden);
}

TEST_F(Render3dScript, ScenesMatchTheirGoldenImages) {
  fs::copy_file(kRoot / "sdk" / "talven.h", dir_ / "talven.h");
  fs::copy_file(kTests / "scripts" / "lib" / "check.h", dir_ / "check.h");
  fs::copy_file(kTests / "scripts" / "render3d" / "scenes.c", dir_ / "main.c");
  std::ofstream(dir_ / "Scenes.cfg") << "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n";
  const std::string cube = encode_model(test::make_cube());
  write("cube.mdl", cube);
  write("Sphere.mdl", encode_model(test::make_sphere(1.2f, 12, 20)));
  write("truncated.mdl", cube.substr(0, cube.size() - 10));
  std::string bad = cube;
  const std::uint16_t nine = 9;
  std::memcpy(bad.data() + 8 + 8 * 12 + 31 * 3, &nine, 2);
  write("bad_index.mdl", bad);
  std::string nan = cube;
  const float qnan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(nan.data() + 8 + 12 * 3, &qnan, 4);
  write("nan.mdl", nan);

  const auto r = talven::test::run_talven("--headless --log --timeout 60 " + dir_.string());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  for (const char* name : {"flat.png", "gouraud.png", "textured.png", "env.png", "additive.png"})
    expect_png_golden(read(name), name);
}

TEST_F(Render3dScript, ModelToolConvertsAndDescribes) {
  // A textured quad in two materials, one of them named twice.
  write("quad.obj",
        "# quad\nmtllib none.mtl\nv -1 -1 2\nv 1 -1 2\nv 1 1 2\nv -1 1 2\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl wood\nf 1/1 2/2 3/3\nusemtl stone\n"
        "f -4/-4 -2/-2 -1/-1\nusemtl wood\nf 1 2 3 4\n");
  auto r = talven::test::run_talven("model " + (dir_ / "quad.obj").string() + " " +
                                    (dir_ / "quad.mdl").string());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("material stone -> group 1"), std::string::npos) << r.out;
  ModelData m;
  ASSERT_TRUE(parse_model(read("quad.mdl"), m));
  ASSERT_EQ(m.faces.size(), 4u) << "the quad face becomes a fan of two";
  EXPECT_EQ(m.faces[0].group, 0);
  EXPECT_EQ(m.faces[1].group, 1);
  EXPECT_EQ(m.faces[3].group, 0);
  r = talven::test::run_talven("model " + (dir_ / "quad.mdl").string());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("4 vertices, 4 faces"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("group 1: 1 faces"), std::string::npos) << r.out;
  write("broken.mdl", "\x05\x00\x01\x00");
  r = talven::test::run_talven("model " + (dir_ / "broken.mdl").string());
  EXPECT_EQ(r.status, 1) << r.out;
  r = talven::test::run_talven("model");
  EXPECT_EQ(r.status, 2);
}

TEST_F(Render3dScript, ModelToolRefusesWhatIsNotAnObjModelAndLeavesNoOutput) {
  write("cube.mdl", encode_model(test::make_cube()));
  write("image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  write("materials.mtl", "newmtl wood\nKd 0.5 0.3 0.1\n");
  write("points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
  const struct {
    const char* input;
    const char* message;
  } refused[] = {
      {"cube.mdl", "is a model file already"}, {"image.png", "not Wavefront OBJ text"},
      {"materials.mtl", "no vertices"},        {"points.obj", "no faces"},
      {"missing.obj", "cannot read"},
  };
  for (const auto& c : refused) {
    const fs::path out = dir_ / "out.mdl";
    auto r = talven::test::run_talven("model " + (dir_ / c.input).string() + " " + out.string());
    EXPECT_EQ(r.status, 1) << c.input << ": " << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.input << ": " << r.out;
    EXPECT_FALSE(fs::exists(out)) << c.input << " left an output file";
  }
  // A refusal leaves an existing output as it was.
  write("kept.mdl", "old bytes");
  auto r = talven::test::run_talven("model " + (dir_ / "points.obj").string() + " " +
                                    (dir_ / "kept.mdl").string());
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(read("kept.mdl"), "old bytes");
  // An output that cannot be written fails, with nothing left behind.
  write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  r = talven::test::run_talven("model " + (dir_ / "tri.obj").string() + " " +
                               (dir_ / "no_such_dir" / "tri.mdl").string());
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir_ / "no_such_dir"));
  fs::create_directory(dir_ / "a_folder");  // the temporary is written, the rename fails
  r = talven::test::run_talven("model " + (dir_ / "tri.obj").string() + " " +
                               (dir_ / "a_folder").string());
  EXPECT_EQ(r.status, 1) << r.out;
  std::size_t left = 0;
  for (const auto& e : fs::directory_iterator(dir_))
    left += e.path().filename().string().find("tmp") != std::string::npos;
  EXPECT_EQ(left, 0u) << "a temporary file was left";
}

TEST_F(Render3dScript, ExampleGameRuns) {
  const fs::path game = kRoot / "examples" / "model";
  ASSERT_TRUE(fs::exists(game / "Model.cfg"));
  const fs::path shot = dir_ / "shot.png";
  const auto r = talven::test::run_talven("--headless --frames 30 --timeout 60 --screenshot " +
                                          shot.string() + " " + game.string());
  EXPECT_EQ(r.status, 124) << r.out;
  const std::string png = graphics::test::read_host_file(shot);
  ASSERT_FALSE(png.empty());
  MemorySource src(png.data(), png.size());
  PlanePtr p = read_png(src);
  ASSERT_NE(p, nullptr);
  // The torus covers a good part of the screen in other colours than the
  // background of the corner.
  const auto background = graphics::test::color_at(*p, 2, 2);
  int drawn = 0;
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) drawn += !(graphics::test::color_at(*p, x, y) == background);
  EXPECT_GT(drawn, p->width * p->height / 20);
}

// ---- the OBJ converter ------------------------------------------------------

TEST(ObjConverter, TurnsIntoLeftHandedFrontFaces) {
  ModelData m;
  std::vector<std::string> groups;
  std::string error;
  // A triangle facing an OBJ viewer on +z, counter-clockwise.
  ASSERT_TRUE(convert_obj("v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 0.25\nf 1/1 2/2 3/3\n",
                          m, groups, error))
      << error;
  ASSERT_EQ(m.faces.size(), 1u);
  EXPECT_EQ(m.vertices[1].z, -0.0f);
  // Winding reversed: 1, 3, 2; the normal (e1 x e2) points to -z, at the
  // renderer's camera, so the face is a front face there.
  EXPECT_EQ(m.faces[0].index[1], 2);
  EXPECT_EQ(m.faces[0].index[2], 1);
  EXPECT_EQ(m.faces[0].uv[1][1], 49152) << "v flipped: 1 - 0.25";
  EXPECT_EQ(m.faces[0].uv[2][0], 65536);
  EXPECT_FLOAT_EQ(m.radius, 1.0f);
  ASSERT_EQ(groups.size(), 1u);
}

TEST(ObjConverter, RefusesBadText) {
  ModelData m;
  std::vector<std::string> groups;
  std::string error;
  EXPECT_FALSE(convert_obj("v 0 0 0\nv 1 0 0\nf 1 2 3\n", m, groups, error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
  EXPECT_FALSE(convert_obj("v 0 0\n", m, groups, error));
  EXPECT_FALSE(convert_obj("v 0 0 nan\n", m, groups, error));
  EXPECT_FALSE(convert_obj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/4 2 3\n", m, groups, error))
      << "no vt 4";
  EXPECT_FALSE(convert_obj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2\n", m, groups, error));
  std::string many;
  for (int i = 0; i < 257; ++i) many += "usemtl m" + std::to_string(i) + "\n";
  EXPECT_FALSE(convert_obj(many, m, groups, error));
  // Text without geometry is no model: nothing to convert.
  EXPECT_FALSE(convert_obj("", m, groups, error));
  EXPECT_NE(error.find("no vertices"), std::string::npos) << error;
  EXPECT_FALSE(convert_obj("newmtl wood\nKd 1 1 1\n", m, groups, error));
  EXPECT_NE(error.find("no vertices"), std::string::npos) << error;
  EXPECT_FALSE(convert_obj("v 0 0 0\nv 1 0 0\nv 0 1 0\n", m, groups, error));
  EXPECT_NE(error.find("no faces"), std::string::npos) << error;
}

}  // namespace
}  // namespace talven::graphics::render3d
