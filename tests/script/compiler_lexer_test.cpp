// The lexer: numbers, character constants, escapes, strings, operators.
#include <gtest/gtest.h>

#include <cstring>

#include "script/compiler_test_support.h"

namespace talven::script::test {
namespace {

// main's result for `return EXPR;`, or -1000 - error.
std::int64_t value_of(const std::string& expr) {
  Compiled c = compile_text("int main() { return " + expr + "; }\n");
  if (!c.ok()) return -1000 - c.result.error;
  return static_cast<std::int32_t>(run_to_end(c.ctx.get()));
}

std::uint32_t float_bits_of(const std::string& expr) {
  Compiled c = compile_text("float f = " + expr + ";\nint main() { return *(int *)&f; }\n");
  EXPECT_TRUE(c.ok()) << expr << c.result.messages;
  return run_to_end(c.ctx.get());
}

std::uint32_t bits(float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, 4);
  return v;
}

TEST(CompilerLexer, IntegerConstants) {
  EXPECT_EQ(value_of("0123"), 123);  // no octal
  EXPECT_EQ(value_of("0x7fFF"), 0x7FFF);
  EXPECT_EQ(value_of("0X10"), 16);
  EXPECT_EQ(value_of("0b101"), 5);
  EXPECT_EQ(value_of("0B11"), 3);
  // "0b102" is the constant 2 followed by the constant 2: the missing ';'
  // between them is reported and the compilation goes on.
  Compiled c = compile_text("int main() { return 0b102; }\n");
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(c.result.messages, "main.c(1) : ';' がありません\n");
  EXPECT_EQ(run_to_end(c.ctx.get()), 2u);
  // Overflow wraps at 32 bits.
  EXPECT_EQ(value_of("4294967297"), 1);
  EXPECT_EQ(value_of("0x100000005"), 5);
}

TEST(CompilerLexer, FloatConstants) {
  EXPECT_EQ(float_bits_of("1.5"), bits(1.5f));
  EXPECT_EQ(float_bits_of("2."), bits(2.0f));
  EXPECT_EQ(float_bits_of("3f"), bits(3.0f));
  EXPECT_EQ(float_bits_of("0.25F"), bits(0.25f));
  EXPECT_EQ(float_bits_of("-0.5"), bits(-0.5f));
  EXPECT_EQ(float_bits_of("0x10f"), bits(271.0f));  // f is a hex digit there
  EXPECT_EQ(float_bits_of("123456789.125"), bits(123456789.125f));
}

TEST(CompilerLexer, CharacterConstantsAndEscapes) {
  EXPECT_EQ(value_of("'A'"), 65);
  EXPECT_EQ(value_of("'\\65'"), 65);
  EXPECT_EQ(value_of("'\\x41'"), 65);
  EXPECT_EQ(value_of("'\\0101'"), 65);
  EXPECT_EQ(value_of("'\\x'"), 0);
  EXPECT_EQ(value_of("'\\0'"), 0);
  EXPECT_EQ(value_of("'\\n' * 1000 + '\\r' * 100 + '\\t'"), 10 * 1000 + 13 * 100 + 9);
  EXPECT_EQ(value_of("'\\b' + '\\f'"), 8 + 12);
  EXPECT_EQ(value_of("'\\''"), '\'');
  EXPECT_EQ(value_of("'\\\"'"), '"');
  EXPECT_EQ(value_of("'\\q'"), 'q');
  EXPECT_EQ(value_of("'\\\\'"), '\\');
  EXPECT_EQ(value_of("'\\300'"), 300 % 256);
  EXPECT_EQ(value_of("'\\x4142'"), -1000 - 17);  // two hex digits at most
  // A two-byte character is first * 256 + second.
  EXPECT_EQ(value_of("'\x82\xa0'"), 0x82A0);
  EXPECT_EQ(value_of("'ab'"), -1000 - 17);
  EXPECT_EQ(value_of("'a"), -1000 - 17);
}

TEST(CompilerLexer, StringLiterals) {
  Compiled c = compile_text(
      "char *s = \"A\\x42\\67\\0104\\tE\\\n F\";\n"
      "int main() { return 0; }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  Addr s = word_at(c.program() + c.result.code_size + c.result.data_size - 4);
  EXPECT_EQ(std::string(*cstr(s)), "ABCD\tE F");
  EXPECT_EQ(value_of("sizeof(\"ab\" \"cd\")"), 5);
  EXPECT_EQ(value_of("sizeof \"\""), 1);
  EXPECT_EQ(value_of("\"xyz\"[2]"), 'z');
  // A line feed inside a literal.
  EXPECT_EQ(value_of("\"abc\n\""), -1000 - 16);
  EXPECT_EQ(value_of("'\n'"), -1000 - 16);
}

TEST(CompilerLexer, OperatorsAndComments) {
  EXPECT_EQ(value_of("7 % 4 + (6 & 3) + (1 | 8) + (5 ^ 1) + (1 << 3) + (64 >> 2)"),
            3 + 2 + 9 + 4 + 8 + 16);
  EXPECT_EQ(value_of("(3 <= 3) + (4 >= 5) + (2 != 2) + (1 == 1) + !0 + ~0"), 1 + 0 + 0 + 1 + 1 - 1);
  EXPECT_EQ(value_of("1 // comment\n + 2"), 3);
  EXPECT_EQ(value_of("1 /* one /* two */ still */ + 2"), 3);
  EXPECT_EQ(value_of("10 /*/ 2 */ - 1"), 9);
  // Characters outside the language.
  EXPECT_EQ(value_of("1 @ 2"), -1000 - 12);
  EXPECT_EQ(value_of("1 $ 2"), -1000 - 12);
  EXPECT_EQ(value_of("1 ## 2"), -1000 - 12);
  EXPECT_EQ(value_of(".5"), -1000 - 9);
}

}  // namespace
}  // namespace talven::script::test
