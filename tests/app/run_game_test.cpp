// Headless runs of the real binary: game folders made by the test, scripts
// that report through their exit status and log_out lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/host_path.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

using talven::test::BinaryRun;

BinaryRun run(const std::string& args) { return talven::test::run_talven(args); }

class RunGame : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("talven_run_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& rel, const std::string& text) {
    fs::create_directories((dir_ / rel).parent_path());
    std::ofstream(dir_ / rel, std::ios::binary) << text;
  }
  std::string game() const { return dir_.string(); }
  fs::path dir_;
};

TEST_F(RunGame, HelpVersionAndBadUsage) {
  BinaryRun help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: talven"), std::string::npos);
  EXPECT_NE(help.out.find("pack"), std::string::npos);  // tools are listed
  EXPECT_EQ(run("--version").status, 0);
  EXPECT_EQ(run("--no-such-switch x").status, 2);
  EXPECT_EQ(run("/no/such/folder/at/all").status, 2);
  EXPECT_EQ(run("--timeout").status, 2);
}

TEST_F(RunGame, FolderWithoutConfigurationRunsMainFromTheProgramFolderAndWritesBack) {
  // Without a .cfg file the program is named after the folder and its main
  // script is NAME\main.c. The default file system reads archives only, so
  // the scripts ship packed as NAME.bin.
  std::string name = dir_.filename().string();
  write("sources/main.c", "int main() { return 7; }\n");
  ASSERT_EQ(
      run("pack " + (dir_ / "sources").string() + " " + (dir_ / (name + ".bin")).string()).status,
      0);
  BinaryRun r = run("--headless " + game());
  EXPECT_EQ(r.status, 7) << r.out;
  EXPECT_TRUE(fs::exists(dir_ / "cfg_chs.cfg"));
}

TEST_F(RunGame, CompileErrorAndRuntimeErrorHaveTheirOwnStatus) {
  write("Quest.cfg", "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n");
  write("main.c", "int main() { return 1 +; }\n");
  BinaryRun bad = run("--headless " + game());
  EXPECT_EQ(bad.status, 121) << bad.out;

  write("main.c", "int main() { int a; a = 0; return 5 / a; }\n");
  BinaryRun div = run("--headless " + game());
  EXPECT_EQ(div.status, 122) << div.out;
  EXPECT_NE(div.out.find("Divide by zero error."), std::string::npos) << div.out;
}

TEST_F(RunGame, TimeoutStopsAScriptThatNeverEnds) {
  write("Quest.cfg", "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n");
  write("main.c", "int main() { for (;;) ; return 0; }\n");
  BinaryRun r = run("--headless --timeout 0.3 " + game());
  EXPECT_EQ(r.status, 124) << r.out;
}

}  // namespace

namespace {

// A game named in Japanese, its configuration in CP932 naming a Japanese
// scripts folder: the game is found, configured and compiled from its
// command-line name on every platform (Windows converts each name between
// UTF-8, CP932 and UTF-16 on the way).
TEST_F(RunGame, JapaneseFolderAndFileNamesFromTheCommandLine) {
  const fs::path game = dir_ / talven::test::utf8_path("遊び");
  fs::create_directories(game / talven::test::utf8_path("ゲーム"));
  // "Load=ゲーム\main.c" in CP932.
  std::ofstream(game / talven::test::utf8_path("遊び.cfg"), std::ios::binary)
      << "[General]\nFileSystem=3\n[Script]\nLoad=\x83Q\x81[\x83\x80\\main.c\n";
  std::ofstream(game / talven::test::utf8_path("ゲーム") / "main.c", std::ios::binary)
      << "int main() { return 7; }\n";
  BinaryRun r = run("--headless " + dir_.string() + "/遊び");
  EXPECT_EQ(r.status, 7) << r.out;
}

}  // namespace
