// The Icon key in a windowed run (on a virtual display, where xvfb-run and
// xprop exist): the window carries the image, and a missing image keeps the
// default icon with one line on standard error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "graphics/plane/image_io.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class WindowIconRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!talven::test::have_tool("xvfb-run") || !talven::test::have_tool("xprop"))
      GTEST_SKIP() << "xvfb-run and xprop are needed to look at a window";
    dir_ = talven::test::make_temp_dir("talven_icon_run_");
    ASSERT_FALSE(dir_.empty());
    // A 4x3 icon, so that its size is plain in the window's property.
    talven::graphics::PlanePtr plane = talven::graphics::CreatePlane(4, 3, 24);
    std::string png;
    ASSERT_TRUE(talven::graphics::encode_png(*plane, plane->bounds(), png));
    write("art/icon.png", png);
    write("Quest/main.c", "#include \"talven.h\"\nint main() { sleep(2500); exit(); return 0; }\n");
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  void write(const std::string& relative, const std::string& bytes) {
    fs::create_directories((dir_ / relative).parent_path());
    std::ofstream(dir_ / relative, std::ios::binary) << bytes;
  }
  // Runs the game windowed on a virtual display and prints the window's
  // icon property once the window is there.
  talven::test::BinaryRun run_and_look(const std::string& icon_key) {
    write("Quest.cfg", "[General]\nFileSystem=3\nTitle=IconQuest\nIcon=" + icon_key +
                           "\n[Screen]\nWidth=160\nHeight=120\n");
    // xprop is asked until the icon property is there or the game has ended.
    const std::string inner = std::string(TALVEN_BINARY) + " --timeout 20 " + dir_.string() +
                              " & for i in $(seq 40); do p=$(xprop -name IconQuest _NET_WM_ICON "
                              "2>/dev/null); case \"$p\" in *CARDINAL*) echo \"$p\" | head -c 200;"
                              " break;; esac; sleep 0.1; done; echo; wait $!";
    talven::test::BinaryRun r;
    for (int attempt = 0; attempt < 3; ++attempt) {
      r = talven::test::run_shell(
          "ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s '-screen 0 800x600x24' sh -c '" + inner +
          "'");
      if (r.out.find("xvfb-run: error") == std::string::npos) break;
    }
    return r;
  }
  fs::path dir_;
};

TEST_F(WindowIconRun, TheWindowShowsTheConfiguredImage) {
  const talven::test::BinaryRun r = run_and_look("art\\icon.png");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Icon (4 x 3)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("window icon"), std::string::npos) << r.out;
}

TEST_F(WindowIconRun, AMissingImageKeepsTheDefaultIconWithOneLine) {
  const talven::test::BinaryRun r = run_and_look("art\\none.png");
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string line = "talven: window icon art\\none.png: no such file";
  const std::size_t at = r.out.find(line);
  EXPECT_NE(at, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(line, at + 1), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Icon (4 x 3)"), std::string::npos) << r.out;
}

}  // namespace
