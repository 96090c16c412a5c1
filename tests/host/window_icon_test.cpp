// The window icon: the Icon configuration key, the image read through the
// data-file layer (loose or from an archive) and its pixels for the window
// system.
#include "host/window_icon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "base/config.h"
#include "base/game_path.h"
#include "base/messages.h"
#include "graphics/plane/image_io.h"
#include "storage/archive.h"
#include "support/temp_dir.h"

namespace talven::host {
namespace {

namespace fs = std::filesystem;

class WindowIcon : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = talven::test::make_temp_dir("talven_icon_");
    ASSERT_FALSE(dir_.empty());
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    saved_ = config();
    config() = Config{};
    config().FileSystem = 3;
    config().Error = 2;
    set_message_sink([this](unsigned, const std::string& text) {
      messages_.push_back(text);
      return kMessageOk;
    });
    invalidate_path_cache();
  }
  void TearDown() override {
    set_message_sink({});
    config() = saved_;
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
    invalidate_path_cache();
    storage::clear_archive_directory_cache();
  }
  static void write(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    invalidate_path_cache();  // the game-path layer keeps folder listings
  }
  fs::path dir_, old_cwd_;
  Config saved_;
  std::vector<std::string> messages_;
};

// A 2x2 plane of `bpp` bits: top row red, green; bottom row blue, white.
graphics::PlanePtr two_by_two(int bpp) {
  graphics::PlanePtr p = graphics::CreatePlane(2, 2, bpp);
  const std::uint32_t rgb[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}};
  const int step = bpp / 8;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      std::uint8_t* px = p->row(y) + x * step;
      px[0] = rgb[y][x] & 0xFF;
      px[1] = (rgb[y][x] >> 8) & 0xFF;
      px[2] = (rgb[y][x] >> 16) & 0xFF;
      if (step == 4) px[3] = 0;
    }
  return p;
}

TEST_F(WindowIcon, TheKeyIsReadFromGeneralAndByOverride) {
  EXPECT_EQ(config().Icon, "");
  write(dir_ / "Quest.cfg", "[General]\nIcon=art\\icon.png\n[Screen]\nIcon=elsewhere.png\n");
  read_config((dir_ / "Quest.cfg").string());
  EXPECT_EQ(config().Icon, "art\\icon.png");
  EXPECT_TRUE(set_config_value("icon", "other.bmp"));  // as --config Icon=other.bmp
  EXPECT_EQ(config().Icon, "other.bmp");
  // Long values are cut to the key's 260-byte buffer like the other paths.
  EXPECT_TRUE(set_config_value("Icon", std::string(400, 'a')));
  EXPECT_EQ(config().Icon.size(), 259u);
}

TEST_F(WindowIcon, PixelsComeTopRowFirstWithAlphaOnlyWhereTheImageHasIt) {
  graphics::PlanePtr rgb = two_by_two(24);
  IconImage icon = icon_from_plane(*rgb);
  ASSERT_EQ(icon.width, 2);
  ASSERT_EQ(icon.height, 2);
  EXPECT_EQ(icon.argb,
            (std::vector<std::uint32_t>{0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}));

  // 32 bits with every alpha byte 0: a bitmap that leaves the byte unused.
  graphics::PlanePtr unused = two_by_two(32);
  EXPECT_EQ(icon_from_plane(*unused).argb[0], 0xFFFF0000u);

  // Real alpha is kept, transparent pixels included.
  graphics::PlanePtr alpha = two_by_two(32);
  alpha->row(0)[3] = 0x80;
  alpha->row(1)[7] = 0xFF;
  icon = icon_from_plane(*alpha);
  EXPECT_EQ(icon.argb,
            (std::vector<std::uint32_t>{0x80FF0000, 0x0000FF00, 0x000000FF, 0xFFFFFFFF}));
}

TEST_F(WindowIcon, LoadsLooseAndArchivedImagesAndExplainsFailures) {
  graphics::PlanePtr plane = two_by_two(24);
  std::string png;
  ASSERT_TRUE(graphics::encode_png(*plane, plane->bounds(), png));
  write(dir_ / "art" / "icon.png", png);
  std::string why;
  std::optional<IconImage> icon = load_window_icon("ART\\Icon.png", &why);
  ASSERT_TRUE(icon) << why;
  EXPECT_EQ(icon->argb[1], 0xFF00FF00u);

  // From an archive, with loose files not read at all.
  write(dir_ / "packed" / "icon.png", png);
  std::string error;
  ASSERT_TRUE(storage::write_archive((dir_ / "icons.bin").string(),
                                     {{"icon.png", (dir_ / "packed" / "icon.png").string()}}, 7,
                                     &error))
      << error;
  config().FileSystem = 1;
  icon = load_window_icon("icons\\icon.png", &why);
  ASSERT_TRUE(icon) << why;
  EXPECT_EQ(icon->argb[3], 0xFFFFFFFFu);
  config().FileSystem = 3;

  // Missing: a reason, and no file notice from the data layer.
  EXPECT_FALSE(load_window_icon("art\\none.png", &why));
  EXPECT_EQ(why, "no such file");
  EXPECT_TRUE(messages_.empty()) << messages_.front();

  // Not an image, and a truncated one.
  write(dir_ / "art" / "bad.png", "this is not a picture");
  EXPECT_FALSE(load_window_icon("art\\bad.png", &why));
  EXPECT_NE(why.find("not a PNG or BMP image"), std::string::npos) << why;
  write(dir_ / "art" / "cut.bmp", png.substr(0, 20));
  EXPECT_FALSE(load_window_icon("art\\cut.bmp", &why));
}

}  // namespace
}  // namespace talven::host
