// Hit areas: the record layout, edges of the point and rectangle queries,
// inert areas, areas that follow sprites up their parent chain, the pool
// limit and removal.
#include <vector>

#include "graphics/sprite/sprite.h"
#include "graphics/sprite/sprite_builtins.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::call;
using test::make_plane;
using test::ScriptBlock;

class HitAreaTest : public test::GraphicsTest {
 protected:
  void SetUp() override {
    test::GraphicsTest::SetUp();
    sp_init(0xFFFFFFFFu);
    make_plane(0, 64, 48, 32);
    make_plane(1, 12, 8, 32);
  }
  void TearDown() override {
    sp_init(0xFFFFFFFFu);
    test::GraphicsTest::TearDown();
  }
  static std::uint32_t word(Addr a, std::uint32_t off) {
    return load32(a + off).value_or(0xDEADBEEF);
  }
};

struct ScriptRect : ScriptBlock {
  ScriptRect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) : ScriptBlock(16) {
    std::int32_t v[4] = {l, t, r, b};
    write_bytes(addr, v, 16);
  }
};

Addr area(std::uint32_t layer, std::uint32_t mask, Addr sprite, const ScriptRect* r,
          std::uint32_t value = 0) {
  return call(bi_hit_set, {layer, mask, sprite, r ? r->addr : 0, value});
}

TEST_F(HitAreaTest, RecordLayoutAndLists) {
  ScriptRect r(1, 2, 3, 4);
  Addr a = area(5, 0x30, 0, &r, 77);
  Addr b = area(5, 0x30, 0, &r, 78);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(word(a, 0), 5u);
  EXPECT_EQ(word(a, 4), 0x30u);
  EXPECT_EQ(word(a, 8), 1u);
  EXPECT_EQ(word(a, 12), 2u);
  EXPECT_EQ(word(a, 16), 3u);
  EXPECT_EQ(word(a, 20), 4u);
  EXPECT_EQ(word(a, 24), 0u);
  EXPECT_EQ(word(a, 28), 77u);
  EXPECT_NE(word(a, 32), 0u);  // the layer head: a live record
  EXPECT_EQ(word(a, 36), b);
  EXPECT_EQ(word(b, 32), a);
  EXPECT_EQ(word(b, 36), 0u);
  EXPECT_EQ(area(32, 1, 0, &r), 0u);
  EXPECT_EQ(call(bi_hit_set, {0, 1, 0, 0x10, 0}), 0u);  // bad rectangle address
  EXPECT_EQ(call(bi_hit_set, {0, 1, 0x10, 0, 0}), 0u);  // not a sprite
  EXPECT_EQ(call(hit_reset, {a}), 1u);
  EXPECT_EQ(word(a, 32), 0u);
  EXPECT_EQ(word(b, 32) != 0 && word(b, 32) != a, true);
  EXPECT_EQ(call(hit_reset, {0x10}), 0u);
}

TEST_F(HitAreaTest, PointHitsTheLeftEdgeAndMissesTheRightEdge) {
  ScriptRect r(10, 10, 20, 20);
  Addr a = area(0, 1, 0, &r);
  EXPECT_EQ(call(hit_point, {10, 15, 1}), a);
  EXPECT_EQ(call(hit_point, {15, 10, 1}), a);
  EXPECT_EQ(call(hit_point, {19, 19, 1}), a);
  EXPECT_EQ(call(hit_point, {20, 15, 1}), 0u);
  EXPECT_EQ(call(hit_point, {15, 20, 1}), 0u);
  EXPECT_EQ(call(hit_point, {9, 15, 1}), 0u);
  EXPECT_EQ(call(hit_point, {15, 15, 2}), 0u);  // layer not selected
  // Rectangles overlap only when they share pixels: touching is not enough.
  ScriptRect touching(20, 10, 30, 20), sharing(19, 19, 30, 30);
  EXPECT_EQ(call(bi_hit_rect, {touching.addr, 1}), 0u);
  EXPECT_EQ(call(bi_hit_rect, {sharing.addr, 1}), a);
  EXPECT_EQ(call(bi_hit_rect, {0, 1}), 0u);
}

TEST_F(HitAreaTest, CheckFindsTheFirstOverlapAndSkipsInertAreas) {
  ScriptRect mine(0, 0, 10, 10), far(50, 50, 60, 60), near(5, 5, 15, 15), inert_rect(2, 2, 4, 4);
  Addr self = area(3, 0b1100, 0, &mine);
  Addr inert = area(2, 0, 0, &inert_rect);
  EXPECT_EQ(call(hit_check, {self}), 0u);  // the inert one is skipped
  Addr n3 = area(3, 1, 0, &near);
  Addr f2 = area(2, 1, 0, &far);
  Addr n2 = area(2, 1, 0, &near);
  (void)f2;
  // Layer 2 comes before layer 3; within a layer, list order.
  EXPECT_EQ(call(hit_check, {self}), n2);
  EXPECT_EQ(call(hit_reset, {n2}), 1u);
  EXPECT_EQ(call(hit_check, {self}), n3);
  // An inert area finds nothing and is found by nothing.
  EXPECT_EQ(call(hit_check, {inert}), 0u);
  EXPECT_EQ(call(hit_point, {3, 3, 0b0100}), 0u);
  EXPECT_EQ(call(hit_point, {3, 3, 0b1000}), self);
  // Removed areas and addresses that are no areas answer null.
  EXPECT_EQ(call(hit_check, {n2}), 0u);
  EXPECT_EQ(call(hit_check, {self + 4}), 0u);
  // hit_init empties just the selected layers.
  EXPECT_EQ(call(bi_hit_init, {0b1000}), 1u);
  EXPECT_EQ(call(hit_point, {3, 3, 0b1000}), 0u);
  EXPECT_EQ(word(inert, 32) != 0, true);
}

TEST_F(HitAreaTest, AttachedAreasFollowTheirSprite) {
  Addr parent = sp_set(0, 2, 100, 50, 1, nullptr, nullptr);
  Addr child = sp_set(0, 2, 40, 8, 1, nullptr, nullptr);
  store32(parent + 24, 4);  // pivot x
  store32(parent + 28, 2);  // pivot y
  store8(child + 6, 2);     // shift 2: x = 10, y = 2
  ASSERT_TRUE(LinkSprite(parent, child));
  // A null rectangle takes the source size; placed at the sprite's position
  // less its pivot, summed up the parents.
  Addr p_area = area(1, 1, parent, nullptr, 1);
  ScriptRect rel(-20, 0, -9, 2);
  Addr c_area = area(1, 2, child, &rel, 2);
  EXPECT_EQ(word(p_area, 24), parent);
  EXPECT_EQ(word(p_area, 16), 12u);
  EXPECT_EQ(word(p_area, 20), 8u);
  EXPECT_EQ(word(parent, 132), p_area);
  // Parent area at (96, 48)-(108, 56).
  EXPECT_EQ(call(hit_point, {96, 48, 2}), p_area);
  EXPECT_EQ(call(hit_point, {107, 55, 2}), p_area);
  EXPECT_EQ(call(hit_point, {108, 55, 2}), 0u);
  // Child anchor (96 + 10, 48 + 2): its area at (86, 50)-(97, 52); where both
  // hold the point the list order decides.
  EXPECT_EQ(call(hit_point, {86, 50, 2}), c_area);
  EXPECT_EQ(call(hit_point, {85, 50, 2}), 0u);
  EXPECT_EQ(call(hit_point, {96, 51, 2}), p_area);
  EXPECT_EQ(call(hit_check, {c_area}), p_area);
  EXPECT_EQ(call(hit_check, {p_area}), 0u);  // its mask selects layer 0: empty
  // Moving the sprite moves the area without touching the record.
  store32(parent + 16, 0);
  EXPECT_EQ(call(hit_point, {96, 48, 2}), 0u);
  EXPECT_EQ(call(hit_point, {0, 48, 2}), p_area);
  // Areas of sprites that are not shown take no part.
  store8(parent, 1);
  EXPECT_EQ(call(hit_point, {0, 48, 2}), 0u);
  EXPECT_EQ(call(hit_check, {c_area}), 0u);
  store8(parent, 2);
  EXPECT_EQ(call(hit_check, {c_area}), p_area);
  // Resetting removes the sprite's areas from both chains.
  EXPECT_TRUE(sp_reset(child));
  EXPECT_EQ(word(c_area, 32), 0u);
  EXPECT_EQ(word(child, 132), 0u);
  EXPECT_EQ(word(p_area, 36), 0u);
}

TEST_F(HitAreaTest, PoolIsFiniteAndRecordsComeBack) {
  ScriptRect r(0, 0, 1, 1);
  std::vector<Addr> all;
  for (int i = 0; i < kHitPoolSize; ++i) {
    Addr a = area(std::uint32_t(i % 32), 1, 0, &r);
    ASSERT_NE(a, 0u) << i;
    all.push_back(a);
  }
  EXPECT_EQ(area(0, 1, 0, &r), 0u);
  EXPECT_EQ(call(hit_reset, {all[1234]}), 1u);
  EXPECT_EQ(area(9, 1, 0, &r), all[1234]);
  sp_init(0xFFFFFFFFu);
  EXPECT_EQ(word(all[0], 32), 0u);
  EXPECT_NE(area(0, 1, 0, &r), 0u);
}

}  // namespace
}  // namespace talven::graphics
