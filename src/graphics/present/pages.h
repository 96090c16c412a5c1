// Pages and presentation: the view page (what the window shows), the active
// page (what sprites compose onto), `update`, the dirty-rectangle list and the
// start-up and shut-down of the page planes.
//
// `update` converts the view page into the frame, a screen-sized buffer of
// 32-bit pixels (blue, green, red, unused), and hands it to the installed
// PresentBackend (backend.h). Headless runs install none: the frame stays in
// memory, where tests and `--screenshot` read it.
//
// The presentation lock guards the frame, the page planes while they are
// read for an upload, and the backend call. Sprite drawing takes it too, so
// that a frame is never uploaded half drawn.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "graphics/plane/plane.h"
#include "graphics/present/backend.h"

namespace talven::graphics {

constexpr int kDirtyRectCapacity = 2048;

// The lock shared by uploads, presents and sprite drawing. Not recursive:
// SetViewPage, SetActivePage, pages_start, pages_stop, present_update,
// save_frame_png and set_present_backend take it themselves, so a holder must
// not call them. The dirty-rectangle functions and the getters do not take it.
std::mutex& presentation_lock();

// ---- page state ------------------------------------------------------------

std::int32_t view_page();
std::int32_t active_page();
// Slot checks as the builtins do them: above 1023 (or negative) reports the
// range message and gives false; an empty slot gives false silently.
bool SetViewPage(std::int32_t slot);
bool SetActivePage(std::int32_t slot);
void set_origin(std::int32_t x, std::int32_t y);
void get_origin(std::int32_t& x, std::int32_t& y);

// ---- start-up and shut-down --------------------------------------------------

// Fills both palettes with the 3:3:2 cube, resets the page state and creates
// plane 0 with the configured Width x Height x Depth, cleared. A failed plane
// is reported and start-up goes on without a view page; the result is false
// then. Also sizes the frame to the screen.
bool pages_start();
// Frees the view and active page planes and drops the frame.
void pages_stop();

// Screen size (the configured Width and Height) as fixed at pages_start.
int screen_width();
int screen_height();

// ---- update --------------------------------------------------------------------

// Presents the view page: the rectangle intersected with the screen, or all
// of it when `rect` is null or a full refresh is due. False when the given
// rectangle misses the screen (nothing presented).
bool present_update(const Rect* rect);
// Makes the next update upload and present the whole view page (a window
// resize, a lost or reset device).
void request_full_refresh();

// The presented frame (screen-sized, 32-bit), null before pages_start.
// Read it under presentation_lock() when other threads may update.
const std::uint32_t* current_frame(int& width, int& height);

// A picture over the screen (video frames): `pixels` (width x height, the
// frame's pixel format) is shown with its top-left corner at (left, top) of
// the screen and stays on top of every later update until hidden. Any
// thread may call these; they present at once.
bool show_overlay(const std::uint32_t* pixels, int width, int height, int left, int top);
void hide_overlay();
// Writes the frame as a 24-bit PNG. False when there is no frame or the file
// cannot be written.
bool save_frame_png(const std::string& host_path);
// Frames presented since pages_start.
std::uint64_t presented_frame_count();

// Destination rectangle of the screen inside the display: the whole display
// unless `fixed_aspect` is set, then the largest centred rectangle of the
// screen's aspect ratio.
struct DestRect {
  int left = 0, top = 0, width = 0, height = 0;
};
DestRect letterbox_rect(int screen_w, int screen_h, int display_w, int display_h,
                        bool fixed_aspect);

// Where the screen is shown in a client area of client_w x client_h. Scaled
// presentation fills the client area (letterboxed in full screen when the
// ratio is fixed); unscaled presentation draws 1:1 at (0, 0) in a window and
// centred in full screen. Input coordinates are converted through the same
// rectangle.
DestRect presented_rect(int screen_w, int screen_h, int client_w, int client_h, bool scaled,
                        bool full_screen, bool fixed_aspect);

// ---- dirty rectangles ----------------------------------------------------------

void drt_init();
// Appends a rectangle; when the list is full every rectangle and the new one
// are merged into one and the result is false.
bool drt_set(const Rect& r);
// Rectangles currently held (for sprites and tests).
int drt_count();
const Rect* drt_rects();
// Copies the parts of `src` (placed at x, y) covered by dirty rectangles
// into `dst`, each covered pixel once, and empties the list. Equal depths
// copy bytes, an 8-bit source into 24 or 32 bits goes through its colour
// table, other pairs copy nothing. False only for an empty slot.
bool drt_copy(std::int32_t dst_slot, std::int32_t x, std::int32_t y, std::int32_t src_slot,
              const Rect* src_rect);

}  // namespace talven::graphics
