// Headless runs of the real binary: game folders made by the test, scripts
// that report through their exit status and log_out lines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/atomic_file.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out;
};

RunResult run(const std::string& args) {
  RunResult r;
  std::string cmd = std::string(TALVEN_BINARY) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int w = pclose(p);
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return r;
}

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
  RunResult help = run("--help");
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
  ASSERT_EQ(run("pack " + (dir_ / "sources").string() + " " + (dir_ / (name + ".bin")).string()).status, 0);
  RunResult r = run("--headless " + game());
  EXPECT_EQ(r.status, 7) << r.out;
  EXPECT_TRUE(fs::exists(dir_ / "cfg_chs.cfg"));
}

TEST_F(RunGame, CompileErrorAndRuntimeErrorHaveTheirOwnStatus) {
  write("Quest.cfg", "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n");
  write("main.c", "int main() { return 1 +; }\n");
  RunResult bad = run("--headless " + game());
  EXPECT_EQ(bad.status, 121) << bad.out;

  write("main.c", "int main() { int a; a = 0; return 5 / a; }\n");
  RunResult div = run("--headless " + game());
  EXPECT_EQ(div.status, 122) << div.out;
  EXPECT_NE(div.out.find("Divide by zero error."), std::string::npos) << div.out;
}

TEST_F(RunGame, TimeoutStopsAScriptThatNeverEnds) {
  write("Quest.cfg", "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n");
  write("main.c", "int main() { for (;;) ; return 0; }\n");
  RunResult r = run("--headless --timeout 0.3 " + game());
  EXPECT_EQ(r.status, 124) << r.out;
}

}  // namespace
