// What authors meet when they write scripts: UTF-8 sources, warnings about
// calls that do not match their declarations, where missing tokens and
// undefined names are reported, the named disassembly, and the built-in
// header taken without a notice.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "base/config.h"
#include "base/cp932.h"
#include "base/messages.h"
#include "script/compiler_test_support.h"
#include "script/source_encoding.h"

namespace talven::script::test {
namespace {

// Sets SourceEncoding for one test and puts the old value back.
class EncodingSetting {
 public:
  explicit EncodingSetting(const char* value) : old_(config().SourceEncoding) {
    config().SourceEncoding = value;
  }
  ~EncodingSetting() { config().SourceEncoding = old_; }

 private:
  std::string old_;
};

// The code and data bytes of each source compiled into one and the same
// area, so that their absolute addresses agree. Empty when one fails.
std::vector<std::vector<std::uint8_t>> images_in_one_area(
    const std::vector<std::map<std::string, std::string>>& games) {
  std::vector<std::vector<std::uint8_t>> out;
  Sources first;
  first.files = games.front();
  CompileResult measured = compile_script("main.c", 0, 0, options_for(first));
  if (!measured.ok) return out;
  const std::uint32_t size = measured.code_size + measured.data_size;
  VmPtr ctx(vm_create(static_cast<std::int32_t>(size), 4096));
  for (const auto& files : games) {
    Sources src;
    src.files = files;
    std::memset(span(ctx->program, size), 0, size);
    CompileResult r = compile_script("main.c", ctx->program, size, options_for(src));
    if (!r.ok || r.code_size + r.data_size != size) return {};
    std::vector<std::uint8_t> bytes(size);
    read_bytes(ctx->program, bytes.data(), size);
    out.push_back(std::move(bytes));
  }
  return out;
}

std::string cp932_of(const std::string& utf8) { return cp932::from_utf8(utf8).value(); }

CompileResult compile_only(const std::string& text) {
  Sources src;
  src.files["main.c"] = text;
  return compile_script("main.c", 0, 0, options_for(src));
}

// ---- source encodings ----------------------------------------------------------------

// Literals with Japanese text, among them characters whose UTF-8 bytes read
// as CP932 would swallow the closing quote ("あ") or hold a 0x5C ("ソ").
const std::string kJapaneseGame =
    "#include \"talven.h\"\n"
    "// 日本語のコメント\n"
    "char *title = \"ソフトの題名\";\n"
    "int main() {\n"
    "  char *s = \"あいう〜ー①\";  /* 全角 */\n"
    "  int c = '漢';\n"
    "  return strlen(s) + c + title[0];\n"
    "}\n";

TEST(SourceEncoding, AUtf8GameCompilesToTheImageOfItsCp932Twin) {
  const std::string cp932 = cp932_of(kJapaneseGame);
  ASSERT_NE(cp932, kJapaneseGame);
  std::vector<std::map<std::string, std::string>> games = {
      {{"main.c", cp932}},
      {{"main.c", kJapaneseGame}},
      {{"main.c", "\xEF\xBB\xBF" + kJapaneseGame}},
  };
  // Included files are decided one by one: a CP932 header under a UTF-8
  // main file.
  const std::string header = "char *greeting = \"こんにちは\";\n";
  auto images = images_in_one_area(games);
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0], images[1]);
  EXPECT_EQ(images[0], images[2]);
  images = images_in_one_area(
      {{{"main.c", "#include \"greet.h\"\n" + cp932}, {"greet.h", cp932_of(header)}},
       {{"main.c", "#include \"greet.h\"\n" + kJapaneseGame}, {"greet.h", cp932_of(header)}}});
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0], images[1]);

  // Read as CP932 (forced), UTF-8 text fails as it always did: the last
  // byte of "あ" (E3 81 82) leads a pair that swallows the closing quote.
  EncodingSetting cp932_mode("cp932");
  CompileResult r = compile_only("char *s = \"あ\";\nint main() { return s[0]; }\n");
  EXPECT_EQ(r.error, 16);
  EXPECT_FALSE(compile_only(kJapaneseGame).ok);
}

TEST(SourceEncoding, TheConvertedTextKeepsItsLinesAndCp932Bytes) {
  std::string text = "a = \"テスト\";\r\n// \xF0\x9F\x98\x80 in a comment\nb = '表';\n";
  SourceDecoding d = decode_source(text, SourceEncoding::kAuto);
  ASSERT_EQ(d.outcome, SourceDecoding::kConverted);
  // The emoji has no CP932 form: inside a comment it becomes '?'.
  EXPECT_EQ(text, "a = \"\x83\x65\x83\x58\x83\x67\";\r\n// ? in a comment\nb = '\x95\x5C';\n");

  // A CP932 text is left alone, in every mode; plain ASCII too.
  std::string sjis = "s = \"\x82\xa0\x83\x5C\";\n", kept = sjis;
  for (SourceEncoding m : {SourceEncoding::kAuto, SourceEncoding::kCp932}) {
    EXPECT_EQ(decode_source(sjis, m).outcome, SourceDecoding::kAsIs);
    EXPECT_EQ(sjis, kept);
  }
  std::string ascii = "int x;\n";
  EXPECT_EQ(decode_source(ascii, SourceEncoding::kUtf8).outcome, SourceDecoding::kAsIs);

  // Half-width katakana pairs that happen to be valid UTF-8 (ﾃｽ is C3 BD,
  // "ý") stay CP932: that reading is not Japanese.
  std::string katakana = "s = \"\xC3\xBD\";\n";
  EXPECT_EQ(decode_source(katakana, SourceEncoding::kAuto).outcome, SourceDecoding::kAsIs);
  EXPECT_EQ(decode_source(katakana, SourceEncoding::kUtf8).outcome, SourceDecoding::kFailed);

  EXPECT_EQ(parse_source_encoding("UTF-8"), SourceEncoding::kUtf8);
  EXPECT_EQ(parse_source_encoding(""), SourceEncoding::kAuto);
  EXPECT_EQ(parse_source_encoding("Shift_JIS"), SourceEncoding::kCp932);
  EXPECT_FALSE(parse_source_encoding("latin1"));
}

TEST(SourceEncoding, ACharacterWithoutCp932FormIsAnErrorThatNamesIt) {
  CompileResult r = compile_only("int main() {\n  char *s = \"ok 😀\";\n  return 0;\n}\n");
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error, 3);
  ASSERT_EQ(r.diagnostics.size(), 1u);
  const CompileDiagnostic& d = r.diagnostics[0];
  EXPECT_EQ(d.line, 2);
  EXPECT_NE(d.gloss.find("'😀' (U+1F600) has no CP932 form"), std::string::npos) << d.gloss;
  EXPECT_EQ(d.source, "  char *s = \"ok ?\";");
  EXPECT_EQ(d.column, 16);  // under the character
  EXPECT_EQ(r.messages,
            "main.c(2) : ファイルの読み込みに失敗しました。\n  char *s = \"ok ???\";\n");
  // The same character in a comment does not matter.
  EXPECT_TRUE(compile_only("// 😀 あ\nint main() { return 0; } /* 😀 */\n").ok);
}

TEST(SourceEncoding, TextThatIsNeitherEncodingIsSaidSo) {
  // Not UTF-8 and not CP932 (0x80 starts no CP932 character): read as the
  // bytes stand, as always, with a warning that says what is wrong.
  CompileResult r = compile_only("int main() {\n  char *s = \"\x80\";\n  return s[0];\n}\n");
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.warnings[0].line, 2);
  EXPECT_NE(r.warnings[0].gloss.find("neither valid UTF-8 nor CP932"), std::string::npos);

  // Declared UTF-8 but not: an error that says so.
  EncodingSetting utf8("utf8");
  r = compile_only("int main() {\n  return '\x82\xa0';\n}\n");
  EXPECT_FALSE(r.ok);
  ASSERT_FALSE(r.diagnostics.empty());
  EXPECT_EQ(r.diagnostics[0].line, 2);
  EXPECT_NE(r.diagnostics[0].gloss.find("not valid UTF-8"), std::string::npos);

  EncodingSetting unknown("latin1");
  r = compile_only("int main() { return 0; }\n");
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_NE(r.warnings[0].gloss.find("unknown SourceEncoding value 'latin1'"), std::string::npos);
}

// ---- argument counts ------------------------------------------------------------------

std::vector<std::string> warning_glosses(const CompileResult& r) {
  std::vector<std::string> out;
  for (const CompileDiagnostic& d : r.warnings) out.push_back(d.gloss);
  return out;
}

TEST(ArgumentWarnings, BuiltinCallsAreCheckedAgainstTheHeader) {
  const std::string calls =
      "#include \"talven.h\"\n"
      "int main() {\n"
      "  char buf[32];\n"
      "  gfill(0, 1, 2, 3, 4);\n"
      "  sprintf(buf, \"%d %d\", 1, 2);\n"
      "  sprintf(buf);\n"
      "  return sqrt(2) + sqrt(2.0) + abs(1, 2);\n"
      "}\n";
  Compiled c = compile_text(calls);
  ASSERT_TRUE(c.ok());
  // Warnings are not messages: nothing for a message box.
  EXPECT_EQ(c.result.messages, "");
  EXPECT_EQ(warning_glosses(c.result),
            (std::vector<std::string>{
                "warning: builtin gfill takes 6 arguments, 5 given",
                "warning: builtin sprintf takes at least 2 arguments, 1 given",
                "warning: argument 1 of sqrt is a float; the integer constant is passed as its "
                "bits, not converted (write it with a decimal point)",
                "warning: builtin abs takes 1 argument, 2 given",
            }));
  const CompileDiagnostic& w = c.result.warnings[0];
  EXPECT_EQ(w.line, 4);
  EXPECT_EQ(w.source, "  gfill(0, 1, 2, 3, 4);");
  EXPECT_EQ(w.column, 23);  // where reading stood: past the call
  EXPECT_TRUE(w.warning);
  EXPECT_EQ(c.measured.warnings.size(), 4u);

  // The image is the one the calls always gave.
  auto images = images_in_one_area({{{"main.c", calls}}, {{"main.c", calls}}});
  ASSERT_EQ(images.size(), 2u);
  std::string terminal = terminal_report(c.result);
  EXPECT_NE(terminal.find("main.c(4) : 警告: gfill の引数は 6 個ですが、5 個渡されています。 "
                          "[warning: builtin gfill takes 6 arguments, 5 given]\n"
                          "      gfill(0, 1, 2, 3, 4);\n"
                          "                           ^\n"),
            std::string::npos)
      << terminal;
}

TEST(ArgumentWarnings, ScriptFunctionsDeclaredEarlierAreChecked) {
  CompileResult r = compile_only(
      "int early() { return later(1, 2, 3); }\n"  // not declared yet: not checked
      "int scale(int v, float f) { return v; }\n"
      "int old(a, b) float b; { return a; }\n"
      "int self(int n) { return n ? self() : 0; }\n"
      "int later(int a) { return a; }\n"
      "int main() {\n"
      "  scale(1);\n"
      "  scale(1, 2);\n"
      "  scale(1, 2.5);\n"
      "  old(1, 3);\n"
      "  int (*p)() = scale;\n"
      "  p(1, 2, 3);\n"  // through a pointer: unknown
      "  return scale(2.0, 1.0);\n"
      "}\n");
  ASSERT_TRUE(r.ok) << r.messages;
  EXPECT_EQ(warning_glosses(r),
            (std::vector<std::string>{
                "warning: function self takes 1 argument, 0 given",
                "warning: function scale takes 2 arguments, 1 given",
                "warning: argument 2 of scale is a float; the integer constant is passed as its "
                "bits, not converted (write it with a decimal point)",
                "warning: argument 2 of old is a float; the integer constant is passed as its "
                "bits, not converted (write it with a decimal point)",
                "warning: argument 1 of scale is not a float; the float constant is passed as its "
                "bits, not converted",
            }));
  EXPECT_EQ(r.warnings[1].line, 7);
}

// ---- constant indexes ------------------------------------------------------------------

TEST(IndexWarnings, ConstantIndexesOutsideDeclaredArraysAreWarnedAbout) {
  const std::string text =
      "int buf[4]; int m[2][3];\n"
      "struct P { int x; int v[2]; } pts[3];\n"
      "int main() {\n"
      "  int loc[2]; int *p; int n;\n"
      "  buf[4] = 1;\n"
      "  loc[-1] = buf[5] + loc[2];\n"
      "  m[2][0] = 1; m[0][3] = 2; pts[3].x = 1; pts[0].v[2] = 1;\n"
      "  p = &buf[5]; n = buf[4]++;\n"
      // One past the end as an address only, sizeof's operand, and
      // elements inside: nothing to say.
      "  p = &buf[4]; p = buf + 4; p = m[2]; p = &m[1][3]; p = &pts[0].v[2];\n"
      "  n = sizeof buf[9] + buf[3] + loc[1] + m[1][2] + pts[2].v[1];\n"
      "  return n;\n"
      "}\n";
  Compiled c = compile_text(text);
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(c.result.messages, "");
  EXPECT_EQ(warning_glosses(c.result),
            (std::vector<std::string>{
                "warning: index 4 is past the end of array 'buf' (4 elements)",
                "warning: index -1 is before the start of array 'loc'",
                "warning: index 5 is past the end of array 'buf' (4 elements)",
                "warning: index 2 is past the end of array 'loc' (2 elements)",
                "warning: index 2 is past the end of array 'm' (2 elements)",
                "warning: index 3 is past the end of array 'm[0]' (3 elements)",
                "warning: index 3 is past the end of array 'pts' (3 elements)",
                "warning: index 2 is past the end of array 'pts[0].v' (2 elements)",
                "warning: index 5 is past the end of array 'buf' (4 elements)",
                "warning: index 4 is past the end of array 'buf' (4 elements)",
            }));
  const CompileDiagnostic& w = c.result.warnings[1];
  EXPECT_EQ(w.line, 6);
  EXPECT_EQ(w.source, "  loc[-1] = buf[5] + loc[2];");
  EXPECT_EQ(w.column, 10);  // where reading stood: past the ']'
  EXPECT_NE(
      terminal_report(c.result).find("main.c(5) : 警告: 配列 buf の添字 4 は末尾を越えています "
                                     "(要素数 4)。 [warning: index 4 is past the end of "
                                     "array 'buf' (4 elements)]\n"
                                     "      buf[4] = 1;\n"
                                     "             ^\n"),
      std::string::npos)
      << terminal_report(c.result);
}

TEST(ArgumentWarnings, AVariadicPrototypeAndTheTerminalOnlyReport) {
  Sources src;
  src.files["main.c"] =
      "#trap\nint first(int a, ...);\n"
      "int main() { first(); first(1, 2, 3); return 0; }\n";
  Compiled c = compile_sources(src);
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(warning_glosses(c.result),
            std::vector<std::string>{"warning: builtin first takes at least 1 argument, 0 given"});
  // A run's compilation shows warnings on the terminal, never in a box.
  int boxes = 0;
  MessageSink previous = set_message_sink([&](unsigned, const std::string&) { return ++boxes; });
  testing::internal::CaptureStderr();
  show_compile_messages(c.result);
  std::string err = testing::internal::GetCapturedStderr();
  set_message_sink(previous);
  EXPECT_EQ(boxes, 0);
  EXPECT_NE(err.find("talven: main.c(3) : 警告: first"), std::string::npos) << err;
}

// ---- where errors are reported --------------------------------------------------------

TEST(ErrorPlaces, AMissingSemicolonIsReportedOnItsOwnLine) {
  // In a statement: not fatal, reported where the ';' belongs.
  CompileResult r = compile_only("int main() {\n  int a;\n  a = 1\n\n  return a;\n}\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.messages, "main.c(3) : ';' がありません\n");

  // After a declaration: fatal, with the marker at the end of that line.
  r = compile_only("int a = 1   \n\nint b;\nint main() { return a; }\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, 8);
  EXPECT_EQ(r.messages, "main.c(1) : 変数（関数）の宣言に誤りがあります。\nint a = 1??   \n");
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(r.diagnostics[0].line, 1);
  EXPECT_EQ(r.diagnostics[0].column, 9);
  r = compile_only("int main() {\n  int x, y\n  x = 2;\n  return x;\n}\n");
  EXPECT_EQ(r.error, 8);
  EXPECT_EQ(r.messages.substr(0, 10), "main.c(2) ");
  // On one line, where reading stands, as before.
  r = compile_only("int a b;\n");
  EXPECT_EQ(r.messages, "main.c(1) : 変数（関数）の宣言に誤りがあります。\nint a b;??\n");
}

TEST(ErrorPlaces, AnUndefinedNameIsNamed) {
  CompileResult r = compile_only("int main() {\n  return counter + 1;\n}\n");
  ASSERT_EQ(r.error, 15);
  EXPECT_EQ(r.diagnostics.at(0).gloss, "error 15: undefined name 'counter'");
  r = compile_only("struct P { int x; };\nint main() { struct P p; return p.y; }\n");
  EXPECT_EQ(r.diagnostics.at(0).gloss, "error 15: undefined name 'y'");
  r = compile_only("int main() { struct Q *q; return 0; }\n");
  EXPECT_EQ(r.diagnostics.at(0).gloss, "error 15: undefined name 'Q'");
}

// ---- the named disassembly ------------------------------------------------------------

TEST(NamedDisassembly, FunctionsBuiltinsAndLinesStandBesideTheCode) {
  Compiled c = compile_text(
      "#trap\nint beep(int n);\n"
      "int twice(int v) {\n"
      "  return v * 2;\n"
      "}\n"
      "int main() {\n"
      "  beep(1);\n"
      "  return twice(3);\n"
      "}\n");
  ASSERT_TRUE(c.ok());
  const std::string named = disassemble_with_names(c.program(), c.result.code_size);
  const std::string plain = c.listing();
  EXPECT_NE(named.find("; builtin beep\n"), std::string::npos) << named;
  EXPECT_NE(named.find("; function twice\n"), std::string::npos) << named;
  EXPECT_NE(named.find("; function main\n"), std::string::npos) << named;
  // The file where it first appears, then the lines as they change.
  EXPECT_NE(named.find("; main.c(3)"), std::string::npos) << named;
  EXPECT_NE(named.find("; line 4\n"), std::string::npos) << named;
  EXPECT_NE(named.find("; line 8"), std::string::npos) << named;
  // Calls name their targets.
  bool call_beep = false, call_twice = false, jump_main = false;
  std::istringstream lines(named);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("call") != std::string::npos && line.find("; beep") != std::string::npos)
      call_beep = true;
    if (line.find("call") != std::string::npos && line.find("twice") != std::string::npos)
      call_twice = true;
    if (line.find("jmp") != std::string::npos && line.find("; main") != std::string::npos)
      jump_main = true;
  }
  EXPECT_TRUE(call_beep && call_twice && jump_main) << named;
  // Without the notes and the name lines it is the plain listing.
  std::string stripped;
  std::istringstream again(named);
  for (std::string line; std::getline(again, line);) {
    if (line.rfind("; ", 0) == 0) continue;
    std::size_t note = line.find(" ;");
    if (note != std::string::npos) line = line.substr(0, line.find_last_not_of(' ', note) + 1);
    stripped += line + "\n";
  }
  EXPECT_EQ(stripped, plain);
}

// ---- the built-in header --------------------------------------------------------------

TEST(BuiltinHeader, TheFallbackGivesNoNoticeButAMissingFileStillDoes) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("talven_h2_header_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "main.c") << "#include \"talven.h\"\nint main() { return abs(-2); }\n";
  std::ofstream(dir / "other.c") << "#include \"talven.h\"\n#include \"gone.h\"\nint main() { }\n";

  const std::int32_t old_error = config().Error, old_file_system = config().FileSystem;
  config().Error = 2;
  config().FileSystem = 3;  // loose files
  std::vector<std::string> notices;
  MessageSink previous = set_message_sink([&](unsigned, const std::string& text) {
    notices.push_back(text);
    return kMessageOk;
  });
  CompileOptions o;
  o.script_dir = dir.string() + "/";
  o.show_messages = false;
  o.heap = test_heap();
  testing::internal::CaptureStderr();
  CompileResult good = compile_script("main.c", 0, 0, o);
  const std::size_t after_good = notices.size();
  CompileResult bad = compile_script("other.c", 0, 0, o);
  testing::internal::GetCapturedStderr();
  set_message_sink(previous);
  config().Error = old_error;
  config().FileSystem = old_file_system;
  fs::remove_all(dir);

  EXPECT_TRUE(good.ok) << good.messages;
  EXPECT_EQ(after_good, 0u);
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.error, 2);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("gone.h"), std::string::npos) << notices[0];
}

}  // namespace
}  // namespace talven::script::test
