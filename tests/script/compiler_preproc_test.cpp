// The preprocessor: macros and their arguments, token pasting, nesting
// limits, includes, #asm blocks, #trap numbering, line limits.
#include <gtest/gtest.h>

#include "script/compiler_test_support.h"

namespace talven::script::test {
namespace {

// Compiles and runs; returns main's result, or -1000 - error number.
int run_text(const std::string& text) {
  Compiled c = compile_text(text);
  if (!c.ok()) return -1000 - c.result.error;
  return static_cast<int>(run_to_end(c.ctx.get()));
}

int error_of(Sources& src) {
  CompileResult r = compile_script("main.c", 0, 0, options_for(src));
  return r.ok ? -1 : r.error;
}

int error_of(const std::string& text) {
  Sources src;
  src.files["main.c"] = text;
  return error_of(src);
}

TEST(CompilerPreproc, MacroArgumentsArePastedAsText) {
  EXPECT_EQ(run_text("#define F(x) (x*2)\nint main() { return F(1+1); }\n"), 3);
  // Without parentheses the argument runs to the next ';'.
  EXPECT_EQ(run_text("#define F(x) (x*2)\nint main() { int a; a = F 3; return a; }\n"), 6);
  // A space before '(' makes an object-like macro whose body is "(x)".
  EXPECT_EQ(run_text("#define G (x)\nint main() { int x; x = 4; return G; }\n"), 4);
  // Parameters match without regard to case; arguments may nest parentheses
  // and hold quoted commas.
  EXPECT_EQ(run_text("#define H(v) V + 1\nint main() { return H((2, 5)); }\n"), 6);
  EXPECT_EQ(run_text("#define L(s, n) s[n]\nint main() { return L(\"a,b\", 1); }\n"), ',');
  // An invocation inside an argument of the same macro leaves the outer
  // invocation's arguments as they were.
  EXPECT_EQ(run_text("#define ADD(a, b) ((a) + (b))\nint main() { return ADD(ADD(1, 2), 10); }\n"),
            13);
  EXPECT_EQ(run_text("#define D(x) ((x) + (x))\nint main() { return D(D(D(1))); }\n"), 8);
  // Continuation lines.
  EXPECT_EQ(
      run_text("#define SUM(a, b) \\\n  ((a) + \\\n   (b))\nint main() { return SUM(4, 5); }\n"),
      9);
}

TEST(CompilerPreproc, TokenPastingGluesParameters) {
  EXPECT_EQ(run_text("#define V(n) item##n\nint item3;\nint main() { item3 = 9; return V(3); }\n"),
            9);
  // A second "##" right after the pasted parameter is dropped: the text
  // after it continues the identifier.
  EXPECT_EQ(run_text("#define W(a) x##a##y\nint x1y = 7;\nint main() { return W(1); }\n"), 7);
  // "##" before a macro with parameters is a directive error.
  EXPECT_EQ(error_of("#define P(a) a\n#define Q(b) z##P\nint main() { return Q(1); }\n"), 4);
}

TEST(CompilerPreproc, MacroNestingStopsAtSixteenLevels) {
  std::string defs = "#define M0 1\n";
  for (int i = 1; i <= 16; ++i)
    defs += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + "\n";
  EXPECT_EQ(run_text(defs + "int main() { return M15; }\n"), 1);
  EXPECT_EQ(error_of(defs + "int main() { return M16; }\n"), 7);
  // A macro that names itself ends at the limit instead of looping.
  EXPECT_EQ(error_of("#define X (X + 1)\nint main() { return X; }\n"), 7);
}

TEST(CompilerPreproc, DefineErrors) {
  EXPECT_EQ(error_of("#define A 1\n#define A 2\nint main() { }\n"), 4);
  EXPECT_EQ(error_of("int v;\n#define v 2\nint main() { }\n"), 4);
  EXPECT_EQ(error_of("#define 1 2\nint main() { }\n"), 4);
  EXPECT_EQ(error_of("#define F(a b) a\nint main() { }\n"), 12);
  EXPECT_EQ(error_of("#foo\nint main() { }\n"), 4);
  EXPECT_EQ(error_of("#\nint main() { }\n"), 4);
  EXPECT_EQ(run_text("# this line is ignored\nint main() { return 2; }\n"), 2);
}

TEST(CompilerPreproc, AsmBlocksAreSkipped) {
  EXPECT_EQ(run_text("#asm\n this is not C @@@\n#endasm\nint main() { return 5; }\n"), 5);
  // Directives still work inside the block.
  EXPECT_EQ(run_text("#asm\n#define K 8\n junk\n#endasm\nint main() { return K; }\n"), 8);
  EXPECT_EQ(error_of("#endasm\nint main() { }\n"), 4);
  EXPECT_EQ(error_of("#asm\n#asm\n#endasm\nint main() { }\n"), 4);
}

TEST(CompilerPreproc, TrapNumbersCountTrapLines) {
  Compiled c = compile_text(
      "#trap\nint zero();\n#trap\nint one();\n#trap int two(int a, int b);\n"
      "int main() { return two(1, 2); }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  std::string l = c.listing();
  EXPECT_NE(l.find("trap 0"), std::string::npos) << l;
  EXPECT_NE(l.find("trap 2"), std::string::npos) << l;
  // The declarator after #trap must declare a function.
  EXPECT_EQ(error_of("#trap\nint notfunction;\nint main() { }\n"), 8);
}

TEST(CompilerPreproc, IncludesAreReadOncePerCompilation) {
  Sources src;
  src.files["main.c"] =
      "#include \"lib.h\"\n#include \"LIB.H\"\n#include \"self.c\"\nint main() { return "
      "twice(value); }\n";
  src.files["lib.h"] = "int value = 21;\n#include \"lib.h\"\nint twice(int v) { return v * 2; }\n";
  src.files["self.c"] = "#include \"self.c\"\nint self_seen;\n";
  Compiled c = compile_sources(src);
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(run_to_end(c.ctx.get()), 42u);
  // Measuring and compiling each open main.c, lib.h and self.c once.
  EXPECT_EQ(src.opened.size(), 6u);
}

TEST(CompilerPreproc, IncludeDepthLimit) {
  // 15 nested includes below the main file are accepted; a 16th is not.
  for (int depth : {15, 16}) {
    Sources src;
    src.files["main.c"] = "#include \"i1.h\"\nint main() { return LAST; }\n";
    for (int i = 1; i <= depth; ++i) {
      std::string next =
          i < depth ? "#include \"i" + std::to_string(i + 1) + ".h\"\n" : "#define LAST 15\n";
      src.files["i" + std::to_string(i) + ".h"] = next;
    }
    CompileResult r = compile_script("main.c", 0, 0, options_for(src));
    if (depth == 15) {
      EXPECT_TRUE(r.ok) << r.messages;
    } else {
      EXPECT_EQ(r.error, 6);
      EXPECT_NE(r.messages.find("i15.h(1) : インクルードファイルのネスト回数が多すぎます。"),
                std::string::npos)
          << r.messages;
    }
  }
}

TEST(CompilerPreproc, IncludeErrors) {
  EXPECT_EQ(error_of("#include <lib.h>\nint main() { }\n"), 5);
  EXPECT_EQ(error_of("#include \"lib.h\nint main() { }\n"), 5);
  Sources src;
  src.files["main.c"] = "int a;\n#include \"missing.h\"\nint main() { }\n";
  CompileResult r = compile_script("main.c", 0, 0, options_for(src));
  EXPECT_EQ(r.error, 2);
  EXPECT_NE(
      r.messages.find("main.c(2) : ファイルのオープンに失敗しました。\n#include \"missing.h\"??"),
      std::string::npos)
      << r.messages;
}

TEST(CompilerPreproc, LineNumbersContinueAfterAnInclude) {
  Sources src;
  src.files["main.c"] = "int a;\n#include \"inc.h\"\nint b;\nint c = x;\n";
  src.files["inc.h"] = "int i1;\nint i2;\n";
  CompileResult r = compile_script("main.c", 0, 0, options_for(src));
  EXPECT_EQ(r.error, 15);
  EXPECT_NE(r.messages.find("main.c(4) : "), std::string::npos) << r.messages;
}

TEST(CompilerPreproc, ScriptDirectoryGoesBeforeEveryName) {
  Sources src;
  src.files["game\\main.c"] = "#include \"sub\\lib.h\"\nint main() { return K; }\n";
  src.files["game\\sub\\lib.h"] = "#define K 3\n";
  CompileOptions o = options_for(src);
  o.script_dir = "game\\";
  CompileResult r = compile_script("main.c", 0, 0, o);
  EXPECT_TRUE(r.ok) << r.messages;
  ASSERT_EQ(src.opened.size(), 2u);
  EXPECT_EQ(src.opened[1], "game\\sub\\lib.h");
  // Absolute names are taken as they are.
  src.files["game\\main.c"] =
      "#include \"/shared/abs.h\"\n#include \"C:\\lib.h\"\nint main() { }\n";
  src.files["/shared/abs.h"] = "";
  src.files["C:\\lib.h"] = "";
  EXPECT_TRUE(compile_script("main.c", 0, 0, o).ok);
}

TEST(CompilerPreproc, LineLengthLimit) {
  std::string ok_line = "int main() { return 7; }";
  ok_line += std::string(4094 - ok_line.size() - 2, ' ') + "//";
  ASSERT_EQ(ok_line.size(), 4094u);
  EXPECT_EQ(run_text(ok_line + "\n"), 7);
  EXPECT_EQ(error_of(ok_line + " \n"), 21);
  // Carriage returns do not count.
  EXPECT_EQ(run_text(ok_line + "\r\n"), 7);
}

TEST(CompilerPreproc, LongIdentifiersAreComparedOnTheirFirst4094Bytes) {
  // Lines hold at most 4094 bytes, so a 5000-byte identifier is built by
  // pasting an argument onto a macro body.
  std::string b(2500, 'b');
  std::string text = "#define LONG(x) " + std::string(2500, 'a') + "##x\n" + "int LONG(" + b +
                     ");\n" + "int main() {\n LONG(" + std::string(1594, 'b') +
                     std::string(906, 'c') + ") = 6;\n" + " return LONG(" + b + "); }\n";
  EXPECT_EQ(run_text(text), 6);
}

TEST(CompilerPreproc, SourceShapes) {
  // No final line break; CR LF line ends; a '#' line inside a comment.
  EXPECT_EQ(run_text("int main() { return 4; }"), 4);
  EXPECT_EQ(run_text("int main()\r\n{\r\n  return 5;\r\n}\r\n"), 5);
  EXPECT_EQ(
      run_text("/* comment\n#define X this is not a directive\n*/\nint main() { return 6; }\n"), 6);
  EXPECT_EQ(run_text("int main() { return 1 /* a /* b */ c */ + 1; }\n"), 2);
  // Two-byte characters in identifiers, comments and strings.
  EXPECT_EQ(run_text("int \x95\x5c\x8e\xa6;\nint main() { \x95\x5c\x8e\xa6 = 3; /* \x95\x5c */ "
                     "return \x95\x5c\x8e\xa6; }\n"),
            3);
  EXPECT_EQ(run_text("int main() { return sizeof(\"\x95\x5c\"); }\n"), 3);
  // An unterminated comment is the end of input inside a construct.
  EXPECT_EQ(error_of("int main() { return 1; }\n/* open\n"), 24);
}

}  // namespace
}  // namespace talven::script::test
