// CP932 stepping, case rules, comparison and conversions.
#include "base/cp932.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace cp932 = talven::cp932;

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

TEST(Cp932, LeadBytesAndStepping) {
  EXPECT_FALSE(cp932::is_lead(0x80));
  EXPECT_TRUE(cp932::is_lead(0x81));
  EXPECT_TRUE(cp932::is_lead(0x9F));
  EXPECT_FALSE(cp932::is_lead(0xA0));
  EXPECT_FALSE(cp932::is_lead(0xDF));  // half-width katakana are single bytes
  EXPECT_TRUE(cp932::is_lead(0xE0));
  EXPECT_TRUE(cp932::is_lead(0xFC));
  EXPECT_FALSE(cp932::is_lead(0xFD));

  EXPECT_EQ(cp932::char_len("\x82\x60", 0), 2u);
  EXPECT_EQ(cp932::char_len("\x82", 0), 1u);                         // no trail byte
  EXPECT_EQ(cp932::char_len(std::string_view("\x82\0", 2), 0), 1u);  // zero trail
  EXPECT_EQ(cp932::char_len("\xB1"
                            "a",
                            0),
            1u);

  // "a" + the kanji 0x955C, whose trail byte is '\', + "b".
  std::string_view s =
      "a\x95\x5C"
      "b";
  EXPECT_EQ(cp932::next(s, 0), 1u);
  EXPECT_EQ(cp932::next(s, 1), 3u);
  EXPECT_EQ(cp932::char_start(s, 0), 0u);
  EXPECT_EQ(cp932::char_start(s, 1), 1u);
  EXPECT_EQ(cp932::char_start(s, 2), 1u);
  EXPECT_EQ(cp932::char_start(s, 3), 3u);
  EXPECT_EQ(cp932::count_chars(s), 3u);
  EXPECT_EQ(cp932::count_chars("\x95\x5C\x82\x60"), 2u);
  EXPECT_EQ(cp932::count_chars("a\x82"), 2u);
  EXPECT_EQ(cp932::count_chars(""), 0u);

  EXPECT_EQ(cp932::code_at(s, 1), 0x955C);
  EXPECT_EQ(cp932::code_at(s, 3), 'b');
}

TEST(Cp932, CaseMappingOfCodes) {
  EXPECT_EQ(cp932::to_upper('a'), 'A');
  EXPECT_EQ(cp932::to_upper('z'), 'Z');
  EXPECT_EQ(cp932::to_upper('`'), '`');
  EXPECT_EQ(cp932::to_upper('{'), '{');
  EXPECT_EQ(cp932::to_lower('A'), 'a');
  EXPECT_EQ(cp932::to_lower('Z'), 'z');
  EXPECT_EQ(cp932::to_lower('@'), '@');
  EXPECT_EQ(cp932::to_lower('['), '[');
  EXPECT_EQ(cp932::to_upper(0xB1), 0xB1);

  // Full-width Latin and the codes just outside it.
  EXPECT_EQ(cp932::to_upper(0x8281), 0x8260);
  EXPECT_EQ(cp932::to_upper(0x829A), 0x8279);
  EXPECT_EQ(cp932::to_upper(0x8280), 0x8280);
  EXPECT_EQ(cp932::to_upper(0x829B), 0x829B);
  EXPECT_EQ(cp932::to_upper(0x8260), 0x8260);
  EXPECT_EQ(cp932::to_lower(0x8260), 0x8281);
  EXPECT_EQ(cp932::to_lower(0x8279), 0x829A);
  EXPECT_EQ(cp932::to_lower(0x825F), 0x825F);
  EXPECT_EQ(cp932::to_lower(0x827A), 0x827A);
  EXPECT_EQ(cp932::to_lower(0x8281), 0x8281);

  // Greek and Cyrillic are deliberately left alone.
  EXPECT_EQ(cp932::to_upper(0x83BF), 0x83BF);
  EXPECT_EQ(cp932::to_lower(0x839F), 0x839F);
  EXPECT_EQ(cp932::to_upper(0x8470), 0x8470);
}

TEST(Cp932, CaseMappingOfTexts) {
  // Trail bytes that look like ASCII letters (0x8361, 0x8341) must not change.
  std::string_view mixed = "abc\x82\x81xyz\x83\x61\xB1\x83\x41_";
  EXPECT_EQ(cp932::upper(mixed), "ABC\x82\x60XYZ\x83\x61\xB1\x83\x41_");
  EXPECT_EQ(cp932::lower("ABC\x82\x60XYZ\x83\x41\x83\x61"), "abc\x82\x81xyz\x83\x41\x83\x61");
  EXPECT_EQ(cp932::upper("a\x82"), "A\x82");  // dangling lead byte kept
  EXPECT_EQ(cp932::upper(""), "");
}

TEST(Cp932, CaseInsensitiveComparison) {
  EXPECT_EQ(cp932::compare_nocase("ABC", "abc"), 0);
  EXPECT_LT(cp932::compare_nocase("abc", "ABD"), 0);
  EXPECT_GT(cp932::compare_nocase("abd", "ABC"), 0);
  EXPECT_LT(cp932::compare_nocase("ab", "ABC"), 0);  // a prefix sorts first
  EXPECT_GT(cp932::compare_nocase("abc", "AB"), 0);
  EXPECT_EQ(cp932::compare_nocase("", ""), 0);
  EXPECT_LT(cp932::compare_nocase("", "a"), 0);

  // Single bytes fold to small letters, so '_' sorts before every letter...
  EXPECT_LT(cp932::compare_nocase("_", "a"), 0);
  EXPECT_LT(cp932::compare_nocase("_", "A"), 0);
  // ...while the string builtins' rule folds to capitals.
  EXPECT_GT(cp932::compare_nocase_upper("_", "a"), 0);
  EXPECT_GT(cp932::compare_nocase_upper("_", "A"), 0);
  EXPECT_EQ(cp932::compare_nocase_upper("aBc", "AbC"), 0);

  // Full-width letters fold; a double-byte code is above every single byte,
  // even a half-width katakana whose byte is above the lead byte.
  EXPECT_EQ(cp932::compare_nocase("\x82\x81\x82\x9A", "\x82\x60\x82\x79"), 0);
  EXPECT_GT(cp932::compare_nocase("\x82\x81", "z"), 0);
  EXPECT_LT(cp932::compare_nocase("\xB1", "\x83\x41"), 0);
  EXPECT_LT(cp932::compare_nocase("\x82", "\x82\x60"), 0);
  EXPECT_NE(cp932::compare_nocase("\x83\x61", "\x83\x41"), 0);  // trail bytes are not letters
  EXPECT_NE(cp932::compare_nocase("\x83\xBF", "\x83\x9F"), 0);  // Greek does not fold

  // Case-sensitive form: by character code, not by byte.
  EXPECT_LT(cp932::compare("\xB1", "\x83\x41"), 0);
  EXPECT_LT(cp932::compare("A", "a"), 0);
  EXPECT_EQ(cp932::compare("\x95\x5C", "\x95\x5C"), 0);
  EXPECT_LT(cp932::compare("\x95\x5C",
                           "\x95\x5C"
                           "a"),
            0);

  // fold_nocase agrees with compare_nocase on equality.
  std::vector<std::pair<std::string, std::string>> pairs = {{"Title.PNG", "title.png"},
                                                            {"\x82\x81"
                                                             "b",
                                                             "\x82\x60"
                                                             "B"},
                                                            {"_", "a"},
                                                            {"\x83\x61", "\x83\x41"},
                                                            {"a\x82", "A\x82"},
                                                            {"ab", "abc"},
                                                            {"\xB1", "\xB1"},
                                                            {"\x95\x5C"
                                                             "A",
                                                             "\x95\x5C"
                                                             "a"}};
  for (const auto& [a, b] : pairs) {
    EXPECT_EQ(cp932::fold_nocase(a) == cp932::fold_nocase(b), cp932::compare_nocase(a, b) == 0)
        << a << " / " << b;
    EXPECT_EQ(sign(cp932::compare_nocase(a, b)), -sign(cp932::compare_nocase(b, a)));
  }
}

TEST(Cp932, Conversions) {
  // Backslash and tilde stay ASCII; a '\' trail byte is part of its kanji.
  EXPECT_EQ(cp932::to_utf8("a\\~"), "a\\~");
  EXPECT_EQ(cp932::to_utf8("\x95\x5C\x8E\xA6"), "表示");
  EXPECT_EQ(cp932::to_utf8("\xB1"), "ｱ");
  EXPECT_EQ(cp932::to_utf8("\x82\x60\x81\x60"), "Ａ～");
  EXPECT_EQ(cp932::to_utf8(""), "");
  EXPECT_EQ(cp932::to_utf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(cp932::from_utf8("表示.txt"), "\x95\x5C\x8E\xA6.txt");
  EXPECT_EQ(cp932::from_utf8("ｱ"), "\xB1");

  EXPECT_EQ(cp932::to_utf8("\x82"), std::nullopt);                // lead byte without trail
  EXPECT_EQ(cp932::to_utf8("\x85\x40"), std::nullopt);            // unassigned row
  EXPECT_EQ(cp932::from_utf8("\xF0\x9F\x98\x80"), std::nullopt);  // no CP932 form
  EXPECT_EQ(cp932::from_utf8("\xC3"), std::nullopt);              // broken UTF-8

  EXPECT_EQ(cp932::to_utf8_lossy("a\x85\x40"
                                 "b\x82"),
            "a?b?");
  EXPECT_EQ(cp932::to_utf8_lossy("\x81 x"), "? x");  // a blank is no trail byte
  EXPECT_EQ(cp932::from_utf8_lossy("x\xF0\x9F\x98\x80y\xFFz"), "x?y?z");
  EXPECT_EQ(cp932::from_utf8_lossy("表"), "\x95\x5C");

  // Round trip through every assigned two-byte code of a few rows.
  for (unsigned lead : {0x81u, 0x82u, 0x83u, 0x88u, 0x95u, 0xE0u}) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      std::string c{static_cast<char>(lead), static_cast<char>(trail)};
      if (auto u = cp932::to_utf8(c)) {
        EXPECT_TRUE(cp932::is_valid_utf8(*u));
        auto back = cp932::from_utf8(*u);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(cp932::to_utf8(*back), u);
      }
    }
  }
}

TEST(Cp932, Utf8Validation) {
  EXPECT_TRUE(cp932::is_valid_utf8(""));
  EXPECT_TRUE(cp932::is_valid_utf8("abc"));
  EXPECT_TRUE(cp932::is_valid_utf8("é表\xF0\x9F\x98\x80"));
  EXPECT_TRUE(cp932::is_valid_utf8("\xF4\x8F\xBF\xBF"));   // U+10FFFF
  EXPECT_FALSE(cp932::is_valid_utf8("\xC0\x80"));          // overlong
  EXPECT_FALSE(cp932::is_valid_utf8("\xE0\x9F\xBF"));      // overlong
  EXPECT_FALSE(cp932::is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(cp932::is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(cp932::is_valid_utf8("\xE8\xA1"));          // cut short
  EXPECT_FALSE(cp932::is_valid_utf8("\x95\x5C"));          // CP932 text
}
