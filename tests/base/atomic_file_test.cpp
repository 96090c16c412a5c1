#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace talven {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, ASaveRemovesOnlyTheTemporariesOfDeadSavesOfItsTarget) {
  const fs::path dir = fs::temp_directory_path() / ("talven_atomic_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string target = (dir / "save.dat").string();
  auto touch = [&](const std::string& name) { std::ofstream(dir / name) << "partial"; };
  touch("save.dat.tmpAb12Cd");   // left by a save that was killed
  touch("save.dat.tmpZZ");       // not a name our saves make
  touch("other.dat.tmpAb12Cd");  // another target's
  touch("save.dat.tmpLive01");   // a save still writing: it holds the lock
  int live = ::open((dir / "save.dat.tmpLive01").c_str(), O_RDONLY);
  ASSERT_GE(live, 0);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);

  ASSERT_TRUE(write_file_atomic(target, "new contents"));
  std::string back;
  ASSERT_TRUE(read_file(target, back));
  EXPECT_EQ(back, "new contents");
  EXPECT_FALSE(fs::exists(dir / "save.dat.tmpAb12Cd"));
  EXPECT_TRUE(fs::exists(dir / "save.dat.tmpZZ"));
  EXPECT_TRUE(fs::exists(dir / "other.dat.tmpAb12Cd"));
  EXPECT_TRUE(fs::exists(dir / "save.dat.tmpLive01"));
  // The save's own temporary file is gone after the rename.
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir))
    files += e.path().filename().string().rfind("save.dat.tmp", 0) == 0;
  EXPECT_EQ(files, 2);
  ::close(live);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace talven
