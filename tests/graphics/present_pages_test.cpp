// Pages and presentation: page selection, start-up and shut-down, the
// conversion of every depth into the frame, partial and full refreshes, the
// letterbox rectangle, the presentation lock and frame screenshots.
#include "graphics/present/pages.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "graphics/plane/image_io.h"
#include "graphics/present/page_builtins.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::call;
using test::make_plane;
using test::ScriptBlock;
using test::set_raw;

constexpr int kW = 48, kH = 32;

// Records what the presenter hands over.
struct RecordingBackend : PresentBackend {
  int calls = 0;
  FrameRegion last{};
  int width = 0, height = 0;
  void present(const std::uint32_t*, int w, int h, const FrameRegion& changed) override {
    ++calls;
    last = changed;
    width = w;
    height = h;
  }
};

class PagesTest : public test::GraphicsTest {
 protected:
  void SetUp() override {
    GraphicsTest::SetUp();
    config().Width = kW;
    config().Height = kH;
    config().Depth = 24;
  }
  void TearDown() override {
    set_present_backend(nullptr);
    pages_stop();
    drt_init();
    GraphicsTest::TearDown();
  }

  std::uint32_t frame_at(int x, int y) {
    int w = 0, h = 0;
    const std::uint32_t* f = current_frame(w, h);
    return f[std::size_t(y) * w + x] & 0xFFFFFF;
  }

  // Fills a 24-bit plane with a value per pixel derived from its position.
  static void paint(Plane& p, std::uint32_t seed) {
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) set_raw(p, x, y, (seed * 7919u + y * 256u + x) & 0xFFFFFF);
  }
  static std::uint32_t painted(std::uint32_t seed, int x, int y) {
    return (seed * 7919u + y * 256u + x) & 0xFFFFFF;
  }

  ScriptBlock rect_block(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
    std::int32_t v[4] = {l, t, r, b};
    return ScriptBlock(v, 16);
  }
};

TEST_F(PagesTest, StartUpCreatesTheScreenPlaneAndTheCubePalette) {
  config().Depth = 16;
  ASSERT_TRUE(pages_start());
  Plane* p = plane_at(0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->width, kW);
  EXPECT_EQ(p->height, kH);
  EXPECT_EQ(p->bpp, 16);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) ASSERT_EQ(test::raw_value(*p, x, y), 0u);
  EXPECT_EQ(view_page(), 0);
  EXPECT_EQ(active_page(), 0);
  EXPECT_EQ(screen_width(), kW);
  EXPECT_EQ(screen_height(), kH);
  std::int32_t ox = 1, oy = 1;
  get_origin(ox, oy);
  EXPECT_EQ(ox, 0);
  EXPECT_EQ(oy, 0);

  // 3:3:2: red from bits 5-7, green from bits 2-4, blue from bits 0-1.
  EXPECT_EQ(ScriptPalette()[0], 0x000000u);
  EXPECT_EQ(ScriptPalette()[255], 0xFFFFFFu);
  EXPECT_EQ(ScriptPalette()[0xE0], 0xFF0000u);
  EXPECT_EQ(ScriptPalette()[0x1C], 0x00FF00u);
  EXPECT_EQ(ScriptPalette()[0x03], 0x0000FFu);
  EXPECT_EQ(ScriptPalette()[0x25], 0x242455u);  // r 1*255/7, g 1*255/7, b 85
  const auto& d = DisplayPalette();
  EXPECT_EQ(d[4 * 0x25 + 0], 0x55);
  EXPECT_EQ(d[4 * 0x25 + 1], 0x24);
  EXPECT_EQ(d[4 * 0x25 + 2], 0x24);

  // Shut-down frees both page planes and drops the frame.
  make_plane(5, 4, 4, 24);
  ASSERT_TRUE(SetActivePage(5));
  pages_stop();
  EXPECT_EQ(plane_at(0), nullptr);
  EXPECT_EQ(plane_at(5), nullptr);
  int w = 1, h = 1;
  EXPECT_EQ(current_frame(w, h), nullptr);
  EXPECT_EQ(w, 0);

  // A depth no plane can have: reported, start-up goes on without a page.
  config().Depth = 7;
  EXPECT_FALSE(pages_start());
  EXPECT_EQ(plane_at(0), nullptr);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second, "CreatePlane : 仮想画面の作成に失敗しました。");
  EXPECT_NE(current_frame(w, h), nullptr);
  EXPECT_EQ(call(bi_update, {0}), 1u);  // nothing to show, but no failure
}

TEST_F(PagesTest, PageSelectionChecksTheSlot) {
  ASSERT_TRUE(pages_start());
  make_plane(3, 8, 8, 32);

  EXPECT_EQ(call(SetViewPage, {1024}), 0u);
  EXPECT_EQ(call(SetViewPage, {0xFFFFFFFFu}), 0u);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0].second, "SetViewPage : パラメータが範囲外です。");
  EXPECT_EQ(messages_[0].first, 1u);

  EXPECT_EQ(call(SetViewPage, {7}), 0u);  // empty slot: silent, page kept
  EXPECT_EQ(messages_.size(), 2u);
  EXPECT_EQ(view_page(), 0);
  EXPECT_EQ(call(SetViewPage, {3}), 1u);
  EXPECT_EQ(view_page(), 3);
  EXPECT_EQ(PlaneTable().view_page, 3);  // gfree and ginit spare it
  EXPECT_EQ(call(SetViewPage, {1023}), 0u);
  EXPECT_EQ(view_page(), 3);

  EXPECT_EQ(call(SetActivePage, {1024}), 0u);
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_EQ(messages_[2].second, "SetActivePage : パラメータが範囲外です。");
  EXPECT_EQ(call(SetActivePage, {9}), 0u);
  EXPECT_EQ(active_page(), 0);
  EXPECT_EQ(call(SetActivePage, {3}), 1u);
  EXPECT_EQ(active_page(), 3);

  // vpage presents nothing.
  EXPECT_EQ(presented_frame_count(), 0u);

  EXPECT_EQ(call(bi_setorg, {0xFFFFFFF6u, 20}), 1u);
  std::int32_t ox = 0, oy = 0;
  get_origin(ox, oy);
  EXPECT_EQ(ox, -10);
  EXPECT_EQ(oy, 20);
}

TEST_F(PagesTest, UpdateConvertsEveryDepth) {
  ASSERT_TRUE(pages_start());
  const std::uint32_t before = std::uint32_t(presented_frame_count());

  // 32 bits: copied; 24: widened.
  Plane* p32 = make_plane(1, kW, kH, 32);
  set_raw(*p32, 0, 0, 0x80123456);
  set_raw(*p32, kW - 1, kH - 1, 0xFFABCDEF);
  ASSERT_TRUE(SetViewPage(1));
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(0, 0), 0x123456u);
  EXPECT_EQ(frame_at(kW - 1, kH - 1), 0xABCDEFu);
  EXPECT_EQ(frame_at(1, 0), 0u);

  Plane* p24 = make_plane(2, kW, kH, 24);
  set_raw(*p24, 5, 6, 0x00A1B2C3);
  ASSERT_TRUE(SetViewPage(2));
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(5, 6), 0xA1B2C3u);
  EXPECT_EQ(frame_at(0, 0), 0u);

  // 16 bits through the expansion v * 255 / 31 of each field.
  Plane* p16 = make_plane(3, kW, kH, 16);
  set_raw(*p16, 2, 3, (31u << 10) | (16u << 5) | 1u);
  set_raw(*p16, 4, 3, 0x8000u | (1u << 10));  // bit 15 ignored
  ASSERT_TRUE(SetViewPage(3));
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(2, 3), (255u << 16) | ((16u * 255 / 31) << 8) | (255u / 31));
  EXPECT_EQ(frame_at(4, 3), (255u / 31) << 16);

  // 8 bits through the display palette, not the plane's colour table.
  Plane* p8 = make_plane(4, kW, kH, 8);
  set_raw(*p8, 7, 8, 0x25);
  p8->colors()[4 * 0x25] = 0x11;  // ignored by presentation
  ASSERT_TRUE(SetViewPage(4));
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(7, 8), 0x242455u);
  EXPECT_EQ(frame_at(0, 0), 0u);

  // A palette change repaints the whole 8-bit view even for a small rectangle.
  ScriptPalette()[0] = 0x102030;
  pal_change();
  ScriptBlock corner = rect_block(0, 0, 1, 1);
  EXPECT_EQ(call(bi_update, {corner.addr}), 1u);
  EXPECT_EQ(frame_at(kW - 1, kH - 1), 0x102030u);

  // Planes of 1 and 4 bits are not shown: the frame keeps its pixels.
  make_plane(5, kW, kH, 4);
  ASSERT_TRUE(SetViewPage(5));
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(7, 8), 0x242455u);

  // A view page smaller than the screen covers only its part; a larger one
  // is cut to the screen.
  Plane* small = make_plane(6, 4, 4, 24);
  paint(*small, 3);
  ASSERT_TRUE(SetViewPage(6));
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(3, 3), painted(3, 3, 3));
  EXPECT_EQ(frame_at(4, 4), 0x102030u);
  Plane* big = make_plane(7, kW + 20, kH + 20, 24);
  paint(*big, 4);
  ASSERT_TRUE(SetViewPage(7));
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(kW - 1, kH - 1), painted(4, kW - 1, kH - 1));

  EXPECT_EQ(presented_frame_count(), before + 8);
}

TEST_F(PagesTest, UpdateOutsideTheScreenPresentsNothing) {
  ASSERT_TRUE(pages_start());
  RecordingBackend backend;
  set_present_backend(&backend);
  // The very first update owes a full refresh, yet a rectangle off the
  // screen still presents nothing.
  ScriptBlock first_off = rect_block(kW, kH, kW + 4, kH + 4);
  EXPECT_EQ(call(bi_update, {first_off.addr}), 0u);
  EXPECT_EQ(backend.calls, 0);
  EXPECT_EQ(presented_frame_count(), 0u);
  EXPECT_EQ(call(bi_update, {0}), 1u);
  ASSERT_EQ(backend.calls, 1);

  for (auto r : {std::array<std::int32_t, 4>{-10, -10, 0, 0},
                 {kW, 0, kW + 5, kH},
                 {0, kH, kW, kH + 1},
                 {5, 5, 2, 9},
                 {INT32_MIN, INT32_MIN, INT32_MAX, -1}}) {
    ScriptBlock block = rect_block(r[0], r[1], r[2], r[3]);
    EXPECT_EQ(call(bi_update, {block.addr}), 0u) << r[0] << "," << r[1] << "," << r[2];
  }
  EXPECT_EQ(backend.calls, 1);
  EXPECT_EQ(presented_frame_count(), 1u);

  // A rectangle reaching past the screen is cut to it.
  ScriptBlock wide = rect_block(-100, 10, 10, 1000);
  EXPECT_EQ(call(bi_update, {wide.addr}), 1u);
  EXPECT_EQ(backend.last.left, 0);
  EXPECT_EQ(backend.last.top, 10);
  EXPECT_EQ(backend.last.right, 10);
  EXPECT_EQ(backend.last.bottom, kH);
  EXPECT_EQ(backend.width, kW);
  EXPECT_EQ(backend.height, kH);

  // An unreadable rectangle address fails.
  EXPECT_EQ(call(bi_update, {0xFFFFFFF0u}), 0u);
  EXPECT_EQ(backend.calls, 2);
}

TEST_F(PagesTest, ResizeMakesTheNextUpdateUploadEverything) {
  ASSERT_TRUE(pages_start());
  RecordingBackend backend;
  set_present_backend(&backend);
  Plane* page = plane_at(0);
  paint(*page, 1);
  EXPECT_EQ(call(bi_update, {0}), 1u);
  EXPECT_EQ(frame_at(kW - 1, kH - 1), painted(1, kW - 1, kH - 1));

  // A small rectangle uploads only itself.
  paint(*page, 2);
  ScriptBlock small = rect_block(2, 3, 6, 5);
  EXPECT_EQ(call(bi_update, {small.addr}), 1u);
  EXPECT_EQ(frame_at(2, 3), painted(2, 2, 3));
  EXPECT_EQ(frame_at(5, 4), painted(2, 5, 4));
  EXPECT_EQ(frame_at(6, 4), painted(1, 6, 4));
  EXPECT_EQ(frame_at(2, 5), painted(1, 2, 5));
  EXPECT_EQ(backend.last.left, 2);
  EXPECT_EQ(backend.last.top, 3);
  EXPECT_EQ(backend.last.right, 6);
  EXPECT_EQ(backend.last.bottom, 5);

  // After a resize the same small rectangle uploads the whole page, once.
  request_full_refresh();
  EXPECT_EQ(call(bi_update, {small.addr}), 1u);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) ASSERT_EQ(frame_at(x, y), painted(2, x, y)) << x << "," << y;
  EXPECT_EQ(backend.last.left, 0);
  EXPECT_EQ(backend.last.top, 0);
  EXPECT_EQ(backend.last.right, kW);
  EXPECT_EQ(backend.last.bottom, kH);

  paint(*page, 3);
  EXPECT_EQ(call(bi_update, {small.addr}), 1u);
  EXPECT_EQ(frame_at(0, 0), painted(2, 0, 0));
  EXPECT_EQ(backend.last.right, 6);

  // A rectangle off the screen presents nothing while a full refresh is
  // due; the refresh waits for the next update that presents.
  request_full_refresh();
  const int calls = backend.calls;
  ScriptBlock off = rect_block(-5, -5, -1, -1);
  EXPECT_EQ(call(bi_update, {off.addr}), 0u);
  EXPECT_EQ(backend.calls, calls);
  EXPECT_EQ(frame_at(0, 0), painted(2, 0, 0));
  EXPECT_EQ(call(bi_update, {small.addr}), 1u);
  EXPECT_EQ(frame_at(0, 0), painted(3, 0, 0));
  EXPECT_EQ(frame_at(kW - 1, kH - 1), painted(3, kW - 1, kH - 1));
  EXPECT_EQ(backend.last.right, kW);
}

TEST_F(PagesTest, UpdateWaitsForThePresentationLock) {
  ASSERT_TRUE(pages_start());
  std::atomic<bool> done{false};
  std::thread updater;
  {
    std::lock_guard<std::mutex> hold(presentation_lock());
    updater = std::thread([&] {
      present_update(nullptr);
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load());
    EXPECT_EQ(presented_frame_count(), 0u);
  }
  updater.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(presented_frame_count(), 1u);
}

TEST_F(PagesTest, LetterboxRectangle) {
  auto check = [](DestRect r, int l, int t, int w, int h) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
  };
  check(letterbox_rect(1280, 720, 1280, 1024, true), 0, 152, 1280, 720);
  check(letterbox_rect(1280, 720, 1280, 1024, false), 0, 0, 1280, 1024);
  check(letterbox_rect(1280, 720, 1920, 1080, true), 0, 0, 1920, 1080);
  check(letterbox_rect(800, 600, 1920, 1080, true), 240, 0, 1440, 1080);
  check(letterbox_rect(640, 480, 1920, 1080, true), 240, 0, 1440, 1080);
  check(letterbox_rect(640, 480, 1366, 768, true), 171, 0, 1024, 768);
  check(letterbox_rect(1280, 720, 1024, 768, true), 0, 96, 1024, 576);
  check(letterbox_rect(0, 720, 1024, 768, true), 0, 0, 1024, 768);
  check(letterbox_rect(1280, 720, 0, 0, true), 0, 0, 0, 0);
  // Scaled presentation fills a window and letterboxes only in full screen;
  // unscaled presentation draws 1:1, at (0, 0) in a window, centred in full screen.
  check(presented_rect(800, 600, 1920, 1080, true, false, true), 0, 0, 1920, 1080);
  check(presented_rect(800, 600, 1920, 1080, true, true, true), 240, 0, 1440, 1080);
  check(presented_rect(800, 600, 1920, 1080, false, false, true), 0, 0, 800, 600);
  check(presented_rect(800, 600, 1024, 768, false, true, true), 112, 84, 800, 600);
}

TEST_F(PagesTest, ScreenshotHoldsThePresentedFrame) {
  EXPECT_FALSE(save_frame_png((dir_ / "none.png").string()));
  ASSERT_TRUE(pages_start());
  Plane* page = plane_at(0);
  paint(*page, 5);
  EXPECT_EQ(call(bi_update, {0}), 1u);
  paint(*page, 6);  // drawn but not presented: not in the screenshot
  ASSERT_TRUE(save_frame_png((dir_ / "shot.png").string()));

  std::string bytes = test::read_host_file(dir_ / "shot.png");
  MemorySource src(bytes.data(), bytes.size());
  PlanePtr shot = read_png(src);
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(shot->width, kW);
  EXPECT_EQ(shot->height, kH);
  EXPECT_EQ(shot->bpp, 24);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      ASSERT_EQ(test::raw_value(*shot, x, y), painted(5, x, y)) << x << "," << y;

  EXPECT_FALSE(save_frame_png((dir_ / "missing" / "shot.png").string()));
}

}  // namespace
}  // namespace talven::graphics
