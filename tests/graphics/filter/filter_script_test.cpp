// The filter and mesh effect builtins from a script run headless by the
// real binary (tests/scripts/filter/*.c), and the bundled effects example.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "base/atomic_file.h"
#include "graphics/plane/image_io.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();

fs::path scratch(const std::string& name) {
  fs::path dir =
      fs::temp_directory_path() / ("talven_filter_" + std::to_string(::getpid()) + "_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(FilterScripts, FiltersAndEffectsFromAScript) {
  if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
  const fs::path dir = scratch("script");
  fs::copy_file(kRoot / "sdk" / "talven.h", dir / "talven.h");
  fs::copy_file(kRoot / "tests" / "scripts" / "filter" / "filters.c", dir / "main.c");
  std::ofstream(dir / "Filters.cfg") << "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n";
  auto r = talven::test::run_talven("--headless --log --timeout 30 " + dir.string());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

TEST(FilterScripts, EffectsExampleRipplesABlurredPicture) {
  if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
  const fs::path dir = scratch("example");
  fs::copy(kRoot / "examples" / "effects", dir / "effects", fs::copy_options::recursive);
  const fs::path shot = dir / "shot.png";
  auto r = talven::test::run_talven("--headless --log --frames 90 --screenshot " + shot.string() +
                                    " " + (dir / "effects").string());
  EXPECT_EQ(r.status, 124) << r.out;  // ended by --frames
  EXPECT_NE(r.out.find("ripples running"), std::string::npos) << r.out;
  std::string png;
  ASSERT_TRUE(talven::read_file(shot.string(), png)) << r.out;
  talven::graphics::MemorySource src(png.data(), png.size());
  auto plane = talven::graphics::read_png(src);
  ASSERT_TRUE(plane);
  EXPECT_EQ(plane->width, 320);
  EXPECT_EQ(plane->height, 240);
  // A blurred picture has no hard edges: neighbouring pixels along a row
  // never differ by much, yet the scene is not one flat colour.
  std::set<std::uint32_t> colours;
  int biggest_step = 0;
  for (int y = 20; y < 220; y += 10)
    for (int x = 1; x < 320; ++x) {
      const std::uint8_t* a = plane->row(y) + (x - 1) * (plane->bpp / 8);
      const std::uint8_t* b = plane->row(y) + x * (plane->bpp / 8);
      for (int c = 0; c < 3; ++c)
        biggest_step = std::max(biggest_step, std::abs(int(a[c]) - int(b[c])));
      colours.insert(std::uint32_t(b[0] | b[1] << 8 | b[2] << 16));
    }
  EXPECT_GT(colours.size(), 50u);
  EXPECT_LT(biggest_step, 120);
  fs::remove_all(dir);
}

}  // namespace
