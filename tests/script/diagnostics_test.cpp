// What the terminal shows of compile errors (glosses, the source line and a
// caret) and the line tables that name the place of run-time errors.
#include <gtest/gtest.h>

#include "base/config.h"
#include "base/cp932.h"
#include "base/messages.h"
#include "script/compiler_test_support.h"
#include "script/line_table.h"
#include "script/sdk_header.h"

namespace talven::script::test {
namespace {

CompileResult compile_only(Sources& src) {
  return compile_script("main.c", 0, 0, options_for(src));
}

TEST(Diagnostics, FatalErrorInAnIncludedFileGetsGlossSourceAndCaret) {
  Sources src;
  src.files["main.c"] = "#include \"util.h\"\nint main() {\n  return twice(2);\n}\n";
  src.files["util.h"] = "// helpers\nint twice(int v) {\n\treturn v *\tfactor;\n}\n";
  CompileResult r = compile_only(src);
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error, 15);
  // The buffer keeps its own form, "??" and all.
  // (Reading stands past the token after the name: the parser looked at it.)
  EXPECT_EQ(r.messages, "util.h(3) : 定義されていない文字列です。\n    return v *  factor;??\n");
  std::string t = terminal_report(r, "talven: ");
  EXPECT_EQ(t,
            "talven: util.h(3) : 定義されていない文字列です。 [error 15: undefined name "
            "'factor']\n"
            "        return v *  factor;\n"
            "                           ^\n")
      << t;
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(r.diagnostics[0].column, 23);
}

TEST(Diagnostics, CaretCountsTwoColumnsForADoubleByteCharacter) {
  Sources src;
  src.files["main.c"] = "int main() {\n  char *s = \"\x82\xa0\"; return s +;\n}\n";
  CompileResult r = compile_only(src);
  ASSERT_FALSE(r.ok);
  const CompileDiagnostic& d = r.diagnostics.at(0);
  EXPECT_EQ(d.source, "  char *s = \"あ\"; return s +;");
  // The caret stands under the same character as the buffer's marker.
  std::size_t marker = r.messages.find("??");
  ASSERT_NE(marker, std::string::npos);
  std::string before = cp932::from_utf8_lossy(
      r.messages.substr(r.messages.find('\n') + 1, marker - r.messages.find('\n') - 1));
  EXPECT_EQ(d.column, static_cast<int>(before.size()));
  EXPECT_GT(d.column, 20);
}

TEST(Diagnostics, EveryErrorNumberHasAGlossAndOtherLinesGetTheirs) {
  for (int n = 0; n <= 24; ++n) EXPECT_STRNE(compile_error_gloss(n), "") << n;
  EXPECT_STREQ(compile_error_gloss(25), "");
  EXPECT_STREQ(compile_error_gloss(-1), "");

  Sources src;
  src.files["main.c"] = "int main() {\n  int a;\n  a = (1;\n  goto away;\n  return later(a);\n}\n";
  CompileResult r = compile_only(src);
  ASSERT_FALSE(r.ok);
  std::string t = terminal_report(r);
  EXPECT_NE(t.find("main.c(3) : ')' がありません [missing ')']\n"), std::string::npos) << t;
  EXPECT_NE(t.find("main.c(5) : later 関数は定義されていません。 [function called or declared but "
                   "never defined]\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("away ラベルは定義されていません。 [goto label never defined]\n"),
            std::string::npos)
      << t;
  EXPECT_EQ(t.find('^'), std::string::npos) << t;  // no fatal error, no caret
}

TEST(Diagnostics, BuiltinSdkHeaderServesTalvenHOnlyWhenTheGameHasNone) {
  EXPECT_NE(builtin_sdk_header().find("#trap"), std::string_view::npos);
  EXPECT_TRUE(is_sdk_header_name("talven.h"));
  EXPECT_TRUE(is_sdk_header_name("..\\..\\sdk\\TALVEN.H"));
  EXPECT_TRUE(is_sdk_header_name("inc/Talven.h"));
  EXPECT_FALSE(is_sdk_header_name("talven.h.bak"));
  EXPECT_FALSE(is_sdk_header_name("mytalven.h"));

  Sources src;
  src.files["main.c"] = "#include \"talven.h\"\nint main() { return abs(-4); }\n";
  Compiled c = compile_sources(src);
  ASSERT_TRUE(c.ok()) << c.result.messages;

  // The main script itself is never replaced.
  Sources none;
  EXPECT_EQ(compile_script("talven.h", 0, 0, options_for(none)).error, 2);

  // The game's own file wins; without the fallback the include fails.
  src.files["talven.h"] = "int abs(int v) { return 40 + v; }\n";
  c = compile_sources(src);
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(run_to_end(c.ctx.get()), 36u);
  src.files.erase("talven.h");
  CompileOptions o = options_for(src);
  o.builtin_sdk_header = false;
  EXPECT_EQ(compile_script("main.c", 0, 0, o).error, 2);
}

TEST(Diagnostics, LineTablesNameFileLineAndFunctionWithoutChangingTheImage) {
  Sources src;
  src.files["main.c"] =
      "#include \"lib.h\"\n"       // 1
      "int middle(int v) {\n"      // 2
      "  int r;\n"                 // 3
      "  r = inner(v);\n"          // 4
      "  return r;\n"              // 5
      "}\n"                        // 6
      "int main() {\n"             // 7
      "  return middle(0) + 1;\n"  // 8
      "}\n";
  src.files["lib.h"] =
      "int inner(int v) {\n"  // 1
      "  int z;\n"            // 2
      "  z = 7;\n"            // 3
      "  return z / v;\n"     // 4
      "}\n";
  const std::size_t tables = line_table_count();
  Compiled c = compile_sources(src);
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(line_table_count(), tables + 1);
  // The image holds exactly what was measured, and compiling again into the
  // same area gives the same bytes: nothing of the table is in the image.
  EXPECT_EQ(c.result.code_size + c.result.data_size, c.measured.code_size + c.measured.data_size);
  const std::vector<std::uint8_t> first = c.code();
  CompileResult redo =
      compile_script("main.c", c.ctx->program, c.ctx->program_size, options_for(src));
  ASSERT_TRUE(redo.ok);
  EXPECT_EQ(c.code(), first);
  Compiled again = compile_sources(src);

  config().Error = 0;  // no message for the division below
  run_to_end(c.ctx.get());
  config().Error = 1;
  ASSERT_EQ(c.ctx->state, kVmError);
  std::vector<CodePlace> chain = call_chain(*c.ctx, c.ctx->pc);
  ASSERT_EQ(chain.size(), 3u) << describe_call_chain(chain);
  EXPECT_EQ(describe_call_chain(chain),
            "  at lib.h(4) in inner\n"
            "  at main.c(4) in middle\n"
            "  at main.c(8) in main\n");
  // Addresses outside every image have no place; forgetting drops the table.
  EXPECT_FALSE(find_code_place(0x10));
  Addr program = c.ctx->program;
  EXPECT_TRUE(find_code_place(program + 1));
  c.ctx.reset();
  EXPECT_FALSE(find_code_place(program + 1));
  EXPECT_EQ(line_table_count(), tables + 1);  // `again` is still alive
}

TEST(Diagnostics, CallChainStopsAtEightFramesAndAtACorruptStack) {
  Compiled c = compile_text(
      "int down(int n) {\n"
      "  if (n == 0) return 1 / n;\n"
      "  return down(n - 1);\n"
      "}\n"
      "int main() { return down(20); }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  config().Error = 0;
  run_to_end(c.ctx.get());
  config().Error = 1;
  ASSERT_EQ(c.ctx->state, kVmError);
  std::vector<CodePlace> chain = call_chain(*c.ctx, c.ctx->pc);
  ASSERT_EQ(chain.size(), 8u);
  EXPECT_EQ(chain[0].line, 2);
  EXPECT_EQ(chain[1].line, 3);
  EXPECT_EQ(chain[7].function, "down");
  // A frame pointer outside script memory only shortens the chain.
  VmContext broken = *c.ctx;
  broken.r[kRegFrame] = 0x10;
  EXPECT_EQ(call_chain(broken, broken.pc).size(), 1u);
  broken.r[kRegFrame] = broken.r[kRegStack];  // a frame that points at itself
  EXPECT_LE(call_chain(broken, broken.pc).size(), 8u);
}

TEST(Diagnostics, RunTimeErrorsPrintTheirPlaceOnStandardErrorOnly) {
  Compiled c = compile_text("int f(int *p) {\n  return *p;\n}\nint main() {\n  return f(0);\n}\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  std::string box;
  set_message_sink([&](unsigned, const std::string& text) {
    box = text;
    return kMessageOk;
  });
  testing::internal::CaptureStderr();
  run_to_end(c.ctx.get());
  std::string err = testing::internal::GetCapturedStderr();
  set_message_sink({});
  EXPECT_EQ(box, "Invalid address error - 0x00000000");
  EXPECT_EQ(err,
            "talven: Invalid address error - 0x00000000 [run-time error: memory access outside "
            "script memory]\n"
            "  at main.c(2) in f\n"
            "  at main.c(5) in main\n");
}

}  // namespace
}  // namespace talven::script::test
