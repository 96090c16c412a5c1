// Folders and files: special folders, the current folder, copy, move,
// delete, attributes, times, long paths and the untrusted confinement.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>

#include "base/config.h"
#include "base/host_file.h"
#include "lib/builtin_call.h"
#include "lib/system/file_search.h"
#include "lib/system/folders.h"
#include "lib/system/system_builtins.h"
#include "lib/system/system_paths.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace talven;
using namespace talven::lib;
using lib::test::bind;
using lib::test::call;
using lib::test::put;

class Disk : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    dir_ = talven::test::make_temp_dir("talven_disk_");
    ASSERT_FALSE(dir_.empty());
    std::ofstream(dir_ / "src.txt") << "hello";
    buf_ = lib::test::block(300);
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    system::set_untrusted(false);
    fs::remove_all(dir_);
  }
  Addr p(const std::string& name) { return put((dir_ / name).string()); }
  std::string read(const std::string& name) {
    std::ifstream in(dir_ / name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path old_cwd_, dir_;
  Addr buf_ = 0;
};

TEST_F(Disk, SpecialFoldersEndInTheSeparator) {
  const std::uint32_t n = call(bind<&bi_dir_getpath>, {36, buf_});
  const std::string system_root = lib::test::text_at(buf_);
#ifdef _WIN32
  // The Windows folder and its System32 folder.
  ASSERT_GT(system_root.size(), 3u);
  EXPECT_EQ(system_root.substr(1, 2), ":\\");
  EXPECT_EQ(system_root.back(), '\\');
  EXPECT_EQ(n, system_root.size());
  EXPECT_EQ(call(bind<&bi_dir_getpath>, {37, buf_}), system_root.size() + 9);
  std::string system32 = lib::test::text_at(buf_);
  for (char& c : system32) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(system32.rfind("system32\\"), system_root.size()) << system32;
#else
  // The POSIX stand-ins of the Windows folders.
  EXPECT_EQ(system_root, "\\usr\\");
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(call(bind<&bi_dir_getpath>, {37, buf_}), 9u);
  EXPECT_EQ(lib::test::text_at(buf_), "\\usr\\lib\\");
#endif
  // Documents is a folder of the player's (at least $HOME).
  const std::uint32_t d = call(bind<&bi_dir_getpath>, {5, buf_});
  ASSERT_GT(d, 1u);
  std::string docs = lib::test::text_at(buf_);
  EXPECT_EQ(docs.size(), d);
  EXPECT_EQ(docs.back(), '\\');
#ifdef _WIN32
  EXPECT_EQ(docs.substr(1, 2), ":\\");
#else
  EXPECT_EQ(docs.front(), '\\');
#endif
  // Unknown codes give 0 and leave the buffer empty; a null buffer gives 0.
  write_cstr(buf_, "junk", 5);
  EXPECT_EQ(call(bind<&bi_dir_getpath>, {999, buf_}), 0u);
  EXPECT_EQ(lib::test::text_at(buf_), "");
  EXPECT_EQ(call(bind<&bi_dir_getpath>, {36, 0}), 0u);
  EXPECT_FALSE(system::special_folder(-1).has_value());
}

TEST_F(Disk, CurrentFolder) {
  fs::current_path("/");
#ifdef _WIN32
  const std::string root = fs::current_path().string();  // the current drive's root, "X:\\"
#else
  const std::string root = "\\";
#endif
  EXPECT_EQ(call(bind<&bi_dir_getcur>, {buf_}), root.size());
  EXPECT_EQ(lib::test::text_at(buf_), root);  // no second separator at the root
  ASSERT_EQ(call(bind<&bi_dir_setcur>, {p("")}), 1u);
  const std::string canonical = fs::canonical(dir_).string();
#ifdef _WIN32
  std::string want = canonical;
#else
  std::string want = "\\" + canonical.substr(1);
#endif
  for (char& c : want)
    if (c == '/') c = '\\';
  EXPECT_EQ(call(bind<&bi_dir_getcur>, {buf_}), want.size() + 1);
  EXPECT_EQ(lib::test::text_at(buf_), want + "\\");
  // The Windows form names the same folder again.
  EXPECT_EQ(call(bind<&bi_dir_setcur>, {buf_}), 1u);
  EXPECT_EQ(call(bind<&bi_dir_setcur>, {p("missing")}), 0u);
  EXPECT_EQ(call(bind<&bi_dir_getcur>, {0}), 0u);
}

TEST_F(Disk, CreateCopyMoveDelete) {
  EXPECT_EQ(call(bind<&bi_dir_create>, {p("New")}), 1u);
  EXPECT_EQ(call(bind<&bi_dir_create>, {p("new")}), 0u);    // exists (any case)
  EXPECT_EQ(call(bind<&bi_dir_create>, {p("a/b/c")}), 0u);  // one level only
  EXPECT_EQ(call(bind<&bi_file_copy>, {p("SRC.TXT"), p("new/copy.txt"), 1}), 1u);
  EXPECT_EQ(read("New/copy.txt"), "hello");
  std::ofstream(dir_ / "other.txt") << "other";
  EXPECT_EQ(call(bind<&bi_file_copy>, {p("other.txt"), p("New/copy.txt"), 1}),
            0u);  // fail if it exists
  EXPECT_EQ(read("New/copy.txt"), "hello");
  EXPECT_EQ(call(bind<&bi_file_copy>, {p("other.txt"), p("New/copy.txt"), 0}), 1u);
  EXPECT_EQ(read("New/copy.txt"), "other");
  EXPECT_EQ(call(bind<&bi_file_copy>, {p("none.txt"), p("x.txt"), 0}), 0u);
  EXPECT_EQ(call(bind<&bi_dir_delete>, {p("New")}), 0u);                        // not empty
  EXPECT_EQ(call(bind<&bi_file_move>, {p("New/copy.txt"), p("src.txt")}), 0u);  // target exists
  EXPECT_EQ(call(bind<&bi_file_move>, {p("New/copy.txt"), p("moved.txt")}), 1u);
  EXPECT_EQ(read("moved.txt"), "other");
  EXPECT_FALSE(fs::exists(dir_ / "New/copy.txt"));
  EXPECT_EQ(call(bind<&bi_file_delete>, {p("New")}), 0u);  // a folder
  EXPECT_EQ(call(bind<&bi_dir_delete>, {p("New")}), 1u);
  EXPECT_EQ(call(bind<&bi_file_delete>, {p("moved.txt")}), 1u);
  EXPECT_EQ(call(bind<&bi_file_delete>, {p("moved.txt")}), 0u);
}

TEST_F(Disk, AttributesAndReadOnlyFiles) {
  EXPECT_EQ(call(bind<&bi_file_getattr>, {p("src.txt")}), system::kAttrArchive);
  EXPECT_EQ(call(bind<&bi_file_getattr>, {p("")}), system::kAttrDirectory);
  EXPECT_EQ(call(bind<&bi_file_getattr>, {p("none")}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_file_setattr>, {p("src.txt"), system::kAttrReadOnly}), 1u);
  EXPECT_EQ(call(bind<&bi_file_getattr>, {p("src.txt")}),
            system::kAttrArchive | system::kAttrReadOnly);
  EXPECT_EQ(call(bind<&bi_file_delete>, {p("src.txt")}), 0u);  // read-only files stay
  std::ofstream(dir_ / "o.txt") << "o";
  EXPECT_EQ(call(bind<&bi_file_copy>, {p("o.txt"), p("src.txt"), 0}), 0u);
  EXPECT_EQ(call(bind<&bi_file_setattr>, {p("src.txt"), 0x80}), 1u);
  EXPECT_EQ(call(bind<&bi_file_getattr>, {p("src.txt")}), system::kAttrArchive);
  EXPECT_EQ(call(bind<&bi_file_delete>, {p("src.txt")}), 1u);
  std::ofstream(dir_ / ".dot") << "";
  EXPECT_EQ(call(bind<&bi_file_getattr>, {p(".dot")}), system::kAttrArchive | system::kAttrHidden);
}

TEST_F(Disk, TimesRoundTripInLocalTime) {
  Addr written = lib::test::block(16), accessed = lib::test::block(16);
  const std::uint16_t when[8] = {2021, 7, 0, 4, 9, 30, 15, 0};
  write_bytes(written, when, 16);
  EXPECT_EQ(call(bind<&bi_file_settime>, {p("src.txt"), 0, 0, written}), 1u);
  Addr out = lib::test::block(16), created = lib::test::block(16);
  EXPECT_EQ(call(bind<&bi_file_gettime>, {p("src.txt"), created, accessed, out}), 1u);
  std::uint16_t got[8];
  read_bytes(out, got, 16);
  EXPECT_EQ(got[0], 2021);
  EXPECT_EQ(got[1], 7);
  EXPECT_EQ(got[2], 0);  // 2021-07-04 was a Sunday
  EXPECT_EQ(got[3], 4);
  EXPECT_EQ(got[4], 9);
  EXPECT_EQ(got[5], 30);
  EXPECT_EQ(got[6], 15);
  host_file::Info st;
  ASSERT_TRUE(host_file::info_of_path((dir_ / "src.txt").string(), st));
  std::int64_t s, ns;
  system::SystemTime t{2021, 7, 0, 4, 9, 30, 15, 0};
  system::moment_of_local_time(t, s, ns);
  EXPECT_EQ(st.modified_sec, s);
  // An impossible date is refused and nothing changes; so is a missing file.
  const std::uint16_t bad[8] = {2021, 2, 0, 30, 0, 0, 0, 0};
  write_bytes(written, bad, 16);
  EXPECT_EQ(call(bind<&bi_file_settime>, {p("src.txt"), 0, 0, written}), 0u);
  ASSERT_TRUE(host_file::info_of_path((dir_ / "src.txt").string(), st));
  EXPECT_EQ(st.modified_sec, s);
  EXPECT_EQ(call(bind<&bi_file_gettime>, {p("none"), 0, 0, out}), 0u);
  EXPECT_EQ(call(bind<&bi_file_gettime>, {p("src.txt"), 0, 0, lib::test::bad_address()}), 0u);
}

TEST_F(Disk, LongAndWildPathsAreRefused) {
  const std::string long_name = (dir_ / std::string(258 - dir_.string().size(), 'n')).string();
  ASSERT_EQ(long_name.size(), 259u);
  EXPECT_EQ(call(bind<&bi_dir_create>, {put(long_name)}), 1u);        // 259 bytes: accepted
  EXPECT_EQ(call(bind<&bi_dir_create>, {put(long_name + "x")}), 0u);  // 260 bytes: refused
  EXPECT_EQ(call(bind<&bi_file_check>, {put(long_name + "x")}), 0u);
  EXPECT_EQ(call(bind<&bi_dir_create>, {lib::test::bad_address()}), 0u);
  EXPECT_EQ(call(bind<&bi_file_delete>, {0}), 0u);
  EXPECT_EQ(call(bind<&bi_file_copy>, {p("src.txt"), 0, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_file_move>, {0, p("x")}), 0u);
}

TEST_F(Disk, UntrustedGamesStayInTheirFolders) {
  Config& c = config();
  const std::string saved_module = c.module_dir, saved_cfg = c.config_path;
  c.module_dir = (dir_ / "game").string() + "/";
  c.config_path = (dir_ / "save" / "cfg_chs.cfg").string();
  fs::create_directories(dir_ / "game");
  fs::create_directories(dir_ / "save");
  std::error_code linked;
  fs::create_directory_symlink(dir_, dir_ / "game" / "escape", linked);
  // Windows asks for rights to make links; without them the case through a
  // link is left out there.
#ifndef _WIN32
  ASSERT_FALSE(linked) << linked.message();
#endif
  system::set_untrusted(true);
  EXPECT_EQ(call(bind<&bi_dir_create>, {p("game/ok")}), 1u);
  EXPECT_EQ(call(bind<&bi_file_copy>, {p("src.txt"), p("game/x.txt"), 0}), 0u);  // source outside
  EXPECT_EQ(call(bind<&bi_dir_create>, {p("outside")}), 0u);
  if (!linked) {
    EXPECT_EQ(call(bind<&bi_dir_create>, {p("game/escape/outside2")}), 0u);  // through a link
  }
  EXPECT_EQ(call(bind<&bi_dir_create>, {p("save/slot")}), 1u);
  EXPECT_EQ(call(bind<&bi_ini_seti>, {put("S"), put("k"), 1, p("elsewhere.ini")}), 0u);
  EXPECT_EQ(call(bind<&bi_exec>, {put("/bin/true")}), 0u);
  EXPECT_EQ(call(bind<&bi_shell>, {0, p("src.txt"), 0}), 0u);
  EXPECT_EQ(call(bind<&bi_dll_load>, {put("libc.so.6")}), 0xFFFFFFFFu);
  system::set_untrusted(false);
  EXPECT_EQ(call(bind<&bi_dir_create>, {p("outside")}), 1u);
  c.module_dir = saved_module;
  c.config_path = saved_cfg;
}

}  // namespace
