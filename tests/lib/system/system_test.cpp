// System variables, message boxes, the clipboard's results and programs,
// in a headless process (no window, no display).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/config.h"
#include "graphics/kernels/kernels.h"
#include "lib/builtin_call.h"
#include "lib/system/desktop_calls.h"
#include "lib/system/process.h"
#include "lib/system/system_builtins.h"

namespace {

namespace fs = std::filesystem;
using namespace talven;
using namespace talven::lib;
using lib::test::bind;
using lib::test::call;
using lib::test::put;

TEST(SystemVariables, NamesWithoutRegardToCase) {
  Config& c = config();
  c.Width = 800;
  c.Height = 600;
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("Width")}), 800u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("HEIGHT")}), 600u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("Os_Platform")}), 2u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("os_major")}), 10u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("FullScreen")}), 0u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("sp_count")}), 0u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("widths")}), 0u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {0}), 0u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {lib::test::bad_address()}), 0u);
  EXPECT_EQ(system::system_variable("sp_count"), 12);
  EXPECT_EQ(system::system_variable(""), -1);
}

TEST(SystemVariables, SettingThem) {
  Config& c = config();
  c.Width = 800;
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("width"), 1024}), 0u);
  EXPECT_EQ(c.Width, 800);
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("sp_count"), 5}), 0u);
  // Full screen: already in that mode (window), or no window to switch.
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("fullscreen"), 0}), 0u);
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("FULLSCREEN"), 1}), 0u);
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("Smoothing"), 0}), 1u);
  EXPECT_EQ(call(bind<&bi_getsystem>, {put("smoothing")}), 0u);
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("global_focus"), 0}), 1u);
  EXPECT_EQ(c.GlobalFocus, 0);
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("color_mapping"), 1}), 1u);
  EXPECT_EQ(graphics::color_mapping(), 1);
  EXPECT_EQ(call(bind<&bi_setsystem>, {put("color_mapping"), 0}), 1u);
  c.Smoothing = 1;
  c.GlobalFocus = 1;
}

TEST(MessageBoxes, ButtonSetsDefaultsAndEscape) {
  auto b = system::box_layout(0);
  EXPECT_EQ(b.ids, std::vector<int>{1});
  EXPECT_EQ(b.escape_id, 1);
  b = system::box_layout(4 | 0x100 | 0x20);  // yes/no, second default, question
  EXPECT_EQ(b.ids, (std::vector<int>{6, 7}));
  EXPECT_EQ(b.default_index, 1);
  EXPECT_EQ(b.escape_id, 7);
  EXPECT_EQ(b.icon, 3);
  b = system::box_layout(3 | 0x200 | 0x10);  // yes/no/cancel, third default, error
  EXPECT_EQ(b.default_index, 2);
  EXPECT_EQ(b.escape_id, 2);
  EXPECT_EQ(b.icon, 1);
  b = system::box_layout(2 | 0x300);  // a fourth default does not exist
  EXPECT_EQ(b.default_index, 0);
  EXPECT_EQ(b.escape_id, 3);
  EXPECT_TRUE(system::box_layout(7).ids.empty());
  // Headless: printed, answered with the default button at once.
  EXPECT_EQ(call(bind<&bi_mbox>, {1 | 0x100, put("caption"), put("text")}), 2u);
  EXPECT_EQ(call(bind<&bi_mbox>, {4, 0, put("text")}), 6u);
  EXPECT_EQ(call(bind<&bi_mbox>, {7, put("c"), put("t")}), 0u);
  EXPECT_EQ(call(bind<&bi_mbox>, {0, lib::test::bad_address(), put("t")}), 0u);
  EXPECT_EQ(call(bind<&bi_caption>, {put("title")}), 1u);
}

TEST(Clipboard, ResultValues) {
  Addr buf = lib::test::block(16);
  system::headless_clipboard().reset();
  EXPECT_EQ(call(bind<&bi_clip_read>, {buf, 10}), static_cast<std::uint32_t>(-3));
  EXPECT_EQ(call(bind<&bi_clip_write>, {0}), 0u);
  EXPECT_EQ(call(bind<&bi_clip_write>, {put("")}), 0u);
  EXPECT_EQ(call(bind<&bi_clip_write>, {put("abc")}), 3u);
  EXPECT_EQ(call(bind<&bi_clip_read>, {buf, 10}), 4u);
  EXPECT_EQ(lib::test::bytes_at(buf, 5), std::string("abc\0\xEE", 5));
  Addr small = lib::test::block(8);
  EXPECT_EQ(call(bind<&bi_clip_read>, {small, 3}), 2u);
  EXPECT_EQ(lib::test::bytes_at(small, 4), std::string("ab\0\xEE", 4));
  EXPECT_EQ(call(bind<&bi_clip_read>, {small, 4}), 3u);  // L + 1 == size: truncated
  EXPECT_EQ(lib::test::bytes_at(small, 4), std::string("abc\0", 4));
  EXPECT_EQ(call(bind<&bi_clip_read>, {0, 10}), 0u);
  EXPECT_EQ(call(bind<&bi_clip_read>, {buf, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_clip_read>, {buf, static_cast<std::uint32_t>(-5)}), 0u);
  EXPECT_EQ(call(bind<&bi_clip_read>, {lib::test::bad_address(), 10}), 0u);

  EXPECT_EQ(system::crlf_from_lf("a\nb\r\nc"), "a\r\nb\r\nc");
  EXPECT_EQ(system::lf_from_crlf("a\r\nb\rc"), "a\nb\rc");
}

TEST(CommandLines, SplitTheWindowsWay) {
  using V = std::vector<std::string>;
  EXPECT_EQ(system::split_command_line("prog a b"), (V{"prog", "a", "b"}));
  EXPECT_EQ(system::split_command_line("  \"C:\\Program Files\\x.exe\" \"two words\" c"),
            (V{"C:\\Program Files\\x.exe", "two words", "c"}));
  EXPECT_EQ(system::split_command_line("p a\\\\\\\"b"),
            (V{"p", "a\\\"b"}));  // 3 backslashes, quote
  EXPECT_EQ(system::split_command_line("p \"a\\\\\" b"),
            (V{"p", "a\\", "b"}));  // 2 backslashes, quote
  EXPECT_EQ(system::split_command_line("p a\\b\\"), (V{"p", "a\\b\\"}));
  EXPECT_EQ(system::split_command_line("p \"say \"\"hi\"\"\""), (V{"p", "say \"hi\""}));
  EXPECT_EQ(system::split_command_line("p \"\""), (V{"p", ""}));
  // A trail byte 0x5C is not a backslash: \x95\x5C\x22 stays one character and a quote.
  EXPECT_EQ(system::split_command_line("p \"\x95\x5C\" x"), (V{"p", "\x95\x5C", "x"}));
  EXPECT_TRUE(system::split_command_line("   ").empty());
}

TEST(Programs, ExecAndShell) {
#ifdef _WIN32
  GTEST_SKIP() << "the program started is a POSIX shell script";
#endif
  const fs::path dir = fs::temp_directory_path() / ("talven_exec_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path script = dir / "write args.sh";
  const fs::path out = dir / "out.txt";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$@\" > \"" << out.string() << ".tmp\"\nmv \""
                        << out.string() << ".tmp\" \"" << out.string() << "\"\n";
  fs::permissions(script, fs::perms::owner_all);
  auto wait_for_output = [&] {
    for (int i = 0; i < 200 && !fs::exists(out); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(call(bind<&bi_exec>, {put("\"" + script.string() + "\" one \"two three\" a\\\"b")}),
            1u);
  EXPECT_EQ(wait_for_output(), "one|two three|a\"b|");
  fs::remove(out);
  // shell runs a program with its parameters.
  EXPECT_EQ(call(bind<&bi_shell>, {put("open"), put(script.string()), put("x \"y z\"")}), 1u);
  EXPECT_EQ(wait_for_output(), "x|y z|");
  // Missing program: 0. Missing document: 1 (an error code of the opener).
  EXPECT_EQ(call(bind<&bi_exec>, {put("no_such_program_here.exe /x")}), 0u);
  EXPECT_EQ(call(bind<&bi_exec>, {put((dir / "missing").string())}), 0u);
  EXPECT_EQ(call(bind<&bi_exec>, {0}), 0u);
  EXPECT_EQ(call(bind<&bi_exec>, {put("")}), 0u);
  EXPECT_EQ(call(bind<&bi_shell>, {put("open"), put((dir / "missing.doc").string()), 0}), 1u);
  EXPECT_EQ(call(bind<&bi_shell>, {put("print"), put(script.string()), 0}), 1u);
  EXPECT_EQ(call(bind<&bi_shell>, {0, 0, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_wallpaper>, {put("x.bmp"), 0}), 1u);
  fs::remove_all(dir);
}

}  // namespace
