// sp_draw: the changed area, erasing through the background, drawing
// order, the transform (pivot, rotation, parents, origins, sub-pixel
// shift, mirrors, scale), incremental frames against full redraws, and
// golden pictures of a layered scene under tests/data/graphics (run with
// TALVEN_UPDATE_GOLDEN=1 to rewrite them after a deliberate change).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "graphics/plane/image_io.h"
#include "graphics/present/pages.h"
#include "graphics/sprite/sprite.h"
#include "graphics/sprite/sprite_builtins.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::Bgra;
using test::call;
using test::call_raw;
using test::color_at;
using test::expect_golden;
using test::make_plane;
using test::raw_value;
using test::ScriptBlock;

struct RectArg : ScriptBlock {
  RectArg() : ScriptBlock(16) {}
  RectArg(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) : ScriptBlock(16) {
    std::int32_t v[4] = {l, t, r, b};
    write_bytes(addr, v, 16);
  }
  Rect get() const {
    Rect r;
    load_rect(addr, r);
    return r;
  }
};

std::string str(const Rect& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

Rect record_rect(Addr a, std::uint32_t off) {
  Rect r;
  load_rect(a + off, r);
  return r;
}

void fill(Plane& p, std::uint32_t v) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) test::set_raw(p, x, y, v);
}

// A background whose every pixel differs from its neighbours.
Plane* pattern(int slot, int w, int h) {
  Plane* p = make_plane(slot, w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      test::set_raw(
          *p, x, y,
          std::uint32_t((x * 7) & 0xFF) | std::uint32_t((y * 11) & 0xFF) << 8 | 0x300000u);
  return p;
}

// Source pixels that name their position: 0xFF4 yy xx.
Plane* numbered(int slot, int w, int h) {
  Plane* p = make_plane(slot, w, h, 32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      test::set_raw(*p, x, y, 0xFF400000u | std::uint32_t(y) << 8 | std::uint32_t(x));
  return p;
}

// A disc of colour `rgb` whose alpha falls off towards the edge.
Plane* soft_disc(int slot, int size, std::uint32_t rgb) {
  Plane* p = make_plane(slot, size, size, 32);
  const int c = size - 1;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      int d2 = (2 * x - c) * (2 * x - c) + (2 * y - c) * (2 * y - c);
      int a = 255 - d2 * 255 / (size * size);
      test::set_raw(*p, x, y, (a < 0 ? 0u : std::uint32_t(a)) << 24 | rgb);
    }
  return p;
}

class SpriteDrawTest : public test::GraphicsTest {
 protected:
  void SetUp() override {
    test::GraphicsTest::SetUp();
    config().Smoothing = 0;
    config().MultiThreading = 1;
    sp_init(0xFFFFFFFFu);
    sp_flag(0);
  }
  void TearDown() override {
    sp_init(0xFFFFFFFFu);
    test::GraphicsTest::TearDown();
  }
  static Addr set(std::uint32_t layer, std::int32_t x, std::int32_t y, std::uint32_t slot,
                  const ScriptBlock* blend = nullptr) {
    return call_raw(bi_sp_set, {layer, 2, std::uint32_t(x), std::uint32_t(y), slot, 0,
                                blend ? blend->addr : 0});
  }
  static void mark(Addr s) {
    std::uint16_t f = 0;
    load16(s + 2, f);
    store16(s + 2, std::uint16_t(f | 1));
  }
  static Rect draw(std::uint32_t mask = 0xFFFFFFFFu) {
    RectArg out;
    EXPECT_EQ(call(bi_sp_draw, {mask, out.addr}), 1u);
    return out.get();
  }
};

struct BlendArg : ScriptBlock {
  BlendArg(int mode, int opacity) : ScriptBlock(12) {
    std::uint8_t r[12] = {std::uint8_t(mode), 0, std::uint8_t(opacity)};
    write_bytes(addr, r, 12);
  }
};

TEST_F(SpriteDrawTest, ChangedAreaCoversOldAndNewBounds) {
  Plane* page = make_plane(0, 64, 48, 24);
  Plane* bg = pattern(2, 64, 48);
  fill(*make_plane(1, 8, 8, 32), 0xFFFF0000u);
  EXPECT_EQ(call(sp_setbg, {2}), 0u);
  Addr s = set(0, 4, 4, 1);
  EXPECT_EQ(str(draw()), str(Rect{0, 0, 64, 48}));  // the new background's area
  EXPECT_EQ(raw_value(*page, 4, 4), 0xFF0000u);
  EXPECT_EQ(raw_value(*page, 11, 11), 0xFF0000u);
  EXPECT_EQ(raw_value(*page, 12, 11), raw_value(*bg, 12, 11));
  EXPECT_EQ(str(draw()), str(Rect{}));  // nothing changed

  store32(s + 16, 30);
  mark(s);
  EXPECT_EQ(str(draw()), str(Rect{4, 4, 38, 12}));
  EXPECT_EQ(raw_value(*page, 4, 4), raw_value(*bg, 4, 4));
  EXPECT_EQ(raw_value(*page, 11, 11), raw_value(*bg, 11, 11));
  EXPECT_EQ(raw_value(*page, 30, 4), 0xFF0000u);
  EXPECT_EQ(raw_value(*page, 37, 11), 0xFF0000u);
  // The area is cut to the page's clip.
  store32(s + 16, 60);
  mark(s);
  EXPECT_EQ(str(draw()), str(Rect{30, 4, 64, 12}));
  // Without an active page nothing is drawn; a bad rectangle address is refused.
  EXPECT_EQ(call(bi_sp_draw, {0xFFFFFFFFu, 0x10}), 0u);
  PlaneTable().active_page = 9;
  EXPECT_EQ(call(bi_sp_draw, {0xFFFFFFFFu, 0}), 0u);
}

TEST_F(SpriteDrawTest, ResetErasesThroughTheBackgroundAtTheNextDraw) {
  Plane* page = make_plane(0, 64, 48, 24);
  Plane* bg = pattern(2, 64, 48);
  fill(*make_plane(1, 8, 8, 32), 0xFF00FF00u);
  call(sp_setbg, {2});
  Addr a = set(0, 10, 10, 1);
  Addr b = set(1, 40, 10, 1);
  draw();
  EXPECT_EQ(call(sp_reset, {a}), 1u);
  EXPECT_EQ(call(sp_reset, {b}), 1u);
  std::uint8_t state = 0;
  load8(a, state);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(raw_value(*page, 12, 12), 0x00FF00u);  // still on the page
  // Layer 0 selected: erased and freed. Layer 1 not selected: freed only.
  EXPECT_EQ(str(draw(1)), str(Rect{10, 10, 18, 18}));
  EXPECT_EQ(raw_value(*page, 12, 12), raw_value(*bg, 12, 12));
  EXPECT_EQ(raw_value(*page, 42, 12), 0x00FF00u);
  load8(a, state);
  EXPECT_EQ(state, 0);
  load8(b, state);
  EXPECT_EQ(state, 0);
  // Hidden sprites leave the page too, and come back when shown.
  Addr c = set(0, 20, 20, 1);
  draw();
  store8(c, 1);
  EXPECT_EQ(str(draw()), str(Rect{20, 20, 28, 28}));
  EXPECT_EQ(raw_value(*page, 20, 20), raw_value(*bg, 20, 20));
  store8(c, 2);
  EXPECT_EQ(str(draw()), str(Rect{20, 20, 28, 28}));
  EXPECT_EQ(raw_value(*page, 20, 20), 0x00FF00u);
}

TEST_F(SpriteDrawTest, AChildIsDrawnRightAfterItsParent) {
  Plane* page = make_plane(0, 64, 48, 24);
  fill(*make_plane(1, 8, 8, 32), 0xFFFF0000u);
  fill(*make_plane(3, 8, 8, 32), 0xFF00FF00u);
  fill(*make_plane(4, 8, 8, 32), 0xFF0000FFu);
  Addr parent = set(0, 10, 10, 1);
  Addr other = set(0, 14, 14, 3);
  Addr child = set(0, 6, 6, 4);  // relative to the parent once linked
  ASSERT_EQ(call(LinkSprite, {parent, child}), 1u);
  (void)other;
  draw();
  EXPECT_EQ(raw_value(*page, 11, 11), 0xFF0000u);  // parent alone
  EXPECT_EQ(raw_value(*page, 23, 23), 0x0000FFu);  // child alone, at parent + (6, 6)
  EXPECT_EQ(raw_value(*page, 17, 17), 0x00FF00u);  // the later sprite covers the child
  EXPECT_EQ(raw_value(*page, 6, 6), 0u);
}

TEST_F(SpriteDrawTest, TheDummyRecordDrawsNothing) {
  Plane* page = make_plane(0, 32, 32, 24);
  fill(*make_plane(1, 8, 8, 32), 0xFFFFFFFFu);
  Addr d = set(32, 0, 0, 1);
  EXPECT_EQ(d, dummy_sprite());
  store8(d, 2);
  store32(d + 12, 1);
  store32(d + 32, 0x10000);
  store32(d + 36, 0x10000);
  std::int32_t src[4] = {0, 0, 8, 8};
  write_bytes(d + 52, src, 16);
  mark(d);
  EXPECT_EQ(str(draw()), str(Rect{}));
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(raw_value(*page, x, y), 0u);
}

TEST_F(SpriteDrawTest, TransformKeepsThePivotAndTurnsChildrenWithTheParent) {
  Plane* page = make_plane(0, 64, 48, 32);
  Plane* src = numbered(1, 8, 4);
  numbered(5, 2, 2);
  // Pivot (0, 0) at (20, 20), a quarter turn: the picture turns about that
  // point, clockwise on the page.
  Addr s = set(0, 20, 20, 1);
  store16(s + 48, 512);
  Addr child = set(0, 10, 0, 5);
  ASSERT_TRUE(LinkSprite(s, child));
  draw();
  EXPECT_EQ(str(record_rect(s, 96)), str(Rect{14, 22, 22, 26}));
  EXPECT_EQ(str(record_rect(s, 80)), str(Rect{16, 20, 20, 28}));
  EXPECT_EQ(raw_value(*page, 19, 20), raw_value(*src, 0, 0));
  EXPECT_EQ(raw_value(*page, 19, 27), raw_value(*src, 7, 0));
  EXPECT_EQ(raw_value(*page, 16, 20), raw_value(*src, 0, 3));
  // The child's offset (10, 0) turned with the parent: its pivot at (20, 30).
  std::uint16_t eff = 0;
  load16(child + 50, eff);
  EXPECT_EQ(eff, 512);
  EXPECT_EQ(str(record_rect(child, 80)), str(Rect{18, 30, 20, 32}));
  EXPECT_EQ(raw_value(*page, 19, 30), 0xFF400000u);  // its (0, 0) pixel

  // sp_rect computes from the current fields and leaves the record alone.
  store32(s + 16, 40);
  RectArg box;
  EXPECT_EQ(call(bi_sp_rect, {s, box.addr}), 1u);
  EXPECT_EQ(str(box.get()), str(Rect{34, 22, 42, 26}));
  EXPECT_EQ(str(record_rect(s, 96)), str(Rect{14, 22, 22, 26}));
  EXPECT_EQ(call(bi_sp_rect, {s, 0}), 0u);
  EXPECT_EQ(call(bi_sp_rect, {0, box.addr}), 0u);

  // A moved parent takes its (unmarked) child along.
  mark(s);
  draw();
  EXPECT_EQ(str(record_rect(child, 80)), str(Rect{38, 30, 40, 32}));
  EXPECT_EQ(raw_value(*page, 39, 30), 0xFF400000u);
}

TEST_F(SpriteDrawTest, OriginsShiftMirrorAndScale) {
  Plane* page = make_plane(0, 64, 48, 32);
  Plane* src = numbered(1, 8, 4);
  numbered(5, 2, 2);
  call(bi_sp_org, {1u << 1, 5, 3});
  Addr o = set(1, 20, 20, 5);
  Addr scaled = set(0, 0, 0, 5);
  store32(scaled + 32, 0x20000);
  Addr sub = set(0, (30 << 4) + 8, 10 << 4, 5);
  store8(sub + 6, 4);
  Addr mirrored = set(0, 40, 30, 1);
  store8(mirrored + 4, 1);
  draw();
  EXPECT_EQ(str(record_rect(o, 80)), str(Rect{15, 17, 17, 19}));
  EXPECT_EQ(raw_value(*page, 15, 17), 0xFF400000u);
  EXPECT_EQ(str(record_rect(scaled, 96)), str(Rect{0, 0, 4, 2}));
  EXPECT_EQ(raw_value(*page, 1, 0), 0xFF400000u);
  EXPECT_EQ(raw_value(*page, 2, 1), 0xFF400101u);
  // Four fraction bits: whole pixels (30, 10), bounds one pixel wider all round.
  EXPECT_EQ(str(record_rect(sub, 96)), str(Rect{30, 10, 32, 12}));
  EXPECT_EQ(str(record_rect(sub, 80)), str(Rect{29, 9, 33, 13}));
  EXPECT_EQ(raw_value(*page, 30, 10), 0xFF400000u);  // no smoothing: no sub-pixel shift
  for (int x = 0; x < 8; ++x) EXPECT_EQ(raw_value(*page, 40 + x, 31), raw_value(*src, 7 - x, 1));
}

TEST_F(SpriteDrawTest, SetbgAndBgorg) {
  Plane* page = make_plane(0, 32, 24, 24);
  Plane* bg = pattern(2, 48, 40);
  fill(*make_plane(1, 4, 4, 32), 0xFF0000FFu);
  EXPECT_EQ(call(sp_setbg, {2000}), 0u);
  EXPECT_EQ(call(sp_getbg, {}), 2000u);
  EXPECT_EQ(str(draw()), str(Rect{0, 0, 32, 24}));  // no background: the page
  EXPECT_EQ(call(sp_setbg, {2}), 2000u);
  EXPECT_EQ(call(bi_sp_bgorg, {8, 4}), 1u);
  EXPECT_EQ(str(draw()), str(Rect{0, 0, 32, 24}));
  EXPECT_EQ(raw_value(*page, 0, 0), raw_value(*bg, 8, 4));
  EXPECT_EQ(raw_value(*page, 31, 23), raw_value(*bg, 39, 27));
  // sp_redraw with a background restores the whole page under the sprites.
  Addr s = set(0, 2, 2, 1);
  draw();
  test::set_raw(*page, 20, 20, 0x123456);
  EXPECT_EQ(call(bi_sp_redraw, {1}), 1u);
  EXPECT_EQ(str(draw()), str(Rect{2, 2, 6, 6}));
  EXPECT_EQ(raw_value(*page, 20, 20), raw_value(*bg, 28, 24));
  EXPECT_EQ(raw_value(*page, 3, 3), 0x0000FFu);
  (void)s;
}

TEST_F(SpriteDrawTest, ABackgroundOfAnotherDepthIsConverted) {
  Plane* page = make_plane(0, 40, 30, 32);
  Plane* bg = pattern(2, 48, 40);
  fill(*make_plane(1, 6, 6, 32), 0xFFFF00FFu);
  call(sp_setbg, {2});
  call(bi_sp_bgorg, {3, 2});
  Addr s = set(0, 10, 10, 1);
  draw();
  for (int y = 0; y < 30; y += 7) {
    for (int x = 0; x < 40; x += 3) {
      if (x < 10 || x >= 16 || y < 10 || y >= 16) {
        ASSERT_EQ(raw_value(*page, x, y) & 0xFFFFFF, raw_value(*bg, x + 3, y + 2));
      }
    }
  }
  store32(s + 16, 20);
  mark(s);
  EXPECT_EQ(str(draw()), str(Rect{10, 10, 26, 16}));
  EXPECT_EQ(raw_value(*page, 12, 12) & 0xFFFFFF, raw_value(*bg, 15, 14));
  EXPECT_EQ(raw_value(*page, 22, 12), 0xFFFF00FFu);
}

TEST_F(SpriteDrawTest, DrawingWaitsForThePresentationLock) {
  make_plane(0, 16, 16, 24);
  fill(*make_plane(1, 4, 4, 32), 0xFFFFFFFFu);
  set(0, 0, 0, 1);
  std::atomic<bool> done{false};
  std::unique_lock<std::mutex> hold(presentation_lock());
  std::thread drawer([&] {
    sp_draw(0xFFFFFFFFu, nullptr);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(done.load());  // an upload in progress is never drawn over
  hold.unlock();
  drawer.join();
  EXPECT_TRUE(done.load());
}

// ---- whole scenes ---------------------------------------------------------------

// A layered scene on a 96x64 page: alpha discs, a plain block, a scaled and
// a turned sprite with smoothing, a sub-pixel sprite and a linked pair.
struct Scene {
  std::vector<Addr> sprites;
  Addr parent = 0, child = 0, turned = 0, sub = 0;
};

Scene build_scene(const ScriptBlock& layered) {
  pattern(2, 96, 64);
  soft_disc(3, 16, 0xFF4020);
  soft_disc(4, 12, 0x20A0FF);
  numbered(5, 10, 6);
  fill(*make_plane(6, 6, 6, 32), 0xFFF0F0F0u);
  call(sp_setbg, {2});
  Scene sc;
  std::uint32_t seed = 99;
  auto rnd = [&](int n) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 16) % std::uint32_t(n));
  };
  for (int i = 0; i < 10; ++i) {
    Addr a = call_raw(
        bi_sp_set, {std::uint32_t(i % 3), 2, std::uint32_t(rnd(90) - 4), std::uint32_t(rnd(60) - 4),
                    std::uint32_t(3 + i % 2), 0, layered.addr});
    sc.sprites.push_back(a);
  }
  Addr block = call_raw(bi_sp_set, {1, 2, 40, 20, 5, 0, 0});
  store32(block + 32, 0x18000);
  store32(block + 36, 0x28000);
  sc.sprites.push_back(block);
  sc.turned = call_raw(bi_sp_set, {2, 2, 60, 30, 5, 0, layered.addr});
  store32(sc.turned + 24, 5);
  store32(sc.turned + 28, 3);
  store16(sc.turned + 48, 300);
  store16(sc.turned + 2, kSpriteSmoothing);
  sc.sprites.push_back(sc.turned);
  sc.sub = call_raw(bi_sp_set, {2, 2, (20 << 8) + 128, (45 << 8) + 64, 3, 0, layered.addr});
  store8(sc.sub + 6, 8);
  store16(sc.sub + 2, kSpriteSmoothing);
  sc.sprites.push_back(sc.sub);
  sc.parent = call_raw(bi_sp_set, {1, 2, 20, 20, 6, 0, 0});
  sc.child = call_raw(bi_sp_set, {1, 2, 8, 0, 4, 0, layered.addr});
  LinkSprite(sc.parent, sc.child);
  sc.sprites.push_back(sc.parent);
  sc.sprites.push_back(sc.child);
  return sc;
}

TEST_F(SpriteDrawTest, IncrementalFramesMatchFullRedrawsAndTheGoldens) {
  Plane* page = make_plane(0, 96, 64, 24);
  BlendArg layered(5, 255);
  Scene sc = build_scene(layered);
  draw();
  expect_golden(*page, "sprite_scene.png");

  std::vector<std::uint8_t> incremental(std::size_t(page->stride) * page->height);
  std::uint32_t seed = 5;
  auto rnd = [&](int n) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 16) % std::uint32_t(n));
  };
  for (int frame = 0; frame < 12; ++frame) {
    // Move a few sprites, turn one, nudge the sub-pixel one, swing the parent.
    for (int k = 0; k < 3; ++k) {
      Addr s = sc.sprites[std::size_t(rnd(10))];
      store32(s + 16, std::uint32_t(rnd(96) - 8));
      store32(s + 20, std::uint32_t(rnd(64) - 8));
      mark(s);
    }
    std::uint16_t angle = 0;
    load16(sc.turned + 48, angle);
    store16(sc.turned + 48, std::uint16_t(angle + 77));
    mark(sc.turned);
    std::uint32_t x = load32(sc.sub + 16).value_or(0);
    store32(sc.sub + 16, x + 37);
    mark(sc.sub);
    store16(sc.parent + 48, std::uint16_t(frame * 170));
    mark(sc.parent);
    if (frame == 6) sp_reset(sc.sprites[9]);
    if (frame == 8) store8(sc.sprites[8], 1);
    draw();
    std::memcpy(incremental.data(), page->pixels, incremental.size());
    EXPECT_EQ(call(bi_sp_redraw, {0xFFFFFFFFu}), 1u);
    draw();
    int diffs = 0;
    for (int y = 0; y < page->height; ++y)
      for (int xx = 0; xx < page->width; ++xx) {
        const std::uint8_t* a =
            incremental.data() + std::int64_t(page->height - 1 - y) * page->stride + xx * 3;
        const std::uint8_t* b = test::raw_pixel(*page, xx, y);
        if (std::memcmp(a, b, 3) != 0 && diffs++ < 3)
          ADD_FAILURE() << "frame " << frame << " differs from a full redraw at " << xx << "," << y;
      }
    ASSERT_EQ(diffs, 0) << "frame " << frame;
  }
  expect_golden(*page, "sprite_moved.png");
}

}  // namespace
}  // namespace talven::graphics
