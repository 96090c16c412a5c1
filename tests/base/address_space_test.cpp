#include "base/address_space.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <thread>
#include <vector>

namespace talven {
namespace {

TEST(AddressSpace, RejectsNullLowPastEndAndWrappingRanges) {
  Addr a = script_alloc(64);
  ASSERT_NE(a, 0u);
  std::uint32_t v = 0;
  EXPECT_TRUE(store32(a, 0x12345678));
  EXPECT_TRUE(load32(a, v));
  EXPECT_EQ(v, 0x12345678u);

  EXPECT_FALSE(load32(0, v));
  EXPECT_FALSE(store32(0, 1));
  EXPECT_FALSE(load32(4, v));
  EXPECT_FALSE(load8(kLowLimit - 1, *reinterpret_cast<std::uint8_t*>(&v)));
  EXPECT_FALSE(valid_range(kLowLimit - 4, 8));  // straddles the low limit

  const std::uint64_t lim = script_space().limit();
  EXPECT_FALSE(load32(static_cast<Addr>(lim), v));
  EXPECT_FALSE(load32(static_cast<Addr>(lim - 2), v));  // last word straddles the end
  EXPECT_TRUE(valid_range(static_cast<Addr>(lim - 4), 4));
  EXPECT_FALSE(load32(0xFFFFFFFFu, v));
  EXPECT_FALSE(load32(0xFFFFFFFEu, v));

  // A span whose end wraps past 2^32 must not come back as valid.
  EXPECT_FALSE(valid_range(a, 0xFFFFFFFFu));
  EXPECT_FALSE(valid_range(0xFFFFFFF0u, 0x20));
  EXPECT_EQ(span(a, 0x100000000ull), nullptr);

  EXPECT_TRUE(script_free(a));
}

TEST(AddressSpace, UnalignedAndNarrowAccessAreLittleEndian) {
  Addr a = script_zalloc(16);
  ASSERT_NE(a, 0u);
  EXPECT_TRUE(store32(a + 1, 0xAABBCCDD));
  std::uint8_t b = 0;
  std::uint16_t h = 0;
  EXPECT_TRUE(load8(a + 1, b));
  EXPECT_EQ(b, 0xDD);
  EXPECT_TRUE(load16(a + 3, h));
  EXPECT_EQ(h, 0xAABBu);
  EXPECT_TRUE(load8(a, b));
  EXPECT_EQ(b, 0);
  EXPECT_TRUE(script_free(a));
}

TEST(AddressSpace, CStringsAreBoundedByLengthAndMemory) {
  Addr a = script_alloc(16);
  ASSERT_NE(a, 0u);
  ASSERT_TRUE(write_bytes(a, "hello\0world", 12));
  auto s = cstr(a);
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(*s, "hello");
  EXPECT_TRUE(cstr(a, 5).has_value());   // exactly max_len bytes before the zero
  EXPECT_FALSE(cstr(a, 4).has_value());  // terminator lies beyond the bound
  EXPECT_FALSE(cstr(0).has_value());
  EXPECT_FALSE(cstr(static_cast<Addr>(script_space().limit())).has_value());

  // write_cstr truncates to the capacity and always terminates.
  EXPECT_TRUE(write_cstr(a, "abcdefgh", 4));
  EXPECT_EQ(*cstr(a), "abc");
  EXPECT_FALSE(write_cstr(a, "x", 0));
  EXPECT_FALSE(write_cstr(0, "x", 4));
  EXPECT_TRUE(script_free(a));
}

TEST(AddressSpace, FreeAndReallocRefuseAddressesThatAreNotBlocks) {
  Addr a = script_alloc(100);
  ASSERT_NE(a, 0u);
  EXPECT_GE(script_space().block_size(a), 100u);
  EXPECT_EQ(a % 16, 0u);
  EXPECT_FALSE(script_free(a + 16));  // inside a block
  EXPECT_EQ(script_realloc(a + 16, 10), 0u);
  EXPECT_FALSE(script_free(0));
  EXPECT_TRUE(script_free(a));
  EXPECT_FALSE(script_free(a));  // double free
  EXPECT_EQ(script_space().block_size(a), 0u);

  // realloc(0, n) allocates, realloc(a, 0) frees.
  Addr b = script_realloc(0, 8);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(script_realloc(b, 0), 0u);
  EXPECT_EQ(script_space().block_size(b), 0u);

  // A request larger than the space can hold fails cleanly.
  EXPECT_EQ(script_alloc(0xFFFFFFF0u), 0u);
}

TEST(AddressSpace, ZallocZeroesReusedMemory) {
  Addr a = script_alloc(4096);
  ASSERT_NE(a, 0u);
  std::memset(span(a, 4096), 0xAB, 4096);
  ASSERT_TRUE(script_free(a));
  Addr b = script_zalloc(4096);
  ASSERT_NE(b, 0u);
  const std::uint8_t* p = span(b, 4096);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_TRUE(script_free(b));
}

// Thousands of random alloc/realloc/free operations with each block filled
// with a pattern that is checked before every change: catches overlapping
// blocks, lost contents on realloc and bookkeeping errors.
TEST(AddressSpace, RandomisedAllocatorKeepsBlocksDisjointAndContentsIntact) {
  std::mt19937 rng(1234);
  struct Block {
    std::uint32_t size;
    std::uint8_t seed;
  };
  std::map<Addr, Block> live;
  auto fill = [](Addr a, const Block& b) {
    std::uint8_t* p = span(a, b.size);
    for (std::uint32_t i = 0; i < b.size; ++i) p[i] = static_cast<std::uint8_t>(b.seed + i * 7);
  };
  auto check = [](Addr a, const Block& b, std::uint32_t upto) {
    const std::uint8_t* p = span(a, upto);
    if (!p) return false;
    for (std::uint32_t i = 0; i < upto; ++i)
      if (p[i] != static_cast<std::uint8_t>(b.seed + i * 7)) return false;
    return true;
  };
  auto pick_size = [&]() -> std::uint32_t {
    int r = rng() % 100;
    if (r < 70) return rng() % 256;
    if (r < 95) return rng() % 8192;
    return rng() % (1u << 20);
  };

  const auto before = script_space().stats();
  for (int step = 0; step < 6000; ++step) {
    int op = rng() % 3;
    if (op == 0 || live.empty()) {
      Block b{pick_size(), static_cast<std::uint8_t>(rng())};
      Addr a = rng() % 2 ? script_alloc(b.size) : script_zalloc(b.size);
      ASSERT_NE(a, 0u);
      ASSERT_FALSE(live.count(a));
      // Must not overlap its neighbours.
      auto next = live.lower_bound(a);
      if (next != live.end()) {
        ASSERT_LE(std::uint64_t{a} + b.size, next->first);
      }
      if (next != live.begin()) {
        auto prev = std::prev(next);
        ASSERT_LE(std::uint64_t{prev->first} + prev->second.size, a);
      }
      fill(a, b);
      live[a] = b;
    } else {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      Addr a = it->first;
      Block b = it->second;
      ASSERT_TRUE(check(a, b, b.size)) << "block at " << a << " was overwritten";
      live.erase(it);
      if (op == 1) {
        ASSERT_TRUE(script_free(a));
      } else {
        std::uint32_t n = pick_size();
        Addr r = script_realloc(a, n);
        if (n == 0) {
          ASSERT_EQ(r, 0u);
          continue;
        }
        ASSERT_NE(r, 0u);
        ASSERT_TRUE(check(r, b, std::min(n, b.size))) << "realloc lost contents";
        Block nb{n, static_cast<std::uint8_t>(rng())};
        fill(r, nb);
        live[r] = nb;
      }
    }
  }
  for (auto& [a, b] : live) {
    ASSERT_TRUE(check(a, b, b.size));
    ASSERT_TRUE(script_free(a));
  }
  const auto after = script_space().stats();
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.in_use, before.in_use);
}

TEST(AddressSpace, ConcurrentAllocationFromSeveralThreads) {
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      std::vector<Addr> mine;
      for (int i = 0; i < 2000; ++i) {
        Addr a = script_alloc(32 + (i % 50));
        if (!a || !store32(a, static_cast<std::uint32_t>(t * 100000 + i))) {
          ++failures[t];
          continue;
        }
        mine.push_back(a);
        if (i % 3 == 0) {
          Addr victim = mine[mine.size() / 2];
          std::uint32_t v = 0;
          if (!load32(victim, v) || v / 100000 != static_cast<std::uint32_t>(t)) ++failures[t];
          if (!script_free(victim)) ++failures[t];
          mine.erase(mine.begin() + static_cast<long>(mine.size() / 2));
        }
      }
      for (Addr a : mine) {
        std::uint32_t v = 0;
        if (!load32(a, v) || v / 100000 != static_cast<std::uint32_t>(t)) ++failures[t];
        script_free(a);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

// Guard checking: exact writable bytes, guards before and after, freed
// blocks held back, and the refusals of the allocator. Enabling is for the
// whole process, which CTest gives this test alone.
TEST(AddressSpace, GuardsMarkEverythingButTheBlocksWritable) {
  AddressSpace& s = script_space();
  const Addr before = s.alloc(24);  // allocated without guards: stays writable
  ASSERT_NE(before, 0u);
  s.enable_guards();
  ASSERT_TRUE(s.guards_enabled());
  EXPECT_FALSE(s.guard_hit(before, 24));

  const Addr a = s.alloc(100);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(s.block_size(a), 100u);
  EXPECT_FALSE(s.guard_hit(a, 100));
  EXPECT_FALSE(s.guard_hit(a + 96, 4));
  EXPECT_TRUE(s.guard_hit(a + 97, 4));  // crosses the end inside the last granule
  EXPECT_TRUE(s.guard_hit(a + 100, 1));
  EXPECT_TRUE(s.guard_hit(a - 1, 1));
  EXPECT_TRUE(s.guard_hit(a - 4, 8));
  EXPECT_NE(s.describe_guard_hit(a - 4, 8).find("a write before the start of a block of 100 bytes"),
            std::string::npos);
  EXPECT_NE(s.describe_guard_hit(a + 98, 4).find("past the end of a block of 100 bytes"),
            std::string::npos);
  EXPECT_NE(s.describe_guard_hit(a + 98, 4).find("(at offset 100)"), std::string::npos);

  // Writes through the accessors are refused and remembered once.
  EXPECT_TRUE(store32(a + 96, 1));
  EXPECT_FALSE(store32(a + 98, 1));
  EXPECT_FALSE(write_bytes(a + 200, "x", 1));
  std::optional<GuardFault> fault = take_guard_fault();
  ASSERT_TRUE(fault.has_value());
  EXPECT_EQ(fault->address, a + 98);
  EXPECT_FALSE(take_guard_fault().has_value());

  // Only a block's own start frees it; freed memory stays poisoned and a
  // second free is refused.
  EXPECT_FALSE(s.free(a - 32));
  EXPECT_FALSE(s.free(a + 16));
  EXPECT_TRUE(s.free(a));
  EXPECT_FALSE(s.free(a));
  EXPECT_EQ(s.block_size(a), 0u);
  EXPECT_TRUE(s.guard_hit(a, 1));
  EXPECT_NE(s.describe_guard_hit(a + 8, 1).find("a write into a freed block of 100 bytes"),
            std::string::npos);
  const Addr b = s.alloc(100);
  EXPECT_NE(b, a);  // the quarantine keeps the freed block from coming back at once

  // realloc always moves a guarded block and keeps its contents.
  ASSERT_TRUE(write_bytes(b, "guarded", 8));
  const Addr c = s.realloc(b, 50);
  ASSERT_NE(c, 0u);
  EXPECT_NE(c, b);
  EXPECT_EQ(s.block_size(c), 50u);
  EXPECT_EQ(cstr(c).value_or(""), "guarded");
  EXPECT_TRUE(s.guard_hit(b, 1));
  EXPECT_TRUE(s.guard_hit(c + 50, 1));
  EXPECT_TRUE(s.free(c));
  EXPECT_TRUE(s.free(before));
  EXPECT_TRUE(s.guard_hit(before, 1));
}

TEST(AddressSpace, HostAccessOverWatchedCodeAdvancesTheCodeEpoch) {
  AddressSpace& s = script_space();
  const Addr code = script_zalloc(256);
  const Addr data = script_zalloc(256);
  ASSERT_NE(code, 0u);
  ASSERT_NE(data, 0u);
  s.watch_code(code + 64, code + 128);
  std::uint32_t e = s.code_epoch();
  // Spans beside the watched bytes, or over other blocks, leave it alone...
  ASSERT_NE(span(code, 64), nullptr);
  ASSERT_NE(span(code + 128, 16), nullptr);
  if (data >= code + 128 || data + 256 <= code + 64) {
    ASSERT_TRUE(store32(data, 7));
  }
  EXPECT_EQ(s.code_epoch(), e);
  // ...a span reaching one watched byte, a store into them, and freeing
  // the block that holds them advance it.
  ASSERT_NE(span(code + 60, 5), nullptr);
  EXPECT_NE(s.code_epoch(), e);
  e = s.code_epoch();
  ASSERT_TRUE(store32(code + 100, 1));
  EXPECT_NE(s.code_epoch(), e);
  e = s.code_epoch();
  EXPECT_TRUE(script_free(code));
  EXPECT_NE(s.code_epoch(), e);
  script_free(data);
}

}  // namespace
}  // namespace talven
