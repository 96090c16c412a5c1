#include "base/config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/atomic_file.h"
#include "base/profile.h"
#include "support/host_path.h"
#include "support/env.h"
#include "support/temp_dir.h"

namespace talven {
namespace {

namespace fs = std::filesystem;

// A fresh game folder and documents folder for each test.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::make_temp_dir("talven_config_");
    ASSERT_FALSE(root_.empty());
    fs::create_directories(root_ / "game");
    fs::create_directories(root_ / "docs");
    game_ = (root_ / "game").string() + "/";
    docs_ = (root_ / "docs").string();
    ASSERT_TRUE(test::set_env("XDG_DOCUMENTS_DIR", docs_));
  }
  void TearDown() override {
    test::unset_env("XDG_DOCUMENTS_DIR");
    fs::remove_all(root_);
    config() = Config{};
  }
  void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  fs::path root_;
  std::string game_, docs_;
};

TEST_F(ConfigTest, NoFileAtAllGivesDefaultsAndWritesCfgChsBesideTheProgram) {
  load_configuration(game_ + "Game.exe");
  const Config& c = config();
  EXPECT_EQ(c.Width, 1280);
  EXPECT_EQ(c.Height, 720);
  EXPECT_EQ(c.Depth, 24);
  EXPECT_EQ(c.FullScreen, 0);
  EXPECT_EQ(c.Error, 1);
  EXPECT_EQ(c.FileSystem, 1);
  EXPECT_EQ(c.StackSize, 0x40000);
  EXPECT_EQ(c.HeapSize, 0x800000);
  EXPECT_EQ(c.Load, "main.c");
  EXPECT_EQ(c.script_dir, "Game\\");
  EXPECT_EQ(c.module_dir, game_);
  EXPECT_EQ(c.config_path, game_ + "cfg_chs.cfg");

  config().WindowLeft = 10;
  config().WindowWidth = 640;
  ASSERT_TRUE(write_back_config(c.config_path, false));
  EXPECT_EQ(profile::get_int(game_ + "cfg_chs.cfg", "Window", "WindowLeft", -1), 10);
  EXPECT_EQ(profile::get_int(game_ + "cfg_chs.cfg", "Window", "WindowWidth", -1), 640);
  EXPECT_EQ(profile::get_int(game_ + "cfg_chs.cfg", "Screen", "FullScreen", -1), 0);
}

TEST_F(ConfigTest, InheritanceZeroWritesBackToTheProgramsOwnFile) {
  write(game_ + "Game.cfg", "[General]\r\nInheritance=0\r\n[Screen]\r\nWidth=640\r\n");
  write(game_ + "cfg_chs.cfg", "[Screen]\r\nWidth=800\r\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().Width, 640);  // cfg_chs.cfg is not read
  EXPECT_EQ(config().config_path, game_ + "Game.cfg");
}

TEST_F(ConfigTest, LaterFileWinsAndMissingKeysKeepEarlierValues) {
  write(game_ + "Game.cfg", "[Screen]\nWidth=640\nHeight=480\n[General]\nTitle=First\n");
  write(game_ + "cfg_chs.cfg", "[Screen]\nWidth=800\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().Width, 800);
  EXPECT_EQ(config().Height, 480);
  EXPECT_EQ(config().Title, "First");
}

TEST_F(ConfigTest, CompanyAndProductMoveSettingsToTheDocumentsFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "the documents folder on Windows is the user's own and is not redirected for "
                  "tests";
#endif
  write(game_ + "Game.cfg", "[General]\nCompany=Maker\nProduct=Quest\n[Screen]\nDepth=32\n");
  load_configuration(game_ + "Game.exe");
  std::string expected = docs_ + "/Maker/Quest/cfg_chs.cfg";
  EXPECT_EQ(config().config_path, expected);
  EXPECT_TRUE(fs::is_directory(docs_ + "/Maker/Quest"));  // created when missing

  // A second start reads the per-user file last.
  write(expected, "[Screen]\nDepth=16\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().Depth, 16);

  // Only one of the two names set: settings stay beside the program.
  write(game_ + "Game.cfg", "[General]\nCompany=Maker\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().config_path, game_ + "cfg_chs.cfg");
}

TEST_F(ConfigTest, LoadWithAndWithoutDirectory) {
  write(game_ + "Game.cfg", "[Script]\nLoad=scenario\\start.c\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().script_dir, "scenario\\");
  EXPECT_EQ(config().Load, "start.c");

  write(game_ + "Game.cfg", "[Script]\nLoad=start.c\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().script_dir, "");
  EXPECT_EQ(config().Load, "start.c");

  // 0x5C as the trail byte of a double-byte character is not a separator:
  // "表\a.c" where 表 is 0x95 0x5C.
  write(game_ + "Game.cfg", "[Script]\nLoad=\x95\x5C\\a.c\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().script_dir, "\x95\x5C\\");
  EXPECT_EQ(config().Load, "a.c");
}

TEST_F(ConfigTest, FileSystemWithoutEitherBitBecomesThree) {
  for (const char* v : {"0", "4"}) {
    write(game_ + "Game.cfg", std::string("[General]\nFileSystem=") + v + "\n");
    load_configuration(game_ + "Game.exe");
    EXPECT_EQ(config().FileSystem, 3) << v;
  }
  write(game_ + "Game.cfg", "[General]\nFileSystem=2\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().FileSystem, 2);
}

TEST_F(ConfigTest, RestoreBoundsZeroWritesZerosAndKeepsOtherLines) {
  write(
      game_ + "Game.cfg",
      "; "
      "settings\r\n[Window]\r\nRestoreBounds=0\r\nWindowLeft=5\r\n[General]\r\nInheritance=0\r\n");
  load_configuration(game_ + "Game.exe");
  config().WindowTop = 99;
  ASSERT_TRUE(write_back_config(config().config_path, true));
  const std::string f = game_ + "Game.cfg";
  for (const char* k : {"WindowLeft", "WindowTop", "WindowWidth", "WindowHeight"}) {
    EXPECT_EQ(profile::get_string(f, "Window", k, "missing"), "0") << k;
  }
  EXPECT_EQ(profile::get_int(f, "Screen", "FullScreen", -1), 1);
  std::string text;
  ASSERT_TRUE(read_file(f, text));
  EXPECT_EQ(text.rfind("; settings\r\n[Window]\r\nRestoreBounds=0\r\n", 0), 0u);
  EXPECT_NE(text.find("[General]\r\nInheritance=0\r\n"), std::string::npos);
}

TEST_F(ConfigTest, ConfigFileNameMatchesWithoutRegardToCase) {
  write(game_ + "GAME.CFG", "[Screen]\nWidth=320\n[General]\nInheritance=0\n");
  load_configuration(game_ + "game.exe");
  EXPECT_EQ(config().Width, 320);
  EXPECT_EQ(talven::test::host_path_key(config().config_path),
            talven::test::host_path_key(game_ + "GAME.CFG"));
}

TEST_F(ConfigTest, OverridesByKeyName) {
  load_configuration(game_ + "Game.exe");
  EXPECT_TRUE(set_config_value("width", "1024"));
  EXPECT_TRUE(set_config_value("Title", "Hello"));
  EXPECT_TRUE(set_config_value("FileSystem", "0"));
  EXPECT_FALSE(set_config_value("NoSuchKey", "1"));
  EXPECT_EQ(config().Width, 1024);
  EXPECT_EQ(config().Title, "Hello");
  EXPECT_EQ(config().FileSystem, 3);
}

TEST_F(ConfigTest, SourceEncodingIsAScriptKey) {
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().SourceEncoding, "");  // auto
  write(game_ + "Game.cfg", "[Script]\nSourceEncoding=utf8\n[General]\nSourceEncoding=cp932\n");
  load_configuration(game_ + "Game.exe");
  EXPECT_EQ(config().SourceEncoding, "utf8");
  EXPECT_TRUE(set_config_value("sourceencoding", "a-value-longer-than-its-buffer"));
  EXPECT_EQ(config().SourceEncoding, "a-value-longer-");
}

}  // namespace
}  // namespace talven
