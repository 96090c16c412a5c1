// Page state, the frame and `update`, and the start-up and shut-down of the
// page planes. The dirty-rectangle list lives in dirty_rects.cpp.
#include "graphics/present/pages.h"

#include <png.h>

#include <atomic>
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/atomic_file.h"
#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"
#include "graphics/plane/image_io.h"
#include "base/config.h"
#include "base/messages.h"

namespace talven::graphics {

namespace {

struct PresentState {
  PresentBackend* backend = nullptr;
  std::vector<std::uint32_t> frame;  // screen_w * screen_h, rows top-down
  int screen_w = 0, screen_h = 0;
  std::int32_t origin_x = 0, origin_y = 0;
  std::uint32_t palette_serial = 0;  // display palette last shown for 8-bit views
  std::uint64_t presented = 0;
  // A picture shown over the screen (a playing video): composited into the
  // frame after every update, so the game's drawing never covers it.
  std::vector<std::uint32_t> overlay;
  Rect overlay_rect{};
};

// Copies the overlay into the frame where both meet the screen; the part of
// the screen that changed.
Rect composite_overlay(PresentState& s) {
  const Rect r = intersect(s.overlay_rect, Rect{0, 0, s.screen_w, s.screen_h});
  if (s.overlay.empty() || r.empty() || s.frame.empty()) return Rect{};
  const int ow = s.overlay_rect.right - s.overlay_rect.left;
  for (int y = r.top; y < r.bottom; ++y) {
    const std::uint32_t* from = s.overlay.data() +
                                std::size_t(y - s.overlay_rect.top) * std::size_t(ow) +
                                std::size_t(r.left - s.overlay_rect.left);
    std::copy(from, from + (r.right - r.left),
              s.frame.data() + std::size_t(y) * std::size_t(s.screen_w) + r.left);
  }
  return r;
}

PresentState& state() {
  static PresentState s;
  return s;
}

// Set by resizes and device resets on the main thread, cleared by an upload.
std::atomic<bool> g_full_refresh{true};

bool slot_in_range(std::int32_t slot) { return std::uint32_t(slot) < std::uint32_t(kPlaneSlots); }

// Converts the part `r` (inside both the plane and the frame) of the view
// page into the frame. Depths other than 8, 16, 24 and 32 are not shown.
void upload(const Plane& p, const Rect& r, std::uint32_t* frame, int frame_w) {
  const int x0 = r.left, n = int(r.width());
  const int bpp = p.bpp;
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return;
  const std::uint32_t* expand15 = kernel_tables().expand15;
  std::uint32_t palette[256];
  if (bpp == 8) {
    const auto& d = DisplayPalette();
    for (int i = 0; i < 256; ++i)
      palette[i] = std::uint32_t(d[4 * i]) | std::uint32_t(d[4 * i + 1]) << 8 |
                   std::uint32_t(d[4 * i + 2]) << 16;
  }
  for_rows(r.top, r.bottom, r.right - r.left, [&](int y) {
    std::uint32_t* out = frame + std::size_t(y) * frame_w + x0;
    const std::uint8_t* in = p.row(y) + std::size_t(x0) * (bpp / 8);
    switch (bpp) {
      case 32: std::memcpy(out, in, std::size_t(n) * 4); break;
      case 24:
        for (int i = 0; i < n; ++i, in += 3)
          out[i] = std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 | std::uint32_t(in[2]) << 16;
        break;
      case 16:
        for (int i = 0; i < n; ++i, in += 2) out[i] = expand15[(in[0] | in[1] << 8) & 0x7FFF];
        break;
      default:
        for (int i = 0; i < n; ++i) out[i] = palette[in[i]];
        break;
    }
  });
}

}  // namespace

std::mutex& presentation_lock() {
  static std::mutex lock;
  return lock;
}

void set_present_backend(PresentBackend* backend) {
  std::lock_guard<std::mutex> hold(presentation_lock());
  state().backend = backend;
  g_full_refresh = true;  // a new backend has shown nothing yet
}

// ---- page state ------------------------------------------------------------

std::int32_t view_page() { return PlaneTable().view_page; }
std::int32_t active_page() { return PlaneTable().active_page; }

namespace {

// Points a page at a live plane, under the presentation lock so the
// presenter never sees a half-made choice. A slot out of range is reported
// under the name of the `caller`; an empty slot is refused quietly.
bool set_page(std::int32_t PlaneTableState::*page, std::int32_t slot, const char* caller) {
  if (!slot_in_range(slot)) {
    report_message(1, "%s : パラメータが範囲外です。", caller);
    return false;
  }
  if (!plane_at(slot)) return false;
  std::lock_guard<std::mutex> hold(presentation_lock());
  PlaneTable().*page = slot;
  return true;
}

}  // namespace

bool SetViewPage(std::int32_t slot) {
  return set_page(&PlaneTableState::view_page, slot, "SetViewPage");
}

bool SetActivePage(std::int32_t slot) {
  return set_page(&PlaneTableState::active_page, slot, "SetActivePage");
}

void set_origin(std::int32_t x, std::int32_t y) {
  state().origin_x = x;
  state().origin_y = y;
}

void get_origin(std::int32_t& x, std::int32_t& y) {
  x = state().origin_x;
  y = state().origin_y;
}

int screen_width() { return state().screen_w; }
int screen_height() { return state().screen_h; }

// ---- start-up and shut-down --------------------------------------------------

bool pages_start() {
  // The 3:3:2 cube in both palettes.
  auto& script = ScriptPalette();
  for (int i = 0; i < 256; ++i) {
    std::uint32_t r = ((i >> 5) & 7) * 255 / 7, g = ((i >> 2) & 7) * 255 / 7, b = (i & 3) * 85;
    script[i] = r << 16 | g << 8 | b;
  }
  pal_change();

  std::lock_guard<std::mutex> hold(presentation_lock());
  auto& s = state();
  auto& table = PlaneTable();
  table.view_page = 0;
  table.active_page = 0;
  s.origin_x = s.origin_y = 0;
  s.palette_serial = display_palette_serial();
  s.presented = 0;
  g_full_refresh = true;

  // A screen size the frame cannot hold leaves no frame; updates then do nothing.
  const Config& c = config();
  s.frame.clear();
  s.screen_w = s.screen_h = 0;
  if (image_size_ok(c.Width, c.Height)) {
    s.screen_w = c.Width;
    s.screen_h = c.Height;
    s.frame.assign(std::size_t(c.Width) * std::size_t(c.Height), 0);
  }

  PlanePtr page = CreatePlane(c.Width, c.Height, c.Depth);  // pixels start zeroed
  if (!page) {
    report_message(1, "CreatePlane : 仮想画面の作成に失敗しました。");
    free_plane(0);
    return false;
  }
  set_plane(0, std::move(page));
  return true;
}

void pages_stop() {
  std::lock_guard<std::mutex> hold(presentation_lock());
  auto& table = PlaneTable();
  free_plane(table.view_page);
  free_plane(table.active_page);
  table.view_page = 0;
  table.active_page = 0;
  auto& s = state();
  s.frame.clear();
  s.frame.shrink_to_fit();
  s.screen_w = s.screen_h = 0;
}

// ---- update --------------------------------------------------------------------

void request_full_refresh() { g_full_refresh = true; }

bool present_update(const Rect* rect) {
  std::lock_guard<std::mutex> hold(presentation_lock());
  auto& s = state();
  const Rect screen{0, 0, s.screen_w, s.screen_h};
  // A rectangle that misses the screen presents nothing, even while a full
  // refresh is due (the first update, or one after a resize): the refresh
  // stays due for the next update that presents.
  if (rect && intersect(*rect, screen).empty()) return false;
  const bool full = g_full_refresh.load();
  if (s.frame.empty()) return true;

  Rect changed{};
  const Plane* view = plane_at(PlaneTable().view_page);
  if (view) {
    // A palette change repaints an 8-bit view page as a whole.
    bool whole = full || !rect;
    if (view->bpp == 8 && s.palette_serial != display_palette_serial()) {
      s.palette_serial = display_palette_serial();
      whole = true;
    }
    Rect region = intersect(view->bounds(), screen);
    if (!whole) region = intersect(region, *rect);
    if (!region.empty()) upload(*view, region, s.frame.data(), s.screen_w);
    if (!region.empty()) changed = region;
    g_full_refresh = false;
  }
  if (full) changed = screen;  // the backend must redraw all of it
  const Rect over = composite_overlay(s);
  if (!over.empty() && changed.empty()) changed = over;
  else if (!over.empty())
    changed = Rect{std::min(changed.left, over.left), std::min(changed.top, over.top),
                   std::max(changed.right, over.right), std::max(changed.bottom, over.bottom)};
  ++s.presented;
  if (s.backend)
    s.backend->present(s.frame.data(), s.screen_w, s.screen_h,
                       FrameRegion{changed.left, changed.top, changed.right, changed.bottom});
  return true;
}

bool show_overlay(const std::uint32_t* pixels, int width, int height, int left, int top) {
  if (!pixels || width <= 0 || height <= 0) return false;
  std::lock_guard<std::mutex> hold(presentation_lock());
  auto& s = state();
  s.overlay.assign(pixels, pixels + std::size_t(width) * std::size_t(height));
  s.overlay_rect = Rect{left, top, left + width, top + height};
  const Rect changed = composite_overlay(s);
  if (s.backend && !changed.empty())
    s.backend->present(s.frame.data(), s.screen_w, s.screen_h,
                       FrameRegion{changed.left, changed.top, changed.right, changed.bottom});
  return true;
}

void hide_overlay() {
  {
    std::lock_guard<std::mutex> hold(presentation_lock());
    auto& s = state();
    if (s.overlay.empty()) return;
    s.overlay.clear();
    s.overlay.shrink_to_fit();
    s.overlay_rect = Rect{};
  }
  request_full_refresh();
  present_update(nullptr);  // the view page shows again where the picture was
}

const std::uint32_t* current_frame(int& width, int& height) {
  auto& s = state();
  width = s.screen_w;
  height = s.screen_h;
  return s.frame.empty() ? nullptr : s.frame.data();
}

std::uint64_t presented_frame_count() { return state().presented; }

bool save_frame_png(const std::string& host_path) {
  std::vector<std::uint8_t> rgb;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  {
    std::lock_guard<std::mutex> hold(presentation_lock());
    auto& s = state();
    if (s.frame.empty()) return false;
    image.width = std::uint32_t(s.screen_w);
    image.height = std::uint32_t(s.screen_h);
    rgb.resize(s.frame.size() * 3);
    for (std::size_t i = 0; i < s.frame.size(); ++i) {
      std::uint32_t v = s.frame[i];
      rgb[3 * i] = std::uint8_t(v >> 16);
      rgb[3 * i + 1] = std::uint8_t(v >> 8);
      rgb[3 * i + 2] = std::uint8_t(v);
    }
  }
  image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, rgb.data(), 0, nullptr)) return false;
  std::string out(size, '\0');
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  out.resize(size);
  return write_file_atomic(host_path, out);
}

DestRect presented_rect(int screen_w, int screen_h, int client_w, int client_h, bool scaled,
                        bool full_screen, bool fixed_aspect) {
  if (scaled)
    return letterbox_rect(screen_w, screen_h, client_w, client_h, full_screen && fixed_aspect);
  DestRect r{0, 0, screen_w, screen_h};
  if (full_screen) {
    r.left = (client_w - screen_w) / 2;
    r.top = (client_h - screen_h) / 2;
  }
  return r;
}

DestRect letterbox_rect(int screen_w, int screen_h, int display_w, int display_h,
                        bool fixed_aspect) {
  DestRect r{0, 0, display_w, display_h};
  if (!fixed_aspect || screen_w <= 0 || screen_h <= 0 || display_w <= 0 || display_h <= 0) return r;
  const float game = float(screen_w) / float(screen_h);
  const float display = float(display_w) / float(display_h);
  if (game < display) r.width = int(float(display_h) * game + 0.5f);
  else if (game > display) r.height = int(float(display_w) / game + 0.5f);
  r.left = (display_w - r.width) / 2;
  r.top = (display_h - r.height) / 2;
  return r;
}

}  // namespace talven::graphics
