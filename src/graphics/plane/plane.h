// Planes: the 1024 numbered off-screen bitmaps that scripts draw into.
//
// A plane's bitmap-info block (40-byte header plus colour table) and its
// pixel memory live in the script address space, because ginfo hands their
// addresses to scripts. Rows are stored bottom-up (the header height is
// positive), so the top row is the last one in memory and scripts step
// between rows with the negative stride.
//
// This module also owns the two palettes, the colour-value convention
// (0xRRGGBB, or a display-palette index when bit 24 is set), nearest-entry
// search, the inverse colour map used by every kernel writing an 8-bit plane,
// and the HSV conversions. The kernels, sprites, text and filters reach
// planes only through the services below.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/address_space.h"

namespace talven::graphics {

constexpr int kPlaneSlots = 1024;

struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
  // 64-bit: a script may pass edges a full 32-bit range apart.
  std::int64_t width() const { return std::int64_t(right) - left; }
  std::int64_t height() const { return std::int64_t(bottom) - top; }
};

Rect intersect(const Rect& a, const Rect& b);
// Swaps reversed edges.
Rect normalized(const Rect& r);
// Reads a script rectangle (four signed words); false for a bad address.
bool load_rect(Addr addr, Rect& out);

// One plane. The record itself is host memory; `info` and `bits` are script
// addresses, with `header`/`pixels` the matching host pointers (stable: the
// script space never moves).
struct Plane {
  Addr info = 0;                   // BITMAPINFOHEADER + colour table
  Addr bits = 0;                   // pixel memory, height * stride bytes
  std::uint8_t* header = nullptr;  // host view of info
  std::uint8_t* pixels = nullptr;  // host view of bits
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bpp = 0;
  std::int32_t stride = 0;
  std::int32_t table_entries = 0;  // size of the colour table (2^bpp or 0)
  Rect clip;
  std::string path;  // set by the BMP reader only

  Plane() = default;
  Plane(const Plane&) = delete;
  Plane& operator=(const Plane&) = delete;
  ~Plane();

  // Colour table as RGBQUAD (blue, green, red, 0) entries, or null.
  std::uint8_t* colors() const { return table_entries ? header + 40 : nullptr; }
  Addr colors_addr() const { return table_entries ? info + 40 : 0; }
  // "Colours used" of the header: how many table entries are meaningful.
  std::uint32_t colors_used() const;
  void set_colors_used(std::uint32_t n);
  // Colour-table entry i as 0x00RRGGBB (0 past the table).
  std::uint32_t color(int i) const;

  // Host address of row y (top-down numbering), no bounds check.
  std::uint8_t* row(int y) const { return pixels + std::int64_t(height - y - 1) * stride; }
  // Pixel address for 0 <= x < width, 0 <= y < height, else null.
  std::uint8_t* pixel(int x, int y) const;
  Rect bounds() const { return Rect{0, 0, width, height}; }
};

using PlanePtr = std::unique_ptr<Plane>;

// Bytes per row of a bitmap: ((bpp * width + 31) / 32) * 4.
std::int64_t row_stride(std::int64_t width, int bpp);

// Makes a plane with the default colour table; null for a bad size or depth
// or when script memory runs out. Pixels start zeroed.
PlanePtr CreatePlane(std::int32_t width, std::int32_t height, std::int32_t bpp);

// Fills a colour table with the default entries for the depth.
void default_color_table(Plane& plane);

// ---- the plane table -----------------------------------------------------

struct PlaneSlot {
  PlanePtr plane;
  std::int32_t mask = -1;  // slot whose plane masks this one, -1 for none
};

struct PlaneTableState {
  std::array<PlaneSlot, kPlaneSlots> slots;
  std::int32_t view_page = 0;    // owned by the presenter, kept here so that
  std::int32_t active_page = 0;  // gfree and ginit can spare the pages
};

PlaneTableState& PlaneTable();

// The plane in a slot; null for empty slots and slots outside 0..1023.
Plane* plane_at(std::int32_t slot);
// The mask plane linked to a slot, or null.
Plane* mask_of(std::int32_t slot);
// Puts a plane into a slot (freeing any old one). False for a bad slot.
bool set_plane(std::int32_t slot, PlanePtr plane);
// Frees the plane of a slot unconditionally.
void free_plane(std::int32_t slot);
// Frees every plane and clears every link (for shut-down and tests).
void reset_planes();

std::int32_t plane_width(const Plane* p);
std::int32_t plane_height(const Plane* p);
std::int32_t plane_bpp(const Plane* p);

// ---- palettes and colour values -----------------------------------------

constexpr std::uint32_t kPaletteIndexFlag = 0x01000000;

std::array<std::uint32_t, 256>& ScriptPalette();   // 0x00RRGGBB
std::array<std::uint8_t, 1024>& DisplayPalette();  // RGBQUAD entries
std::array<std::uint8_t, 32768>& InverseColorMap();
// Bumped by pal_change so that the presenter can repaint 8-bit views.
std::uint32_t display_palette_serial();
void pal_change();

// 15-bit index of a 0x00RRGGBB colour.
inline std::uint32_t rgb15(std::uint32_t rgb) {
  return ((rgb >> 19) & 0x1F) << 10 | ((rgb >> 11) & 0x1F) << 5 | ((rgb >> 3) & 0x1F);
}
inline std::uint8_t inverse_color(std::uint32_t rgb) { return InverseColorMap()[rgb15(rgb)]; }

// Colour value to 0x00RRGGBB.
std::uint32_t color_to_rgb(std::uint32_t value);
// Colour value to an index of an 8-bit target.
std::uint32_t color_to_index(std::uint32_t value);
// Nearest display-palette entry to a 0x00RRGGBB colour.
std::uint8_t nearest_palette_index(std::uint32_t rgb);
// Weighted squared distance of two 0x00RRGGBB colours on 6-bit components.
std::uint32_t color_distance(std::uint32_t a, std::uint32_t b);
// Rebuilds InverseColorMap from 256 0x00RRGGBB entries.
void build_inverse_color_map(const std::uint32_t* palette);

std::uint32_t rgbtohsv(std::uint32_t rgb);
std::uint32_t hsvtorgb(std::uint32_t hsv);

// getpixel: 0x00RRGGBB of a pixel, 0 outside the plane.
std::uint32_t get_pixel_rgb(const Plane& p, int x, int y);

// Clip set by gclip: null rectangle gives the whole plane.
void set_clip(Plane& p, const Rect* r);

// ---- difference images ---------------------------------------------------

// Applies a "DIFF" image of `size` bytes at (x, y). False (and nothing drawn)
// when the checks fail; `header_rect` receives the stored rectangle.
bool apply_diff(Plane* plane, std::int32_t x, std::int32_t y, const std::uint8_t* data,
                std::uint64_t size, Rect* header_rect);

}  // namespace talven::graphics
