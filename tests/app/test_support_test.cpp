// The helpers the tests share (tests/support): scratch folders, the
// environment setter, running the binary and capping file sizes. A fault
// here would make other tests pass or fail for the wrong reason.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/env.h"
#include "support/file_size_cap.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace talven::test;

const fs::path kHeader =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "sdk" / "talven.h";

TEST(TestSupport, TempDirsAreFreshEmptyAndDistinct) {
  const fs::path a = make_temp_dir("talven_support_");
  const fs::path b = make_temp_dir("talven_support_");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_TRUE(fs::is_directory(a));
  EXPECT_TRUE(fs::is_empty(a));
  // Compared with a closing separator each: Windows names the folder with one.
  EXPECT_EQ((a.parent_path() / "").lexically_normal(),
            (fs::temp_directory_path() / "").lexically_normal());
  EXPECT_EQ(a.filename().string().rfind("talven_support_", 0), 0u);
  fs::remove_all(a);
  fs::remove_all(b);
}

TEST(TestSupport, EnvironmentIsSetAndCleared) {
  ASSERT_TRUE(set_env("TALVEN_SUPPORT_TEST", "one two"));
  ASSERT_NE(std::getenv("TALVEN_SUPPORT_TEST"), nullptr);
  EXPECT_STREQ(std::getenv("TALVEN_SUPPORT_TEST"), "one two");
  ASSERT_TRUE(set_env("TALVEN_SUPPORT_TEST", "three"));
  EXPECT_STREQ(std::getenv("TALVEN_SUPPORT_TEST"), "three");
  ASSERT_TRUE(unset_env("TALVEN_SUPPORT_TEST"));
  EXPECT_EQ(std::getenv("TALVEN_SUPPORT_TEST"), nullptr);
}

// The exit status comes back as the program's own number, and what it
// writes to standard error is in the output too.
TEST(TestSupport, RunsTheBinaryWithItsStatusAndBothOutputs) {
  const fs::path dir = make_temp_dir("talven_support_run_");
  ASSERT_FALSE(dir.empty());
  std::ofstream(dir / "Quest.cfg") << "[General]\nFileSystem=3\n[Script]\nLoad=main.c\n";
  std::ofstream(dir / "main.c") << "int main() { return 42; }\n";
  const BinaryRun ran = run_talven("--headless --timeout 20 " + dir.string());
  EXPECT_EQ(ran.status, 42) << ran.out;

  const BinaryRun missing = run_talven("--headless --timeout 20 " + (dir / "none").string());
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.out, "");  // the reason, written to standard error
  EXPECT_EQ(missing.out.find('\r'), std::string::npos);
  fs::remove_all(dir);
}

TEST(TestSupport, ABackgroundRunEndsWhenStopped) {
  const fs::path dir = make_temp_dir("talven_support_bg_");
  ASSERT_FALSE(dir.empty());
  fs::copy_file(kHeader, dir / "talven.h");
  std::ofstream(dir / "Quest.cfg")
      << "[General]\nFileSystem=3\nMultiInstance=1\n[Script]\nLoad=main.c\n";
  std::ofstream(dir / "main.c")
      << "#include \"talven.h\"\nint main() { sleep(20000); return 9; }\n";
  BackgroundTalven run;
  ASSERT_TRUE(run.start({"--headless", "--timeout", "30", dir.string()}));
  EXPECT_TRUE(run.running());
  EXPECT_FALSE(run.start({"--headless", dir.string()}));  // one at a time
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(run.wait(std::chrono::milliseconds(0)), -1);  // still sleeping: killed now
  run.stop();
  EXPECT_FALSE(run.running());
  fs::remove_all(dir);
}

TEST(TestSupport, ABackgroundRunIsWaitedForOrKilledAtTheLimit) {
  const fs::path dir = make_temp_dir("talven_support_wait_");
  ASSERT_FALSE(dir.empty());
  fs::copy_file(kHeader, dir / "talven.h");
  std::ofstream(dir / "Quest.cfg")
      << "[General]\nFileSystem=3\nMultiInstance=1\n[Script]\nLoad=main.c\n";
  std::ofstream(dir / "main.c") << "int main() { return 6; }\n";
  BackgroundTalven quick;
  ASSERT_TRUE(quick.start({"--headless", "--timeout", "20", (dir / "none").string()},
                          (dir / "out.log").string()));
  EXPECT_NE(quick.wait(std::chrono::seconds(20)), 0);
  EXPECT_FALSE(quick.running());
  {
    // Closed again before the folder goes: Windows deletes no open file.
    std::ifstream log(dir / "out.log");
    std::string first_line;
    EXPECT_TRUE(std::getline(log, first_line));  // the reason went to the file
    EXPECT_NE(first_line, "");
  }

  ASSERT_TRUE(quick.start({"--headless", "--timeout", "20", dir.string()}));
  EXPECT_EQ(quick.wait(std::chrono::seconds(20)), 6);

  std::ofstream(dir / "main.c")
      << "#include \"talven.h\"\nint main() { sleep(20000); return 9; }\n";
  BackgroundTalven slow;
  ASSERT_TRUE(slow.start({"--headless", "--timeout", "30", dir.string()}));
  EXPECT_EQ(slow.wait(std::chrono::milliseconds(200)), -1);
  EXPECT_FALSE(slow.running());
  fs::remove_all(dir);
}

TEST(TestSupport, AFileSizeCapFailsLargerWritesUntilLifted) {
  const fs::path dir = make_temp_dir("talven_support_cap_");
  ASSERT_FALSE(dir.empty());
  const std::string big(64 * 1024, 'x');
  {
    FileSizeCap cap(8192);
#ifdef _WIN32
    if (!cap.active()) {
      fs::remove_all(dir);
      GTEST_SKIP() << "no per-process file size limit on Windows";
    }
#endif
    ASSERT_TRUE(cap.active());
    std::ofstream out(dir / "capped.bin", std::ios::binary);
    out.write(big.data(), static_cast<std::streamsize>(big.size()));
    out.flush();
    EXPECT_FALSE(out.good());
  }
  std::ofstream out(dir / "free.bin", std::ios::binary);
  out.write(big.data(), static_cast<std::streamsize>(big.size()));
  out.flush();
  EXPECT_TRUE(out.good());
  out.close();
  EXPECT_EQ(fs::file_size(dir / "free.bin"), big.size());
  fs::remove_all(dir);
}

}  // namespace
