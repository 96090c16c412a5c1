// Regular expressions: Shift_JIS patterns, regions read from script memory,
// refused handles and bounded backtracking.
#include <gtest/gtest.h>

#include <chrono>

#include "lib/builtin_call.h"
#include "lib/system/regex.h"
#include "lib/system/system_builtins.h"

namespace {

using namespace talven;
using namespace talven::lib;
using lib::test::bind;
using lib::test::call;
using lib::test::put;

struct RegionView {
  std::uint32_t allocated, num_regs;
  std::vector<std::int32_t> beg, end;
};

RegionView read_region(Addr region) {
  RegionView v{};
  std::uint32_t h[4];
  EXPECT_TRUE(read_bytes(region, h, sizeof h));
  v.allocated = h[0];
  v.num_regs = h[1];
  for (std::uint32_t i = 0; i < v.num_regs; ++i) {
    std::uint32_t b = 0, e = 0;
    EXPECT_TRUE(load32(h[2] + 4 * i, b));
    EXPECT_TRUE(load32(h[3] + 4 * i, e));
    v.beg.push_back(static_cast<std::int32_t>(b));
    v.end.push_back(static_cast<std::int32_t>(e));
  }
  return v;
}

TEST(Regex, KanjiClassAndRegionOffsets) {
  // "abc" + two kanji + "xyz": a class of kanji matches them as characters.
  const std::string text = "abc\x8A\xBF\x8E\x9Axyz";
  const std::string pattern =
      "([\x88\x9F-\x98\x72]+)(x)";  // from the first level-1 kanji to the last
  const std::uint32_t re = call(bind<&bi_reg_new>, {put(pattern), 0});
  ASSERT_NE(re, 0u);
  const Addr region = call(bind<&bi_match_new>, {});
  ASSERT_NE(region, 0u);
  Addr t = put(text);
  const std::uint32_t len = static_cast<std::uint32_t>(text.size());
  EXPECT_EQ(call(bind<&bi_reg_search>, {re, t, len, 0, len, region, 0}), 3u);
  RegionView v = read_region(region);
  ASSERT_EQ(v.num_regs, 3u);
  EXPECT_GE(v.allocated, 3u);
  EXPECT_EQ(v.beg, (std::vector<std::int32_t>{3, 3, 7}));
  EXPECT_EQ(v.end, (std::vector<std::int32_t>{8, 7, 8}));
  // "." takes a whole two-byte character.
  const std::uint32_t dot = call(bind<&bi_reg_new>, {put("c.x"), 0});
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_search>, {dot, t, len, 0, len, 0, 0})), -1);
  const std::uint32_t dots = call(bind<&bi_reg_new>, {put("c..x"), 0});
  EXPECT_EQ(call(bind<&bi_reg_search>, {dots, t, len, 0, len, region, 0}), 2u);
  v = read_region(region);
  EXPECT_EQ(v.num_regs, 1u);
  EXPECT_EQ(v.end[0], 8);
  // match at a position: the length; the region is cleared to -1.
  EXPECT_EQ(call(bind<&bi_reg_match>, {dots, t, len, 2, region, 0}), 6u);
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_match>, {dots, t, len, 0, region, 0})), -1);
  EXPECT_EQ(call(bind<&bi_match_clear>, {region}), 1u);
  v = read_region(region);
  for (std::uint32_t i = 0; i < v.num_regs; ++i) EXPECT_EQ(v.beg[i], -1);
  EXPECT_EQ(call(bind<&bi_match_free>, {region}), 1u);
  EXPECT_EQ(call(bind<&bi_reg_free>, {re}), 1u);
  EXPECT_EQ(call(bind<&bi_reg_free>, {dot}), 1u);
  EXPECT_EQ(call(bind<&bi_reg_free>, {dots}), 1u);
}

TEST(Regex, StartRangeAndLengthAreClamped) {
  const std::uint32_t re = call(bind<&bi_reg_new>, {put("b"), 0});
  Addr t = put("abab");
  EXPECT_EQ(call(bind<&bi_reg_search>, {re, t, 4, 2, 0xFFFFFFFFu, 0, 0}), 3u);
  EXPECT_EQ(call(bind<&bi_reg_search>, {re, t, 4, 0xFFFFFFFFu, 0, 0, 0}),
            3u);  // backwards from the end
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_search>, {re, t, 1, 0, 4, 0, 0})),
            -1);  // only "a"
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_match>, {re, t, 4, 99, 0, 0})), -1);
  call(bind<&bi_reg_free>, {re});
}

TEST(Regex, BadHandlesAndInputsAreRefused) {
  EXPECT_EQ(call(bind<&bi_reg_new>, {0, 0}), 0u);
  EXPECT_EQ(call(bind<&bi_reg_new>, {put("(unclosed"), 0}), 0u);
  EXPECT_EQ(call(bind<&bi_reg_new>, {put("[z-a]"), 0}), 0u);
  const std::uint32_t re = call(bind<&bi_reg_new>, {put("a"), 0});
  Addr t = put("aaa");
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_search>, {re + 100, t, 3, 0, 3, 0, 0})),
            -1);
  EXPECT_EQ(static_cast<std::int32_t>(
                call(bind<&bi_reg_search>, {re, lib::test::bad_address(), 3, 0, 3, 0, 0})),
            -1);
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_search>, {re, t, 0x10000000u, 0, 3, 0, 0})),
            -1);
  // A forged region (any script block) is never used as one.
  Addr fake = lib::test::block(20, 0);
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_search>, {re, t, 3, 0, 3, fake, 0})), -1);
  EXPECT_EQ(call(bind<&bi_match_free>, {fake}), 0u);
  EXPECT_EQ(call(bind<&bi_match_clear>, {0}), 0u);
  const Addr region = call(bind<&bi_match_new>, {});
  EXPECT_EQ(call(bind<&bi_match_free>, {region}), 1u);
  EXPECT_EQ(call(bind<&bi_match_free>, {region}), 0u);  // freed twice
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_search>, {re, t, 3, 0, 3, region, 0})), -1);
  EXPECT_EQ(call(bind<&bi_reg_free>, {re}), 1u);
  EXPECT_EQ(call(bind<&bi_reg_free>, {re}), 0u);
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_reg_search>, {re, t, 3, 0, 3, 0, 0})), -1);
}

TEST(Regex, ScribbledHeaderIsRestoredAndArraysGrow) {
  const Addr region = call(bind<&bi_match_new>, {});
  const std::uint32_t small = call(bind<&bi_reg_new>, {put("(a)"), 0});
  const std::uint32_t big = call(bind<&bi_reg_new>, {put("(a)(b)(c)(d)(e)(f)"), 0});
  Addr t = put("abcdef");
  EXPECT_EQ(call(bind<&bi_reg_search>, {small, t, 6, 0, 6, region, 0}), 0u);
  store32(region + 8, 0x12345678u);  // the script overwrites the begin array's address
  EXPECT_EQ(call(bind<&bi_reg_search>, {big, t, 6, 0, 6, region, 0}), 0u);
  RegionView v = read_region(region);
  ASSERT_EQ(v.num_regs, 7u);
  EXPECT_EQ(v.beg[6], 5);
  EXPECT_EQ(v.end[6], 6);
  call(bind<&bi_match_free>, {region});
  call(bind<&bi_reg_free>, {small});
  call(bind<&bi_reg_free>, {big});
}

TEST(Regex, CatastrophicPatternsEnd) {
  // Without a bound this takes 2^40 steps.
  const std::uint32_t re = call(bind<&bi_reg_new>, {put("^(a|a)*$"), 0});
  const std::string text = std::string(40, 'a') + "b";
  Addr t = put(text);
  const auto start = std::chrono::steady_clock::now();
  const std::int32_t r =
      static_cast<std::int32_t>(call(bind<&bi_reg_search>, {re, t, 41, 0, 41, 0, 0}));
  EXPECT_LT(r, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  call(bind<&bi_reg_free>, {re});
  system::regex_release_all();
  // The library starts again after a release.
  const std::uint32_t again = call(bind<&bi_reg_new>, {put("x"), 0});
  EXPECT_NE(again, 0u);
  call(bind<&bi_reg_free>, {again});
}

}  // namespace
