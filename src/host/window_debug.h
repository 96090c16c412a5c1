// The debug output window ("Debug Output"): a second SDL window that lists
// the log_out lines of the debug output model with scrolling, a clear button
// and a close button. It starts hidden; F8 in either window shows and hides
// it, its close box and close button hide it. Main thread only.
#pragma once

#include <cstdint>

union SDL_Event;

namespace talven::host {

bool debug_window_create();
void debug_window_destroy();
// SDL window id of the debug window, 0 when there is none.
std::uint32_t debug_window_id();
// An event addressed to the debug window.
void debug_window_handle(const SDL_Event& e);
// Follows the model: shown state, new or cleared lines; redraws when needed.
void debug_window_sync();

// Scrolling state of a list, kept apart from SDL so it can be tested.
struct ListView {
  int count = 0;     // lines
  int top = 0;       // first visible line
  int page = 1;      // lines that fit
  int x_offset = 0;  // horizontal scroll in pixels
  int extent = 0;    // horizontal extent in pixels (widest line + 5), 0 when none
  int width = 0;     // visible width in pixels

  // New lines were appended: the newest becomes visible.
  void appended(int new_count);
  void clear();
  void scroll_lines(int delta);
  void scroll_pixels(int delta);
  void widen(int line_width);  // a line of this width was added
  int max_top() const { return count > page ? count - page : 0; }
  int max_x() const { return extent > width ? extent - width : 0; }
};

}  // namespace talven::host
