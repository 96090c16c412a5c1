// The sprite store through its builtins: record layout at its byte offsets,
// sp_set and its dummy record, links and their cycle refusal, taking off,
// sorting and clearing.
#include <string>
#include <vector>

#include "graphics/present/pages.h"
#include "graphics/sprite/sprite.h"
#include "graphics/sprite/sprite_builtins.h"
#include "graphics/sprite/sprite_store.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::call;
using test::call_raw;
using test::make_plane;
using test::ScriptBlock;

class SpriteStoreTest : public test::GraphicsTest {
 protected:
  void SetUp() override {
    test::GraphicsTest::SetUp();
    config().Smoothing = 0;
    sp_init(0xFFFFFFFFu);
    sp_flag(0);
    make_plane(0, 64, 48, 32);
    make_plane(1, 10, 6, 32);
  }
  void TearDown() override {
    sp_init(0xFFFFFFFFu);
    test::GraphicsTest::TearDown();
  }

  static Addr set(std::uint32_t layer, std::int32_t x, std::int32_t y, std::uint32_t slot = 1,
                  std::uint32_t state = 2) {
    return call_raw(bi_sp_set, {layer, state, std::uint32_t(x), std::uint32_t(y), slot, 0, 0});
  }
  static std::uint32_t word(Addr a, std::uint32_t off) {
    return load32(a + off).value_or(0xDEADBEEF);
  }
  static std::uint8_t byte(Addr a, std::uint32_t off) {
    std::uint8_t v = 0xEE;
    load8(a + off, v);
    return v;
  }
  static std::uint16_t flags(Addr a) {
    std::uint16_t v = 0;
    load16(a + 2, v);
    return v;
  }
  // The layer's list as the script sees it: from the head's next word.
  static std::vector<Addr> layer_list(int layer) {
    std::vector<Addr> out;
    auto* s = sprite_detail::store();
    Addr a = word(sprite_detail::head_addr(*s, layer), 128);
    while (a && out.size() < 100) {
      out.push_back(a);
      a = word(a, 128);
    }
    return out;
  }
  static std::vector<Addr> children(Addr a) {
    std::vector<Addr> out;
    Addr arr = word(a, 116);
    for (std::uint32_t i = 0; i < word(a, 112); ++i) out.push_back(word(arr, 4 * i));
    return out;
  }
  int error_count() const {
    int n = 0;
    for (auto& m : messages_) n += m.first == 1;
    return n;
  }
};

TEST_F(SpriteStoreTest, SetFillsTheRecordAtItsByteOffsets) {
  EXPECT_EQ(call(sp_flag, {0x0100}), 0u);
  config().Smoothing = 1;
  std::uint8_t blend[12] = {5, 3, 200, 7, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  ScriptBlock b(blend, 12);
  std::int32_t rect[4] = {1, 2, 7, 5};
  ScriptBlock r(rect, 16);
  Addr a = call_raw(bi_sp_set, {3, 2, std::uint32_t(-7), 9, 1, r.addr, b.addr});
  ASSERT_NE(a, dummy_sprite());
  ASSERT_NE(sprite_at(a), nullptr);
  EXPECT_EQ(byte(a, 0), 2);
  EXPECT_EQ(byte(a, 1), 3);
  EXPECT_EQ(flags(a), 0x0110);
  EXPECT_EQ(word(a, 12), 1u);
  EXPECT_EQ(std::int32_t(word(a, 16)), -7);
  EXPECT_EQ(word(a, 20), 9u);
  EXPECT_EQ(word(a, 32), 0x10000u);
  EXPECT_EQ(word(a, 36), 0x10000u);
  for (std::uint32_t off : {8u, 24u, 28u, 40u, 48u, 112u, 116u, 120u, 132u, 136u})
    EXPECT_EQ(word(a, off), 0u) << off;
  EXPECT_EQ(word(a, 52), 1u);
  EXPECT_EQ(word(a, 56), 2u);
  EXPECT_EQ(word(a, 60), 7u);
  EXPECT_EQ(word(a, 64), 5u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(byte(a, 68 + i), blend[i]);
  // First in its layer: previous names the layer head, the head's next the record.
  auto* s = sprite_detail::store();
  EXPECT_EQ(word(a, 124), sprite_detail::head_addr(*s, 3));
  EXPECT_EQ(layer_list(3), std::vector<Addr>{a});
  EXPECT_EQ(call(sp_flag, {0}), 0x0100u);

  // A null rectangle takes the whole plane; the second record follows the first.
  config().Smoothing = 0;
  Addr c = set(3, 0, 0);
  EXPECT_EQ(word(c, 60), 10u);
  EXPECT_EQ(word(c, 64), 6u);
  EXPECT_EQ(flags(c), 0);
  EXPECT_EQ(word(a, 128), c);
  EXPECT_EQ(word(c, 124), a);
}

TEST_F(SpriteStoreTest, FailuresAnswerWithAClearedDummy) {
  const Addr dummy = dummy_sprite();
  ASSERT_NE(dummy, 0u);
  EXPECT_EQ(set(32, 0, 0), dummy);
  EXPECT_EQ(set(0xFFFFFFFFu, 0, 0), dummy);
  EXPECT_EQ(set(0, 0, 0, 1024), dummy);
  EXPECT_EQ(set(0, 0, 0, 5), dummy);  // missing plane, no rectangle
  std::int32_t rect[4] = {0, 0, 4, 4};
  ScriptBlock r(rect, 16);
  // With a rectangle the plane may come later.
  Addr later = call_raw(bi_sp_set, {0, 2, 0, 0, 5, r.addr, 0});
  EXPECT_NE(later, dummy);
  EXPECT_EQ(call_raw(bi_sp_set, {0, 2, 0, 0, 1, 0x10, 0}), dummy);  // bad rectangle address
  EXPECT_EQ(call_raw(bi_sp_set, {0, 2, 0, 0, 1, 0, 0x10}), dummy);  // bad blend address
  // Whatever a script wrote through the dummy is gone at the next failure,
  // and the dummy takes part in nothing.
  store32(dummy + 16, 1234);
  store8(dummy, 2);
  EXPECT_EQ(set(40, 0, 0), dummy);
  EXPECT_EQ(word(dummy, 16), 0u);
  EXPECT_EQ(byte(dummy, 0), 0);
  EXPECT_EQ(call(sp_reset, {dummy}), 0u);
  EXPECT_EQ(call(LinkSprite, {later, dummy}), 0u);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SpriteStoreTest, AFullStoreFreesRecordsOnlyAtTheNextDraw) {
  std::vector<Addr> all;
  for (int i = 0; i < kSpriteCount; ++i) {
    Addr a = set(std::uint32_t(i % 32), i, 0);
    ASSERT_NE(a, dummy_sprite()) << i;
    all.push_back(a);
  }
  EXPECT_EQ(set(0, 0, 0), dummy_sprite());
  EXPECT_EQ(call(sp_reset, {all[100]}), 1u);
  EXPECT_EQ(byte(all[100], 0), 1);
  EXPECT_EQ(flags(all[100]) & 0x2000, 0x2000);
  EXPECT_EQ(set(0, 0, 0), dummy_sprite());  // still held until drawn
  EXPECT_EQ(call(bi_sp_draw, {0, 0}), 1u);  // no layer selected: freed anyway
  EXPECT_EQ(byte(all[100], 0), 0);
  EXPECT_EQ(set(7, 0, 0), all[100]);
  // A script writing state 0 into a live record does not make it free.
  store8(all[5], 0);
  EXPECT_EQ(set(0, 0, 0), dummy_sprite());
}

TEST_F(SpriteStoreTest, RecordsAreHandedOutInTurnNotFreedOnesFirst) {
  const Addr a = set(0, 0, 0), b = set(0, 0, 0);
  EXPECT_EQ(b, a + sizeof(SpriteRecord));
  EXPECT_EQ(call(sp_reset, {a}), 1u);
  EXPECT_EQ(call(bi_sp_draw, {0, 0}), 1u);  // frees a
  EXPECT_EQ(set(0, 0, 0), b + sizeof(SpriteRecord));
  // The same turn order holds for hit areas.
  const Addr h1 = hit_set(0, 1, 0, nullptr, 0), h2 = hit_set(0, 1, 0, nullptr, 0);
  EXPECT_EQ(h2, h1 + sizeof(HitArea));
  EXPECT_TRUE(hit_reset(h1));
  EXPECT_EQ(hit_set(0, 1, 0, nullptr, 0), h2 + sizeof(HitArea));
}

TEST_F(SpriteStoreTest, LinkRefusesCyclesWithTheMessage) {
  Addr a = set(0, 0, 0), b = set(0, 0, 0), c = set(0, 0, 0);
  EXPECT_EQ(call(LinkSprite, {a, a}), 0u);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, 1u);
  EXPECT_NE(messages_[0].second.find("LinkSprite : 循環参照してます。"), std::string::npos);
  EXPECT_EQ(call(LinkSprite, {a, b}), 1u);
  EXPECT_EQ(call(LinkSprite, {b, c}), 1u);
  EXPECT_EQ(call(LinkSprite, {c, a}), 0u);  // under a grandchild
  EXPECT_EQ(call(LinkSprite, {b, a}), 0u);  // under a child
  EXPECT_EQ(error_count(), 3);
  EXPECT_EQ(word(a, 120), 0u);
  EXPECT_EQ(children(b), std::vector<Addr>{c});
  // Not records: refused without a message.
  EXPECT_EQ(call(LinkSprite, {a, 0}), 0u);
  EXPECT_EQ(call(LinkSprite, {a + 4, b}), 0u);
  EXPECT_EQ(error_count(), 3);
  // Linking moves a child from its old parent.
  EXPECT_EQ(call(LinkSprite, {a, c}), 1u);
  EXPECT_TRUE(children(b).empty());
  EXPECT_EQ(children(a), (std::vector<Addr>{b, c}));
  EXPECT_EQ(word(c, 120), a);
}

TEST_F(SpriteStoreTest, ChildrenArrayGrowsAndClosesGaps) {
  Addr p = set(0, 0, 0);
  Addr other = set(0, 0, 0);
  std::vector<Addr> kids;
  for (int i = 0; i < 9; ++i) kids.push_back(set(1, i, 0));
  for (int i = 0; i < 8; ++i) ASSERT_EQ(call(LinkSprite, {p, kids[i]}), 1u);
  Addr arr = word(p, 116);
  EXPECT_EQ(word(arr - 4, 0), 8u);  // capacity before the first element
  ASSERT_EQ(call(LinkSprite, {p, kids[8]}), 1u);
  EXPECT_EQ(word(word(p, 116) - 4, 0), 16u);
  EXPECT_EQ(children(p), kids);
  EXPECT_EQ(call(sp_unlink, {kids[3]}), 1u);
  EXPECT_EQ(word(kids[3], 120), 0u);
  std::vector<Addr> expect = kids;
  expect.erase(expect.begin() + 3);
  EXPECT_EQ(children(p), expect);
  EXPECT_EQ(call(sp_unlink, {kids[3]}), 1u);  // no parent: nothing to do
  EXPECT_EQ(call(sp_unlink, {0}), 0u);
  // Children in another layer keep their place; in the same layer the
  // child goes right after its parent.
  EXPECT_EQ(layer_list(1).size(), 9u);
  Addr same = set(0, 0, 0);
  EXPECT_EQ(layer_list(0), (std::vector<Addr>{p, other, same}));
  EXPECT_EQ(call(LinkSprite, {p, same}), 1u);
  EXPECT_EQ(layer_list(0), (std::vector<Addr>{p, same, other}));
}

TEST_F(SpriteStoreTest, ResetTakesOffTheWholeFamilyAndItsHitAreas) {
  Addr a = set(0, 0, 0), b = set(0, 0, 0), c = set(2, 0, 0), d = set(0, 0, 0);
  Addr stranger = set(0, 0, 0);
  ASSERT_EQ(call(LinkSprite, {a, b}), 1u);
  ASSERT_EQ(call(LinkSprite, {a, c}), 1u);
  ASSERT_EQ(call(LinkSprite, {c, d}), 1u);
  Addr area = hit_set(0, 1, c, nullptr, 5);
  ASSERT_NE(area, 0u);
  EXPECT_EQ(call(sp_reset, {0}), 0u);
  EXPECT_EQ(call(sp_reset, {a}), 1u);
  for (Addr x : {a, b, c, d}) {
    EXPECT_EQ(byte(x, 0), 1);
    EXPECT_EQ(flags(x) & 0x2000, 0x2000);
    EXPECT_EQ(word(x, 120), 0u);  // no parent left
    EXPECT_EQ(word(x, 116), 0u);  // children arrays freed
    EXPECT_EQ(word(x, 112), 0u);
  }
  EXPECT_EQ(byte(stranger, 0), 2);
  EXPECT_EQ(word(area, 32), 0u);  // the hit area is free again
  EXPECT_EQ(word(c, 132), 0u);
  // A free record is not taken off (it would never come back).
  ASSERT_EQ(call(bi_sp_draw, {0xFFFFFFFFu, 0}), 1u);
  for (Addr x : {a, b, c, d}) EXPECT_EQ(byte(x, 0), 0);
  EXPECT_EQ(call(sp_reset, {a}), 1u);
  EXPECT_EQ(flags(a), 0);
  EXPECT_EQ(layer_list(0), std::vector<Addr>{stranger});
  EXPECT_TRUE(layer_list(2).empty());
}

TEST_F(SpriteStoreTest, SortOrdersByYAndZKeepingTies) {
  const std::int32_t ys[] = {30, 10, 20, 10};
  const std::int32_t zs[] = {1, 9, 5, 3};
  std::vector<Addr> s;
  for (int i = 0; i < 4; ++i) {
    s.push_back(set(4, 0, ys[i]));
    store32(s[i] + 8, std::uint32_t(zs[i]));
  }
  EXPECT_EQ(call(bi_sp_sort, {1u << 4, 1}), 1u);
  EXPECT_EQ(layer_list(4), (std::vector<Addr>{s[1], s[3], s[2], s[0]}));
  EXPECT_EQ(call(bi_sp_sort, {1u << 4, 2}), 1u);
  EXPECT_EQ(layer_list(4), (std::vector<Addr>{s[0], s[3], s[2], s[1]}));
  EXPECT_EQ(call(bi_sp_sort, {1u << 4, 3}), 1u);
  EXPECT_EQ(layer_list(4), (std::vector<Addr>{s[3], s[1], s[2], s[0]}));
  // Unselected layers and key 0 leave the order alone.
  EXPECT_EQ(call(bi_sp_sort, {1u << 5, 1}), 1u);
  EXPECT_EQ(call(bi_sp_sort, {1u << 4, 0}), 1u);
  EXPECT_EQ(layer_list(4), (std::vector<Addr>{s[3], s[1], s[2], s[0]}));
  // y sums up the parent chain, each with its own shift: 12 + (128 >> 4) = 20,
  // after s[2] (20, same key, earlier in the list); s[3] and s[1] tie and
  // keep their order.
  Addr child = set(4, 0, 128);
  store8(child + 6, 4);
  Addr parent = set(6, 0, 12);
  ASSERT_EQ(call(LinkSprite, {parent, child}), 1u);
  EXPECT_EQ(call(bi_sp_sort, {1u << 4, 1}), 1u);
  EXPECT_EQ(layer_list(4), (std::vector<Addr>{s[3], s[1], s[2], child, s[0]}));
  // The list stays doubly linked.
  auto list = layer_list(4);
  for (std::size_t i = 1; i < list.size(); ++i) EXPECT_EQ(word(list[i], 124), list[i - 1]);
}

TEST_F(SpriteStoreTest, InitClearsLayersOrEverything) {
  Addr a = set(0, 0, 0), b = set(1, 0, 0), c = set(2, 0, 0);
  call(bi_sp_org, {0xFFFFFFFFu, 5, 6});
  call(sp_setbg, {1});
  Addr area = hit_set(3, 1, 0, nullptr, 0);
  EXPECT_EQ(call(bi_sp_init, {0b010}), 1u);
  EXPECT_EQ(flags(b) & 0x2000, 0x2000);
  EXPECT_EQ(flags(a) & 0x2000, 0);
  EXPECT_EQ(flags(c) & 0x2000, 0);
  EXPECT_NE(word(area, 32), 0u);
  std::int32_t x, y;
  layer_origin(9, x, y);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, 6);
  EXPECT_EQ(call(sp_getbg, {}), 1u);
  EXPECT_EQ(call(bi_sp_init, {0xFFFFFFFFu}), 1u);
  for (Addr r : {a, b, c}) EXPECT_EQ(byte(r, 0), 0);
  EXPECT_TRUE(layer_list(0).empty());
  EXPECT_EQ(word(area, 32), 0u);
  layer_origin(9, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(call(sp_getbg, {}), 0u);  // back to the cleared store's value
  EXPECT_EQ(drt_count(), 0);
  // Default flags survive.
  call(sp_flag, {0x40});
  sp_init(0xFFFFFFFFu);
  EXPECT_EQ(flags(set(0, 0, 0)), 0x40);
}

// Scripts can write any word of the store. Links that name the wrong thing,
// loops and wild counts must leave every operation inside the store, and
// sp_init(-1) must give back a store with all 4096 records usable.
TEST_F(SpriteStoreTest, DamagedRecordsStayInsideTheStore) {
  auto* s = sprite_detail::store();
  std::vector<Addr> sprites, areas;
  for (int i = 0; i < 64; ++i) sprites.push_back(set(std::uint32_t(i % 4), i, i));
  for (int i = 1; i < 64; ++i) LinkSprite(sprites[std::size_t(i / 2)], sprites[std::size_t(i)]);
  for (int i = 0; i < 32; ++i)
    areas.push_back(hit_set(i % 4, 0xF, sprites[std::size_t(i)], nullptr, i));
  std::uint32_t seed = 1;
  auto rnd = [&](std::uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 40; ++round) {
    for (int k = 0; k < 24; ++k) {
      // A word of a record or head, of a hit area, or a covered piece.
      Addr target;
      switch (rnd(3)) {
        case 0: target = s->heads + 4 * rnd((s->dummy - s->heads) / 4); break;
        case 1: target = s->hit_heads + 4 * rnd((s->pieces - s->hit_heads) / 4); break;
        default: target = s->pieces + 4 * rnd(64); break;
      }
      const std::uint32_t choices[] = {sprites[rnd(64)],
                                       sprites[rnd(64)] + 4,
                                       areas[rnd(32)],
                                       target,
                                       rnd(0xFFFFFFFFu),
                                       0,
                                       1,
                                       0xFFFFFFFFu,
                                       0x10,
                                       s->heads};
      store32(target, choices[rnd(10)]);
    }
    Rect changed;
    EXPECT_TRUE(sp_draw(0xFFFFFFFFu, &changed));
    sp_sort(0xF, 3);
    LinkSprite(sprites[rnd(64)], sprites[rnd(64)]);
    sp_unlink(sprites[rnd(64)]);
    hit_check(areas[rnd(32)]);
    hit_point(std::int32_t(rnd(64)), std::int32_t(rnd(64)), 0xF);
    Rect box;
    sp_rect(sprites[rnd(64)], box);
    if (round % 5 == 4) sp_reset(sprites[rnd(64)]);
    if (round % 9 == 8) sp_init(1u << rnd(4));
  }
  sp_init(0xFFFFFFFFu);
  for (int i = 0; i < kSpriteCount; ++i)
    ASSERT_NE(set(std::uint32_t(i % 32), 0, 0), dummy_sprite()) << i;
  for (int i = 0; i < kHitPoolSize; ++i) ASSERT_NE(hit_set(i % 32, 1, 0, nullptr, 0), 0u) << i;
}

}  // namespace
}  // namespace talven::graphics
