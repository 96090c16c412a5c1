// Wildcards, 8.3 names, the file-time conversions and the records that
// find_first / find_next fill.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "lib/builtin_call.h"
#include "lib/system/file_search.h"
#include "lib/system/system_builtins.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace talven;
using namespace talven::lib;
using lib::system::wildcard_match;
using lib::test::bind;
using lib::test::call;
using lib::test::put;

TEST(Wildcards, StarQuestionAndCase) {
  EXPECT_TRUE(wildcard_match("*", "anything.txt"));
  EXPECT_TRUE(wildcard_match("*.TXT", "readme.txt"));
  EXPECT_FALSE(wildcard_match("*.txt", "readme.txt.bak"));
  EXPECT_TRUE(wildcard_match("save??.dat", "save01.dat"));
  EXPECT_FALSE(wildcard_match("save??.dat", "save123.dat"));
  EXPECT_TRUE(wildcard_match("a*b*c", "aXXbYYc"));
  EXPECT_FALSE(wildcard_match("a*b*c", "aXXbYYd"));
  EXPECT_TRUE(wildcard_match("Data.Bin", "data.bin"));
  EXPECT_FALSE(wildcard_match("data.bin", "data.bi"));
}

TEST(Wildcards, DotRulesOfThePlatform) {
  // "*.*" matches names with and without a dot; "*." only names without one.
  EXPECT_TRUE(wildcard_match("*.*", "noext"));
  EXPECT_TRUE(wildcard_match("*.*", "a.b.c"));
  EXPECT_TRUE(wildcard_match("*.", "noext"));
  EXPECT_FALSE(wildcard_match("*.", "has.ext"));
  EXPECT_TRUE(wildcard_match("abc.*", "abc"));
  EXPECT_TRUE(wildcard_match("abc.*", "abc.def"));
  // A ? may stand for nothing at a dot or at the end, never for the dot.
  EXPECT_TRUE(wildcard_match("a???.txt", "a.txt"));
  EXPECT_TRUE(wildcard_match("file?", "file"));
  EXPECT_FALSE(wildcard_match("a?c", "a.c"));
  // The star before a dot stops at the name's last dot.
  EXPECT_TRUE(wildcard_match("*.gz", "x.tar.gz"));
  EXPECT_FALSE(wildcard_match("*.tar", "x.tar.gz"));
}

TEST(Wildcards, TwoByteCharactersAreOneCharacter) {
  const std::string kanji = "\x8A\xBF\x8E\x9A";  // two kanji
  const std::string fullwidth_a = "\x82\x60", fullwidth_lower_a = "\x82\x81";
  EXPECT_TRUE(wildcard_match("??", kanji));
  EXPECT_FALSE(wildcard_match("???", kanji + "x.y"));
  EXPECT_TRUE(wildcard_match("?" + std::string("\x8E\x9A"), kanji));
  EXPECT_TRUE(wildcard_match(fullwidth_a, fullwidth_lower_a));
  // A trail byte equal to '*' or '?' is not a wildcard: 0x83 0x3F is one character.
  EXPECT_FALSE(wildcard_match("\x83\x3F", "ab"));
  EXPECT_TRUE(wildcard_match("\x83\x3F", "\x83\x3F"));
}

TEST(ShortNames, GeneratedOnlyForLongNames) {
  EXPECT_EQ(system::short_name("README.TXT"), "");
  EXPECT_EQ(system::short_name("save1.dat"), "");
  EXPECT_EQ(system::short_name("LongFileName.text"), "LONGFI~1.TEX");
  EXPECT_EQ(system::short_name("my file.txt"), "MYFILE~1.TXT");
  EXPECT_EQ(system::short_name("a.b.c"), "AB~1.C");
  EXPECT_EQ(system::short_name("."), "");
}

TEST(FileTimes, EpochsAndLocalTimeRoundTrip) {
  EXPECT_EQ(system::filetime_from_unix(0, 0), 116444736000000000ull);
  EXPECT_EQ(system::filetime_from_unix(1, 500), 116444736010000005ull);
  std::int64_t s, ns;
  system::unix_from_filetime(116444736010000005ull, s, ns);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(ns, 500);

  system::SystemTime t{2024, 2, 0, 29, 13, 45, 30, 250};
  ASSERT_TRUE(system::moment_of_local_time(t, s, ns));
  system::SystemTime back{};
  ASSERT_TRUE(system::local_system_time(s, ns, back));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 2);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.day_of_week, 4);  // a Thursday
  EXPECT_EQ(back.hour, 13);
  EXPECT_EQ(back.minute, 45);
  EXPECT_EQ(back.second, 30);
  EXPECT_EQ(back.milliseconds, 250);
  // Invalid records are refused rather than normalised.
  system::SystemTime bad = t;
  bad.day = 30;
  EXPECT_FALSE(system::moment_of_local_time(bad, s, ns));
  bad = t;
  bad.month = 13;
  EXPECT_FALSE(system::moment_of_local_time(bad, s, ns));
  bad = t;
  bad.milliseconds = 1000;
  EXPECT_FALSE(system::moment_of_local_time(bad, s, ns));
}

class FindFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = talven::test::make_temp_dir("talven_find_");
    ASSERT_FALSE(dir_.empty());
    fs::create_directories(dir_ / "Sub");
    std::ofstream(dir_ / "b.txt") << "12345";
    std::ofstream(dir_ / "A.TXT") << "1";
    std::ofstream(dir_ / ".hidden") << "";
    std::ofstream(dir_ / "LongFileName.data") << std::string(70000, 'x');
    fs::permissions(dir_ / "b.txt",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    record_ = script_alloc(320);
  }
  void TearDown() override {
    script_free(record_);
    std::error_code ignored;
    fs::permissions(dir_ / "b.txt", fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }
  std::string name() { return lib::test::text_at(record_ + 44); }
  std::uint32_t u32(std::uint32_t at) { return *load32(record_ + at); }

  fs::path dir_;
  Addr record_ = 0;
};

TEST_F(FindFiles, RecordsInOrderWithTheirFields) {
  Addr pattern = put(dir_.string() + "/*.txt");
  std::int32_t h = static_cast<std::int32_t>(call(bind<&bi_find_first>, {pattern, record_}));
  ASSERT_GT(h, 0);
  EXPECT_EQ(name(), "A.TXT");
  EXPECT_EQ(u32(0), system::kAttrArchive);
  EXPECT_EQ(u32(32), 1u);                            // size low
  EXPECT_EQ(u32(28), 0u);                            // size high
  EXPECT_EQ(lib::test::text_at(record_ + 304), "");  // already an 8.3 name
  ASSERT_EQ(call(bind<&bi_find_next>, {static_cast<std::uint32_t>(h), record_}), 1u);
  EXPECT_EQ(name(), "b.txt");
  EXPECT_EQ(u32(0), system::kAttrArchive | system::kAttrReadOnly);
  EXPECT_EQ(u32(32), 5u);
  // The write time is a FILETIME after 2020.
  const std::uint64_t written = u32(20) | (std::uint64_t(u32(24)) << 32);
  EXPECT_GT(written, system::filetime_from_unix(1577836800, 0));
  EXPECT_EQ(call(bind<&bi_find_next>, {static_cast<std::uint32_t>(h), record_}), 0u);
  EXPECT_EQ(call(bind<&bi_find_close>, {static_cast<std::uint32_t>(h)}), 1u);
  EXPECT_EQ(call(bind<&bi_find_close>, {static_cast<std::uint32_t>(h)}), 0u);
  EXPECT_EQ(call(bind<&bi_find_next>, {static_cast<std::uint32_t>(h), record_}), 0u);
}

TEST_F(FindFiles, DotEntriesFoldersHiddenAndShortNames) {
  Addr pattern = put(dir_.string() + "\\*");
  std::int32_t h = static_cast<std::int32_t>(call(bind<&bi_find_first>, {pattern, record_}));
  ASSERT_GT(h, 0);
  std::vector<std::string> names{name()};
  std::map<std::string, std::uint32_t> attrs{{name(), u32(0)}};
  std::map<std::string, std::string> alts;
  while (call(bind<&bi_find_next>, {static_cast<std::uint32_t>(h), record_})) {
    names.push_back(name());
    attrs[name()] = u32(0);
    alts[name()] = lib::test::text_at(record_ + 304);
  }
  call(bind<&bi_find_close>, {static_cast<std::uint32_t>(h)});
  ASSERT_EQ(names.size(), 7u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");
  EXPECT_EQ(attrs["Sub"], system::kAttrDirectory);
  EXPECT_EQ(attrs[".hidden"], system::kAttrHidden | system::kAttrArchive);
  EXPECT_EQ(alts["LongFileName.data"], "LONGFI~1.DAT");
}

TEST_F(FindFiles, FailuresAndSizes) {
  // Nothing matches, a missing folder, a record that does not fit.
  EXPECT_EQ(call(bind<&bi_find_first>, {put(dir_.string() + "/*.none"), record_}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_find_first>, {put(dir_.string() + "/missing/*"), record_}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_find_first>, {put(dir_.string() + "/*"), lib::test::bad_address()}),
            0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_find_first>, {0, record_}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_find_first>, {put(std::string(300, 'a')), record_}), 0xFFFFFFFFu);
  // file_size and file_check take the first match.
  EXPECT_EQ(call(bind<&bi_file_size>, {put(dir_.string() + "/long*")}), 70000u);
  EXPECT_EQ(call(bind<&bi_file_size>, {put(dir_.string() + "/*.none")}), 0u);
  EXPECT_EQ(call(bind<&bi_file_check>, {put(dir_.string() + "/B.TXT")}), 1u);
  EXPECT_EQ(call(bind<&bi_file_check>, {put(dir_.string() + "/c.txt")}), 0u);
  // Handles run out at 256 open searches.
  std::vector<std::uint32_t> handles;
  for (int i = 0; i < 256; ++i)
    handles.push_back(call(bind<&bi_find_first>, {put(dir_.string() + "/*"), record_}));
  EXPECT_EQ(call(bind<&bi_find_first>, {put(dir_.string() + "/*"), record_}), 0xFFFFFFFFu);
  for (std::uint32_t h : handles) EXPECT_EQ(call(bind<&bi_find_close>, {h}), 1u);
}

}  // namespace
