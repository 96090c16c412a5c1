// Script threads and flow builtins from real scripts: each game folder gets
// the builtin header, the check helper and the scripts of
// tests/scripts/runtime, and runs headless in the real binary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();

class ScriptRuntime : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("talven_rt_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kSource / "sdk" / "talven.h", dir_ / "talven.h");
    fs::copy_file(kSource / "tests" / "scripts" / "lib" / "check.h", dir_ / "check.h");
    for (const auto& e : fs::directory_iterator(kSource / "tests" / "scripts" / "runtime")) {
      fs::copy_file(e.path(), dir_ / e.path().filename());
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `script` as the main script; returns the exit status, output in out_.
  int run(const std::string& script) {
    std::ofstream(dir_ / "Quest.cfg")
        << "[General]\nFileSystem=3\n[Script]\nLoad=" << script << "\n";
    talven::test::BinaryRun r =
        talven::test::run_talven("--headless --log --timeout 60 " + dir_.string());
    out_ = r.out;
    return r.status;
  }

  fs::path dir_;
  std::string out_;
};

TEST_F(ScriptRuntime, ThreadsSleepSuspendResumeAndEndEachOther) {
  EXPECT_EQ(run("threads.c"), 0) << out_;
  EXPECT_EQ(out_.find("FAIL"), std::string::npos) << out_;
}

TEST_F(ScriptRuntime, CallJumpSetjmpAndCounters) {
  EXPECT_EQ(run("flow.c"), 0) << out_;
  EXPECT_EQ(out_.find("FAIL"), std::string::npos) << out_;
}

TEST_F(ScriptRuntime, JumpReplacesTheMainScriptAndExitEndsTheProgram) {
  EXPECT_EQ(run("jumper.c"), 7) << out_;  // sub.c's result, not jumper's 3
  EXPECT_EQ(run("exiter.c"), 0) << out_;  // exit closes before main returns 9
}

}  // namespace
