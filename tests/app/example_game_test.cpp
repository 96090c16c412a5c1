// The bundled example runs headless and leaves a screenshot of its scene.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/atomic_file.h"
#include "graphics/plane/image_io.h"
#include "support/game_font.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kExample =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "examples" / "orbit";

TEST(ExampleGame, RunsHeadlessAndShowsTheScene) {
  // The game writes its window keys back beside itself: run a copy. It
  // needs nothing from the SDK: "talven.h" comes from the binary.
  fs::path dir = fs::temp_directory_path() / ("talven_example_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "examples");
  fs::copy(kExample, dir / "examples" / "orbit", fs::copy_options::recursive);
  ASSERT_TRUE(talven::test::add_game_font(dir / "examples" / "orbit"));
  const fs::path shot = dir / "shot.png";

  auto r = talven::test::run_talven("--headless --frames 150 --screenshot " + shot.string() + " " +
                                    (dir / "examples" / "orbit").string());
  EXPECT_EQ(r.status, 124) << r.out;  // ended by --frames

  std::string png;
  ASSERT_TRUE(talven::read_file(shot.string(), png)) << r.out;
  talven::graphics::MemorySource src(png.data(), png.size());
  auto plane = talven::graphics::read_png(src);
  ASSERT_TRUE(plane);
  EXPECT_EQ(plane->width, 640);
  EXPECT_EQ(plane->height, 360);
  const int bytes = plane->bpp / 8;
  auto pixel = [&](int x, int y) { return plane->row(y) + x * bytes; };  // blue, green, red
  // The sun glows in the centre; the sky is dark at the edge.
  const std::uint8_t* sun = pixel(320, 180);
  EXPECT_GT(sun[2], 200);
  EXPECT_GT(sun[1], 180);
  const std::uint8_t* sky = pixel(600, 20);
  EXPECT_LT(sky[2], 80);
  // The Japanese title line is drawn in light yellow (palette entry 1)
  // across the lower left of the pond.
  int lit = 0;
  for (int y = 290; y < 325; ++y)
    for (int x = 20; x < 340; ++x)
      lit += pixel(x, y)[2] > 200 && pixel(x, y)[1] > 180 && pixel(x, y)[0] > 120;
  EXPECT_GT(lit, 300) << "no text on the pond";
  fs::remove_all(dir);
}

TEST(ExampleGame, TheDemoRecordingCatchesEveryPlanet) {
  // The recorded input moves the mouse onto each planet as it passes and
  // clicks: the game ends by itself with all three caught.
  fs::path dir = fs::temp_directory_path() / ("talven_example_demo_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(kExample, dir / "orbit", fs::copy_options::recursive);
  auto r = talven::test::run_talven("--headless --log --timeout 60 --input " +
                                    (dir / "orbit" / "demo.txt").string() + " " +
                                    (dir / "orbit").string());
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("caught 3 planets"), std::string::npos) << r.out;
  // Without input nothing is caught before --frames ends the run.
  r = talven::test::run_talven("--headless --log --frames 200 " + (dir / "orbit").string());
  EXPECT_EQ(r.status, 124) << r.out;
  EXPECT_EQ(r.out.find("caught"), std::string::npos) << r.out;
  fs::remove_all(dir);
}

}  // namespace
