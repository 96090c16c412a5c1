// File builtins: pack_save's exact bytes, the 16 pack handles, mload,
// streams with opaque handles, the system file binding, and that save data
// survives a failed or killed save.
#include "storage/file_builtins.h"

#include <chrono>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "runtime/bind.h"
#include "storage/compressed.h"
#include "storage/file_layer.h"
#include "storage/storage_test_util.h"
#include "support/file_size_cap.h"

namespace talven::storage {
namespace {

using runtime::bind;

using test::read_host_file;
using test::write_host_file;

class FileBuiltinsTest : public test::StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    config().FileSystem = kFileSystemArchives | kFileSystemLoose;
  }
  void TearDown() override {
    close_file_handles();
    save_system_file_at_shutdown();  // clears any binding (its file is gone with the directory)
    StorageTest::TearDown();
  }

  // Calls a typed handler through its binding with an argument block of words.
  static std::uint32_t call(runtime::BuiltinBinding bound,
                            std::initializer_list<std::uint32_t> words) {
    Addr args = script_alloc(static_cast<std::uint32_t>(4 * words.size() + 4));
    std::uint32_t i = 0;
    for (std::uint32_t w : words) store32(args + 4 * i++, w);
    std::uint32_t r = bound.handler(args);
    script_free(args);
    return r;
  }
  Addr put(std::string_view bytes, bool terminate = true) {
    Addr a = script_alloc(static_cast<std::uint32_t>(bytes.size() + 1));
    write_bytes(a, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (terminate) store8(a + static_cast<Addr>(bytes.size()), 0);
    blocks_.push_back(a);
    return a;
  }
  Addr block(std::uint32_t n, std::uint8_t fill = 0xEE) {
    return put(std::string(n, static_cast<char>(fill)));
  }
  std::string bytes_at(Addr a, std::uint32_t n) {
    std::string out(n, '\0');
    EXPECT_TRUE(read_bytes(a, out.data(), n));
    return out;
  }
  // Files in the scratch directory other than the ones named.
  std::vector<std::string> stray_files(std::initializer_list<std::string> known) {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(dir_)) {
      std::string name = e.path().filename().string();
      if (std::find(known.begin(), known.end(), name) == known.end()) out.push_back(name);
    }
    return out;
  }
  Addr bad() const { return static_cast<Addr>(script_space().limit() + 4096); }

  std::vector<Addr> blocks_;
};

std::string numbered_bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}

TEST_F(FileBuiltinsTest, PackSaveWritesTheCompressedForm) {
  EXPECT_EQ(call(bind<&bi_pack_save>, {put("Out.pak"), put("aaa"), 3}), 1u);
  EXPECT_EQ(read_host_file(dir_ / "Out.pak"),
            std::string("\x61\x63\x70\x00\x00\x00\x00\x03\x30\xC0\xE0\x00", 12));
  // Read back through the data layer.
  EXPECT_EQ(call(bind<&bi_pack_open>, {put("out.PAK")}), 1u);
  EXPECT_EQ(call(bind<&bi_pack_size>, {1}), 3u);

  // A block outside script memory saves nothing and keeps the old file.
  EXPECT_EQ(call(bind<&bi_pack_save>, {put("Out.pak"), bad(), 3}), 0u);
  EXPECT_EQ(read_host_file(dir_ / "Out.pak").size(), 12u);
  // No data: the file holds the two header fields and the result is 0.
  EXPECT_EQ(call(bind<&bi_pack_save>, {put("empty.pak"), put("x"), 0}), 0u);
  EXPECT_EQ(read_host_file(dir_ / "empty.pak"), std::string("\x61\x63\x70\x00\x00\x00\x00\x00", 8));
  EXPECT_EQ(call(bind<&bi_pack_save>, {put("null.pak"), 0, 5}), 0u);
  EXPECT_EQ(read_host_file(dir_ / "null.pak"), std::string("\x61\x63\x70\x00\x00\x00\x00\x05", 8));
  // An output that cannot be created is reported.
  EXPECT_EQ(call(bind<&bi_pack_save>, {put("no\\such\\dir\\x.pak"), put("aaa"), 3}), 0u);
  auto messages = take_messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("ファイルの作成に失敗しました FILE - ", 0), 0u) << messages[0];
  EXPECT_EQ(stray_files({"Out.pak", "empty.pak", "null.pak"}), std::vector<std::string>{});
}

TEST_F(FileBuiltinsTest, SixteenPackHandles) {
  const std::string data = numbered_bytes(300);
  write_host_file(dir_ / "Data" / "plain.bin", data);
  std::string packed;
  ASSERT_TRUE(compress_bytes(data.substr(0, 200), packed));
  write_host_file(dir_ / "Data" / "packed.bin", packed);

  Addr plain = put("data\\PLAIN.bin");
  EXPECT_EQ(call(bind<&bi_pack_open>, {plain}), 1u);
  EXPECT_EQ(call(bind<&bi_pack_size>, {1}), 300u);
  Addr buf = block(16);
  EXPECT_EQ(call(bind<&bi_pack_read>, {1, buf, 10}), 10u);
  EXPECT_EQ(bytes_at(buf, 10), data.substr(0, 10));
  EXPECT_EQ(call(bind<&bi_pack_seek>, {1, static_cast<std::uint32_t>(-5), 2}), 295u);
  EXPECT_EQ(call(bind<&bi_pack_read>, {1, buf, 10}), 5u);
  EXPECT_EQ(bytes_at(buf, 5), data.substr(295));
  EXPECT_EQ(call(bind<&bi_pack_read>, {1, buf, 10}), 0u);
  // A buffer outside script memory reads nothing.
  EXPECT_EQ(call(bind<&bi_pack_seek>, {1, 0, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_pack_read>, {1, bad(), 10}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_pack_read>, {1, buf, 0x7FFFFFFF}), 0xFFFFFFFFu);

  // A compressed file reads decoded.
  EXPECT_EQ(call(bind<&bi_pack_open>, {put("data/packed.bin")}), 2u);
  EXPECT_EQ(call(bind<&bi_pack_size>, {2}), 200u);
  EXPECT_EQ(call(bind<&bi_pack_seek>, {2, 190, 0}), 190u);
  EXPECT_EQ(call(bind<&bi_pack_read>, {2, buf, 16}), 10u);
  EXPECT_EQ(bytes_at(buf, 10), data.substr(190, 10));

  // An unknown origin moves nothing: loose files and archive entries answer
  // with the offset asked for, decoded files with their position.
  write_host_file(dir_ / "Arc.bin", test::make_archive({{"entry", data.substr(0, 50)}}));
  EXPECT_EQ(call(bind<&bi_pack_open>, {put("arc\\entry")}), 3u);
  for (std::uint32_t origin : {3u, 4u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_EQ(call(bind<&bi_pack_seek>, {1, 0, 0}), 0u);
    EXPECT_EQ(call(bind<&bi_pack_seek>, {1, 123, origin}), 123u) << origin;
    EXPECT_EQ(call(bind<&bi_pack_read>, {1, buf, 4}), 4u);
    EXPECT_EQ(bytes_at(buf, 4), data.substr(0, 4)) << origin;
    EXPECT_EQ(call(bind<&bi_pack_seek>, {3, 7, 0}), 7u);
    EXPECT_EQ(call(bind<&bi_pack_seek>, {3, 1000, origin}), 1000u) << origin;
    EXPECT_EQ(call(bind<&bi_pack_read>, {3, buf, 2}), 2u);
    EXPECT_EQ(bytes_at(buf, 2), data.substr(7, 2)) << origin;
    EXPECT_EQ(call(bind<&bi_pack_seek>, {2, 150, 0}), 150u);
    EXPECT_EQ(call(bind<&bi_pack_seek>, {2, 9, origin}), 150u) << origin;
    EXPECT_EQ(call(bind<&bi_pack_read>, {2, buf, 3}), 3u);
    EXPECT_EQ(bytes_at(buf, 3), data.substr(150, 3)) << origin;
  }
  EXPECT_EQ(call(bind<&bi_pack_seek>, {9, 0, 3}), 0xFFFFFFFFu);  // not an open handle
  EXPECT_EQ(call(bind<&bi_pack_close>, {3}), 1u);

  for (std::uint32_t h = 3; h <= 16; ++h) EXPECT_EQ(call(bind<&bi_pack_open>, {plain}), h);
  EXPECT_EQ(call(bind<&bi_pack_open>, {plain}), 0u);  // the 17th
  EXPECT_EQ(call(bind<&bi_pack_close>, {17}), 0u);
  EXPECT_EQ(call(bind<&bi_pack_close>, {0}), 0u);
  EXPECT_EQ(call(bind<&bi_pack_close>, {5}), 1u);
  EXPECT_EQ(call(bind<&bi_pack_read>, {5, buf, 1}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_pack_size>, {5}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_pack_close>, {5}), 1u);     // closing a free handle
  EXPECT_EQ(call(bind<&bi_pack_open>, {plain}), 5u);  // the lowest free one
  EXPECT_EQ(call(bind<&bi_pack_open>, {put("missing.bin")}), 0u);
  take_messages();

  close_file_handles();
  EXPECT_EQ(call(bind<&bi_pack_size>, {1}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_pack_open>, {plain}), 1u);
}

TEST_F(FileBuiltinsTest, MloadWholeFilesAndParts) {
  const std::string data = numbered_bytes(300);
  write_host_file(dir_ / "m.bin", data);
  Addr path = put("M.BIN");
  Addr all = call(bind<&bi_mload>, {path, 0, 0});
  ASSERT_NE(all, 0u);
  EXPECT_EQ(script_space().block_size(all) >= 300, true);
  EXPECT_EQ(bytes_at(all, 300), data);
  Addr part = call(bind<&bi_mload>, {path, 100, 10});
  ASSERT_NE(part, 0u);
  EXPECT_EQ(bytes_at(part, 10), data.substr(100, 10));
  // Past the end of the file the block holds zeros.
  Addr tail = call(bind<&bi_mload>, {path, 295, 10});
  ASSERT_NE(tail, 0u);
  EXPECT_EQ(bytes_at(tail, 10), data.substr(295) + std::string(5, '\0'));
  EXPECT_EQ(call(bind<&bi_mload>, {put("none.bin"), 0, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_mload>, {bad(), 0, 0}), 0u);
  // A negative size means the whole file, like 0.
  Addr whole = call(bind<&bi_mload>, {path, 0, static_cast<std::uint32_t>(-1)});
  EXPECT_EQ(bytes_at(whole, 300), data);
  EXPECT_TRUE(script_free(whole));
  take_messages();
  for (Addr a : {all, part, tail}) EXPECT_TRUE(script_free(a));
}

TEST_F(FileBuiltinsTest, MloadOfCompressedCodesThatEndEarly) {
  // The codes spell "a" but the file declares 2 GiB - 1: any part of it
  // loads, past the "a" as zeros, without the whole length being held.
  write_host_file(dir_ / "forged.pak", std::string("\x61\x63\x70\x00\x7F\xFF\xFF\xFF\x30\x80", 10));
  Addr path = put("forged.pak");
  Addr head = call(bind<&bi_mload>, {path, 0, 6});
  ASSERT_NE(head, 0u);
  EXPECT_EQ(bytes_at(head, 6), std::string("a\0\0\0\0\0", 6));
  Addr far = call(bind<&bi_mload>, {path, 0x7FFFFFF0u, 15});
  ASSERT_NE(far, 0u);
  EXPECT_EQ(bytes_at(far, 15), std::string(15, '\0'));
  EXPECT_EQ(call(bind<&bi_pack_open>, {path}), 1u);
  EXPECT_EQ(call(bind<&bi_pack_size>, {1}), 0x7FFFFFFFu);
  EXPECT_TRUE(take_messages().empty());
  for (Addr a : {head, far}) EXPECT_TRUE(script_free(a));
}

TEST_F(FileBuiltinsTest, StreamsUseOpaqueHandlesAndGamePaths) {
  std::filesystem::create_directories(dir_ / "save");
  Addr path = put("SAVE\\Log.txt");
  std::uint32_t w = call(bind<&bi_fopen>, {path, put("wt")});
  ASSERT_GE(w, 1u);
  ASSERT_LE(w, static_cast<std::uint32_t>(kStreamHandles));
  EXPECT_EQ(call(bind<&bi_fputs>, {put("line one\n"), w}), 0u);
  EXPECT_EQ(call(bind<&bi_fwrite>, {put("abcdef"), 2, 3, w}), 3u);
  EXPECT_EQ(call(bind<&bi_ftell>, {w}), 16u);  // a byte offset: the LF took two bytes
  EXPECT_EQ(call(bind<&bi_fclose>, {w}), 0u);
  EXPECT_EQ(call(bind<&bi_fclose>, {w}), 0xFFFFFFFFu);
  // A text stream writes LF as CR LF.
  EXPECT_EQ(read_host_file(dir_ / "save" / "Log.txt"), "line one\r\nabcdef");

  // Reading finds the file in any letter case.
  std::uint32_t r = call(bind<&bi_fopen>, {put("save/LOG.TXT"), put("r")});
  ASSERT_NE(r, 0u);
  Addr buf = block(32);
  EXPECT_EQ(call(bind<&bi_fgets>, {buf, 32, r}), buf);
  EXPECT_EQ(bytes_at(buf, 10), std::string("line one\n\0", 10));
  EXPECT_EQ(call(bind<&bi_fgets>, {buf, 4, r}), buf);  // at most size - 1 bytes
  EXPECT_EQ(bytes_at(buf, 4), std::string("abc\0", 4));
  EXPECT_EQ(call(bind<&bi_fseek>, {r, 1, 1}), 0u);
  EXPECT_EQ(call(bind<&bi_fread>, {buf, 1, 10, r}), 2u);
  EXPECT_EQ(bytes_at(buf, 2), "ef");
  EXPECT_EQ(call(bind<&bi_fgets>, {buf, 32, r}), 0u);  // at the end
  EXPECT_EQ(call(bind<&bi_fseek>, {r, 0, 7}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_fseek>, {r, 0, 0}), 0u);
  // Buffers outside script memory are refused, not written.
  EXPECT_EQ(call(bind<&bi_fread>, {bad(), 1, 4, r}), 0u);
  EXPECT_EQ(call(bind<&bi_fread>, {buf, 0x10000, 0x10000, r}), 0u);
  EXPECT_EQ(call(bind<&bi_fgets>, {bad(), 8, r}), 0u);
  EXPECT_EQ(call(bind<&bi_fgets>, {buf, 0, r}), 0u);
  EXPECT_EQ(call(bind<&bi_ftell>, {r}), 0u);
  EXPECT_EQ(call(bind<&bi_fclose>, {r}), 0u);

  // Handles that were never given out, and bad modes or paths.
  for (std::uint32_t h : {0u, 65u, 0xFFFFFFFFu, r}) {
    EXPECT_EQ(call(bind<&bi_ftell>, {h}), 0xFFFFFFFFu);
    EXPECT_EQ(call(bind<&bi_fputs>, {put("x"), h}), 0xFFFFFFFFu);
    EXPECT_EQ(call(bind<&bi_fread>, {buf, 1, 1, h}), 0u);
    EXPECT_EQ(call(bind<&bi_fgets>, {buf, 4, h}), 0u);
  }
  EXPECT_EQ(call(bind<&bi_fopen>, {path, put("q")}), 0u);
  EXPECT_EQ(call(bind<&bi_fopen>, {path, put("rx")}), 0u);
  EXPECT_EQ(call(bind<&bi_fopen>, {put("missing.txt"), put("rb")}), 0u);
  EXPECT_EQ(call(bind<&bi_fopen>, {put("nodir\\x.txt"), put("w")}), 0u);
  EXPECT_EQ(stream_mode(""), "");

  // Appending, and every handle comes back at shut-down.
  std::uint32_t a = call(bind<&bi_fopen>, {path, put("ab")});
  EXPECT_EQ(call(bind<&bi_fputs>, {put("!\n"), a}), 0u);
  close_file_handles();
  EXPECT_EQ(read_host_file(dir_ / "save" / "Log.txt"), "line one\r\nabcdef!\n");
  EXPECT_EQ(call(bind<&bi_ftell>, {a}), 0xFFFFFFFFu);
}

TEST_F(FileBuiltinsTest, TextStreamsTranslateLineEnds) {
  write_host_file(dir_ / "t.txt", std::string("a\r\nb\rc\r\n\x1A tail", 13));
  int t = stream_open("t.txt", "r");
  ASSERT_NE(t, 0);
  char buf[32];
  ASSERT_TRUE(stream_gets(t, buf, sizeof buf));
  EXPECT_STREQ(buf, "a\n");
  // A lone CR stays; Ctrl-Z ends the text for every later read.
  EXPECT_EQ(stream_read(t, buf, 1, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 4), "b\rc\n");
  EXPECT_FALSE(stream_gets(t, buf, sizeof buf));
  EXPECT_EQ(stream_read(t, buf, 1, 4), 0u);
  EXPECT_EQ(stream_close(t), 0);

  // The same bytes through a binary stream, and items counted whole.
  int b = stream_open("t.txt", "rb");
  EXPECT_EQ(stream_read(b, buf, 4, 3), 3u);
  EXPECT_EQ(std::string(buf, 12), std::string("a\r\nb\rc\r\n\x1A ta", 12));
  EXPECT_EQ(stream_read(b, buf, 4, 3), 0u);  // one byte left: no whole item
  EXPECT_EQ(stream_close(b), 0);

  bool text = false;
  EXPECT_EQ(stream_mode("w+", &text), "w+b");
  EXPECT_TRUE(text);
  EXPECT_EQ(stream_mode("rb+", &text), "r+b");
  EXPECT_FALSE(text);
  EXPECT_EQ(stream_mode("rbt"), "");
  EXPECT_EQ(stream_mode("r++"), "");
}

TEST_F(FileBuiltinsTest, SystemFileBinding) {
  Addr path = put("System.dat");
  Addr data = put("0123456789abcdef", false);
  EXPECT_EQ(call(bind<&bi_sysio>, {1}), 0u);  // no binding yet
  EXPECT_EQ(call(bind<&bi_sysio>, {0}), 0u);

  // No file yet: 0, but the binding holds.
  EXPECT_EQ(call(bind<&bi_sysfile>, {path, data, 16}), 0u);
  EXPECT_EQ(bytes_at(data, 16), "0123456789abcdef");
  EXPECT_EQ(call(bind<&bi_sysio>, {1}), 1u);
  EXPECT_EQ(read_host_file(dir_ / "System.dat"), "0123456789abcdef");
  write_bytes(data, "XXXX", 4);
  EXPECT_EQ(call(bind<&bi_sysio>, {0}), 1u);
  EXPECT_EQ(bytes_at(data, 4), "0123");

  // A later sysfile replaces the binding and loads its file.
  Addr other = block(8);
  write_host_file(dir_ / "other.dat", "ABCDEFGH");
  EXPECT_EQ(call(bind<&bi_sysfile>, {put("OTHER.DAT"), other, 8}), 1u);
  EXPECT_EQ(bytes_at(other, 8), "ABCDEFGH");
  write_bytes(other, "abcd", 4);
  // A shorter file fills the front of the block.
  write_host_file(dir_ / "other.dat", "xy");
  EXPECT_EQ(call(bind<&bi_sysio>, {0}), 1u);
  EXPECT_EQ(bytes_at(other, 8), "xycdEFGH");

  // Refused bindings leave the current one in place.
  EXPECT_EQ(call(bind<&bi_sysfile>, {0, other, 8}), 0u);
  EXPECT_EQ(call(bind<&bi_sysfile>, {path, 0, 8}), 0u);
  EXPECT_EQ(call(bind<&bi_sysfile>, {path, other, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_sysfile>, {path, bad(), 8}), 0u);
  EXPECT_EQ(call(bind<&bi_sysfile>, {put(std::string(260, 'p')), other, 8}), 0u);

  // The save at shut-down writes the block once more and ends the binding.
  write_bytes(other, "shutdown", 8);
  save_system_file_at_shutdown();
  EXPECT_EQ(read_host_file(dir_ / "other.dat"), "shutdown");
  EXPECT_EQ(call(bind<&bi_sysio>, {1}), 0u);
  EXPECT_EQ(stray_files({"System.dat", "other.dat"}), std::vector<std::string>{});
}

// A write that fails half-way (here: the file size limit, as a full disk
// would) leaves the previous save whole and no temporary file behind.
TEST_F(FileBuiltinsTest, FailedSaveKeepsThePreviousFile) {
  const std::string old_save(4096, 'A');
  write_host_file(dir_ / "save.dat", old_save);
  write_host_file(dir_ / "save.pak", old_save);
  const std::uint32_t size = 256 * 1024;
  // Bytes that do not compress, so the packed form is as large.
  std::string fresh(size, '\0');
  std::uint32_t x = 12345;
  for (char& c : fresh) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  Addr data = block(size);
  ASSERT_EQ(call(bind<&bi_sysfile>, {put("save.dat"), data, size}), 1u);  // loads the 4096 bytes
  write_bytes(data, fresh.data(), size);

  ::talven::test::FileSizeCap cap(8192);
#ifdef _WIN32
  if (!cap.active()) GTEST_SKIP() << "no per-process file size limit on Windows";
#endif
  ASSERT_TRUE(cap.active());
  std::uint32_t saved_sysio = call(bind<&bi_sysio>, {1});
  std::uint32_t saved_pack = call(bind<&bi_pack_save>, {put("save.pak"), data, size});
  cap.lift();

  EXPECT_EQ(saved_sysio, 0u);
  EXPECT_EQ(saved_pack, 0u);
  EXPECT_EQ(read_host_file(dir_ / "save.dat"), old_save);
  EXPECT_EQ(read_host_file(dir_ / "save.pak"), old_save);
  EXPECT_EQ(stray_files({"save.dat", "save.pak"}), std::vector<std::string>{});
  take_messages();
}

// Killing the process in the middle of saves leaves one whole save: the old
// one or the new one, never a mixture or a cut file.
TEST_F(FileBuiltinsTest, KilledSaveLeavesAWholeFile) {
#ifdef _WIN32
  GTEST_SKIP() << "the saving child process is made with fork, which Windows does not have";
#else
  const std::uint32_t size = 4 * 1024 * 1024;
  write_host_file(dir_ / "save.dat", std::string(size, '0'));
  Addr data = block(size, '0');
  ASSERT_EQ(call(bind<&bi_sysfile>, {put("save.dat"), data, size}), 1u);
  bool changed = false;
  for (int round = 0; round < 3; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (char c = '1';; c = c == '9' ? '1' : static_cast<char>(c + 1)) {
        std::memset(span(data, size), c, size);
        sysio(1);
      }
    }
    // Wait until the child has replaced the file at least once, so the kill
    // lands while saves are going on.
    const auto before = std::filesystem::last_write_time(dir_ / "save.dat");
    for (int i = 0; i < 2000 && std::filesystem::last_write_time(dir_ / "save.dat") == before;
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(7 + 13 * round));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    std::string now = read_host_file(dir_ / "save.dat");
    ASSERT_EQ(now.size(), size);
    EXPECT_EQ(now.find_first_not_of(now[0]), std::string::npos) << "mixed save in round " << round;
    changed = changed || now[0] != '0';
  }
  EXPECT_TRUE(changed);  // the saves did run
#endif
}

}  // namespace
}  // namespace talven::storage
