// The core and file builtins from scripts: each tests/scripts/lib/*.c runs
// headless in the real binary inside a fresh game folder and returns the
// number of failed checks (logged as "FAIL name" lines). They include the
// builtin header shipped for game authors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kScripts = fs::path(TALVEN_TEST_DATA).parent_path() / "scripts" / "lib";
const fs::path kHeader =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "sdk" / "talven.h";

using ScriptRun = talven::test::BinaryRun;

class ScriptBuiltins : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY))
      GTEST_SKIP() << "build the talven target first: " << TALVEN_BINARY;
    dir_ = fs::temp_directory_path() /
           ("talven_lib_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kHeader, dir_ / "talven.h");
    fs::copy_file(kScripts / "check.h", dir_ / "check.h");
    std::ofstream(dir_ / "Quest.cfg") << "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  ScriptRun run_script(const std::string& script) {
    fs::copy_file(kScripts / script, dir_ / "main.c");
    return talven::test::run_talven("--headless --log --timeout 30 " + dir_.string());
  }

  std::string file(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(ScriptBuiltins, MemoryAndStrings) {
  ScriptRun r = run_script("memory_strings.c");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST_F(ScriptBuiltins, NumbersInterpolationAndRectangles) {
  ScriptRun r = run_script("numbers.c");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST_F(ScriptBuiltins, FilesAndTheSaveAtShutDown) {
  ScriptRun r = run_script("files.c");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  EXPECT_EQ(file("out.pak"), std::string("\x61\x63\x70\x00\x00\x00\x00\x03\x30\xC0\xE0\x00", 12));
  // The script changed its block after its last sysio(1): the save at
  // shut-down wrote the change.
  std::string save = file("system.dat");
  ASSERT_EQ(save.size(), 16u);
  std::int32_t words[2];
  std::memcpy(words, save.data(), 8);
  EXPECT_EQ(words[0], 1234);
  EXPECT_EQ(words[1], 4321) << "the system file was not saved at shut-down";
}

}  // namespace
