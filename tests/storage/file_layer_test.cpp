// The file layer: where files are looked for, archive entries as files, and
// damaged archives.
#include "storage/file_layer.h"

#include <cstdio>

#include "base/cp932.h"
#include "storage/archive.h"
#include "storage/compressed.h"
#include "storage/storage_test_util.h"

namespace talven::storage {
namespace {

using test::make_archive;
using test::raw_archive;
using test::RawEntry;
using test::write_host_file;

const std::string kOpenFailed = "ファイルのオープンに失敗しました。FILE - ";
const std::string kReadFailed = "ファイルの読み込みに失敗しました。FILE - ";
const std::string kSeekFailed = "ファイルのシークに失敗しました。FILE - ";

class FileLayerTest : public test::StorageTest {
 protected:
  // The whole content of a data file, or "<none>" when it does not open.
  std::string contents(std::string_view path) {
    std::string out;
    return ReadWholeExpFile(path, out) ? out : "<none>";
  }
};

TEST(ArchiveKeystream, MatchesTheKnownWords) {
  ArchiveKeystream keys{0x12345678};
  EXPECT_EQ(keys.next(), 0x0C455846u);
  EXPECT_EQ(keys.next(), 0x0485F54Cu);
  EXPECT_EQ(keys.next(), 0xC7DEFFC7u);
  // Jumping ahead lands where stepping does.
  for (std::uint32_t seed : {0u, 0x12345678u, 0xFFFFFFFFu}) {
    ArchiveKeystream step{seed};
    for (std::uint64_t n = 0; n <= 200000; ++n) {
      if (n < 3000 || n % 9973 == 0) {
        ASSERT_EQ(archive_keystream_after(seed, n), step.state) << n;
      }
      step.next();
    }
  }
}

TEST(ArchiveNames, SortCaseInsensitivelyWithSeparatorsApart) {
  EXPECT_EQ(compare_entry_names("BG/Title.PNG", "bg/title.png"), 0);
  EXPECT_NE(compare_entry_names("bg\\title.png", "bg/title.png"), 0);
  EXPECT_LT(compare_entry_names("_", "A"), 0);  // capitals fold to small letters (0x61)
  EXPECT_LT(compare_entry_names("ab", "abc"), 0);
  EXPECT_GT(compare_entry_names("b", "ABC"), 0);
  // Full-width small letters compare as their capitals; double-byte codes
  // sort above single bytes.
  EXPECT_EQ(compare_entry_names("\x82\x81", "\x82\x60"), 0);
  EXPECT_LT(compare_entry_names("z", "\x82\x60"), 0);
  EXPECT_LT(compare_entry_names("\x82\x60", "\x88\x9f"), 0);
}

TEST_F(FileLayerTest, SearchesLooseThenEachArchiveInTurn) {
  write_host_file("data/bg/title.png", "loose");
  write_host_file("data.bin", make_archive({{"bg/title.png", "outer"}, {"bg/zzz.png", "z"}}));
  write_host_file("data/bg.bin", make_archive({{"other.png", "o"}, {"title.png", "inner"}}));

  config().FileSystem = 3;
  EXPECT_EQ(contents("data/bg/title.png"), "loose");
  config().FileSystem = 1;  // archives only: the loose file is never read
  EXPECT_EQ(contents("data/bg/title.png"), "outer");
  EXPECT_EQ(contents("data/bg/other.png"), "o");  // not in data.bin: on to data/bg.bin
  config().FileSystem = 2;
  EXPECT_EQ(contents("data/bg/other.png"), "<none>");
  EXPECT_EQ(take_messages(), std::vector<std::string>{kOpenFailed + "data/bg/other.png"});
  for (int mode : {0, 4}) {
    config().FileSystem = mode;  // neither bit: both places
    EXPECT_EQ(file_system_mode(), 3);
    EXPECT_EQ(contents("data/bg/title.png"), "loose");
    EXPECT_EQ(contents("data/bg/other.png"), "o");
  }
  // Names are matched without regard to case, archive names included; the
  // separator in an entry name must match.
  config().FileSystem = 1;
  EXPECT_EQ(contents("DATA/BG/Title.PNG"), "outer");
  EXPECT_EQ(contents("data\\BG\\TITLE.png"),
            "inner");  // data.bin holds bg/title.png, not bg\title.png
  std::filesystem::remove("data/bg.bin");
  EXPECT_EQ(contents("data/bg\\title.png"), "<none>");
  EXPECT_EQ(contents("data/bg/title.png"), "outer");
  EXPECT_EQ(take_messages(), std::vector<std::string>{kOpenFailed + "data/bg\\title.png"});
}

TEST_F(FileLayerTest, OnlySeparatorsAfterTheFirstCharacterSplit) {
  write_host_file(".bin", make_archive({{"a.png", "x"}}));
  write_host_file("a.bin", make_archive({{"b.png", "y"}}));
  EXPECT_EQ(contents("a.png"), "<none>");
  EXPECT_EQ(contents("\\a.png"), "<none>");
  EXPECT_EQ(contents("/a.png"), "<none>");
  EXPECT_EQ(contents("a/"), "<none>");
  EXPECT_EQ(contents("a/b.png"), "y");
  EXPECT_EQ(take_messages().size(), 4u);
  // The trail byte of a double-byte character is not a separator: "\x95\x5C"
  // is one character, so "\x95\x5C" "abc/x.txt" is looked for in the archive
  // named after "\x95\x5C" "abc", never in one named "\x95".
  write_host_file("\x95.bin", make_archive({{"abc/x.txt", "wrong"}}));
  write_host_file(*cp932::to_utf8("\x95\x5C"
                                  "abc.bin"),
                  make_archive({{"x.txt", "right"}}));
  EXPECT_EQ(contents("\x95\x5C"
                     "abc/x.txt"),
            "right");
}

TEST_F(FileLayerTest, BadArchivesStopOrPassTheSearch) {
  write_host_file("data/bg.bin", make_archive({{"title.png", "inner"}}));
  // count 0: nothing found there, the search goes on.
  write_host_file("data.bin", raw_archive(5, 0, 0, {}, ""));
  EXPECT_EQ(contents("data/bg/title.png"), "inner");
  EXPECT_TRUE(take_messages().empty());
  // A wrong magic ends the search even though data/bg.bin holds the file.
  write_host_file("data.bin", raw_archive(5, 0, 0, {}, "", "", "TLV-ARC1"));
  EXPECT_EQ(contents("data/bg/title.png"), "<none>");
  write_host_file("data.bin", "TLV-ARC2");  // short header
  EXPECT_EQ(contents("data/bg/title.png"), "<none>");
  EXPECT_EQ(take_messages(), (std::vector<std::string>{kReadFailed + "data/bg/title.png",
                                                       kReadFailed + "data/bg/title.png"}));
}

TEST_F(FileLayerTest, DamagedArchivesFailCleanly) {
  const std::string names("a\0b\0c\0", 6);
  const std::string data = "AAABBBCCC";
  const std::uint32_t start = 20 + 36 + 6;
  auto archive = [&](std::uint32_t count, std::uint32_t names_size, std::vector<RawEntry> e,
                     std::string_view block) {
    return raw_archive(77, count, names_size, e, block, data);
  };
  const std::vector<RawEntry> good = {{0, start, 3}, {2, start + 3, 3}, {4, start + 6, 3}};
  write_host_file("d.bin", archive(3, 6, good, names));
  EXPECT_EQ(contents("d/c"), "CCC");

  struct Case {
    const char* what;
    std::string image;
    std::string message;  // "" for a plain not-found
  };
  std::vector<RawEntry> far_name = good, no_end = good, far_data = good, long_data = good;
  far_name[1].name_offset = 6;
  no_end[1].name_offset = 5;
  far_data[1].data_offset = 0xFFFFFF00u;
  long_data[1].data_size = 0xFFFFFFF0u;
  const std::vector<Case> cases = {
      {"huge count", archive(0x40000000, 6, good, names), kReadFailed},
      {"count past the file", archive(9, 6, good, names), kReadFailed},
      {"huge names_size", archive(3, 0xFFFFFFF0u, good, names), kReadFailed},
      {"name offset outside the block", archive(3, 6, far_name, names), kReadFailed},
      {"name without terminator", archive(3, 6, no_end, std::string("a\0b\0cc", 6)), kReadFailed},
      {"data offset past the end", archive(3, 6, far_data, names), kSeekFailed},
      {"data size past the end", archive(3, 6, long_data, names), kSeekFailed},
      {"directory cut short", archive(3, 6, good, names).substr(0, 40), kReadFailed},
      {"unsorted", archive(3, 6, {good[0], good[2], good[1]}, names), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_host_file("d.bin", c.image);
    EXPECT_EQ(contents("d/b"), "<none>");
    std::vector<std::string> expected = {(c.message.empty() ? kOpenFailed : c.message) + "d/b"};
    EXPECT_EQ(take_messages(), expected);
  }
  // The damage of an entry that a lookup never reaches does not matter.
  std::vector<RawEntry> last_bad = good;
  last_bad[2].name_offset = 5;
  write_host_file("d.bin", archive(3, 6, last_bad, std::string("a\0b\0cc", 6)));
  EXPECT_EQ(contents("d/b"), "BBB");
}

TEST_F(FileLayerTest, FindsEveryEntryOfALargeArchive) {
  std::vector<std::pair<std::string, std::string>> files;
  for (int i = 0; i < 3000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.dat", i * 2);
    files.push_back({name, std::to_string(i)});
  }
  write_host_file("big.bin", make_archive(files, 0xCAFEF00D));
  for (int i = 0; i < 3000; i += 7) {
    char name[32];
    std::snprintf(name, sizeof name, "BIG/F%05d.DAT", i * 2);
    ASSERT_EQ(contents(name), std::to_string(i)) << name;
    std::snprintf(name, sizeof name, "big/f%05d.dat", i * 2 + 1);
    ASSERT_EQ(contents(name), "<none>") << name;
  }
  EXPECT_EQ(contents("big/f05998.dat"), "2999");
  EXPECT_EQ(contents("big/f00000.dat"), "0");
  EXPECT_EQ(contents("big/a"), "<none>");
  EXPECT_EQ(contents("big/z"), "<none>");
}

TEST_F(FileLayerTest, AReplacedArchiveIsReadAgain) {
  // The directory kept from the first lookup must not outlive the file.
  write_host_file("pack.bin", make_archive({{"a.txt", "first"}, {"b.txt", "bee"}}, 1));
  EXPECT_EQ(contents("pack/a.txt"), "first");
  EXPECT_EQ(contents("pack/c.txt"), "<none>");
  write_host_file("pack.bin", make_archive({{"a.txt", "second!"}, {"c.txt", "sea"}}, 2));
  EXPECT_EQ(contents("pack/a.txt"), "second!");
  EXPECT_EQ(contents("pack/b.txt"), "<none>");
  EXPECT_EQ(contents("pack/c.txt"), "sea");
}

TEST_F(FileLayerTest, ArchiveEntriesReadAndSeekWithinTheirBounds) {
  write_host_file("pack.bin", make_archive({{"one", "0123456789"}, {"two", "after"}}));
  FastFilePtr f(OpenFastFile("pack/one"));
  ASSERT_TRUE(f);
  EXPECT_EQ(GetFastFileSize(f.get()), 10);
  char buf[64];
  std::size_t got = 0;
  ASSERT_TRUE(ReadFastFile(f.get(), buf, 4, &got));
  EXPECT_EQ(std::string(buf, got), "0123");
  ASSERT_TRUE(ReadFastFile(f.get(), buf, sizeof buf, &got));  // stops at the entry's end
  EXPECT_EQ(std::string(buf, got), "456789");
  ASSERT_TRUE(ReadFastFile(f.get(), buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);

  EXPECT_EQ(SeekFastFile(f.get(), 10, kSeekSet), 10);
  EXPECT_EQ(SeekFastFile(f.get(), 11, kSeekSet), -1);
  EXPECT_EQ(SeekFastFile(f.get(), -1, kSeekSet), -1);
  EXPECT_EQ(SeekFastFile(f.get(), 0, kSeekEnd), 10);
  EXPECT_EQ(SeekFastFile(f.get(), 1, kSeekEnd), -1);
  EXPECT_EQ(SeekFastFile(f.get(), -10, kSeekEnd), 0);
  EXPECT_EQ(SeekFastFile(f.get(), -11, kSeekEnd), -1);
  EXPECT_EQ(SeekFastFile(f.get(), 7, kSeekCur), 7);
  EXPECT_EQ(SeekFastFile(f.get(), 4, kSeekCur), -1);  // past the end: the position stays
  EXPECT_EQ(SeekFastFile(f.get(), -8, kSeekCur), -1);
  // An unknown origin answers with the offset asked for and moves nothing.
  EXPECT_EQ(SeekFastFile(f.get(), 5, 3), 5);
  EXPECT_EQ(SeekFastFile(f.get(), -40, -1), -40);
  ASSERT_TRUE(ReadFastFile(f.get(), buf, 2, nullptr));
  EXPECT_EQ(std::string(buf, 2), "78");
  EXPECT_EQ(ReadFastFile(f.get(), nullptr, 2, &got), 0);

  // Loose files: the OS decides.
  config().FileSystem = 2;
  write_host_file("loose.txt", "abcdef");
  FastFilePtr l(OpenFastFile("LOOSE.TXT"));
  ASSERT_TRUE(l);
  EXPECT_EQ(GetFastFileSize(l.get()), 6);
  EXPECT_EQ(SeekFastFile(l.get(), 0, kSeekEnd), 6);
  EXPECT_EQ(SeekFastFile(l.get(), -2, kSeekCur), 4);
  ASSERT_TRUE(ReadFastFile(l.get(), buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "ef");
  EXPECT_EQ(SeekFastFile(l.get(), -1, kSeekSet), -1);
  EXPECT_EQ(SeekFastFile(l.get(), 2, kSeekSet), 2);
  EXPECT_EQ(SeekFastFile(l.get(), 1000, 7), 1000);  // unknown origin: nothing moves
  ASSERT_TRUE(ReadFastFile(l.get(), buf, 1, &got));
  EXPECT_EQ(std::string(buf, got), "c");
  EXPECT_EQ(OpenFastFile("."), nullptr);  // directories are not files

  EXPECT_EQ(CloseFastFile(nullptr), 0);
  EXPECT_EQ(ReadFastFile(nullptr, buf, 1, &got), 0);
  EXPECT_EQ(SeekFastFile(nullptr, 0, kSeekSet), -1);
  EXPECT_EQ(GetFastFileSize(nullptr), -1);
  EXPECT_EQ(CloseExpFile(nullptr), 0);
  EXPECT_EQ(CloseFastFile(l.release()), 1);
}

TEST_F(FileLayerTest, CompressedEntriesDecodeAndPlainOnesPassThrough) {
  std::string text(40000, '\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>("scriptdata"[i % 10] + i / 1000);
  std::string image;
  ASSERT_TRUE(compress_bytes(text, image));
  write_host_file("s.bin", make_archive({{"main.c", image}, {"plain.txt", "acp"}, {"z", "after"}}));
  std::string out;
  ASSERT_TRUE(ReadWholeExpFile("s/MAIN.C", out));
  EXPECT_EQ(out, text);
  // Three bytes of the signature only: plain, read from the first byte.
  EXPECT_EQ(contents("s/plain.txt"), "acp");
  ExpFilePtr f(OpenExpFile("s/plain.txt"));
  ASSERT_TRUE(f);
  EXPECT_EQ(GetExpFileSize(f.get()), 3);
  EXPECT_EQ(SeekExpFile(f.get(), 4, kSeekSet), -1);
  EXPECT_EQ(SeekExpFile(f.get(), 1, kSeekSet), 1);
  EXPECT_EQ(contents("s/none"), "<none>");
  EXPECT_EQ(take_messages(), std::vector<std::string>{kOpenFailed + "s/none"});
}

}  // namespace
}  // namespace talven::storage
