// The system builtins from a script: tests/scripts/system/*.c run headless
// in the real binary inside a fresh game folder (with the example native
// library built beside it) and return the number of failed checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();
const fs::path kScripts = kSource / "tests" / "scripts" / "system";

class SystemScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY))
      GTEST_SKIP() << "build the talven target first: " << TALVEN_BINARY;
    dir_ = fs::temp_directory_path() /
           ("talven_system_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kSource / "sdk" / "talven.h", dir_ / "talven.h");
    fs::copy_file(kScripts / "check.h", dir_ / "check.h");
    std::ofstream(dir_ / "Quest.cfg")
        << "[General]\nFileSystem=3\nInheritance=0\n[Screen]\nWidth=640\nHeight=480\n"
           "[Script]\nLoad=main.c\n";
    if (!talven::test::have_tool("cc")) GTEST_SKIP() << "no C compiler to build the example with";
    const std::string cmd = "cc -shared -fPIC -I" + (kSource / "sdk").string() + " " +
                            (kSource / "examples/native/example_native.c").string() + " -o " +
                            (dir_ / "example.so").string();
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  void TearDown() override { fs::remove_all(dir_); }

  talven::test::BinaryRun run_script(const std::string& script, const std::string& switches = "") {
    fs::copy_file(kScripts / script, dir_ / "main.c", fs::copy_options::overwrite_existing);
    return talven::test::run_talven("--headless --log --timeout 30 " + switches + " " +
                                    dir_.string());
  }

  fs::path dir_;
};

TEST_F(SystemScripts, EveryFamilyFromAScript) {
  auto r = run_script("system.c");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  // The value written with a null file went to the game's own .cfg.
  std::ifstream in(dir_ / "Quest.cfg");
  std::string cfg((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(cfg.find("Value=-1234"), std::string::npos) << cfg;
}

TEST_F(SystemScripts, UntrustedGamesAreRefused) {
  // Refusals are file notices (level 2): shown once Error lets them through.
  std::ofstream(dir_ / "Quest.cfg")
      << "[General]\nFileSystem=3\nInheritance=0\nError=2\n[Script]\nLoad=main.c\n";
  auto r = run_script("untrusted.c", "--untrusted");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("exec"), std::string::npos) << "the refusal is reported";
}

TEST_F(SystemScripts, UntrustedByTheConfiguration) {
  std::ofstream(dir_ / "Quest.cfg", std::ios::app) << "[System]\nUntrusted=1\n";
  auto r = run_script("untrusted.c");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  std::ifstream in(dir_ / "Quest.cfg");
  std::string cfg((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(cfg.find("Untrusted=1"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find("k=1"), std::string::npos) << cfg;
}

// The desktop back end: a windowed run on a virtual display, where the
// builtins reach SDL through main-thread calls.
TEST_F(SystemScripts, WindowedOnAVirtualDisplay) {
  if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "xvfb-run is not installed";
  fs::copy_file(kScripts / "windowed.c", dir_ / "main.c");
  // Software drawing keeps the display drivers (and their POSIX regex use,
  // which Oniguruma's exported names would take over) out of the run.
  const std::string cmd =
      "ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s '-screen 0 800x600x24' "
      "env SDL_FRAMEBUFFER_ACCELERATION=0 SDL_RENDER_DRIVER=software timeout -k 2 30 " +
      std::string(TALVEN_BINARY) + " --log --timeout 20 " + dir_.string() + " 2>&1";
  std::string out;
  for (int attempt = 0; attempt < 3; ++attempt) {  // xvfb-run now and then fails on its own
    out.clear();
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    if (out.find("xvfb-run: error") == std::string::npos) break;
  }
  EXPECT_NE(out.find("failures 0"), std::string::npos) << out;
  EXPECT_EQ(out.find("FAIL "), std::string::npos) << out;
}

}  // namespace
