// Recorded input replayed into headless runs of the real binary: the
// scripts in tests/scripts/input check what the input builtins return at
// each frame and return the number of failed checks. A malformed input
// file is refused with its line named, and the run goes on without it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kTests = fs::path(TALVEN_TEST_DATA).parent_path();
const fs::path kScripts = kTests / "scripts" / "input";

class ScriptReplay : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
    dir_ = fs::temp_directory_path() /
           ("talven_input_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kTests.parent_path() / "sdk" / "talven.h", dir_ / "talven.h");
    fs::copy_file(kTests / "scripts" / "lib" / "check.h", dir_ / "check.h");
  }
  void TearDown() override { fs::remove_all(dir_); }

  talven::test::BinaryRun run(const std::string& script, const std::string& input,
                              const std::string& config) {
    std::ofstream(dir_ / "Quest.cfg") << "[General]\nFileSystem=3\n"
                                      << config << "[Script]\nLoad=main.c\n";
    fs::copy_file(kScripts / script, dir_ / "main.c", fs::copy_options::overwrite_existing);
    return talven::test::run_talven("--headless --log --timeout 30 --input " + input + " " +
                                    dir_.string());
  }
  fs::path dir_;
};

TEST_F(ScriptReplay, PlainBackEnd) {
  auto r =
      run("replay_plain.c", (kScripts / "plain.txt").string(), "[Screen]\nWidth=640\nHeight=480\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST_F(ScriptReplay, DirectInputBackEnd) {
  auto r = run("replay_direct.c", (kScripts / "direct.txt").string(),
               "[System]\nDirectInput=1\n[Screen]\nWidth=640\nHeight=480\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST_F(ScriptReplay, MalformedOrMissingFilesAreRefusedByLine) {
  std::ofstream(dir_ / "bad.txt") << "frame 1 key down A\nframe 2 key down NoSuchKey\n";
  std::ofstream(dir_ / "Quest.cfg") << "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n";
  std::ofstream(dir_ / "main.c")
      << "#include \"talven.h\"\nint main() { char k[256]; update(0); update(0);"
         " getkey(k); return k[0x41] == 0 ? 7 : 8; }\n";
  auto r = talven::test::run_talven("--headless --timeout 30 --input " +
                                    (dir_ / "bad.txt").string() + " " + dir_.string());
  EXPECT_EQ(r.status, 7) << r.out;  // the run went on, without the file's events
  EXPECT_NE(r.out.find("line 2: unknown key 'NoSuchKey'"), std::string::npos) << r.out;

  r = talven::test::run_talven("--headless --timeout 30 --input " + (dir_ / "none.txt").string() +
                               " " + dir_.string());
  EXPECT_EQ(r.status, 7) << r.out;
  EXPECT_NE(r.out.find("cannot read the input file"), std::string::npos) << r.out;
}

// A title screen that presents one frame and then only reads the keys: an
// event for a later frame never comes, and the end of the run by --timeout
// names the waiting line; the same event by the game clock goes through.
TEST_F(ScriptReplay, AReplayWaitingForAFrameThatNeverComesIsNamedAtTheTimeout) {
  std::ofstream(dir_ / "Quest.cfg") << "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n";
  std::ofstream(dir_ / "main.c")
      << "#include \"talven.h\"\nint main() { char k[256]; setcount(0, 0); update(0);\n"
         " for (;;) { getkey(k); if (k[0x41] & 0x80) return getcount(0) >= 150 ? 5 : 6;"
         " sleep(10); } }\n";
  std::ofstream(dir_ / "by_frame.txt") << "# press A on the title screen\nframe 3 key down A\n";
  std::ofstream(dir_ / "by_time.txt") << "time 300 key down A\n";

  auto r = talven::test::run_talven("--headless --timeout 1.5 --input " +
                                    (dir_ / "by_frame.txt").string() + " " + dir_.string());
  EXPECT_EQ(r.status, 124) << r.out;
  EXPECT_NE(r.out.find("line 2 (frame 3)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("only 1 frame was presented"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("'time MS'"), std::string::npos) << r.out;

  r = talven::test::run_talven("--headless --timeout 30 --input " +
                               (dir_ / "by_time.txt").string() + " " + dir_.string());
  EXPECT_EQ(r.status, 5) << r.out << " (6: 'time 300' came before 300 ms of the run)";
  EXPECT_EQ(r.out.find("waits at"), std::string::npos) << r.out;
}

}  // namespace
