#include "base/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/save_lock.h"
#include "support/temp_dir.h"

namespace talven {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFile, ASaveRemovesOnlyTheTemporariesOfDeadSavesOfItsTarget) {
  const fs::path dir = test::make_temp_dir("talven_atomic_");
  ASSERT_FALSE(dir.empty());
  const std::string target = (dir / "save.dat").string();
  auto touch = [&](const std::string& name) { std::ofstream(dir / name) << "partial"; };
  touch("save.dat.tmpAb12Cd");   // left by a save that was killed
  touch("save.dat.tmpZZ");       // not a name our saves make
  touch("other.dat.tmpAb12Cd");  // another target's
  touch("save.dat.tmpLive01");   // a save still writing: it holds the lock
  test::HeldSaveLock live((dir / "save.dat.tmpLive01").string());
  ASSERT_TRUE(live.held());

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
  live.release();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace talven
