#include "base/host_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace talven::host_file {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path dir = ::talven::test::make_temp_dir("talven_host_file_");
  ~TempDir() {
    if (!dir.empty()) fs::remove_all(dir);
  }
  std::string path(const char* name) const { return (dir / name).string(); }
  int temporaries_of(const std::string& name) const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir))
      n += is_temporary_of(e.path().filename().string(), name);
    return n;
  }
};

TEST(HostFile, TemporaryNamesAreTheTargetsNameAndSixLettersOrDigits) {
  EXPECT_TRUE(is_temporary_of("save.dat.tmpAb12Cd", "save.dat"));
  EXPECT_FALSE(is_temporary_of("save.dat.tmpAb12C", "save.dat"));    // too short
  EXPECT_FALSE(is_temporary_of("save.dat.tmpAb12Cde", "save.dat"));  // too long
  EXPECT_FALSE(is_temporary_of("save.dat.tmpAb-2Cd", "save.dat"));   // not a letter or digit
  EXPECT_FALSE(is_temporary_of("save.dat.bakAb12Cd", "save.dat"));
  EXPECT_FALSE(is_temporary_of("other.da.tmpAb12Cd", "save.dat"));
}

TEST(HostFile, ASaveReplacesOnlyOnCommitAndLeavesNoTemporaryEitherWay) {
  TempDir t;
  const std::string target = t.path("save.dat");
  std::ofstream(target) << "old";
  {
    SaveTemporary out;
    ASSERT_TRUE(out.create(target));
    ASSERT_TRUE(out.write("new", 3));
    EXPECT_EQ(t.temporaries_of("save.dat"), 1);
  }  // destroyed without commit
  std::string back;
  std::ifstream(target) >> back;
  EXPECT_EQ(back, "old");
  EXPECT_EQ(t.temporaries_of("save.dat"), 0);

  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  SaveTemporary out;
  ASSERT_TRUE(out.create(target));
  ASSERT_TRUE(out.write("newer", 5));
  ASSERT_TRUE(out.commit());
  EXPECT_FALSE(out.is_open());
  std::ifstream(target) >> back;
  EXPECT_EQ(back, "newer");
  EXPECT_EQ(t.temporaries_of("save.dat"), 0);
#ifndef _WIN32  // Windows files have no such permission bits to keep
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::mask,
            fs::perms::owner_read | fs::perms::owner_write);  // the replaced file's permissions
#endif
}

TEST(HostFile, ASaveIntoAMissingFolderFailsWithItsReason) {
  TempDir t;
  SaveTemporary out;
  errno = 0;
  EXPECT_FALSE(out.create(t.path("missing/save.dat")));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(out.write("x", 1));
  EXPECT_FALSE(out.commit());
}

TEST(HostFile, ReadsByOffsetAndByPositionAndDescribesTheFile) {
  TempDir t;
  const std::string name = t.path("data.bin");
  std::ofstream(name, std::ios::binary) << "0123456789";
  const int h = open_read(name);
  ASSERT_GE(h, 0);
  char buf[8] = {};
  EXPECT_EQ(read_at(h, buf, 3, 4), 3);
  EXPECT_EQ(std::string(buf, 3), "456");
  EXPECT_EQ(read_at(h, buf, 8, 8), 2);  // short at the end
  EXPECT_EQ(read_at(h, buf, 8, 10), 0);
  EXPECT_EQ(seek(h, 7, SEEK_SET), 7);
  EXPECT_EQ(read(h, buf, 8), 3);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(read(h, buf, 8), 0);
  Info by_handle, by_path;
  ASSERT_TRUE(info_of(h, by_handle));
  ASSERT_TRUE(info_of_path(name, by_path));
  EXPECT_TRUE(by_handle.regular);
  EXPECT_FALSE(by_handle.directory);
  EXPECT_EQ(by_handle.size, 10u);
  EXPECT_EQ(by_handle.file_id, by_path.file_id);
  EXPECT_EQ(by_handle.device, by_path.device);
  close(h);

  Info folder;
  ASSERT_TRUE(info_of_path(t.dir.string(), folder));
  EXPECT_TRUE(folder.directory);
  EXPECT_FALSE(info_of_path(t.path("absent"), folder));
  EXPECT_LT(open_read(t.path("absent")), 0);
}

TEST(HostFile, EntriesSeeLinksThatPathsFollow) {
  TempDir t;
  std::ofstream(t.path("real.ini")) << "x";
  std::error_code made;
  fs::create_symlink(t.path("real.ini"), t.path("link.ini"), made);
#ifdef _WIN32
  if (made) GTEST_SKIP() << "making symbolic links needs extra rights on Windows";
#endif
  ASSERT_FALSE(made) << made.message();
  Info entry, followed;
  ASSERT_TRUE(info_of_entry(t.path("link.ini"), entry));
  ASSERT_TRUE(info_of_path(t.path("link.ini"), followed));
  EXPECT_TRUE(entry.link);
  EXPECT_FALSE(followed.link);
  EXPECT_TRUE(followed.regular);
  EXPECT_EQ(real_path(t.path("link.ini")), fs::canonical(t.path("real.ini")).string());

  auto names = list_directory(t.dir.string());
  ASSERT_TRUE(names);
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"link.ini", "real.ini"}));
  EXPECT_FALSE(list_directory(t.path("absent")));
}

TEST(HostFile, ASpoolReadsBackWhatWasWritten) {
  const int h = open_spool();
  ASSERT_GE(h, 0);
  ASSERT_TRUE(write_all(h, "spooled", 7));
  ASSERT_EQ(seek(h, 0, SEEK_SET), 0);
  char buf[16] = {};
  EXPECT_EQ(read(h, buf, sizeof buf), 7);
  EXPECT_EQ(std::string(buf, 7), "spooled");
  close(h);
}

}  // namespace
}  // namespace talven::host_file
