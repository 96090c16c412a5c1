// unpack copies entry data through a fixed buffer: large entries come out
// whole, memory does not grow with them, and an entry that cannot be read
// leaves an existing file as it was.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "storage/storage_test_util.h"
#include "storage/storage_tools.h"
#include "support/peak_memory.h"

namespace talven::storage {
namespace {

using test::read_host_file;
using test::write_host_file;

class UnpackStreamTest : public test::StorageTest {
 protected:
  int run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return run_storage_tool(static_cast<int>(argv.size()), argv.data());
  }
  static long peak_kib() { return ::talven::test::peak_memory_kib(); }
};

TEST_F(UnpackStreamTest, EntriesLargerThanTheBufferAndEmptyOnesComeOutWhole) {
  // Not a multiple of the copy buffer, with a pattern that shows a chunk
  // written twice or out of place.
  std::string big(1 << 20 | 12345, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  write_host_file("src/big.dat", big);
  write_host_file("src/empty", "");
  write_host_file("src/z.txt", "last");
  ASSERT_EQ(run({"pack", "src", "a.bin", "--seed", "7"}), 0);
  ASSERT_EQ(run({"unpack", "a.bin", "out"}), 0);
  EXPECT_TRUE(read_host_file("out/big.dat") == big);
  EXPECT_TRUE(std::filesystem::exists("out/empty"));
  EXPECT_EQ(std::filesystem::file_size("out/empty"), 0u);
  EXPECT_EQ(read_host_file("out/z.txt"), "last");
}

TEST_F(UnpackStreamTest, ADamagedEntryLeavesTheOldFileAndNoTemporaries) {
  write_host_file("src/a.txt", "alpha");
  write_host_file("src/b.txt", std::string(200000, 'b'));
  ASSERT_EQ(run({"pack", "src", "t.bin"}), 0);
  // Cut the archive inside b.txt's data.
  std::filesystem::resize_file("t.bin", std::filesystem::file_size("t.bin") - 1000);
  write_host_file("out/b.txt", "old contents");
  EXPECT_EQ(run({"unpack", "t.bin", "out"}), 1);
  EXPECT_EQ(read_host_file("out/a.txt"), "alpha");
  EXPECT_EQ(read_host_file("out/b.txt"), "old contents");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator("out"))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(UnpackStreamTest, MemoryDoesNotGrowWithTheEntrySize) {
  // A 48 MiB entry from a sparse file: packing and unpacking it must not
  // hold it in memory (the process peak grows by far less than its size).
  constexpr std::streamoff kSize = 48 << 20;
  std::filesystem::create_directories("src");
  std::ofstream("src/huge.bin", std::ios::binary).close();
  std::filesystem::resize_file("src/huge.bin", kSize);  // sparse where the file system can
  {
    std::fstream huge("src/huge.bin", std::ios::binary | std::ios::in | std::ios::out);
    ASSERT_TRUE(huge.seekp(kSize - 3));
    ASSERT_TRUE(huge.write("end", 3));
  }
  const long before = peak_kib();
  ASSERT_EQ(run({"pack", "src", "h.bin"}), 0);
  ASSERT_EQ(run({"unpack", "h.bin", "out"}), 0);
  const long grown = peak_kib() - before;
  EXPECT_LT(grown, 16 * 1024) << "peak grew by " << grown << " KiB";
  EXPECT_EQ(std::filesystem::file_size("out/huge.bin"), static_cast<std::uintmax_t>(kSize));
  std::string tail(3, '\0');
  std::ifstream out("out/huge.bin", std::ios::binary);
  ASSERT_TRUE(out.seekg(kSize - 3));
  EXPECT_TRUE(out.read(tail.data(), 3));
  EXPECT_EQ(tail, "end");
}

}  // namespace
}  // namespace talven::storage
