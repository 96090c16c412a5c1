// Memory builtins: the heap in script memory, copy/set/compare/swap results
// and their refusals of ranges outside valid script memory.
#include "lib/memory_builtins.h"

#include <gtest/gtest.h>

#include "builtin_call.h"

namespace talven::lib {
namespace {

using test::bad_address;
using test::bind;
using test::block;
using test::bytes_at;
using test::call;
using test::put;

TEST(MemoryBuiltins, HeapBlocksLiveInScriptMemory) {
  Addr a = call(bind<&bi_malloc>, {100});
  ASSERT_NE(a, 0u);
  EXPECT_TRUE(valid_range(a, 100));
  write_bytes(a, "keep", 4);
  Addr b = call(bind<&bi_realloc>, {a, 100000});
  ASSERT_NE(b, 0u);
  EXPECT_EQ(bytes_at(b, 4), "keep");
  // A request that cannot be met fails and keeps the old block.
  EXPECT_EQ(call(bind<&bi_realloc>, {b, 0xFFFFFFF0u}), 0u);
  EXPECT_EQ(bytes_at(b, 4), "keep");
  EXPECT_EQ(call(bind<&bi_malloc>, {0xFFFFFFF0u}), 0u);
  EXPECT_EQ(call(bind<&bi_free>, {b}), 1u);
  EXPECT_EQ(call(bind<&bi_free>, {0}), 1u);
  // Not the start of a live block: refused.
  EXPECT_EQ(call(bind<&bi_free>, {b}), 0u);
  EXPECT_EQ(call(bind<&bi_free>, {bad_address()}), 0u);
}

TEST(MemoryBuiltins, CopySetCompareSwap) {
  Addr a = put("abcdef");
  Addr d = block(8);
  EXPECT_EQ(call(bind<&bi_memcpy>, {d, a, 3}), 1u);  // 1, not the destination
  EXPECT_EQ(bytes_at(d, 4), "abc\xEE");
  // Overlapping moves in both directions.
  EXPECT_EQ(call(bind<&bi_memmove>, {a + 1, a, 4}), 1u);
  EXPECT_EQ(bytes_at(a, 6), "aabcdf");
  EXPECT_EQ(call(bind<&bi_memmove>, {a, a + 2, 4}), 1u);
  EXPECT_EQ(bytes_at(a, 6), "bcdfdf");

  EXPECT_EQ(call(bind<&bi_memset>, {d, 0x1241, 3}), 1u);  // the low byte only
  EXPECT_EQ(bytes_at(d, 4), "AAA\xEE");

  Addr ab = put("ab"), ac = put("ac");
  EXPECT_EQ(static_cast<std::int32_t>(call(bind<&bi_memcmp>, {ab, ac, 2})), -1);
  EXPECT_EQ(call(bind<&bi_memcmp>, {ab, ac, 1}), 0u);
  EXPECT_EQ(call(bind<&bi_memcmp>, {ac, ab, 2}), 1u);
  // Bytes compare unsigned.
  Addr hi = put("\x80"), lo = put("\x01");
  EXPECT_EQ(call(bind<&bi_memcmp>, {hi, lo, 1}), 1u);
  EXPECT_EQ(call(bind<&bi_memcmp>, {hi, lo, 0}), 0u);

  Addr x = put("1234"), y = put("abcd");
  EXPECT_EQ(call(bind<&bi_memswap>, {x, y, 3}), 1u);
  EXPECT_EQ(bytes_at(x, 4), "abc4");
  EXPECT_EQ(bytes_at(y, 4), "123d");
  EXPECT_EQ(call(bind<&bi_memswap>, {x, y, 0}), 1u);
  EXPECT_EQ(call(bind<&bi_memswap>, {x, y, static_cast<std::uint32_t>(-5)}), 1u);
  EXPECT_EQ(bytes_at(x, 4), "abc4");
}

TEST(MemoryBuiltins, RangesOutsideScriptMemoryAreRefused) {
  Addr a = block(16);
  const Addr bad = bad_address();
  EXPECT_EQ(call(bind<&bi_memcpy>, {a, bad, 4}), 0u);
  EXPECT_EQ(call(bind<&bi_memcpy>, {bad, a, 4}), 0u);
  EXPECT_EQ(call(bind<&bi_memcpy>, {0, a, 4}), 0u);
  EXPECT_EQ(call(bind<&bi_memcpy>, {100, a, 4}), 0u);  // below the first valid address
  // A count that runs past the end of memory, or wraps 32 bits.
  EXPECT_EQ(call(bind<&bi_memset>, {a, 0, 0xFFFFFFFFu}), 0u);
  EXPECT_EQ(call(bind<&bi_memmove>, {a, a + 4, 0xFFFFFFF0u}), 0u);
  EXPECT_EQ(call(bind<&bi_memcmp>, {a, bad, 4}), kCompareError);
  EXPECT_EQ(call(bind<&bi_memswap>, {a, bad, 4}), 0u);
  EXPECT_EQ(bytes_at(a, 4), "\xEE\xEE\xEE\xEE");
  // A count of 0 touches nothing and succeeds.
  EXPECT_EQ(call(bind<&bi_memcpy>, {a, a, 0}), 1u);
}

}  // namespace
}  // namespace talven::lib
