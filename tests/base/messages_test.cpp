#include "base/messages.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/config.h"

namespace talven {
namespace {

// The formatter without the compiler's format checking, so that the tests
// can feed it the odd formats games write.
std::string fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = format_message_v(format, args);
  va_end(args);
  return s;
}

TEST(FormatMessage, ConversionsFlagsWidthAndPrecision) {
  EXPECT_EQ(format_message("%d|%i|%u", -5, 7, 4294967295u), "-5|7|4294967295");
  EXPECT_EQ(format_message("%x|%X|%#x|%08X", 255u, 255u, 255u, 0xBEEFu), "ff|FF|0xff|0000BEEF");
  EXPECT_EQ(format_message("[%5d][%-5d][%05d][%+d][% d]", 42, 42, -42, 3, 3),
            "[   42][42   ][-0042][+3][ 3]");
  EXPECT_EQ(format_message("[%.3d][%8.3d][%.0d]", 7, -7, 0), "[007][    -007][]");
  EXPECT_EQ(format_message("[%s][%6s][%-6s][%.2s]", "abc", "abc", "abc", "abc"),
            "[abc][   abc][abc   ][ab]");
  EXPECT_EQ(format_message("[%*d][%-*d][%.*s]", 4, 1, 3, 2, 1, "xyz"), "[   1][2  ][x]");
  EXPECT_EQ(format_message("%c%c%%", 'o', 'k'), "ok%");
  EXPECT_EQ(format_message("%d", INT32_MIN), "-2147483648");
  EXPECT_EQ(fmt("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(fmt("100%"), "100%");  // a lone % at the end stays
}

TEST(FormatMessage, KeepsLongMessagesWholeAndShowsCp932ArgumentsAsUtf8) {
  std::string big(1000, 'x');
  EXPECT_EQ(format_message("<%s>", big.c_str()).size(), 1002u);
  // "テスト" in CP932, passed as a game would pass a file name.
  const char sjis[] = "\x83\x65\x83\x58\x83\x67.png";
  EXPECT_EQ(format_message("%s", sjis), "テスト.png");
  EXPECT_EQ(format_message("%s", "ファイル"), "ファイル");  // UTF-8 stays as it is
}

TEST(ReportMessage, FiltersByErrorLevelAsUnsigned) {
  std::vector<std::pair<unsigned, std::string>> shown;
  MessageSink old = set_message_sink([&](unsigned level, const std::string& text) {
    shown.emplace_back(level, text);
    return 7;
  });
  Config saved = config();

  config().Error = 1;
  EXPECT_EQ(report_message(2, "notice %d", 1), 1);  // filtered: returns Error
  EXPECT_EQ(report_message(1, "error %s", "A"), 7);
  config().Error = 0;
  EXPECT_EQ(report_message(1, "hidden"), 0);
  config().Error = 2;
  EXPECT_EQ(report_message(2, "file %s", "x.png"), 7);
  config().Error = -1;  // as unsigned this shows everything
  EXPECT_EQ(report_message(5, "all"), 7);

  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0], std::make_pair(1u, std::string("error A")));
  EXPECT_EQ(shown[1], std::make_pair(2u, std::string("file x.png")));
  EXPECT_EQ(shown[2].second, "all");

  config() = saved;
  set_message_sink(old);
}

TEST(MessageGloss, NamesTheRuntimesOwnTextsInEnglish) {
  EXPECT_EQ(message_gloss("LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : a.png"),
            "the image file could not be read");
  // The plain file text is a part of the image one: the longer text wins.
  EXPECT_EQ(message_gloss("ファイルの読み込みに失敗しました。FILE - a.dat"),
            "the file could not be read");
  EXPECT_EQ(message_gloss("フォント \"X\" が見つかりません。IPAGothic を使います。"),
            "the font is not installed; another face is used");
  EXPECT_EQ(message_gloss("Divide by zero error."), "");
  EXPECT_EQ(message_gloss(""), "");
}

std::string two_places(const BuiltinCallSite&) {
  return "  at main.c(12) in draw\n  at main.c(30) in main\n";
}

TEST(TerminalMessage, AddsTheGlossTheBuiltinAndThePlacesOfTheCall) {
  EXPECT_EQ(terminal_message("plain\r\ntext\n", nullptr), "talven: plain | text\n");
  BuiltinCallSite site;
  site.builtin = "gload";
  site.describe = two_places;
  EXPECT_EQ(
      terminal_message("LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : a.png", &site),
      "talven: LoadPlane : 画像ファイルの読み込みに失敗しました。 | File : a.png "
      "[gload: the image file could not be read]\n"
      "  at main.c(12) in draw\n  at main.c(30) in main\n");
  EXPECT_EQ(terminal_message("something else", &site),
            "talven: something else [gload]\n  at main.c(12) in draw\n  at main.c(30) in main\n");
  EXPECT_EQ(terminal_message("ファイルの作成に失敗しました FILE - s.dat", nullptr),
            "talven: ファイルの作成に失敗しました FILE - s.dat [the file could not be created]\n");
}

TEST(BuiltinCallScope, MarksOnlyItsOwnThreadAndNests) {
  BuiltinCallSite outer, inner;
  EXPECT_EQ(current_builtin_call(), nullptr);
  {
    BuiltinCallScope a(&outer);
    {
      BuiltinCallScope b(&inner);
      EXPECT_EQ(current_builtin_call(), &inner);
      const BuiltinCallSite* elsewhere = &inner;
      std::thread([&] { elsewhere = current_builtin_call(); }).join();
      EXPECT_EQ(elsewhere, nullptr);
    }
    EXPECT_EQ(current_builtin_call(), &outer);
  }
  EXPECT_EQ(current_builtin_call(), nullptr);
}

}  // namespace
}  // namespace talven
