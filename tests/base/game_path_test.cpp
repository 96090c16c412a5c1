// Game path resolution against a scratch directory tree.
#include "base/game_path.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/host_path.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using talven::host_path_for_write;
using talven::invalidate_path_cache;
using talven::resolve_game_path;

namespace {

// Host paths compared as the host matches names (see support/host_path.h).
template <typename Path>
auto key(const Path& path) {
  return talven::test::host_path_key(path);
}

// A scratch directory that is the current directory while the test runs.
class GamePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    const fs::path made = talven::test::make_temp_dir("talven-path-");
    ASSERT_FALSE(made.empty());
    root_ = fs::canonical(made).string();
    fs::current_path(root_);
    invalidate_path_cache();
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    fs::remove_all(root_);
    invalidate_path_cache();
  }
  void touch(const std::string& rel) {
    fs::path p = fs::path(root_) / talven::test::utf8_path(rel);
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  // The root written the Windows way: "\tmp\talven-path-..." (on Windows
  // "C:\...\talven-path-...").
  std::string root_backslashed() const {
    std::string r = root_;
    for (char& c : r)
      if (c == '/') c = '\\';
    return r;
  }
  // Puts a directory's modification time well in the past, so its listing
  // counts as settled.
  void age(const std::string& rel, int seconds_ago = 100) {
    const auto past = fs::file_time_type::clock::now() - std::chrono::seconds(seconds_ago);
    std::error_code ec;
    fs::last_write_time(fs::path(root_) / rel, std::chrono::floor<std::chrono::seconds>(past), ec);
    ASSERT_FALSE(ec) << ec.message();
  }

  fs::path old_cwd_;
  std::string root_;
};

}  // namespace

TEST_F(GamePathTest, MatchesComponentsWithoutRegardToCase) {
  touch("data/bg/title.png");
  const std::string want = root_ + "/data/bg/title.png";
  EXPECT_EQ(key(resolve_game_path("Data\\BG\\Title.PNG")), key(want));
  EXPECT_EQ(key(resolve_game_path("DATA/bg/TITLE.png")), key(want));
  EXPECT_EQ(key(resolve_game_path("data\\\\bg//title.png")), key(want));  // doubled separators
  EXPECT_EQ(key(resolve_game_path("data\\BG\\")), key(root_ + "/data/bg"));
  EXPECT_EQ(key(resolve_game_path("Data")), key(root_ + "/data"));

  EXPECT_EQ(resolve_game_path("data\\bg\\none.png"), std::nullopt);
  EXPECT_EQ(resolve_game_path("data\\bg\\title.png\\x"), std::nullopt);  // through a file
  EXPECT_EQ(resolve_game_path("data\\bg\\title.png\\"), std::nullopt);   // a file is no folder
  EXPECT_EQ(resolve_game_path(""), std::nullopt);
  EXPECT_EQ(resolve_game_path(std::string_view("data\0x", 6)), std::nullopt);
}

TEST_F(GamePathTest, ExactNameWinsOverCaseVariants) {
  if (talven::test::kHostFoldsCase)
    GTEST_SKIP() << "a folder here cannot hold two names differing only in case";
  touch("Title.png");
  touch("title.png");
  EXPECT_EQ(key(resolve_game_path("Title.png")), key(root_ + "/Title.png"));
  EXPECT_EQ(key(resolve_game_path("title.png")), key(root_ + "/title.png"));
  // No exact match: the first name in byte order.
  EXPECT_EQ(key(resolve_game_path("TITLE.PNG")), key(root_ + "/Title.png"));
}

TEST_F(GamePathTest, FindsCp932NamesInUtf8AndRawForm) {
  touch("表示/画像.png");
  // "表示\画像.PNG" in CP932: 表 ends in the byte '\', which is no separator.
  EXPECT_EQ(key(resolve_game_path("\x95\x5C\x8E\xA6\\\x89\xE6\x91\x9C.PNG")),
            key(root_ + "/表示/画像.png"));

  // A name stored as raw CP932 bytes ("テスト.txt"), where names are bytes.
  if (talven::test::kHostNamesAreBytes) {
    const std::string raw = "\x83\x65\x83\x58\x83\x67.txt";
    touch(raw);
    EXPECT_EQ(resolve_game_path(raw), root_ + "/" + raw);
    EXPECT_EQ(resolve_game_path("\x83\x65\x83\x58\x83\x67.TXT"), root_ + "/" + raw);
  }

  // Full-width letters fold: "ａｂｃ.TXT" finds "ＡＢＣ.txt".
  touch("ＡＢＣ.txt");
  EXPECT_EQ(key(resolve_game_path("\x82\x81\x82\x82\x82\x83.TXT")), key(root_ + "/ＡＢＣ.txt"));
  EXPECT_EQ(resolve_game_path("\x82\x81\x82\x82\x82\x84.TXT"), std::nullopt);
}

TEST_F(GamePathTest, DotsAbsolutePathsAndDrives) {
  touch("data/bg/title.png");
  const std::string want = root_ + "/data/bg/title.png";
  const std::string base = fs::path(root_).filename().string();
  EXPECT_EQ(key(resolve_game_path("data\\.\\BG\\..\\bg\\title.png")), key(want));
  EXPECT_EQ(key(resolve_game_path(".\\data\\..\\data\\bg\\title.png")), key(want));
  EXPECT_EQ(key(resolve_game_path("..\\" + base + "\\DATA")), key(root_ + "/data"));
  EXPECT_EQ(key(resolve_game_path(".")), key(root_));
  // The root written with a drive, and rooted without one.
  const std::string with_drive =
      talven::test::kHostFoldsCase ? root_backslashed() : "C:" + root_backslashed();
  const std::string rooted = with_drive.substr(2);
  EXPECT_EQ(key(resolve_game_path("\\..\\..\\" + rooted.substr(1) + "\\data")),
            key(root_ + "/data"));  // ".." stops at the root

  EXPECT_EQ(key(resolve_game_path(root_ + "/Data/BG/Title.png")), key(want));
  EXPECT_EQ(key(resolve_game_path(root_backslashed() + "\\Data\\BG\\Title.png")), key(want));
  EXPECT_EQ(key(resolve_game_path(with_drive + "\\Data\\BG\\Title.png")), key(want));
  EXPECT_EQ(key(resolve_game_path("c:data\\bg\\title.png")), key(want));  // drive-relative
  EXPECT_EQ(resolve_game_path("C:\\no-such-folder-talven\\a.txt"), std::nullopt);
  EXPECT_EQ(host_path_for_write("C:\\no-such-folder-talven\\a.txt"), "");
  EXPECT_EQ(key(host_path_for_write(with_drive + "\\DATA\\New.txt")), key(root_ + "/data/New.txt"));
  if (talven::test::kHostFoldsCase) return;  // there "C:\\" is the drive's own root
  EXPECT_EQ(resolve_game_path("C:\\"), std::nullopt);
  EXPECT_EQ(host_path_for_write("C:\\"), "");
  EXPECT_EQ(host_path_for_write("C:\\talven-new.txt"), "");  // never the host's root
}

TEST_F(GamePathTest, WritePathsKeepExistingComponents) {
  touch("save/Data.bin");
  EXPECT_EQ(key(host_path_for_write("SAVE\\data.BIN")), key(root_ + "/save/Data.bin"));
  EXPECT_EQ(key(host_path_for_write("Save\\NEW\\File.DAT")), key(root_ + "/save/NEW/File.DAT"));
  EXPECT_EQ(key(host_path_for_write("save\\\x95\x5C.txt")), key(root_ + "/save/表.txt"));
  EXPECT_EQ(key(host_path_for_write("save\\\x85\x40")), key(root_ + "/save/\x85\x40"));  // kept raw
  EXPECT_EQ(key(host_path_for_write("new\\..\\SAVE\\x")), key(root_ + "/save/x"));  // lexical ".."
  EXPECT_EQ(host_path_for_write(""), "");
}

TEST_F(GamePathTest, ListingsAreCachedRevalidatedAndInvalidated) {
  if (talven::test::kHostFoldsCase)
    GTEST_SKIP() << "folders that match names themselves need no cached listing";
  fs::create_directory(root_ + "/cache");
  age("cache");
  EXPECT_EQ(resolve_game_path("cache\\Nothing.txt"), std::nullopt);  // lists "cache"

  // Added behind the cache's back, with the old time put back: still unseen.
  fs::file_time_type listed = fs::last_write_time(root_ + "/cache");
  touch("cache/nothing.TXT");
  fs::last_write_time(root_ + "/cache", listed);
  EXPECT_EQ(resolve_game_path("cache\\Nothing.txt"), std::nullopt);
  // The exact name never depends on the listing.
  EXPECT_EQ(key(resolve_game_path("cache\\nothing.TXT")), key(root_ + "/cache/nothing.TXT"));

  invalidate_path_cache(root_ + "/cache/");
  EXPECT_EQ(key(resolve_game_path("cache\\Nothing.txt")), key(root_ + "/cache/nothing.TXT"));

  // A change of modification time is noticed without being told.
  age("cache");
  EXPECT_EQ(resolve_game_path("cache\\OTHER.txt"), std::nullopt);
  touch("cache/other.TXT");
  EXPECT_EQ(key(resolve_game_path("cache\\OTHER.txt")), key(root_ + "/cache/other.TXT"));

  // A listed name that has gone makes the listing be read again.
  age("cache");
  EXPECT_EQ(key(resolve_game_path("cache\\OTHER.txt")), key(root_ + "/cache/other.TXT"));
  listed = fs::last_write_time(root_ + "/cache");
  fs::remove(root_ + "/cache/other.TXT");
  touch("cache/third.TXT");
  fs::last_write_time(root_ + "/cache", listed);
  EXPECT_EQ(resolve_game_path("cache\\Third.txt"), std::nullopt);  // stale listing
  EXPECT_EQ(resolve_game_path("cache\\OTHER.txt"), std::nullopt);
  EXPECT_EQ(key(resolve_game_path("cache\\Third.txt")), key(root_ + "/cache/third.TXT"));

  // The global reset, and a relative directory name for the same entry.
  touch("cache/fourth.TXT");
  fs::last_write_time(root_ + "/cache", listed);
  EXPECT_EQ(resolve_game_path("cache\\FOURTH.txt"), std::nullopt);
  invalidate_path_cache();
  EXPECT_EQ(key(resolve_game_path("cache\\FOURTH.txt")), key(root_ + "/cache/fourth.TXT"));
  touch("cache/fifth.TXT");
  fs::last_write_time(root_ + "/cache", listed);
  EXPECT_EQ(resolve_game_path("cache\\FIFTH.txt"), std::nullopt);
  invalidate_path_cache("cache");
  EXPECT_EQ(key(resolve_game_path("cache\\FIFTH.txt")), key(root_ + "/cache/fifth.TXT"));

  // "." names the current directory itself.
  touch("Sixth.txt");
  age(".");
  EXPECT_EQ(key(resolve_game_path("SIXTH.txt")), key(root_ + "/Sixth.txt"));
  listed = fs::last_write_time(root_);
  touch("Seventh.txt");
  fs::last_write_time(root_, listed);
  EXPECT_EQ(resolve_game_path("SEVENTH.txt"), std::nullopt);
  invalidate_path_cache("./");
  EXPECT_EQ(key(resolve_game_path("SEVENTH.txt")), key(root_ + "/Seventh.txt"));
}

TEST_F(GamePathTest, ConcurrentResolution) {
  for (int i = 0; i < 20; ++i) touch("dir" + std::to_string(i) + "/File.DAT");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < 200; ++n) {
        int i = (n + t) % 20;
        auto r = resolve_game_path("DIR" + std::to_string(i) + "\\file.dat");
        if (key(r) != key(root_ + "/dir" + std::to_string(i) + "/File.DAT")) ++wrong;
        if (t == 0 && n % 10 == 0) invalidate_path_cache();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}
