// The main window's sizing rules: placement from the window keys, tracking
// limits, sizing drags that keep the game's ratio, the letterbox and the
// close decision.
#include <gtest/gtest.h>

#include "host/window_rules.h"

namespace {

using namespace talven::host;

PlacementInput game_1280x720() {
  PlacementInput in;
  in.width = 1280;
  in.height = 720;
  in.resize = 1;
  in.direct3d = 1;
  in.restore_bounds = 1;
  in.screen_w = 1920;
  in.screen_h = 1080;
  in.frame_w = 10;
  in.frame_h = 40;
  return in;
}

TEST(WindowPlacement, FreshWindowIsTheGameSizeCentredAndStored) {
  PlacementInput in = game_1280x720();
  Placement p = place_main_window(in);
  EXPECT_EQ(p.client_w, 1280);
  EXPECT_EQ(p.client_h, 720);
  EXPECT_EQ(p.x, (1920 - 1290) / 2);
  EXPECT_EQ(p.y, (1080 - 760) / 2);
  EXPECT_TRUE(p.store_size);
  EXPECT_TRUE(p.store_position);
}

TEST(WindowPlacement, StoredBoundsAreClampedAndOffScreenPositionsCentred) {
  PlacementInput in = game_1280x720();
  in.window_width = 300;  // below half the game: raised to 640 x 360
  in.window_height = 100;
  in.window_left = 50;
  in.window_top = 60;
  Placement p = place_main_window(in);
  EXPECT_EQ(p.client_w, 640);
  EXPECT_EQ(p.client_h, 360);
  EXPECT_EQ(p.x, 50);
  EXPECT_EQ(p.y, 60);
  EXPECT_FALSE(p.store_size);
  EXPECT_FALSE(p.store_position);

  in.window_width = 4000;  // above the screen: lowered to it
  in.window_height = 3000;
  p = place_main_window(in);
  EXPECT_EQ(p.client_w, 1920);
  EXPECT_EQ(p.client_h, 1080);

  in.window_width = 800;
  in.window_height = 450;
  in.window_left = -810;  // right edge exactly at 0: off screen
  in.window_top = 1080;   // at the screen's bottom: off screen
  p = place_main_window(in);
  EXPECT_EQ(p.x, (1920 - 810) / 2);
  EXPECT_EQ(p.y, (1080 - 490) / 2);
  in.window_left = -809;  // one pixel still visible
  in.window_top = 1079;
  p = place_main_window(in);
  EXPECT_EQ(p.x, -809);
  EXPECT_EQ(p.y, 1079);
}

TEST(WindowPlacement, StoredSizeNeedsResizeScalingAndRestoreBounds) {
  PlacementInput in = game_1280x720();
  in.window_width = 800;
  in.window_height = 450;
  in.window_left = 5;
  in.window_top = 6;
  in.resize = 0;
  Placement p = place_main_window(in);
  EXPECT_EQ(p.client_w, 1280);  // the game's size, stored back
  EXPECT_TRUE(p.store_size);
  EXPECT_EQ(p.x, 5);  // the position is still restored
  EXPECT_FALSE(p.store_position);

  in.resize = 1;
  in.direct3d = 0;
  EXPECT_EQ(place_main_window(in).client_w, 1280);

  in.direct3d = 1;
  in.restore_bounds = 0;
  p = place_main_window(in);
  EXPECT_EQ(p.client_w, 1280);
  EXPECT_TRUE(p.store_position);  // centred
  EXPECT_EQ(p.x, (1920 - 1290) / 2);

  in.restore_bounds = 1;
  in.window_height = 0;  // one key missing: nothing stored counts
  p = place_main_window(in);
  EXPECT_EQ(p.client_h, 720);
  EXPECT_TRUE(p.store_position);
}

TEST(WindowTracking, MinimumIsHalfTheGameAndMaximumFitsTheRatio) {
  TrackingLimits t = tracking_limits(1280, 720, true, 1920, 1200, 0, 0);
  EXPECT_EQ(t.min_w, 640);
  EXPECT_EQ(t.min_h, 360);
  ASSERT_TRUE(t.has_max);
  EXPECT_EQ(t.max_w, 1920);  // wider game than screen: full width
  EXPECT_EQ(t.max_h, 1080);

  t = tracking_limits(1280, 720, true, 1280, 1024, 0, 24);  // 1280 x 1000 client area
  EXPECT_EQ(t.max_w, 1280);
  EXPECT_EQ(t.max_h, 720);

  t = tracking_limits(640, 480, true, 1920, 1080, 0, 0);  // narrower game: full height
  EXPECT_EQ(t.max_w, 1440);
  EXPECT_EQ(t.max_h, 1080);

  t = tracking_limits(800, 450, true, 1600, 900, 0, 0);  // same ratio
  EXPECT_EQ(t.max_w, 1600);
  EXPECT_EQ(t.max_h, 900);

  t = tracking_limits(1280, 720, false, 1920, 1080, 0, 0);
  EXPECT_FALSE(t.has_max);
  EXPECT_EQ(t.min_w, 640);
}

TEST(WindowSizing, SideDragsKeepTheRatio) {
  // 1280 x 720 game, frame 10 x 40: dragging the right edge to a 1600 wide
  // client makes it 900 high, 960 wide makes it 540.
  WinRect r{100, 100, 100 + 1600 + 10, 100 + 720 + 40};
  WinRect out = apply_sizing(r, DragEdge::Right, 1280, 720, 10, 40);
  EXPECT_EQ(out.width() - 10, 1600);
  EXPECT_EQ(out.height() - 40, 900);
  EXPECT_EQ(out.left, 100);
  EXPECT_EQ(out.top, 100);
  r.right = 100 + 960 + 10;
  out = apply_sizing(r, DragEdge::Right, 1280, 720, 10, 40);
  EXPECT_EQ(out.height() - 40, 540);
  out = apply_sizing(r, DragEdge::Left, 1280, 720, 10, 40);
  EXPECT_EQ(out.height() - 40, 540);

  // Top and bottom edges change the width.
  WinRect t{0, 0, 1280, 900};
  out = apply_sizing(t, DragEdge::Bottom, 1280, 720, 0, 0);
  EXPECT_EQ(out, (WinRect{0, 0, 1600, 900}));
  out = apply_sizing(t, DragEdge::Top, 1280, 720, 0, 0);
  EXPECT_EQ(out, (WinRect{0, 0, 1600, 900}));
}

TEST(WindowSizing, CornerDragsAndTheSnapToHalfSize) {
  // Too small on either axis snaps to 640 x 360 plus the frame, whatever the edge.
  WinRect small{50, 60, 50 + 600 + 10, 60 + 500 + 40};
  EXPECT_EQ(apply_sizing(small, DragEdge::TopLeft, 1280, 720, 10, 40),
            (WinRect{50, 60, 50 + 650, 60 + 400}));
  WinRect low{50, 60, 50 + 1000, 60 + 300};
  EXPECT_EQ(apply_sizing(low, DragEdge::None, 1280, 720, 0, 0),
            (WinRect{50, 60, 50 + 640, 60 + 360}));

  // Wider than the ratio (dx < 0): the vertical side follows.
  WinRect wide{0, 0, 1600, 720};
  EXPECT_EQ(apply_sizing(wide, DragEdge::BottomRight, 1280, 720, 0, 0), (WinRect{0, 0, 1600, 900}));
  EXPECT_EQ(apply_sizing(wide, DragEdge::TopRight, 1280, 720, 0, 0), (WinRect{0, -180, 1600, 720}));
  // Taller than the ratio (dx > 0): the horizontal side follows.
  WinRect tall{0, 0, 1280, 900};
  EXPECT_EQ(apply_sizing(tall, DragEdge::BottomRight, 1280, 720, 0, 0), (WinRect{0, 0, 1600, 900}));
  EXPECT_EQ(apply_sizing(tall, DragEdge::BottomLeft, 1280, 720, 0, 0),
            (WinRect{-320, 0, 1280, 900}));
  EXPECT_EQ(apply_sizing(tall, DragEdge::TopLeft, 1280, 720, 0, 0), (WinRect{-320, 0, 1280, 900}));
  // No edge: unchanged; an exact ratio stays as it is.
  EXPECT_EQ(apply_sizing(wide, DragEdge::None, 1280, 720, 0, 0), wide);
  WinRect exact{0, 0, 1920, 1080};
  EXPECT_EQ(apply_sizing(exact, DragEdge::BottomRight, 1280, 720, 0, 0), exact);
  // A zero-sized game never divides by zero.
  EXPECT_EQ(apply_sizing(wide, DragEdge::Right, 0, 0, 0, 0), wide);
}

TEST(WindowSizing, DragEdgeIsInferredFromTheRectangles) {
  WinRect base{100, 100, 900, 600};
  EXPECT_EQ(infer_drag_edge(base, {100, 100, 1000, 600}), DragEdge::Right);
  EXPECT_EQ(infer_drag_edge(base, {50, 100, 900, 600}), DragEdge::Left);
  EXPECT_EQ(infer_drag_edge(base, {100, 100, 900, 700}), DragEdge::Bottom);
  EXPECT_EQ(infer_drag_edge(base, {100, 80, 900, 600}), DragEdge::Top);
  EXPECT_EQ(infer_drag_edge(base, {50, 80, 900, 600}), DragEdge::TopLeft);
  EXPECT_EQ(infer_drag_edge(base, {100, 80, 950, 600}), DragEdge::TopRight);
  EXPECT_EQ(infer_drag_edge(base, {50, 100, 900, 650}), DragEdge::BottomLeft);
  EXPECT_EQ(infer_drag_edge(base, {100, 100, 950, 650}), DragEdge::BottomRight);
  EXPECT_EQ(infer_drag_edge(base, {200, 300, 1000, 800}), DragEdge::None);  // a move
  EXPECT_EQ(infer_drag_edge(base, {90, 100, 1000, 600}), DragEdge::Right);  // both sides moved
}

TEST(WindowClose, ConfirmationAndRepeatedRequests) {
  EXPECT_EQ(close_step(false, 1), CloseStep::Ask);
  EXPECT_EQ(close_step(false, 0), CloseStep::Close);
  EXPECT_EQ(close_step(true, 1), CloseStep::Ignore);
  EXPECT_EQ(close_step(true, 0), CloseStep::Ignore);
  EXPECT_EQ(round_half_up(899.5f), 900);
  EXPECT_EQ(round_half_up(899.49f), 899);
}

}  // namespace
