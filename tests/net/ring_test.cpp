// The byte ring: one byte always free, positions wrapping at 8192, copies
// in two pieces across the end.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "net/net_ring.h"

namespace {

using talven::net::kRingSize;
using talven::net::Ring;

std::vector<std::uint8_t> counting(std::size_t n, std::uint8_t first = 0) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

TEST(NetRing, HoldsAtMostOneLessThanItsSize) {
  Ring r;
  EXPECT_EQ(r.held(), 0u);
  EXPECT_EQ(r.free(), kRingSize - 1);
  auto data = counting(10000);
  EXPECT_EQ(r.put(data.data(), 10000), 8191u);  // a send of 10000 queues 8191
  EXPECT_EQ(r.held(), 8191u);
  EXPECT_EQ(r.free(), 0u);
  EXPECT_EQ(r.put(data.data(), 1), 0u);  // full: nothing more goes in
  EXPECT_NE(r.read, r.write);            // and it does not look empty

  std::vector<std::uint8_t> out(10000, 0xEE);
  EXPECT_EQ(r.take(out.data(), 10000), 8191u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 8191, data.begin()));
  EXPECT_EQ(out[8191], 0xEE);  // nothing past what was held
  EXPECT_EQ(r.held(), 0u);
  EXPECT_EQ(r.take(out.data(), 1), 0u);  // empty reads 0
}

TEST(NetRing, CopiesAcrossTheWrapInTwoPieces) {
  Ring r;
  r.read = r.write = 8000;
  auto data = counting(500, 7);
  EXPECT_EQ(r.contiguous_free(), kRingSize - 8000);
  EXPECT_EQ(r.put(data.data(), 500), 500u);
  EXPECT_EQ(r.write, 308u);  // wrapped: 192 bytes at the end, 308 at the start
  EXPECT_EQ(r.held(), 500u);
  EXPECT_EQ(r.free(), kRingSize - 1 - 500);
  EXPECT_EQ(r.bytes[8191], data[191]);
  EXPECT_EQ(r.bytes[0], data[192]);
  EXPECT_EQ(r.contiguous_held(), 192u);

  std::vector<std::uint8_t> out(500);
  EXPECT_EQ(r.take(out.data(), 100), 100u);
  EXPECT_EQ(r.take(out.data() + 100, 400), 400u);
  EXPECT_EQ(out, data);
  EXPECT_EQ(r.read, 308u);
}

TEST(NetRing, FullAcrossTheWrap) {
  // Write behind read: free = read - write - 1 and held = write - read + 8192.
  Ring r;
  r.read = 100;
  r.write = 99;
  EXPECT_EQ(r.free(), 0u);
  EXPECT_EQ(r.held(), 8191u);
  r.read = 5000;
  r.write = 1000;
  EXPECT_EQ(r.free(), 3999u);
  EXPECT_EQ(r.held(), 4192u);
  EXPECT_EQ(r.contiguous_free(), 3999u);
  EXPECT_EQ(r.contiguous_held(), kRingSize - 5000);
}

TEST(NetRing, ProducerAndConsumerRegionsAdvancePositions) {
  Ring r;
  r.read = r.write = 8190;
  EXPECT_EQ(r.contiguous_free(), 2u);
  r.produced(2);
  EXPECT_EQ(r.write, 0u);
  EXPECT_EQ(r.held(), 2u);
  EXPECT_EQ(r.contiguous_free(), 8189u);
  r.consumed(2);
  EXPECT_EQ(r.read, 0u);
  EXPECT_EQ(r.held(), 0u);
}

}  // namespace
