// The host-facing pieces of the system builtins that every platform shares:
// command lines joined back for the host, program image headers, attribute
// bits of host records, and the host file layer's listing and copy rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "lib/system/file_search.h"
#include "lib/system/host_files.h"
#include "lib/system/native_library.h"
#include "lib/system/process.h"

namespace {

namespace fs = std::filesystem;
using namespace talven::lib::system;
using V = std::vector<std::string>;

TEST(CommandLines, JoinedLinesSplitBackIntoTheSameArguments) {
  const V cases[] = {
      {"prog", "a", "b"},
      {"C:\\Program Files\\x.exe", "two words", ""},
      {"p", "a\\\"b", "a\\", "a\\b\\", "say \"hi\"", "\\\\server\\share\\"},
      {"p", "tab\there", "trailing\\\\", "\"", "日本語 の 名前"},
  };
  for (const V& argv : cases) {
    const std::string line = join_command_line(argv);
    EXPECT_EQ(split_command_line(line), argv) << line;
  }
  // Arguments that need nothing are left as they are.
  EXPECT_EQ(join_command_line({"p", "a\\b", "c"}), "p a\\b c");
  EXPECT_EQ(join_command_line({"my prog", "x"}), "\"my prog\" x");
}

std::vector<std::uint8_t> image(std::uint16_t machine, std::uint32_t header_at = 0x80) {
  std::vector<std::uint8_t> b(0x200, 0);
  b[0] = 'M';
  b[1] = 'Z';
  std::memcpy(&b[0x3C], &header_at, 4);
  if (header_at + 6 <= b.size()) {
    std::memcpy(&b[header_at], "PE\0\0", 4);
    b[header_at + 4] = static_cast<std::uint8_t>(machine);
    b[header_at + 5] = static_cast<std::uint8_t>(machine >> 8);
  }
  return b;
}

TEST(ProgramImages, MachineFieldOfTheHeader) {
  auto i386 = image(kMachineI386);
  EXPECT_EQ(pe_machine(i386.data(), i386.size()), kMachineI386);
  auto amd64 = image(kMachineAmd64);
  EXPECT_EQ(pe_machine(amd64.data(), amd64.size()), kMachineAmd64);
  // Not an image, a header beyond the bytes read, a truncated read.
  auto elf = amd64;
  elf[0] = 0x7F;
  EXPECT_FALSE(pe_machine(elf.data(), elf.size()));
  auto far = image(kMachineAmd64, 0x10000000u);
  EXPECT_FALSE(pe_machine(far.data(), far.size()));
  auto edge = image(kMachineAmd64, 0x200 - 6);
  EXPECT_EQ(pe_machine(edge.data(), edge.size()), kMachineAmd64);
  EXPECT_FALSE(pe_machine(edge.data(), edge.size() - 1));
  EXPECT_FALSE(pe_machine(amd64.data(), 0x20));
  auto no_pe = amd64;
  no_pe[0x80] = 'X';
  EXPECT_FALSE(pe_machine(no_pe.data(), no_pe.size()));
}

TEST(HostRecords, AttributeBits) {
  HostFile f;
  EXPECT_EQ(attributes_of("a.txt", f), kAttrArchive);
  f.writable = false;
  EXPECT_EQ(attributes_of("a.txt", f), kAttrArchive | kAttrReadOnly);
  f.writable = true;
  f.hidden = true;  // the host's own mark
  EXPECT_EQ(attributes_of("a.txt", f), kAttrArchive | kAttrHidden);
  f.hidden = false;
  EXPECT_EQ(attributes_of(".profile", f), kAttrArchive | kAttrHidden);
  f.directory = true;
  EXPECT_EQ(attributes_of("..", f), kAttrDirectory);
}

class HostFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("talven_host_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "sub");
    std::ofstream(dir_ / "a.txt") << "alpha";
    std::ofstream(dir_ / "b.dat") << "be";
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(HostFolder, ListingOffersNamesAndReadsOnlyTheWantedOnes) {
  V offered;
  std::vector<std::pair<std::string, HostFile>> out;
  ASSERT_TRUE(list_host_folder(
      dir_.string(),
      [&](const std::string& name) {
        offered.push_back(name);
        return name == "a.txt" || name == "sub";
      },
      out));
  std::sort(offered.begin(), offered.end());
  EXPECT_EQ(offered, (V{".", "..", "a.txt", "b.dat", "sub"}));
  ASSERT_EQ(out.size(), 2u);
  std::sort(out.begin(), out.end(), [](auto& x, auto& y) { return x.first < y.first; });
  EXPECT_EQ(out[0].first, "a.txt");
  EXPECT_EQ(out[0].second.size, 5u);
  EXPECT_FALSE(out[0].second.directory);
  EXPECT_TRUE(out[1].second.directory);
  EXPECT_EQ(out[1].second.size, 0u);
  EXPECT_FALSE(list_host_folder(
      path("a.txt"), [](const std::string&) { return true; }, out));
}

TEST_F(HostFolder, CopiesAndMovesNeverReplaceUnasked) {
  EXPECT_FALSE(copy_host_file(path("a.txt"), path("b.dat"), false));
  EXPECT_EQ(fs::file_size(dir_ / "b.dat"), 2u);
  EXPECT_TRUE(copy_host_file(path("a.txt"), path("b.dat"), true));
  EXPECT_EQ(fs::file_size(dir_ / "b.dat"), 5u);
  EXPECT_FALSE(copy_host_file(path("sub"), path("c"), true));  // folders are not copied
  EXPECT_FALSE(move_host_file(path("a.txt"), path("b.dat")));
  EXPECT_TRUE(move_host_file(path("a.txt"), path("c.txt")));
  EXPECT_FALSE(host_name_exists(path("a.txt")));
  // No leftovers of the copies' temporary files.
  int entries = 0;
  for (auto& e : fs::directory_iterator(dir_)) entries += e.path().filename() != "" ? 1 : 0;
  EXPECT_EQ(entries, 3);
}

TEST_F(HostFolder, ReadOnlyMarkAndTimes) {
  HostFile f;
  ASSERT_TRUE(set_host_read_only(path("a.txt"), true));
  ASSERT_TRUE(host_file(path("a.txt"), f));
  EXPECT_FALSE(f.writable);
  ASSERT_TRUE(set_host_read_only(path("a.txt"), false));
  ASSERT_TRUE(host_file(path("a.txt"), f));
  EXPECT_TRUE(f.writable);

  const HostTime written{1700000000, 500000000};
  ASSERT_TRUE(set_host_file_times(path("a.txt"), nullptr, nullptr, &written));
  HostTime times[3];
  ASSERT_TRUE(host_file_times(path("a.txt"), times));
  EXPECT_EQ(times[2].seconds, written.seconds);
  EXPECT_EQ(times[2].nanoseconds, written.nanoseconds);
  EXPECT_FALSE(host_file_times(path("sub"), times));  // folders have no file times here
}

}  // namespace
