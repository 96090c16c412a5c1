// CP932 stepping, case rules, comparison and conversions.
#include "base/cp932.h"

#include <gtest/gtest.h>

#include <initializer_list>
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

namespace {

std::string bytes(std::initializer_list<unsigned> list) {
  std::string s;
  for (unsigned b : list) s.push_back(static_cast<char>(b));
  return s;
}

}  // namespace

TEST(Cp932, ConversionKnownValues) {
  struct Pair {
    std::string cp932;
    std::string utf8;
  };
  const Pair pairs[] = {
      {"\x82\xA0\x82\xF1", "あん"},           // hiragana
      {"\x83\x41\x83\x93", "アン"},           // katakana
      {"\x88\x9F\x98\x9F", "亜弌"},           // first kanji of each level
      {"\xEA\xA4", "熙"},                     // last kanji of the second level
      {"\xB1\xDF\xA1", "ｱﾟ｡"},                // half-width katakana, both ends
      {"\\", "\\"},                           // 0x5C is the backslash
      {"\x81\x5F", "＼"},                     // the full-width one is a kanji code
      {"\x87\x40\x87\x54\x87\x8A", "①Ⅰ㈱"},   // NEC special characters
      {"\xFA\x40\xFA\x5C\xFB\xFC", "ⅰ纊髙"},  // IBM extensions
      {"\x81\x60\x81\x5C", "～―"},            // wave dash and dash as this code page reads them
      {"\x81\x7C\x81\x91\x81\xCA", "－￠￢"},
      {"\xF0\x40\xF9\xFC", "\xEE\x80\x80\xEE\x9D\x97"},  // user-defined area, U+E000..U+E757
  };
  for (const auto& [sjis, utf8] : pairs) {
    EXPECT_EQ(cp932::to_utf8(sjis), utf8) << utf8;
    EXPECT_EQ(cp932::from_utf8(utf8), sjis) << utf8;
  }
}

TEST(Cp932, ConversionPicksOneCodeForSharedCharacters) {
  // Codes the NEC and IBM sets both assign read as the same character...
  EXPECT_EQ(cp932::to_utf8("\xED\x40"), "纊");
  EXPECT_EQ(cp932::to_utf8("\xFA\x5C"), "纊");
  EXPECT_EQ(cp932::to_utf8("\x87\x90"), "≒");
  EXPECT_EQ(cp932::to_utf8("\x81\xE0"), "≒");
  EXPECT_EQ(cp932::to_utf8("\xEE\xF9"), "￢");
  EXPECT_EQ(cp932::to_utf8("\xFA\x54"), "￢");
  // ...and write back as one chosen code.
  EXPECT_EQ(cp932::from_utf8("纊"), "\xFA\x5C");
  EXPECT_EQ(cp932::from_utf8("≒∵"), "\x81\xE0\x81\xE6");
  EXPECT_EQ(cp932::from_utf8("￢"), "\x81\xCA");
  EXPECT_EQ(cp932::from_utf8("ⅰⅠ㈱"), "\xFA\x40\x87\x54\x87\x8A");
  EXPECT_EQ(cp932::from_utf8("￤"), "\xFA\x55");

  // Look-alike characters from other tables are taken too.
  EXPECT_EQ(cp932::from_utf8("¥‾"), "\\~");
  EXPECT_EQ(cp932::from_utf8("〜"), "\x81\x60");  // U+301C as well as U+FF5E
  EXPECT_EQ(cp932::from_utf8("‖∥"), "\x81\x61\x81\x61");
  EXPECT_EQ(cp932::from_utf8("−"), "\x81\x7C");
  EXPECT_EQ(cp932::from_utf8("¢¬"), "\x81\x91\x81\xCA");
  EXPECT_EQ(cp932::from_utf8("—"), "\x81\x5C");
  EXPECT_EQ(cp932::from_utf8("¦"), std::nullopt);
}

TEST(Cp932, ConversionEdges) {
  // Bytes that are never characters, alone or as lead bytes.
  for (unsigned b : {0x80u, 0xA0u, 0xFDu, 0xFEu, 0xFFu}) {
    EXPECT_EQ(cp932::to_utf8(bytes({b})), std::nullopt) << b;
    EXPECT_EQ(cp932::to_utf8(bytes({b, 0x40})), std::nullopt) << b;
    EXPECT_EQ(cp932::to_utf8_lossy(bytes({b, 0x40})), "?@") << b;
  }
  // A lead byte followed by NUL or by a byte outside the trail range is one
  // bad byte; a pair in the trail range that is not assigned is one bad pair.
  EXPECT_EQ(cp932::to_utf8(bytes({0x82, 0x00})), std::nullopt);
  EXPECT_EQ(cp932::to_utf8_lossy(bytes({0x82, 0x00})), bytes({'?', 0x00}));
  EXPECT_EQ(cp932::to_utf8_lossy(bytes({0x82, 0x7F, 0x82, 0xFD})), bytes({'?', 0x7F, '?', '?'}));
  EXPECT_EQ(cp932::to_utf8_lossy(bytes({0x82, 0x40, 0x88, 0x9F})), "?亜");
  EXPECT_EQ(cp932::to_utf8_lossy(bytes({0xEF, 0x40, 0xFC, 0x4B, 0xFC, 0x4C})),
            "?\xE9\xBB\x91?");  // 0xFC4B is the last code
  EXPECT_EQ(cp932::to_utf8_lossy(""), "");
  EXPECT_EQ(cp932::from_utf8_lossy(""), "");

  // Invalid UTF-8 is skipped one byte at a time; a valid character with no
  // CP932 form as a whole.
  EXPECT_EQ(cp932::from_utf8("\xC0\x80"), std::nullopt);  // overlong NUL
  EXPECT_EQ(cp932::from_utf8_lossy("a\xC0\x80"), "a??");
  EXPECT_EQ(cp932::from_utf8_lossy("\xED\xA0\x80!"),
            "???"
            "!");  // surrogate
  EXPECT_EQ(cp932::from_utf8_lossy("\xF4\x90\x80\x80"), "????");
  EXPECT_EQ(cp932::from_utf8_lossy("\xE8\xA1\xA8\xE8\xA1"), "\x95\x5C??");  // cut short
  EXPECT_EQ(cp932::from_utf8_lossy("é表𝄞"), "?\x95\x5C?");
  EXPECT_EQ(cp932::from_utf8(std::string_view("\0", 1)), std::string(1, '\0'));
  // Language tag characters (U+E0000..U+E007F) convert to nothing.
  EXPECT_EQ(cp932::from_utf8("a\xF3\xA0\x81\x81\xF3\xA0\x81\xBF"
                             "b"),
            "ab");
  EXPECT_EQ(cp932::from_utf8("\xF3\xA0\x82\x80"), std::nullopt);  // U+E0080 is no tag
}

TEST(Cp932, ConversionRoundTripsEveryCode) {
  std::size_t singles = 0, doubles = 0;
  for (unsigned b = 0; b < 0x100; ++b) {
    std::string c = bytes({b});
    if (auto u = cp932::to_utf8(c)) {
      ++singles;
      EXPECT_EQ(cp932::from_utf8(*u), c) << b;
    }
  }
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!cp932::is_lead(static_cast<std::uint8_t>(lead))) continue;
    for (unsigned trail = 0; trail < 0x100; ++trail) {
      std::string c = bytes({lead, trail});
      auto u = cp932::to_utf8(c);
      if (!u) continue;
      ++doubles;
      ASSERT_TRUE(cp932::is_valid_utf8(*u));
      // Shared characters come back as the chosen code, which reads the same.
      auto back = cp932::from_utf8(*u);
      ASSERT_TRUE(back.has_value()) << lead << " " << trail;
      EXPECT_EQ(back->size(), 2u);
      EXPECT_EQ(cp932::to_utf8(*back), u);
    }
  }
  EXPECT_EQ(singles, 191u);  // ASCII, DEL and the 63 half-width katakana
  EXPECT_EQ(doubles, 9604u);
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
