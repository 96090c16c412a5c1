// Compile errors: numbers, the report format with the marked source line,
// missing-token messages that do not stop the compilation, the checks at
// the end, and the limits of every fixed-size area.
#include <gtest/gtest.h>

#include "base/cp932.h"
#include "base/config.h"
#include "base/messages.h"
#include "script/compiler_test_support.h"

namespace talven::script::test {
namespace {

CompileResult compile_only(const std::string& text) {
  Sources src;
  src.files["main.c"] = text;
  return compile_script("main.c", 0, 0, options_for(src));
}

int error_of(const std::string& text) {
  CompileResult r = compile_only(text);
  return r.ok ? -1 : r.error;
}

TEST(CompilerErrors, FatalErrorReportMarksTheSourceLine) {
  CompileResult r = compile_only("int main() {\n\tint a;\n\ta = 1 /\t0;\n}\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, 10);
  // Tabs expand to the next multiple of four columns; "??" marks where
  // reading stood (past the end here: at the end of the line).
  EXPECT_EQ(r.messages, "main.c(3) : ０で除算しました。\n    a = 1 / 0;??\n");
  ASSERT_EQ(r.diagnostics.size(), 1u);
  EXPECT_EQ(r.diagnostics[0].file, "main.c");
  EXPECT_EQ(r.diagnostics[0].line, 3);

  r = compile_only("int main() { return x + 1; }\n");
  EXPECT_EQ(r.error, 15);
  EXPECT_EQ(r.messages,
            "main.c(1) : 定義されていない文字列です。\nint main() { return x + ??1; }\n");
  // Only one fatal error per compilation.
  r = compile_only("int main() { return x + y; }\n");
  EXPECT_EQ(std::count(r.messages.begin(), r.messages.end(), '\n'), 2);
}

TEST(CompilerErrors, MessagesKeepTheTextAsUtf8) {
  // A source line in CP932 is shown converted.
  CompileResult r = compile_only("int main() { return \x82\xa0\x82\xa2; }\n");
  EXPECT_EQ(r.error, 15);
  EXPECT_TRUE(cp932::is_valid_utf8(r.messages));
  EXPECT_NE(r.messages.find("return あい"), std::string::npos) << r.messages;
}

TEST(CompilerErrors, MissingTokensAreReportedAndTheCompilationGoesOn) {
  Compiled c = compile_text(
      "int main() {\n"
      "  int a;\n"
      "  a = (1 + 2;\n"
      "  do a++; (a < 5);\n"
      "  goto ;\n"
      "  return a\n"
      "}\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(c.result.messages,
            "main.c(3) : ')' がありません\n"
            "main.c(4) : 'while' がありません\n"
            "main.c(5) : 識別子 がありません\n"
            "main.c(6) : ';' がありません\n");  // where it belongs, after "a"
  EXPECT_EQ(run_to_end(c.ctx.get()), 5u);
  // Other missing tokens: ']' and ':'.
  CompileResult r = compile_only("int a[2;\nint main() { switch (a[1) { case 1 a[0] = 2; } }\n");
  EXPECT_TRUE(r.ok);
  EXPECT_NE(r.messages.find("main.c(1) : ']' がありません"), std::string::npos) << r.messages;
  EXPECT_NE(r.messages.find("':' がありません"), std::string::npos) << r.messages;
}

TEST(CompilerErrors, UndefinedFunctionsAndLabelsFailAtTheEnd) {
  CompileResult r = compile_only(
      "int declared();\n"
      "int main() {\n"
      "  missing(1);\n"
      "  goto nowhere;\n"
      "}\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, -1);
  EXPECT_NE(r.messages.find("declared 関数は定義されていません。\n"), std::string::npos)
      << r.messages;
  EXPECT_NE(r.messages.find("missing 関数は定義されていません。\n"), std::string::npos)
      << r.messages;
  EXPECT_NE(r.messages.find("nowhere ラベルは定義されていません。\n"), std::string::npos)
      << r.messages;
  // The tools get the place of the first use.
  bool found = false;
  for (const CompileDiagnostic& d : r.diagnostics)
    if (d.text.find("missing") == 0) {
      found = true;
      EXPECT_EQ(d.line, 3);
    }
  EXPECT_TRUE(found);
  // Without main.
  r = compile_only("int f() { }\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.messages, "main 関数は定義されていません。\n");
}

TEST(CompilerErrors, DeclarationErrors) {
  EXPECT_EQ(error_of("int a, a;\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int main() { { int x; } { int x; } }\n"), 8);
  EXPECT_EQ(error_of("int f(void) { }\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int f(int) { }\nint main() { }\n"), 8);
  // A prototype with parameters is the head of a definition.
  EXPECT_EQ(error_of("int f(int a);\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int f(static int a) { }\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("struct S { typedef int t; };\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int f() { }\nint f() { }\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int v;\nint v() { }\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int x[];\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int x int y;\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int main() { struct S { struct S inner; } s; }\n"), 8);
  EXPECT_EQ(error_of("unsigned float x;\nint main() { }\n"), 8);
  // Old-style declarations only retype parameters named without a type.
  EXPECT_EQ(error_of("int f(a) int b; { }\nint main() { }\n"), 8);
  EXPECT_EQ(error_of("int f(int a) char a; { }\nint main() { }\n"), 8);
  EXPECT_EQ(run_to_end(compile_text("int f(a, b) char *a; int b[]; { return a[1] + b[0]; }\n"
                                    "int v[1] = {5};\nint main() { return f(\"xy\", v); }\n")
                           .ctx.get()),
            'y' + 5u);
}

TEST(CompilerErrors, ExpressionErrors) {
  EXPECT_EQ(error_of("int main() { return ); }\n"), 9);
  EXPECT_EQ(error_of("int main() { return 1 % 0; }\n"), 10);
  EXPECT_EQ(error_of("int main() { return 1.0 / 0.0; }\n"), 10);
  EXPECT_EQ(error_of("int n;\nint a[n];\nint main() { }\n"), 11);
  EXPECT_EQ(error_of("int main() { int v; switch (v) { case v: ; } }\n"), 11);
  EXPECT_EQ(error_of("int main() { 1 = 2; }\n"), 13);
  EXPECT_EQ(error_of("int main() { int a; (a + 1)++; }\n"), 13);
  EXPECT_EQ(error_of("int main() { int *p; p = &1; }\n"), 13);
  EXPECT_EQ(error_of("struct S { int x; } s, t;\nint main() { s = t; }\n"), 13);
  EXPECT_EQ(error_of("int main() { int *p, *q; p = p + q; }\n"), 14);
  EXPECT_EQ(error_of("int main() { int *p; char *q; return p - q; }\n"), 14);
  EXPECT_EQ(error_of("int main() { float f; return f & 1; }\n"), 14);
  EXPECT_EQ(error_of("int main() { float f; f++; }\n"), 14);
  EXPECT_EQ(error_of("int main() { int *p; p *= 2; }\n"), 14);
  EXPECT_EQ(error_of("struct S { int x; } s;\nint main() { return s + 1; }\n"), 14);
  EXPECT_EQ(error_of("int main() { int v; return v.x; }\n"), 14);
  EXPECT_EQ(error_of("int f() { }\nint main() { return ((int)f)(); }\n"), 14);
  EXPECT_EQ(error_of("int main() { int v; return v(1); }\n"), 14);
  EXPECT_EQ(error_of("struct S { int x; } s;\nint main() { return s.y; }\n"), 15);
  EXPECT_EQ(error_of("struct Missing *p;\nint main() { }\n"), 15);
  EXPECT_EQ(error_of("int main() { return undefined_variable; }\n"), 15);
}

TEST(CompilerErrors, InitializerErrors) {
  EXPECT_EQ(error_of("char s[4] = \"abc\";\nint main() { }\n"), 14);
  // A string literal never initializes a local char array either.
  EXPECT_EQ(error_of("int main() { char s[4] = \"abc\"; }\n"), 14);
  EXPECT_EQ(error_of("struct S { int x; } s = 1;\nint main() { }\n"), 14);
  EXPECT_EQ(error_of("int a[2] = {1, 2, 3};\nint main() { }\n"), 14);
  EXPECT_EQ(error_of("int g;\nint h = g;\nint main() { }\n"), 14);
  EXPECT_EQ(error_of("int g;\nchar c = &g;\nint main() { }\n"), 14);
  EXPECT_EQ(error_of("int main() { int a[2] = {1, 2, 3}; }\n"), 14);
}

TEST(CompilerErrors, StatementErrors) {
  EXPECT_EQ(error_of("int main() { break; }\n"), 12);
  EXPECT_EQ(error_of("int main() { continue; }\n"), 12);
  EXPECT_EQ(error_of("int main() { int v; switch (v) { case 1: continue; } }\n"), 12);
  EXPECT_EQ(error_of("int main() { int v; switch (v) { default: ; default: ; } }\n"), 12);
  EXPECT_EQ(error_of("int main() { case 1: ; }\n"), 12);
  EXPECT_EQ(error_of("int main() { else ; }\n"), 12);
  EXPECT_EQ(error_of("int main() { int v; goto main; }\n"), 12);
  // Labels are global: a second definition anywhere is a type error.
  EXPECT_EQ(error_of("int f() { again: ; }\nint main() { again: ; }\n"), 14);
  // Return types must agree with an earlier declaration.
  EXPECT_EQ(error_of("float f();\nint f() { }\nint main() { }\n"), 14);
  EXPECT_EQ(error_of("int main() { return later(); }\nfloat later() { }\n"), 14);
}

TEST(CompilerErrors, EndOfInputInsideAConstruct) {
  EXPECT_EQ(error_of("int main() {\n"), 24);
  EXPECT_EQ(error_of("int main() { return 1 +"), 24);
  EXPECT_EQ(error_of("int x ="), 24);
  EXPECT_EQ(error_of("struct S { int a;"), 24);
  EXPECT_EQ(error_of("int f(a, b)"), 24);
  EXPECT_EQ(error_of("int main() { char *s; s = \"open\\"), 24);
  EXPECT_EQ(error_of("#define F(x) x\nint main() { return F(1"), 24);
  // Between declarations it is the normal end.
  EXPECT_EQ(error_of("int main() { } ; ;\n"), -1);
}

TEST(CompilerErrors, LoaderFailures) {
  Sources src;
  CompileOptions o = options_for(src);
  for (int code : {1, 2, 3}) {
    o.loader = [code](const std::string&, std::string&) { return code; };
    CompileResult r = compile_script("main.c", 0, 0, o);
    EXPECT_EQ(r.error, code);
    EXPECT_NE(r.messages.find(std::string("main.c(0) : ") + compile_error_message(code)),
              std::string::npos)
        << r.messages;
  }
}

TEST(CompilerErrors, TableLimits) {
  // Global part: 7168 slots, 26 keywords and main are already there.
  std::string globals;
  for (int i = 0; i < 7168; ++i) globals += "int g" + std::to_string(i) + ";\n";
  EXPECT_EQ(error_of(globals + "int main() { }\n"), 18);
  // Local part: 1024 slots.
  std::string locals = "int main() {\n";
  for (int i = 0; i < 1025; ++i) locals += "int l" + std::to_string(i) + ";\n";
  EXPECT_EQ(error_of(locals + "}\n"), 19);
  // Name pool: 256 KB of names.
  std::string names;
  for (int i = 0; i < 100; ++i)
    names += "int " + std::string(3000, 'n') + std::to_string(i) + ";\n";
  EXPECT_EQ(error_of(names + "int main() { }\n"), 20);
}

// n copies of s, a line break after every 1000.
std::string lines_of(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    out += s;
    if (i % 1000 == 999) out += '\n';
  }
  return out;
}

TEST(CompilerErrors, NodeAreaAndNestingLimits) {
  // Deep nesting stops with an error instead of exhausting the stack.
  EXPECT_EQ(error_of("int main() { return " + lines_of("(", 100000) + "1" + lines_of(")", 100000) +
                     "; }\n"),
            22);
  EXPECT_EQ(error_of("int main() " + lines_of("{", 5000) + lines_of("}", 5000) + "\n"), 22);
  EXPECT_EQ(error_of("int main() { return " + lines_of("-", 100000) + "1; }\n"), 22);
  EXPECT_EQ(error_of("int a[1] = " + lines_of("{", 5000) + "1" + lines_of("}", 5000) +
                     ";\nint main() { }\n"),
            14);
  // 2048 nodes of four words fill the area.
  EXPECT_EQ(error_of("int main() { int a; return a" + lines_of(" + a", 3000) + "; }\n"), 22);
  // Nesting below the limit is fine.
  EXPECT_EQ(
      error_of("int main() { return " + lines_of("(", 400) + "1" + lines_of(")", 400) + "; }\n"),
      -1);
}

TEST(CompilerErrors, LabelNumbersStopAtTheTableEnd) {
  // Every while loop takes two labels and every function two more.
  std::string loops = "int main() { int v;\n";
  for (int i = 0; i < 5000; ++i) loops += "while (v) v--;\n";
  EXPECT_EQ(error_of(loops + "}\n"), 22);
}

TEST(CompilerErrors, ExternVariablesMustFitTheSharedHeap) {
  Sources src;
  src.files["main.c"] =
      "extern int a[1000];\nextern char b[96];\nint main() { a[1] = 3; return a[1]; }\n";
  CompileOptions o = options_for(src);
  o.heap = SharedHeap{script_zalloc(4096), 4096};
  EXPECT_TRUE(compile_script("main.c", 0, 0, o).ok);
  src.files["main.c"] = "extern int a[1000];\nextern char b[97];\nint main() { }\n";
  EXPECT_EQ(compile_script("main.c", 0, 0, o).error, 22);
  // Two compilations declaring the same externs share them; an
  // initializer is written into the heap by a real compilation.
  src.files["main.c"] =
      "extern int first;\nextern int second = 77;\nint main() { return second; }\n";
  VmPtr ctx(vm_create(256, 4096));
  CompileResult r = compile_script("main.c", ctx->program, 256, o);
  ASSERT_TRUE(r.ok) << r.messages;
  EXPECT_EQ(word_at(o.heap->base + 4), 77u);
  EXPECT_EQ(run_to_end(ctx.get()), 77u);
  o.heap = SharedHeap{0, 0};
  src.files["main.c"] = "extern int a;\nint main() { }\n";
  EXPECT_EQ(compile_script("main.c", 0, 0, o).error, 22);
}

TEST(CompilerErrors, MessageBufferNeverOverruns) {
  std::string text = "int main() { int a;\n";
  for (int i = 0; i < 1000; ++i) text += "a = (1;\n";
  CompileResult r = compile_only(text + "return a; }\n");
  EXPECT_TRUE(r.ok);
  EXPECT_LE(r.messages.size(), 8191u);
  EXPECT_GT(r.messages.size(), 8000u);
  EXPECT_TRUE(cp932::is_valid_utf8(r.messages));
}

TEST(CompilerErrors, OpenedNamesListNeverOverruns) {
  Sources src;
  std::string main;
  for (int i = 0; i < 200; ++i) {
    std::string name = "a_rather_long_include_name_number_" + std::to_string(i) + ".h";
    src.files[name] = "";
    main += "#include \"" + name + "\"\n";
  }
  src.files["main.c"] = main + "int main() { }\n";
  EXPECT_EQ(compile_script("main.c", 0, 0, options_for(src)).error, 20);
}

TEST(CompilerErrors, NothingIsRecordedWithTheErrorSwitchOff) {
  std::int32_t saved = config().Error;
  config().Error = 0;
  Sources src;
  src.files["main.c"] = "int main() { return x; }\n";
  CompileOptions o = options_for(src);
  o.always_record = false;
  CompileResult r = compile_script("main.c", 0, 0, o);
  config().Error = saved;
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, 15);
  EXPECT_TRUE(r.messages.empty());
}

TEST(CompilerErrors, OneMessageIsShownAtTheEnd) {
  std::vector<std::string> shown;
  MessageSink previous = set_message_sink([&](unsigned level, const std::string& text) {
    EXPECT_EQ(level, 1u);
    shown.push_back(text);
    return kMessageOk;
  });
  Sources src;
  src.files["main.c"] = "int main() { int a; a = (1; a = (2; return b; }\n";
  CompileOptions o = options_for(src);
  o.show_messages = true;
  std::int32_t saved = config().Error;
  config().Error = 1;
  CompileResult r = compile_script("main.c", 0, 0, o);
  config().Error = saved;
  set_message_sink(previous);
  EXPECT_EQ(r.error, 15);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], r.messages);
}

}  // namespace
}  // namespace talven::script::test
