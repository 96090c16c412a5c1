// The main window's sizing rules as pure functions: where the window opens
// (from the window keys), how far it may be resized, how a sizing drag keeps
// the game's aspect ratio, and what a close request does. The SDL window
// (window.cpp) applies them; they are kept apart so they can be tested
// without a display.
//
// Sizes are client sizes unless said otherwise; "frame" is the difference
// between the outer window size and the client size.
#pragma once

namespace talven::host {

struct WinRect {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const WinRect&) const = default;
};

// What placement needs from the configuration and the desktop.
struct PlacementInput {
  int width = 0, height = 0;  // Width, Height (the game's screen)
  int resize = 0, direct3d = 0, restore_bounds = 0;
  int window_left = 0, window_top = 0, window_width = 0, window_height = 0;
  int screen_w = 0, screen_h = 0;
  int frame_w = 0, frame_h = 0;
};

struct Placement {
  int client_w = 0, client_h = 0;
  int x = 0, y = 0;             // outer top-left corner
  bool store_size = false;      // write client_w/h back into WindowWidth/WindowHeight
  bool store_position = false;  // write x/y back into WindowLeft/WindowTop
};

// Client size and position of a new main window. A stored size is used only
// for resizable scaled windows with RestoreBounds; it is kept between half the
// game's size and the screen. A stored position that would put the window
// off the screen is centred on that axis.
Placement place_main_window(const PlacementInput& in);

// Rounding of the aspect rules: add one half and truncate.
int round_half_up(float v);

struct TrackingLimits {
  int min_w = 0, min_h = 0;
  bool has_max = false;  // only with FixedAspectRatio
  int max_w = 0, max_h = 0;
};

// Smallest and (with a fixed aspect ratio) largest client size: half the
// game's size, and the largest area of the game's ratio that fits the
// screen less the frame.
TrackingLimits tracking_limits(int width, int height, bool fixed_aspect, int screen_w, int screen_h,
                               int frame_w, int frame_h);

enum class DragEdge { None, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };

// The edge or corner a user dragged, inferred from the window's outer
// rectangle before and after a resize (there is no sizing message to tell
// it): a side that moved was dragged; when only the size changed on an axis,
// the right or bottom side is taken.
DragEdge infer_drag_edge(const WinRect& before, const WinRect& after);

// Corrects a dragged outer rectangle so that the client keeps the game's
// ratio (the rule is applied only with FixedAspectRatio): too small snaps to
// half the game's size; otherwise the side opposite the drag follows.
WinRect apply_sizing(WinRect outer, DragEdge edge, int width, int height, int frame_w, int frame_h);

enum class CloseStep { Ignore, Ask, Close };

// A close request while one is handled is ignored; with Confirmation the
// player is asked first.
CloseStep close_step(bool closing, int confirmation);

}  // namespace talven::host
