// Compiled programs run in the interpreter with the results a C programmer
// expects of this language: the script programs of tests/scripts, and the
// type rules one by one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "script/compiler_test_support.h"

namespace talven::script::test {
namespace {

std::int32_t run(const std::string& text) {
  Compiled c = compile_text(text);
  EXPECT_TRUE(c.ok()) << text << "\n" << c.result.messages;
  if (!c.ok()) return -1000000;
  std::uint32_t r = run_to_end(c.ctx.get());
  EXPECT_EQ(c.ctx->state, kVmFinished) << text;
  return static_cast<std::int32_t>(r);
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CompilerRun, ScriptPrograms) {
  std::filesystem::path dir = std::filesystem::path(TALVEN_TEST_DATA) / ".." / "scripts";
  int programs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".c") continue;
    std::string text = read_file(entry.path());
    // Every program returns 0, or the number of its first failed check.
    EXPECT_EQ(run(text), 0) << entry.path();
    ++programs;
  }
  EXPECT_GE(programs, 2);
}

TEST(CompilerRun, StructuresArePacked) {
  EXPECT_EQ(run("struct S { char c; int i; };\nint main() { return sizeof(struct S); }"), 5);
  EXPECT_EQ(run("struct S { char c; int i; } s;\nint main() { return (char *)&s.i - (char *)&s; }"),
            1);
  EXPECT_EQ(run("union U { char c; int i; };\nint main() { return sizeof(union U); }"), 4);
  // Two structures with a member of the same name.
  EXPECT_EQ(run("struct A { int x; } a; struct B { char pad; int x; } b;\n"
                "int main() { a.x = 1; b.x = 2; return a.x * 10 + b.x + sizeof(struct B); }"),
            17);
  // Nested structure definitions keep their own members.
  EXPECT_EQ(run("struct O { int x; struct I { int x; int y; } in; int z; } o;\n"
                "int main() { o.in.y = 4; o.z = 5; o.x = 6; return sizeof(struct O) * 100 + o.in.y "
                "* 10 + o.z; }"),
            1645);
}

TEST(CompilerRun, CastsAndStores) {
  EXPECT_EQ(run("int main() { return (char)300; }"), 300);
  EXPECT_EQ(run("int main() { char c = 300; return c; }"), 44);
  EXPECT_EQ(run("char c = 300;\nint main() { return c; }"), 44);
  EXPECT_EQ(run("int main() { char c; int i; c = -1; i = (int)c; return i; }"), -1);
  EXPECT_EQ(run("int main() { unsigned char c; c = 255; return (int)c; }"), 255);
  // The value of an assignment is the right side, not truncated.
  EXPECT_EQ(run("int main() { char c; return c = 300; }"), 300);
  EXPECT_EQ(run("int main() { float f; f = 7; return (int)(f / 2); }"), 3);
  EXPECT_EQ(run("int main() { int i; i = 2.75; return i; }"), 2);
  EXPECT_EQ(run("int main() { float f; f = -2.75; return (int)f; }"), -2);
}

TEST(CompilerRun, PointerArithmetic) {
  EXPECT_EQ(run("int a[8];\nint main() { int *p, *q; p = &a[1]; q = &a[6]; return q - p; }"), 5);
  EXPECT_EQ(run("int a[8];\nint main() { int *p; p = a; return (char *)(p + 1) - (char *)p; }"), 4);
  EXPECT_EQ(run("struct T { char b[3]; } t[4];\n"
                "int main() { struct T *p, *q; p = t; q = &t[3]; return q - p; }"),
            3);
  EXPECT_EQ(
      run("short s[4];\nint main() { short *p; p = s + 3; p -= 2; return (char *)p - (char *)s; }"),
      2);
  EXPECT_EQ(run("int main() { return sizeof(int[10]) + sizeof(char *[3]); }"), 52);
  EXPECT_EQ(run("int main() { int x; return sizeof x; }"), 4);
}

TEST(CompilerRun, ComparisonsFollowTheirTypes) {
  EXPECT_EQ(run("int main() { int a; a = -1; return a < 1; }"), 1);
  EXPECT_EQ(run("int main() { unsigned a; a = -1; return a < 1; }"), 0);
  EXPECT_EQ(run("int main() { int a; unsigned b; a = -1; b = 1; return a < b; }"), 0);
  EXPECT_EQ(run("int main() { char c; c = -1; return c < 0; }"), 1);
  EXPECT_EQ(run("int main() { float f; f = -0.5; return (f < 0) * 10 + (f > -1); }"), 11);
  EXPECT_EQ(run("int main() { float f; int i; f = 2.5; i = 2; return (f > i) + (i < f) * 2; }"), 3);
  EXPECT_EQ(run("int main() { unsigned u; u = 0x80000000; return (u >> 31) + ((int)u >> 30); }"),
            1 - 2);
}

TEST(CompilerRun, ConditionalValues) {
  EXPECT_EQ(
      run("int main() { int a, b; a = 3; b = 4; return (a < b) * 100 + (a > b) * 10 + (a && b); }"),
      101);
  EXPECT_EQ(run("int main() { int a; a = 0; return (a || 0) + (a || 5) * 2 + !a * 4; }"), 6);
  EXPECT_EQ(run("int main() { int a; a = 5; return a > 3 ? a * 2 : a - 1; }"), 10);
  EXPECT_EQ(run("int main() { int a; a = 1; return a > 3 ? a * 2 : a - 1; }"), 0);
}

TEST(CompilerRun, CallsInsideBranchesKeepLiveValues) {
  // A value in r0 waits while a branch calls a function: every path must
  // find it where the code after the branch expects it.
  const char* funcs =
      "int f() { return 100; }\n"
      "int g(int v) { return v; }\n";
  for (int c : {0, 1}) {
    std::string cv = std::to_string(c);
    EXPECT_EQ(run(std::string(funcs) + "int main() { int c, y; c = " + cv + "; y = 7;\n" +
                  "  return (c ? f() : 1) + y; }"),
              (c ? 100 : 1) + 7);
    EXPECT_EQ(run(std::string(funcs) + "int main() { int c, y; c = " + cv + "; y = 7;\n" +
                  "  return (c && f()) + y; }"),
              (c ? 1 : 0) + 7);
    EXPECT_EQ(run(std::string(funcs) + "int main() { int c, y; c = " + cv + "; y = 7;\n" +
                  "  return (c || g(0)) * 10 + y; }"),
              (c ? 10 : 0) + 7);
    EXPECT_EQ(run(std::string(funcs) + "int main() { int c, y; c = " + cv + "; y = 7;\n" +
                  "  return (c ? g(y + 1) : g(y - 1) * 2) - y; }"),
              (c ? 8 : 12) - 7);
  }
}

TEST(CompilerRun, CompoundAssignmentThroughPointers) {
  EXPECT_EQ(
      run("int a[3];\nint main() { int i; i = 1; a[i] = 5; a[i] += 3; a[i] *= 2; return a[1]; }"),
      16);
  EXPECT_EQ(run("char b[2];\nint main() { char *p; p = b; *p = 100; *p += 100; return *p; }"), -56);
  EXPECT_EQ(run("int main() { unsigned u; int s; u = 0xF0000000; s = -16; u >>= 4; s >>= 2;\n"
                "  return (u == 0x0F000000) * 10 + (s == -4); }"),
            11);
  EXPECT_EQ(run("float v[2];\nint main() { v[1] = 1.5; v[1] *= 4; v[1] -= 1; return (int)v[1]; }"),
            5);
  // Deep expressions on both sides still find their registers.
  EXPECT_EQ(run("int a[4];\nint k(int x) { return x; }\n"
                "int main() { a[k(1) + k(1)] = 3; a[k(2)] += k(4) * (k(1) + (k(2) * (k(3) + "
                "k(4)))); return a[2]; }"),
            3 + 4 * (1 + 2 * 7));
}

TEST(CompilerRun, FunctionPointersAndRecursion) {
  EXPECT_EQ(run("int sq(int v) { return v * v; }\n"
                "int main() { int (*fp)(); fp = sq; return fp(7) + (*fp)(2); }"),
            53);
  EXPECT_EQ(run("int depth(int n) { if (n == 0) return 0; return 1 + depth(n - 1); }\n"
                "int main() { return depth(500); }"),
            500);
}

TEST(CompilerRun, StaticLocalsAndGlobals) {
  EXPECT_EQ(run("int counter() { static int n = 10; return n++; }\n"
                "int main() { counter(); counter(); return counter(); }"),
            12);
  EXPECT_EQ(run("int g[3] = {1, 2, 3};\nint *p = &g[1];\nint main() { return *p + p[1]; }"), 5);
}

}  // namespace
}  // namespace talven::script::test
