#include "lib/format.h"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

namespace talven::lib {
namespace {

std::string fmt(std::string_view format, std::vector<std::uint32_t> words) {
  std::size_t i = 0;
  return format_words(format, [&](std::uint32_t& w) {
    if (i >= words.size()) return false;
    w = words[i++];
    return true;
  });
}

std::uint32_t f(float v) { return std::bit_cast<std::uint32_t>(v); }

TEST(FormatWords, IntegersFloatsAndStringsFromWords) {
  Addr s = script_alloc(16);
  ASSERT_TRUE(write_cstr(s, "abc", 16));
  EXPECT_EQ(fmt("%d,%u,%x,%X,%o", {0xFFFFFFFFu, 0xFFFFFFFFu, 255, 255, 8}), "-1,4294967295,ff,FF,10");
  EXPECT_EQ(fmt("[%5d|%-4d|%04d|%+d]", {42, 7, 9, 3}), "[   42|7   |0009|+3]");
  EXPECT_EQ(fmt("%ld %hd %lld", {1, 2, 3}), "1 2 3");  // size prefixes: still one word each
  EXPECT_EQ(fmt("%f|%.2f|%e|%g", {f(1.5f), f(3.14159f), f(1000.0f), f(0.5f)}),
            "1.500000|3.14|1.000000e+03|0.5");
  EXPECT_EQ(fmt("%s/%5s/%.2s/%c", {s, s, s, 'Z'}), "abc/  abc/ab/Z");
  EXPECT_EQ(fmt("%s", {0}), "(null)");
  EXPECT_EQ(fmt("%*d|%.*f", {4, 7, 1, f(2.25f)}), "   7|2.2");
  EXPECT_EQ(fmt("%p %% %n %q", {0x10000}), "00010000 % %n %q");
  EXPECT_EQ(fmt("100%", {}), "100%");
  script_free(s);
}

TEST(FormatWords, MissingArgumentsReadAsZeroAndHugeWidthsAreCapped) {
  EXPECT_EQ(fmt("%d %d %s", {5}), "5 0 (null)");
  EXPECT_EQ(fmt("%99999999d", {1}).size(), 9999u);
}

TEST(FormatWords, ScriptArgumentsStopAtTheStackLimit) {
  Addr block = script_alloc(16);
  ASSERT_TRUE(store32(block, 11));
  ASSERT_TRUE(store32(block + 4, 22));
  ASSERT_TRUE(store32(block + 8, 33));
  // Only two words lie below the limit: the third conversion gets 0.
  EXPECT_EQ(format_script_args("%d %d %d", block, block + 8), "11 22 0");
  EXPECT_EQ(format_script_args("%d", 0, 0xFFFFFFFFu), "0");  // unreadable: 0
  script_free(block);
}

}  // namespace
}  // namespace talven::lib
