#include "host/window_rules.h"

#include <algorithm>

namespace talven::host {

Placement place_main_window(const PlacementInput& in) {
  Placement p;
  const bool stored = in.window_width != 0 && in.window_height != 0;
  if (stored && in.restore_bounds && in.resize && in.direct3d) {
    p.client_w = std::min(std::max(in.window_width, in.width / 2), in.screen_w);
    p.client_h = std::min(std::max(in.window_height, in.height / 2), in.screen_h);
  } else {
    p.client_w = in.width;
    p.client_h = in.height;
    p.store_size = true;
  }
  const int outer_w = p.client_w + in.frame_w;
  const int outer_h = p.client_h + in.frame_h;
  const int centre_x = (in.screen_w - outer_w) / 2;
  const int centre_y = (in.screen_h - outer_h) / 2;
  if (in.restore_bounds && stored) {
    p.x = in.window_left;
    p.y = in.window_top;
    // Compared in 64 bits: stored keys are whatever the file held.
    if (static_cast<long long>(p.x) + outer_w <= 0 || p.x >= in.screen_w) p.x = centre_x;
    if (static_cast<long long>(p.y) + outer_h <= 0 || p.y >= in.screen_h) p.y = centre_y;
  } else {
    p.x = centre_x;
    p.y = centre_y;
    p.store_position = true;
  }
  return p;
}

int round_half_up(float v) { return static_cast<int>(v + 0.5f); }

TrackingLimits tracking_limits(int width, int height, bool fixed_aspect, int screen_w, int screen_h,
                               int frame_w, int frame_h) {
  TrackingLimits t;
  t.min_w = width / 2;
  t.min_h = height / 2;
  if (!fixed_aspect || width <= 0 || height <= 0) return t;
  const int sw = screen_w - frame_w;
  const int sh = screen_h - frame_h;
  if (sw <= 0 || sh <= 0) return t;
  const float r = static_cast<float>(width) / static_cast<float>(height);
  const float s = static_cast<float>(sw) / static_cast<float>(sh);
  t.has_max = true;
  if (r < s) {
    t.max_w = round_half_up(static_cast<float>(sh) * r);
    t.max_h = sh;
  } else if (r > s) {
    t.max_w = sw;
    t.max_h = round_half_up(static_cast<float>(sw) / r);
  } else {
    t.max_w = sw;
    t.max_h = sh;
  }
  return t;
}

DragEdge infer_drag_edge(const WinRect& before, const WinRect& after) {
  // -1 left/top side, +1 right/bottom side, 0 not dragged on this axis.
  auto side = [](int a0, int b0, int a1, int b1) {
    if (b0 - a0 == b1 - a1) return 0;
    return (a0 != a1 && b0 == b1) ? -1 : 1;
  };
  const int h = side(before.left, before.right, after.left, after.right);
  const int v = side(before.top, before.bottom, after.top, after.bottom);
  if (h < 0) return v < 0 ? DragEdge::TopLeft : v > 0 ? DragEdge::BottomLeft : DragEdge::Left;
  if (h > 0) return v < 0 ? DragEdge::TopRight : v > 0 ? DragEdge::BottomRight : DragEdge::Right;
  return v < 0 ? DragEdge::Top : v > 0 ? DragEdge::Bottom : DragEdge::None;
}

WinRect apply_sizing(WinRect r, DragEdge edge, int width, int height, int frame_w, int frame_h) {
  if (width <= 0 || height <= 0) return r;
  const int cw = r.width() - frame_w;
  const int ch = r.height() - frame_h;
  if (cw < width / 2 || ch < height / 2) {
    r.right = r.left + width / 2 + frame_w;
    r.bottom = r.top + height / 2 + frame_h;
    return r;
  }
  const float ratio = static_cast<float>(width) / static_cast<float>(height);
  const int dx = round_half_up(static_cast<float>(ch) * ratio) - cw;
  const int dy = round_half_up(static_cast<float>(cw) / ratio) - ch;
  switch (edge) {
    case DragEdge::Left:
    case DragEdge::Right: r.bottom += dy; break;
    case DragEdge::Top:
    case DragEdge::Bottom: r.right += dx; break;
    case DragEdge::TopLeft:
      if (dx > 0) r.left -= dx;
      else r.top -= dy;
      break;
    case DragEdge::TopRight:
      if (dx > 0) r.right += dx;
      else r.top -= dy;
      break;
    case DragEdge::BottomLeft:
      if (dx > 0) r.left -= dx;
      else r.bottom += dy;
      break;
    case DragEdge::BottomRight:
      if (dx > 0) r.right += dx;
      else r.bottom += dy;
      break;
    case DragEdge::None: break;
  }
  return r;
}

CloseStep close_step(bool closing, int confirmation) {
  if (closing) return CloseStep::Ignore;
  return confirmation ? CloseStep::Ask : CloseStep::Close;
}

}  // namespace talven::host
