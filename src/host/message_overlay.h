// Messages drawn in the main window: where report_message's boxes go when
// the system cannot show a message box (no desktop service answers, as on a
// bare X server), or when TALVEN_MESSAGE_BOX=window asks for it. The
// message is drawn over the game's picture in a framed box with the caption
// and an OK button; Enter, Escape, Space or a click on OK dismisses it.
// Messages wait in order and the oldest is shown.
//
// Showing never blocks the main thread: the picture, timers and closing go
// on meanwhile, and a script thread that reported the message waits for
// the dismissal. While a message is shown, the main window's keyboard and
// mouse input belongs to the box and the game does not see it.
//
// The routing and the layout are plain logic over a text measure, kept
// apart from SDL so that they can be tested. Main thread only, except
// where a function says otherwise.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct SDL_Renderer;
union SDL_Event;

namespace talven::host {

// ---- where a message box goes -------------------------------------------------

enum class BoxRoute {
  kSystem,  // the system's message box, modal
  kWindow,  // drawn in the main window
  kNone,    // no window: the terminal line is all
};

// Remembers whether the system's boxes work: after the first one that could
// not be shown, every later message is drawn in the window.
class BoxRouter {
 public:
  explicit BoxRouter(bool window_forced = false) : system_failed_(window_forced) {}
  BoxRoute route(bool window_exists) const {
    if (!window_exists) return BoxRoute::kNone;
    return system_failed_ ? BoxRoute::kWindow : BoxRoute::kSystem;
  }
  void system_box_failed() { system_failed_ = true; }

 private:
  bool system_failed_;
};

// ---- layout ---------------------------------------------------------------------

struct OverlayRect {
  int x = 0, y = 0, w = 0, h = 0;
  bool contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

struct MessageLayout {
  std::vector<std::string> lines;  // CP932, each fitting text.w
  OverlayRect box;                 // the whole box, inside the client area
  OverlayRect caption;             // its title strip
  OverlayRect text;                // where the lines go, line_height apart
  OverlayRect button;              // OK
  int line_height = 0;
};

// Width in pixels of a CP932 string.
using TextMeasure = std::function<int(std::string_view cp932)>;

// Lays out `text` (CP932; line feeds end lines, carriage returns are
// dropped) in a box centred in a client area of client_w x client_h:
// lines longer than the box can be are wrapped, after a space where there
// is one, else between characters (never inside a double-byte character);
// lines that do not fit the height are cut, the last kept one ending in
// "...". Every rectangle lies inside the client area whenever it is at
// least 64 x 64 pixels.
MessageLayout layout_message(std::string_view text, int client_w, int client_h,
                             const TextMeasure& width, int line_height);

// ---- the shown messages ------------------------------------------------------

// Queues a message (UTF-8). `dismissed`, when given, is called once, on the
// main thread, when the message is dismissed or dropped.
void overlay_push(const std::string& text, std::function<void()> dismissed);
bool overlay_active();
// Drops every message (the window is going), calling their `dismissed`.
void overlay_clear();

// A main-window event while a message is shown: true when it was the box's
// alone (key presses, typed text, mouse presses, motion and the wheel).
// Key and button releases are the box's and the game's: what was held
// before the box came up is let go.
bool overlay_handle_event(const SDL_Event& e);
// True once after the shown message changed (the window must be redrawn).
bool overlay_take_changed();

// Draws the shown message over what the renderer holds, before it is
// presented. Nothing when no message is shown.
void overlay_draw(SDL_Renderer* renderer);

}  // namespace talven::host
