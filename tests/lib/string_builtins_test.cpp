// String builtins: multibyte behaviour under code page 932, the copies'
// exact bytes, tokenising per thread, number parsing with end words,
// sprintf over argument words, path splitting and joining, and bad
// addresses.
#include "lib/string_builtins.h"

#include <gtest/gtest.h>

#include "builtin_call.h"
#include "lib/memory_builtins.h"

namespace talven::lib {
namespace {

using test::bad_address;
using test::bind;
using test::block;
using test::bytes_at;
using test::call;
using test::fw;
using test::put;
using test::text_at;
using test::wf;

// Two double-byte characters: HIRAGANA A, I.
const std::string kAI = "\x82\xA0\x82\xA2";
// A kanji whose trail byte is '\' (0x5C).
const std::string kHyou = "\x95\x5C";
// The ideographic comma (0x81 0x41), whose trail byte is 'A'.
const std::string kComma = "\x81\x41";

TEST(StringBuiltins, LengthsCountBytesAndCharacters) {
  Addr s = put(kAI);
  EXPECT_EQ(call(bind<&bi_strlen>, {s}), 4u);
  EXPECT_EQ(call(bind<&bi_strclen>, {s}), 2u);
  Addr mixed = put("a" + kHyou + "b");
  EXPECT_EQ(call(bind<&bi_strlen>, {mixed}), 4u);
  EXPECT_EQ(call(bind<&bi_strclen>, {mixed}), 3u);
  EXPECT_EQ(call(bind<&bi_strlen>, {put("")}), 0u);
}

TEST(StringBuiltins, StrncpyNeverSplitsACharacter) {
  // n = 3 and the third byte starts a double-byte character: two bytes and a 0.
  Addr src = put("ab" + kAI);
  Addr dst = block(8);
  EXPECT_EQ(call(bind<&bi_strncpy>, {dst, src, 3}), dst);
  EXPECT_EQ(bytes_at(dst, 4), std::string("ab\0\xEE", 4));

  // Enough room for the whole character, no terminator added.
  dst = block(8);
  call(bind<&bi_strncpy>, {dst, src, 4});
  EXPECT_EQ(bytes_at(dst, 5), std::string("ab\x82\xA0\xEE", 5));

  // A short source is padded with zeros up to n.
  dst = block(8);
  call(bind<&bi_strncpy>, {dst, put("xy"), 6});
  EXPECT_EQ(bytes_at(dst, 7), std::string("xy\0\0\0\0\xEE", 7));

  // A lead byte followed by the terminator is written as 0.
  dst = block(8);
  call(bind<&bi_strncpy>, {dst, put("a\x82"), 4});
  EXPECT_EQ(bytes_at(dst, 5), std::string("a\0\0\0\xEE", 5));

  // n = 0 writes nothing; a source without a terminator within n is fine.
  dst = block(4);
  call(bind<&bi_strncpy>, {dst, src, 0});
  EXPECT_EQ(bytes_at(dst, 1), "\xEE");
  EXPECT_EQ(mbs_copy_head("abcdef", 3), "abc");
}

TEST(StringBuiltins, CopyConcatenateAndDuplicate) {
  Addr dst = block(16);
  EXPECT_EQ(call(bind<&bi_strcpy>, {dst, put("abc")}), dst);
  EXPECT_EQ(call(bind<&bi_strcat>, {dst, put(kAI)}), dst);
  EXPECT_EQ(text_at(dst), "abc" + kAI);
  // The source may be the destination itself.
  Addr self = block(32, 0);
  call(bind<&bi_strcpy>, {self, put("xy")});
  EXPECT_EQ(call(bind<&bi_strcat>, {self, self}), self);
  EXPECT_EQ(text_at(self), "xyxy");

  Addr d = call(bind<&bi_strdup>, {put("hello")});
  ASSERT_NE(d, 0u);
  EXPECT_EQ(text_at(d), "hello");
  EXPECT_EQ(call(bind<&bi_free>, {d}), 1u);

  EXPECT_EQ(text_at(call(bind<&bi_strndup>, {put("hello"), 3})), "hel");
  EXPECT_EQ(text_at(call(bind<&bi_strndup>, {put("hi"), 10})), "hi");
  // strndup counts bytes: a double-byte character may be cut.
  EXPECT_EQ(text_at(call(bind<&bi_strndup>, {put(kAI), 3})), "\x82\xA0\x82");
}

TEST(StringBuiltins, ComparisonsByCharacterCode) {
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_strcmp>, {put("ab"), put("ac")})), -1);
  EXPECT_EQ(call(bind<&bi_strcmp>, {put("ab"), put("ab")}), 0u);
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_strcmp>, {put("abc"), put("ab")})), 1);
  // A double-byte character sorts after every single-byte one.
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_strcmp>, {put(kAI), put("\xDF")})), 1);

  EXPECT_EQ(call(bind<&bi_strcmpi>, {put("Hello"), put("hELLO")}), 0u);
  // Full-width Latin letters fold too: FULLWIDTH A (0x8260) and a (0x8281).
  EXPECT_EQ(call(bind<&bi_strcmpi>, {put("\x82\x60"), put("\x82\x81")}), 0u);
  // Small letters fold to capitals, so '_' sorts after the letters.
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_strcmpi>, {put("_"), put("a")})), 1);
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_strcmp>, {put("_"), put("a")})), -1);
}

TEST(StringBuiltins, CaseMappingInPlace) {
  Addr s = put("abC\x82\x81" + kHyou + "z");
  EXPECT_EQ(call(bind<&bi_strupr>, {s}), s);
  EXPECT_EQ(text_at(s), "ABC\x82\x60" + kHyou + "Z");
  EXPECT_EQ(call(bind<&bi_strlwr>, {s}), s);
  EXPECT_EQ(text_at(s), "abc\x82\x81" + kHyou + "z");
  // A trail byte that looks like a capital is not a letter.
  Addr t = put("\x83\x41");  // KATAKANA A: its trail byte 'A' is not folded
  call(bind<&bi_strlwr>, {t});
  EXPECT_EQ(text_at(t), "\x83\x41");
}

TEST(StringBuiltins, SearchesMatchWholeCharactersOnly) {
  Addr s = put(kHyou + "\\x");
  // The '\' trail byte of the kanji is not a match; the real one is.
  EXPECT_EQ(call(bind<&bi_strchr>, {s, '\\'}), s + 2);
  EXPECT_EQ(call(bind<&bi_strchr>, {s, 0x955C}), s);
  EXPECT_EQ(call(bind<&bi_strchr>, {s, 0}), s + 4);
  EXPECT_EQ(call(bind<&bi_strchr>, {s, 'q'}), 0u);
  EXPECT_EQ(call(bind<&bi_strstr>, {s, put("\\")}), s + 2);
  EXPECT_EQ(call(bind<&bi_strstr>, {s, put("\\x")}), s + 2);
  EXPECT_EQ(call(bind<&bi_strstr>, {s, put("")}), s);
  EXPECT_EQ(call(bind<&bi_strstr>, {s, put("xy")}), 0u);
  EXPECT_EQ(call(bind<&bi_strpbrk>, {s, put("x\\")}), s + 2);
  EXPECT_EQ(call(bind<&bi_strpbrk>, {s, put("q")}), 0u);

  Addr t = put("ab" + kComma + "A,c");
  EXPECT_EQ(call(bind<&bi_strcspn>, {t, put("A")}), 4u);  // the comma's trail 'A' is skipped
  EXPECT_EQ(call(bind<&bi_strcspn>, {t, put(kComma)}), 2u);
  EXPECT_EQ(call(bind<&bi_strspn>, {t, put("ba")}), 2u);
  EXPECT_EQ(call(bind<&bi_strspn>, {t, put("ab" + kComma)}), 4u);
  EXPECT_EQ(call(bind<&bi_strspn>, {t, put("")}), 0u);
}

TEST(StringBuiltins, StrtokSplitsByCharactersAndKeepsItsPlacePerThread) {
  Addr s = put("ab" + kComma + "cd,," + kHyou + ",");
  Addr delims = put(kComma + ",\\");
  Addr t1 = call(bind<&bi_strtok>, {s, delims}, 1);
  EXPECT_EQ(t1, s);
  EXPECT_EQ(text_at(t1), "ab");
  // Another thread tokenises its own text meanwhile.
  Addr other = put("x y");
  Addr space = put(" ");
  EXPECT_EQ(text_at(call(bind<&bi_strtok>, {other, space}, 2)), "x");

  EXPECT_EQ(text_at(call(bind<&bi_strtok>, {0, delims}, 1)), "cd");
  // The kanji's '\' trail byte is not the '\' delimiter.
  EXPECT_EQ(text_at(call(bind<&bi_strtok>, {0, delims}, 1)), kHyou);
  EXPECT_EQ(call(bind<&bi_strtok>, {0, delims}, 1), 0u);
  EXPECT_EQ(call(bind<&bi_strtok>, {0, delims}, 1), 0u);

  EXPECT_EQ(text_at(call(bind<&bi_strtok>, {0, space}, 2)), "y");
  EXPECT_EQ(call(bind<&bi_strtok>, {0, space}, 2), 0u);
  // The double-byte delimiter was cleared as a whole.
  EXPECT_EQ(bytes_at(s, 5), std::string("ab\0\0c", 5));
  // A text of delimiters only has no token.
  EXPECT_EQ(call(bind<&bi_strtok>, {put(",,"), delims}, 3), 0u);
}

TEST(StringBuiltins, NumberParsingWritesTheEndAddress) {
  Addr end = block(4);
  Addr s = put("  -0x1Fz");
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_strtol>, {s, end, 0})), -31);
  EXPECT_EQ(*load32(end), s + 7);
  Addr oct = put("017");
  EXPECT_EQ(call(bind<&bi_strtol>, {oct, 0, 0}), 15u);
  EXPECT_EQ(call(bind<&bi_strtol>, {put("zz"), end, 36}), 35u * 36 + 35);
  EXPECT_EQ(call(bind<&bi_strtol>, {put("2147483648"), 0, 10}), 0x7FFFFFFFu);
  EXPECT_EQ(call(bind<&bi_strtol>, {put("-2147483648"), 0, 10}), 0x80000000u);
  EXPECT_EQ(call(bind<&bi_strtol>, {put("-99999999999"), 0, 10}), 0x80000000u);
  Addr none = put("xyz");
  EXPECT_EQ(call(bind<&bi_strtol>, {none, end, 10}), 0u);
  EXPECT_EQ(*load32(end), none);
  Addr hex0 = put("0x");
  EXPECT_EQ(call(bind<&bi_strtol>, {hex0, end, 16}), 0u);
  EXPECT_EQ(*load32(end), hex0 + 1);
  EXPECT_EQ(call(bind<&bi_strtol>, {put("12"), end, 37}), 0u);

  EXPECT_EQ(call(bind<&bi_strtoul>, {put("-1"), 0, 10}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_strtoul>, {put("4294967295"), 0, 10}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_strtoul>, {put("4294967296"), 0, 10}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_strtoul>, {put("0xFFFFFFFE"), 0, 0}), 0xFFFFFFFEu);

  Addr f = put("1.5e2xyz");
  EXPECT_EQ(wf(call(bind<&bi_strtof>, {f, end})), 150.0f);
  EXPECT_EQ(*load32(end), f + 5);
  EXPECT_EQ(wf(call(bind<&bi_strtof>, {put("0.1"), 0})), 0.1f);  // rounded to float
  // A bad end address is refused before anything is written.
  EXPECT_EQ(call(bind<&bi_strtol>, {s, bad_address(), 0}), 0u);
}

TEST(StringBuiltins, SprintfFormatsArgumentWords) {
  Addr buf = block(64);
  Addr fmt = put("%d|%s|%c|%5.2f|%x|%u");
  std::uint32_t n = call(bi_sprintf, {buf, fmt, static_cast<std::uint32_t>(-7), put("hi"), 'Z',
                                      fw(3.14159f), 255, 0xFFFFFFFFu});
  EXPECT_EQ(text_at(buf), "-7|hi|Z| 3.14|ff|4294967295");
  EXPECT_EQ(n, 27u);
  // Asking for more arguments than were passed reads no further than the
  // caller's stack: the missing ones are 0.
  EXPECT_EQ(call(bi_sprintf, {buf, put("%d %d %d"), 5}), 5u);
  EXPECT_EQ(text_at(buf), "5 0 0");
  EXPECT_EQ(call(bi_sprintf, {buf, put("100%% %5s|%-3d|")}), 16u);
  EXPECT_EQ(text_at(buf), "100% (null)|0  |");
}

TEST(StringBuiltins, SplitpathAndMakepathFollowTheLibrary) {
  Addr drive = block(3), dir = block(256), name = block(256), ext = block(256);
  EXPECT_EQ(call(bind<&bi_splitpath>, {put("C:\\dir\\sub/file.name.txt"), drive, dir, name, ext}),
            1u);
  EXPECT_EQ(text_at(drive), "C:");
  EXPECT_EQ(text_at(dir), "\\dir\\sub/");
  EXPECT_EQ(text_at(name), "file.name");
  EXPECT_EQ(text_at(ext), ".txt");

  // A '\' trail byte is part of its character; a dot before the last
  // separator is no extension; any output may be left out.
  EXPECT_EQ(call(bind<&bi_splitpath>, {put("d.d\\" + kHyou + "x"), 0, dir, name, ext}), 1u);
  EXPECT_EQ(text_at(dir), "d.d\\");
  EXPECT_EQ(text_at(name), kHyou + "x");
  EXPECT_EQ(text_at(ext), "");
  PathParts p = split_path("name");
  EXPECT_EQ(p.drive + "|" + p.dir + "|" + p.name + "|" + p.ext, "||name|");
  // Over-long parts are cut to the library's limits, never past them.
  p = split_path(std::string(300, 'a') + "." + std::string(300, 'b'));
  EXPECT_EQ(p.name.size(), 255u);
  EXPECT_EQ(p.ext.size(), 255u);

  Addr out = block(64);
  EXPECT_EQ(call(bind<&bi_makepath>, {out, put("c"), put("dir"), put("file"), put("txt")}), 1u);
  EXPECT_EQ(text_at(out), "c:dir\\file.txt");
  call(bind<&bi_makepath>, {out, 0, put("a/"), put("f"), put(".e")});
  EXPECT_EQ(text_at(out), "a/f.e");
  // A directory ending in a kanji with a '\' trail byte still gets its separator.
  call(bind<&bi_makepath>, {out, put(""), put(kHyou), put("f"), 0});
  EXPECT_EQ(text_at(out), kHyou + "\\f");
  call(bind<&bi_makepath>, {out, 0, 0, 0, 0});
  EXPECT_EQ(text_at(out), "");
}

TEST(StringBuiltins, Hash32) {
  EXPECT_EQ(call(bind<&bi_hash32>, {put("abc")}), 0x024A0126u);
  EXPECT_EQ(call(bind<&bi_hash32>, {put("")}), 0u);
  EXPECT_EQ(call(bind<&bi_hash32>, {0}), 0u);
}

TEST(StringBuiltins, BadAddressesGiveFailureValuesAndWriteNothing) {
  const Addr bad = bad_address();
  Addr s = put("abc");
  for (auto h : {bind<&bi_strlen>, bind<&bi_strclen>, bind<&bi_strdup>, bind<&bi_strlwr>,
                 bind<&bi_strupr>, bind<&bi_hash32>}) {
    EXPECT_EQ(call(h, {bad}), 0u);
    EXPECT_EQ(call(h, {0}), 0u);
    EXPECT_EQ(call(h, {1}), 0u);
  }
  EXPECT_EQ(call(bind<&bi_strcpy>, {bad, s}), 0u);
  EXPECT_EQ(call(bind<&bi_strcpy>, {s, bad}), 0u);
  EXPECT_EQ(call(bind<&bi_strcmp>, {s, 0}), kCompareError);
  EXPECT_EQ(call(bind<&bi_strcmpi>, {bad, s}), kCompareError);
  EXPECT_EQ(call(bind<&bi_strchr>, {bad, 'a'}), 0u);
  EXPECT_EQ(call(bind<&bi_strstr>, {s, bad}), 0u);
  EXPECT_EQ(call(bind<&bi_strtok>, {bad, s}), 0u);
  EXPECT_EQ(call(bind<&bi_strncpy>, {bad, s, 2}), 0u);
  EXPECT_EQ(call(bind<&bi_strndup>, {bad, 2}), 0u);
  EXPECT_EQ(call(bi_sprintf, {bad, put("x")}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bi_sprintf, {s, bad}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_splitpath>, {s, bad, 0, 0, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_makepath>, {bad, s, 0, 0, 0}), 0u);
  EXPECT_EQ(text_at(s), "abc");

  // A text that runs into the end of script memory has no terminator: every
  // reader refuses it instead of reading past the end.
  std::uint64_t limit = script_space().limit();
  Addr last = static_cast<Addr>(limit - 2);
  std::uint8_t* tail = span(last, 2);
  ASSERT_NE(tail, nullptr);
  std::uint8_t keep[2] = {tail[0], tail[1]};
  tail[0] = 'x';
  tail[1] = 'y';
  EXPECT_EQ(bi_strlen(last), 0u);
  EXPECT_EQ(bi_strndup(last, 5), 0u);
  EXPECT_FALSE(script_text_upto(last, 3));
  // Within n bytes no terminator is needed.
  EXPECT_EQ(script_text_upto(last, 2), "xy");
  Addr two = bi_strndup(last, 2);
  tail = span(last, 2);
  tail[0] = keep[0];
  tail[1] = keep[1];
  EXPECT_EQ(text_at(two), "xy");
}

}  // namespace
}  // namespace talven::lib
