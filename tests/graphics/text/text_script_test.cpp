// The font and text builtins from a script, and the text sample game, run
// headless by the real binary in a fresh game folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "graphics/plane/image_io.h"
#include "support/game_font.h"
#include "support/run_binary.h"

namespace talven::graphics {
namespace {

namespace fs = std::filesystem;

const fs::path kTests = fs::path(TALVEN_TEST_DATA).parent_path();
const fs::path kSource = kTests.parent_path();
// The IPA gothic face the tests ship (tests/data/fonts, with its licence).
const char* const kGothic = TALVEN_TEST_DATA "/fonts/ipag.ttf";

class TextScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
    if (!fs::exists(kGothic)) GTEST_SKIP() << "the tests' IPA gothic font is missing";
    dir_ = fs::temp_directory_path() /
           ("talven_text_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(TextScripts, BuiltinsFromAScript) {
  fs::copy_file(kTests / "scripts" / "text" / "text.c", dir_ / "main.c");
  fs::copy_file(kTests / "scripts" / "lib" / "check.h", dir_ / "check.h");
  fs::create_directories(dir_ / "fonts");  // the game's own font is found first
  fs::copy_file(kGothic, dir_ / "fonts" / "ipag.ttf");
  std::ofstream(dir_ / "Fonts.cfg") << "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n";
  auto r = test::run_talven("--headless --log --timeout 60 " + dir_.string());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("text checks done"), std::string::npos) << r.out;
}

TEST_F(TextScripts, SampleGameShowsJapaneseText) {
  fs::copy(kSource / "examples" / "text", dir_, fs::copy_options::recursive);
  ASSERT_TRUE(test::add_game_font(dir_));
  const fs::path shot = dir_ / "shot.png";
  auto r = test::run_talven("--headless --frames 20 --timeout 60 --screenshot " + shot.string() +
                            " " + dir_.string());
  EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
  std::ifstream in(shot, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(bytes.empty()) << r.out;
  MemorySource src(bytes.data(), bytes.size());
  PlanePtr p = read_png(src);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(p->width, 480);
  // The title's row band holds the text colour (0xFFF0C0) fully covered,
  // and blended edges between it and the background.
  int solid = 0, blended = 0;
  for (int y = 16; y < 60; ++y)
    for (int x = 0; x < p->width; ++x) {
      std::uint32_t c = get_pixel_rgb(*p, x, y);
      solid += c == 0xFFF0C0;
      blended += c != 0xFFF0C0 && c != 0x182030;
    }
  EXPECT_GT(solid, 300);
  EXPECT_GT(blended, 300);
}

}  // namespace
}  // namespace talven::graphics
