// Runs of the real binary around the window: presented frames and the
// screenshot, the single-instance guard, and (only where xvfb-run exists)
// a windowed run on a virtual display.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();

class WindowRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = talven::test::make_temp_dir("talven_win_");
    ASSERT_FALSE(dir_.empty());
    fs::copy_file(kSource / "sdk" / "talven.h", dir_ / "talven.h");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& rel, const std::string& text) {
    std::ofstream(dir_ / rel, std::ios::binary) << text;
  }
  std::string read(const std::string& rel) {
    std::ifstream in(dir_ / rel, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void game(const std::string& extra_config, const std::string& script) {
    write("Quest.cfg", "[General]\nFileSystem=3\n" + extra_config + "[Script]\nLoad=main.c\n");
    write("main.c", "#include \"talven.h\"\n" + script);
  }
  fs::path dir_;
};

TEST_F(WindowRun, FramesCountPresentedFramesAndTheScreenshotIsWritten) {
  game("[Screen]\nWidth=64\nHeight=48\n",
       "int main() { int i; for (i = 0; ; i++) { update(0); sleep(5); } return 0; }\n");
  fs::path shot = dir_ / "shot.png";
  auto r = talven::test::run_talven("--headless --frames 3 --timeout 20 --screenshot " +
                                    shot.string() + " " + dir_.string());
  EXPECT_EQ(r.status, 124) << r.out;
  EXPECT_EQ(r.out.find("stopped after"), std::string::npos) << r.out;  // frames, not the timeout
  std::ifstream png(shot, std::ios::binary);
  char sig[8] = {};
  png.read(sig, 8);
  EXPECT_EQ(std::string(sig + 1, 3), "PNG") << r.out;

  // A relative screenshot name is taken from where the program was started.
  game("[Screen]\nWidth=64\nHeight=48\n", "int main() { update(0); return 3; }\n");
  std::string here = fs::current_path().string();
  fs::current_path(dir_.parent_path());
  std::string rel = dir_.filename().string() + "/rel.png";
  r = talven::test::run_talven("--headless --screenshot " + rel + " " + dir_.string());
  fs::current_path(here);
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(fs::exists(dir_ / "rel.png")) << r.out;
}

TEST_F(WindowRun, SecondInstanceAsksTheFirstAndEndsWithZero) {
  game("", "int main() { sleep(20000); return 9; }\n");
  const std::string dir = dir_.string();
  talven::test::BackgroundTalven first;
  ASSERT_TRUE(first.start({"--headless", "--timeout", "30", dir}));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  auto start = std::chrono::steady_clock::now();
  auto second = talven::test::run_talven("--headless --timeout 30 " + dir);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(second.status, 0) << second.out;
  EXPECT_EQ(second.out, "");  // nothing shown
  EXPECT_LT(took, std::chrono::seconds(5));

  // With MultiInstance=1 a second copy runs its own script.
  write("Quest.cfg", "[General]\nFileSystem=3\nMultiInstance=1\n[Script]\nLoad=other.c\n");
  write("other.c", "int main() { return 5; }\n");
  EXPECT_EQ(talven::test::run_talven("--headless " + dir).status, 5);

  first.stop();
}

TEST_F(WindowRun, WithoutADisplayTheRunGoesHeadlessByItself) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows desktop is always there to take away";
#endif
  game("", "int main() { return 7; }\n");
  // run_talven keeps the environment: take the display away for this run.
  const auto r =
      talven::test::run_shell("env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(TALVEN_BINARY) +
                              " --timeout 20 " + dir_.string());
  EXPECT_EQ(r.status, 7) << r.out;
  EXPECT_NE(r.out.find("running headless"), std::string::npos) << r.out;
}

bool have_xvfb() { return talven::test::have_tool("xvfb-run"); }

// Runs a command on a fresh virtual display. xvfb-run itself now and then
// fails to clean up its temporary files and then exits 5 whatever the
// command did; such runs are repeated.
talven::test::BinaryRun run_on_virtual_display(const std::string& command) {
  const std::string xvfb = "ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s '-screen 0 800x600x24' ";
  talven::test::BinaryRun r;
  for (int attempt = 0; attempt < 3; ++attempt) {
    r = talven::test::run_shell(xvfb + command);
    if (r.out.find("xvfb-run: error") == std::string::npos) break;
  }
  return r;
}

TEST_F(WindowRun, WindowedRunOnAVirtualDisplay) {
  if (!have_xvfb()) GTEST_SKIP() << "xvfb-run is not installed";
  // The display libraries keep a few allocations to the end of the process;
  // leak checking (in sanitizer builds) is left to the headless runs.
  // exit closes the window without the question; the window keys are written back.
  game("DebugMode=1\n[Screen]\nWidth=320\nHeight=240\n",
       "int main() { log_out(\"hello %d\", 5); update(0); sleep(200); exit(); return 9; }\n");
  talven::test::BinaryRun r =
      run_on_virtual_display(std::string(TALVEN_BINARY) + " --log --timeout 20 " + dir_.string());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("hello 5"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("running headless"), std::string::npos) << r.out;
  std::string cfg = read("cfg_chs.cfg");  // the keys go to the inherited file
  EXPECT_NE(cfg.find("WindowWidth=320"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find("WindowHeight=240"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find("FullScreen=0"), std::string::npos) << cfg;

  // A run-time error stops the scripts and leaves the window open (Error=0:
  // no box to answer), so only the timeout ends this run.
  game("Error=0\n[Screen]\nWidth=320\nHeight=240\n",
       "int main() { int a; a = 0; return 5 / a; }\n");
  talven::test::BinaryRun stopped =
      run_on_virtual_display(std::string(TALVEN_BINARY) + " --timeout 1.5 " + dir_.string());
  EXPECT_EQ(stopped.status, 124) << stopped.out;
}

}  // namespace
