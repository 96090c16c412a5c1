// Guard checking of array stores: a store the compiler computed from an
// array's base that writes outside the array stops the script with the
// array named and the store's place; in-bounds stores, and every store
// without guard checking, run as before. Guard checking cannot be turned off
// once on, so each checked run happens in a child process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "script/array_bounds.h"
#include "script/compiler_test_support.h"
#include "support/death_match.h"

namespace talven::script::test {
namespace {

// A global array between two words; main returns what the overrun left in
// the word after it in memory (data is placed from the top of the area
// down, so that is the word declared first).
const char* const kGlobalOverrun =
    "int next;\n"
    "char buf[16];\n"
    "int previous;\n"
    "void fill(int n) { int i; for (i = 0; i < n; i++) buf[i] = 'a'; }\n"
    "int main() { fill(16); fill(17); return next; }\n";

// A local array between two locals; fill(n) returns the sum of the two,
// 11 while the stores stay inside the array.
const char* const kLocalOverrun =
    "int fill(int n) {\n"
    "  int above; int buf[4]; int below; int i;\n"
    "  above = 5; below = 6;\n"
    "  for (i = 0; i < n; i++) buf[i] = 100;\n"
    "  return above + below;\n"
    "}\n"
    "int main() { if (fill(4) != 11) return 1; return fill(5); }\n";

const char* const kLocalUnderrun =
    "int main() {\n"
    "  int above; int buf[4]; int below; int i;\n"
    "  i = -1;\n"
    "  buf[i] += 3;\n"
    "  return 0;\n"
    "}\n";

// Runs `text` with guard checking on, in this (child) process, and exits
// with its result: r0 when it finished, 255 when it stopped by an error
// (whose report is on stderr), 254 when it did not compile.
[[noreturn]] void run_guarded_and_exit(const char* text) {
  script_space().enable_guards();
  Compiled c = compile_text(text);
  if (!c.ok()) {
    std::fprintf(stderr, "compile failed: %s\n", c.result.messages.c_str());
    std::_Exit(254);
  }
  const std::uint32_t r = run_to_end(c.ctx.get());
  std::fflush(stderr);
  std::_Exit(c.ctx->state == kVmFinished ? static_cast<int>(r & 0xFF) : 255);
}

std::int32_t run_unguarded(const char* text, std::uint8_t expected_state = kVmFinished) {
  Compiled c = compile_text(text);
  EXPECT_TRUE(c.ok()) << c.result.messages;
  if (!c.ok()) return -1;
  const std::uint32_t r = run_to_end(c.ctx.get());
  EXPECT_EQ(c.ctx->state, expected_state);
  return static_cast<std::int32_t>(r);
}

using ArrayBoundsDeathTest = ::testing::Test;

TEST_F(ArrayBoundsDeathTest, OverrunsAreNamedAtTheStoresLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      run_guarded_and_exit(kGlobalOverrun), ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "Invalid address error - 0x[0-9A-F]{8} \\[run-time error: a write past the end of "
          "array 'buf' \\(16 bytes\\) at 0x[0-9A-F]{8} \\(at offset 16\\)\\]\n"
          "  at main.c\\(4\\) in fill"));
  EXPECT_EXIT(
      run_guarded_and_exit(kLocalOverrun), ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "a write past the end of array 'buf' \\(16 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
          "16\\)\\]\n  at main.c\\(4\\) in fill\n  at main.c\\(7\\) in main"));
  EXPECT_EXIT(run_guarded_and_exit(kLocalUnderrun), ::testing::ExitedWithCode(255),
              talven::test::output_matches(
                  "a write before the start of array 'buf' \\(16 bytes\\) at 0x[0-9A-F]{8} \\(at "
                  "offset -4\\)\\]\n  at main.c\\(4\\) in main"));
}

TEST_F(ArrayBoundsDeathTest, StoresInsideTheirArraysRunOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The last element of each array, through every kind of store computed
  // from an array's base: plain, compound, increments, 8- and 16-bit,
  // structure members, rows of a two-dimensional array, a cast, and a
  // pointer that walks a whole array. 8 + 8 + 18 + 2 + 5 + 2 + 3 + 1.
  const char* const kInside =
      "struct P { char tag; int x; short y; };\n"
      "char text[5]; struct P pts[3]; int grid[2][3]; short half[2]; int tail;\n"
      "int main() {\n"
      "  int i; int local[3]; struct P lp[2]; char *p;\n"
      "  i = 4; text[i] = 'z'; text[i] += 1; ((short *)text)[i / 4] = 0;\n"
      "  i = 2; pts[i].x = 7; pts[i].y = 8; pts[i].tag = 1; ++pts[i].x;\n"
      "  i = 1; grid[i][2] = 9; grid[i][i + 1] *= 2; half[i] = 3; half[i]--;\n"
      "  i = 2; local[i] = 4; local[i]++;\n"
      "  i = 1; lp[i].y = 2; lp[i].x = 3;\n"
      "  for (p = text; p < text + 5; p++) *p = 'q';\n"
      "  tail = 1;\n"
      "  return pts[2].x + pts[2].y + grid[1][2] + half[1] + local[2] + lp[1].y + lp[1].x "
      "+ tail;\n"
      "}\n";
  EXPECT_EQ(run_unguarded(kInside), 47);
  EXPECT_EXIT(run_guarded_and_exit(kInside), ::testing::ExitedWithCode(47), "");
}

// Constant indexes fold into stores at fixed places (a global's address,
// a frame slot); they are checked against the array they index like the
// computed ones. Each program stores inside its array first.
TEST_F(ArrayBoundsDeathTest, ConstantIndexesAreCheckedLikeComputedOnes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      run_guarded_and_exit("int next;\nint buf[4];\nint previous;\n"
                           "int main() { buf[3] = 1;\n buf[4] = 2; return next; }\n"),
      ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "a write past the end of array 'buf' \\(16 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
          "16\\)\\]\n  at main.c\\(5\\) in main"));
  // A local array's frame slots, by each kind of frame store: 32-bit,
  // 32-bit increment, compound assignment, 8-bit. The 32-bit ones sit
  // behind a branch, in a block that starts after the function's entry,
  // where frame slots are reached through the block's frame window (whose
  // address check is made once, on entry).
  EXPECT_EXIT(
      run_guarded_and_exit("int main() {\n  int above; int buf[4]; int below;\n"
                           "  buf[0] = 1; buf[3] = 2; above = 3; below = 4;\n"
                           "  if (below) buf[4] = 100;\n  return above + below;\n}\n"),
      ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "a write past the end of array 'buf' \\(16 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
          "16\\)\\]\n  at main.c\\(4\\) in main"));
  EXPECT_EXIT(run_guarded_and_exit("int main() {\n  int above; int buf[4]; int below;\n"
                                   "  buf[3]++;\n  if (buf[3]) buf[4]++;\n  return 0;\n}\n"),
              ::testing::ExitedWithCode(255),
              talven::test::output_matches(
                  "past the end of array 'buf' \\(16 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
                  "16\\)\\]\n  at main.c\\(4\\) in main"));
  EXPECT_EXIT(run_guarded_and_exit("int main() {\n  int above; int buf[4]; int below;\n"
                                   "  buf[0] += 1;\n  if (buf[0]) buf[-1] += 3;\n  return 0;\n}\n"),
              ::testing::ExitedWithCode(255),
              talven::test::output_matches(
                  "a write before the start of array 'buf' \\(16 bytes\\) at 0x[0-9A-F]{8} \\(at "
                  "offset -4\\)\\]\n  at main.c\\(4\\) in main"));
  EXPECT_EXIT(
      run_guarded_and_exit("int main() {\n  int above; char text[6]; int below;\n"
                           "  text[5] = 'a';\n  text[6] = 'b';\n  return 0;\n}\n"),
      ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "a write past the end of array 'text' \\(6 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
          "6\\)\\]\n  at main.c\\(4\\) in main"));
  // Past a two-dimensional array, and past an array of (packed) structures by a
  // member, global and local.
  EXPECT_EXIT(
      run_guarded_and_exit("int m[2][3];\nint after;\n"
                           "int main() {\n  m[1][2] = 1;\n  m[2][0] = 5;\n  return 0;\n}\n"),
      ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "a write past the end of array 'm' \\(24 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
          "24\\)\\]\n  at main.c\\(5\\) in main"));
  EXPECT_EXIT(
      run_guarded_and_exit("struct P { int x; short y; };\nstruct P pts[2];\n"
                           "int main() {\n  pts[1].y = 1;\n  pts[2].y = 5;\n  return 0;\n}\n"),
      ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "a write past the end of array 'pts' \\(12 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
          "16\\)\\]\n  at main.c\\(5\\) in main"));
  EXPECT_EXIT(run_guarded_and_exit("struct P { int x; short y; };\nint main() {\n"
                                   "  int above; struct P lp[2]; int i;\n"
                                   "  lp[1].x = 1;\n  lp[2].x = 5;\n  return 0;\n}\n"),
              ::testing::ExitedWithCode(255),
              talven::test::output_matches(
                  "a write past the end of array 'lp' \\(12 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
                  "12\\)\\]\n  at main.c\\(5\\) in main"));
  // A computed index into a row that constant indexing chose counts
  // against the whole array.
  EXPECT_EXIT(
      run_guarded_and_exit("int m[2][3];\nint after;\n"
                           "int main() {\n  int i;\n  i = 0;\n  m[2][i] = 5;\n  return 0;\n}\n"),
      ::testing::ExitedWithCode(255),
      talven::test::output_matches(
          "a write past the end of array 'm' \\(24 bytes\\) at 0x[0-9A-F]{8} \\(at offset "
          "24\\)\\]\n  at main.c\\(6\\) in main"));
}

TEST_F(ArrayBoundsDeathTest, ConstantIndexesInsideTheirArraysRunOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The last element of each array by constant indexes, through every kind
  // of store, and an address one past the end that is only compared.
  // 8 + 8 + 6 + 2 + 5 + 2 + 3 + 1 + 3 + 1 + 1 - 1.
  const char* const kInside =
      "struct P { char tag; int x; short y; };\n"
      "char text[5]; struct P pts[3]; int grid[2][3]; short half[2]; int tail;\n"
      "int main() {\n"
      "  int local[3]; struct P lp[2]; char small[2]; int *end; int more;\n"
      "  text[4] = 'z'; text[4] += 1; pts[2].x = 7; pts[2].y = 8; pts[2].tag = 1; ++pts[2].x;\n"
      "  grid[1][2] = 3; grid[1][2] *= 2; half[1] = 3; half[1]--;\n"
      "  local[2] = 3; local[2]++; local[2] += 1; lp[1].y = 2; lp[1].x = 3; small[1] = 3;\n"
      "  tail = 1; end = &local[3]; more = end == local + 3;\n"
      "  return pts[2].x + pts[2].y + grid[1][2] + half[1] + local[2] + lp[1].y + lp[1].x "
      "+ tail + small[1] + more + (text[4] - 'z') - 1;\n"
      "}\n";
  EXPECT_EQ(run_unguarded(kInside), 39);
  EXPECT_EXIT(run_guarded_and_exit(kInside), ::testing::ExitedWithCode(39), "");
}

TEST(ArrayBounds, WithoutGuardCheckingOverrunsRunAsBefore) {
  ASSERT_FALSE(script_space().guards_enabled());
  // The seventeenth 'a' lands in the low byte of `next`.
  EXPECT_EQ(run_unguarded(kGlobalOverrun), 'a');
  // buf[4] is `above`: 100 + 6.
  EXPECT_EQ(run_unguarded(kLocalOverrun), 106);
  EXPECT_EQ(run_unguarded(kLocalUnderrun), 0);
}

TEST(ArrayBounds, StoresAreRecordedOnlyForRealImagesAndForgottenWithThem) {
  const std::size_t before = array_store_count();
  {
    Compiled c = compile_text(kGlobalOverrun);
    ASSERT_TRUE(c.ok());
    // One store from buf's base; the measuring pass records nothing.
    EXPECT_EQ(array_store_count(), before + 1);
  }
  EXPECT_EQ(array_store_count(), before);
}

TEST(ArrayBounds, StackOverflowSaysItIsTheScriptStack) {
  testing::internal::CaptureStderr();
  run_unguarded(
      "int down(int n) { int pad[64]; pad[0] = n; return down(n + 1) + pad[0]; }\n"
      "int main() { return down(0); }\n",
      kVmError);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Stack overflow error. [run-time error: script stack overflow: the thread's "
                     "stack (StackSize, or the size thd_begin gave) is used up, by deep recursion "
                     "or large local arrays]"),
            std::string::npos)
      << err;
}

}  // namespace
}  // namespace talven::script::test
