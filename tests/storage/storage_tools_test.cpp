// The author tools: packed archives and compressed files are what the file
// layer reads, and unpacking never writes outside its directory.
#include "storage/storage_tools.h"

#include <fcntl.h>

#include <cstdio>

#include "storage/archive.h"
#include "storage/compressed.h"
#include "storage/file_layer.h"
#include "storage/storage_test_util.h"

namespace talven::storage {
namespace {

using test::read_host_file;
using test::write_host_file;

class StorageToolsTest : public test::StorageTest {
 protected:
  int run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return run_storage_tool(static_cast<int>(argv.size()), argv.data());
  }
  // Runs a tool with standard output captured.
  int run_captured(std::vector<std::string> args, std::string& out) {
    std::fflush(stdout);
    int saved = dup(1);
    FILE* tmp = std::tmpfile();
    dup2(fileno(tmp), 1);
    int status = run(std::move(args));
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::rewind(tmp);
    out.clear();
    for (int c; (c = std::fgetc(tmp)) != EOF;) out += static_cast<char>(c);
    std::fclose(tmp);
    return status;
  }
  std::string contents(std::string_view path) {
    std::string out;
    return ReadWholeExpFile(path, out) ? out : "<none>";
  }
};

TEST_F(StorageToolsTest, PackedArchivesAreReadByTheFileLayer) {
  write_host_file("src/Title.png", "title");
  write_host_file("src/bg/夜.bmp", "night");  // UTF-8 on disk, CP932 in the archive
  write_host_file("src/bg/a.txt", "a");
  write_host_file("src/_first", "under");
  ASSERT_EQ(run({"pack", "src", "data.bin", "--seed", "0xDEADBEEF"}), 0);
  std::string image = read_host_file("data.bin");
  ASSERT_GE(image.size(), 20u);
  EXPECT_EQ(image.substr(0, 12), std::string("TLV-ARC2\xEF\xBE\xAD\xDE", 12));

  config().FileSystem = 1;
  EXPECT_EQ(contents("DATA/title.PNG"), "title");
  EXPECT_EQ(contents("data/bg/\x96\xe9.bmp"), "night");
  EXPECT_EQ(contents("data/BG/A.TXT"), "a");
  EXPECT_EQ(contents("data/_first"), "under");
  EXPECT_EQ(contents("data/bg\\a.txt"), "<none>");

  // The directory is in the archive's order: '_' (0x5F) before letters,
  // which fold to small letters.
  int fd = ::open("data.bin", O_RDONLY);
  ArchiveDirectory dir;
  ASSERT_EQ(read_archive_directory(fd, dir), ArchiveStatus::kOk);
  ::close(fd);
  ASSERT_EQ(dir.count, 4u);
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < dir.count; ++i) names.emplace_back(*dir.name(i));
  EXPECT_EQ(names,
            (std::vector<std::string>{"_first", "bg/a.txt", "bg/\x96\xe9.bmp", "Title.png"}));

  std::string listing;
  EXPECT_EQ(run_captured({"list", "data.bin"}, listing), 0);
  EXPECT_NE(listing.find("         5  bg/夜.bmp\n"), std::string::npos) << listing;

  // With --backslash the names use '\', as scripts that write them so expect.
  ASSERT_EQ(run({"pack", "src", "back.bin", "--backslash"}), 0);
  EXPECT_EQ(contents("back\\bg\\a.txt"), "a");
  EXPECT_EQ(contents("back/bg/a.txt"), "<none>");

  // Unpacking gives back the same tree.
  ASSERT_EQ(run({"unpack", "data.bin", "out"}), 0);
  EXPECT_EQ(read_host_file("out/bg/夜.bmp"), "night");
  EXPECT_EQ(read_host_file("out/Title.png"), "title");
  EXPECT_EQ(read_host_file("out/_first"), "under");
}

TEST_F(StorageToolsTest, PackRefusesNamesTheArchiveCannotTellApart) {
  write_host_file("src/Same.txt", "1");
  write_host_file("src/same.TXT", "2");  // one file where names fold case
  if (!::talven::test::kHostFoldsCase) {
    EXPECT_EQ(run({"pack", "src", "x.bin"}), 1);
    EXPECT_FALSE(std::filesystem::exists("x.bin"));
  }
  EXPECT_EQ(run({"pack", "src"}), 2);
  EXPECT_EQ(run({"pack", "missing", "x.bin"}), 1);
  EXPECT_EQ(run({"list", "src/Same.txt"}), 1);
  write_host_file("huge.bin", test::raw_archive(3, 0x7FFFFFFF, 0, {}, ""));
  EXPECT_EQ(run({"list", "huge.bin"}), 1);
  write_host_file("badname.bin", test::raw_archive(3, 1, 2, {{5, 0, 1}}, std::string("a\0", 2)));
  std::string listing;
  EXPECT_EQ(run_captured({"list", "badname.bin"}, listing), 1);
  EXPECT_EQ(listing, "         1  ?  (damaged name)\n");
  EXPECT_FALSE(is_storage_tool("run"));
  EXPECT_TRUE(is_storage_tool("expand"));
  EXPECT_EQ(storage_tools().size(), 5u);
}

TEST_F(StorageToolsTest, UnpackStaysInsideItsDirectory) {
  write_host_file("evil.txt", "x");
  write_host_file("ok.txt", "fine");
  ASSERT_TRUE(write_archive("evil.bin",
                            {{"../escape", "evil.txt"},
                             {"/abs", "evil.txt"},
                             {"a\\..\\..\\b", "evil.txt"},
                             {"\x81/../up", "evil.txt"},
                             {"sub\\ok.txt", "ok.txt"}},
                            1, nullptr));
  EXPECT_EQ(run({"unpack", "evil.bin", "out/in"}), 1);  // the bad names are skipped and reported
  EXPECT_EQ(read_host_file("out/in/sub/ok.txt"), "fine");
  EXPECT_FALSE(std::filesystem::exists("out/escape"));
  EXPECT_FALSE(std::filesystem::exists("/abs"));
  EXPECT_FALSE(std::filesystem::exists("out/b"));
  EXPECT_FALSE(std::filesystem::exists("out/up"));
}

TEST_F(StorageToolsTest, CompressedFilesRoundTripAndOpenAsTheOriginal) {
  std::string data;
  for (int i = 0; i < 70000; ++i) data += static_cast<char>((i * 7 / 3) % 251);
  write_host_file("in.dat", data);
  write_host_file("empty.dat", "");
  ASSERT_EQ(run({"compress", "in.dat", "in.cmp"}), 0);
  ASSERT_EQ(run({"expand", "in.cmp", "back.dat"}), 0);
  EXPECT_EQ(read_host_file("back.dat"), data);
  EXPECT_LT(read_host_file("in.cmp").size(), data.size());
  config().FileSystem = 2;
  EXPECT_EQ(contents("IN.CMP"), data);

  ASSERT_EQ(run({"compress", "empty.dat", "empty.cmp"}), 0);
  ASSERT_EQ(run({"expand", "empty.cmp", "empty.out"}), 0);
  EXPECT_TRUE(std::filesystem::exists("empty.out"));
  EXPECT_EQ(read_host_file("empty.out"), "");

  // Codes that end before the declared length expand to it with zeros,
  // however far that length goes past them.
  write_host_file("short.cmp", std::string("\x61\x63\x70\x00\0\0\0\x05\x30\x80\0", 11));
  ASSERT_EQ(run({"expand", "short.cmp", "short.out"}), 0);
  EXPECT_EQ(read_host_file("short.out"), std::string("a\0\0\0\0", 5));
  std::string padded;
  ASSERT_TRUE(compress_bytes("hello", padded));
  padded[6] = 0x01;  // 0x0105 bytes declared, five spelled
  write_host_file("padded.cmp", padded);
  ASSERT_EQ(run({"expand", "padded.cmp", "padded.out"}), 0);
  EXPECT_EQ(read_host_file("padded.out"), "hello" + std::string(0x0100, '\0'));

  EXPECT_EQ(run({"expand", "in.dat", "x.out"}), 1);  // not compressed
  EXPECT_FALSE(std::filesystem::exists("x.out"));
  EXPECT_EQ(run({"compress", "missing", "x.out"}), 1);
  EXPECT_EQ(run({"compress", "in.dat"}), 2);
  std::string stdout_text;
  EXPECT_EQ(run_captured({"compress", "in.dat", "-"}, stdout_text), 0);
  EXPECT_EQ(stdout_text, read_host_file("in.cmp"));
}

}  // namespace
}  // namespace talven::storage
