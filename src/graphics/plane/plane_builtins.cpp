// Script-facing plane, palette and colour builtins: check the arguments,
// call the plane module, shape the result.
#include "graphics/plane/plane_builtins.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "graphics/plane/builtin_args.h"
#include "graphics/plane/image_io.h"
#include "graphics/plane/plane.h"
#include "base/messages.h"
#include "storage/file_layer.h"

namespace talven::graphics {

namespace {

constexpr std::uint32_t kMaxPath = 4096;

// Slot argument of galloc and gload: a slot below 1024, otherwise the
// address of a variable that receives the highest free slot. -1 when no
// slot could be had (the variable then holds -1, or the address was bad).
std::int32_t choose_slot(std::uint32_t arg) {
  if (arg < std::uint32_t(kPlaneSlots)) return std::int32_t(arg);
  std::int32_t slot = -1;
  for (int i = kPlaneSlots - 1; i >= 0; --i)
    if (!plane_at(i)) {
      slot = i;
      break;
    }
  if (!store32(arg, std::uint32_t(slot))) return -1;
  return slot;
}

// Copies colour-table words between a table of `entries` and script memory.
std::uint32_t copy_palette(std::int32_t slot, std::uint32_t first, std::int32_t count, Addr array,
                           bool to_script) {
  if (first > 255 || count <= 0) return 0;
  std::uint32_t* table;
  std::uint32_t entries;
  Plane* p = nullptr;
  if (slot == -1) {
    table = ScriptPalette().data();
    entries = 256;
  } else {
    p = plane_at(slot);
    if (!p || p->bpp > 8) return 0;
    entries = std::min<std::uint32_t>(p->colors_used(), std::uint32_t(p->table_entries));
    table = reinterpret_cast<std::uint32_t*>(p->colors());
  }
  if (entries < first + 1) return 0;
  std::uint32_t n = std::min<std::uint32_t>(std::uint32_t(count), entries - first);
  std::uint8_t* mem = span(array, 4ull * n);
  if (!mem) return 0;
  if (to_script) std::memcpy(mem, table + first, 4ull * n);
  else std::memcpy(table + first, mem, 4ull * n);
  // Colour tables keep their fourth byte zero, as RGBQUAD entries do.
  if (!to_script && p)
    for (std::uint32_t i = first; i < first + n; ++i) table[i] &= 0xFFFFFF;
  return n;
}

// Applies a difference image to a plane and writes the changed rectangle
// to `changed` when that is not null.
bool finish_diff(std::int32_t slot, std::int32_t x, std::int32_t y, const std::uint8_t* data,
                 std::uint64_t size, Addr changed) {
  Rect r;
  if (!apply_diff(plane_at(slot), x, y, data, size, &r)) return false;
  if (changed) {
    std::int32_t v[4] = {r.left, r.top, r.right, r.bottom};
    if (!write_bytes(changed, v, 16)) return false;
  }
  return true;
}

}  // namespace

bool bi_pal_map(Addr palette) {
  if (!palette) return false;
  const std::uint8_t* p = span(palette, 1024);
  if (!p) return false;
  std::uint32_t colors[256];
  std::memcpy(colors, p, sizeof colors);
  build_inverse_color_map(colors);
  return true;
}

std::uint32_t bi_pal_load(std::int32_t plane, std::uint32_t index, std::uint32_t first,
                          std::int32_t count) {
  Plane* p = plane_at(plane);
  if (!p || p->bpp > 8 || index > 255 || first > 255 || count <= 0) return 0;
  std::uint32_t entries =
      std::min<std::uint32_t>(p->colors_used(), std::uint32_t(p->table_entries));
  if (entries < first + 1) return 0;
  std::uint32_t n = std::min({std::uint32_t(count), entries - first, 256 - index});
  for (std::uint32_t i = 0; i < n; ++i) ScriptPalette()[index + i] = p->color(int(first + i));
  return n;
}

bool bi_pal_set(std::uint32_t index, std::uint32_t color) {
  if (index > 255) return false;
  ScriptPalette()[index] = color;
  return true;
}

std::uint32_t bi_pal_get(std::uint32_t index) { return index > 255 ? 0 : ScriptPalette()[index]; }

bool bi_pal_sets(std::uint32_t first, std::int32_t count, Addr colors) {
  return copy_palette(-1, first, count, colors, false) != 0;
}

bool bi_pal_gets(std::uint32_t first, std::int32_t count, Addr colors) {
  return copy_palette(-1, first, count, colors, true) != 0;
}

bool bi_pal_change() {
  pal_change();
  return true;
}

std::uint32_t bi_getpixel(std::int32_t plane, std::int32_t x, std::int32_t y) {
  Plane* p = plane_at(plane);
  return p ? get_pixel_rgb(*p, x, y) : 0;
}

bool bi_gclip(std::int32_t plane, Addr rect) {
  Plane* p = plane_at(plane);
  if (!p) return false;
  const RectArg clip(rect);
  if (!clip.ok()) return false;
  set_clip(*p, clip.get());
  return true;
}

bool bi_ginit() {
  auto& t = PlaneTable();
  for (int i = 0; i < kPlaneSlots; ++i) {
    if (i != t.view_page && i != t.active_page) t.slots[i].plane.reset();
    t.slots[i].mask = -1;
  }
  return true;
}

bool bi_galloc(std::uint32_t slot_arg, std::int32_t width, std::int32_t height, std::int32_t bpp) {
  std::int32_t slot = choose_slot(slot_arg);
  if (slot < 0) return false;
  free_plane(slot);
  PlanePtr p = CreatePlane(width, height, bpp);
  if (!p) {
    report_message(1, "CreatePlane : 仮想画面の作成に失敗しました。");
    return false;
  }
  set_plane(slot, std::move(p));
  return true;
}

bool bi_gfree(std::uint32_t plane) {
  if (plane >= std::uint32_t(kPlaneSlots)) return false;
  auto& t = PlaneTable();
  std::int32_t slot = std::int32_t(plane);
  if (slot != t.view_page && slot != t.active_page) t.slots[slot].plane.reset();
  t.slots[slot].mask = -1;
  return true;
}

bool bi_gload(std::uint32_t slot_arg, Addr path_addr) {
  if (!path_addr) return false;
  auto path = cstr(path_addr, kMaxPath);
  if (!path) return false;
  std::int32_t slot = choose_slot(slot_arg);
  if (slot < 0) return false;
  free_plane(slot);
  PlanePtr p = LoadPlane(*path);
  if (!p) {
    report_message(1, "LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : %s",
                   std::string(*path).c_str());
    return false;
  }
  set_plane(slot, std::move(p));
  return true;
}

bool bi_gsave(Addr path_addr, std::int32_t plane, Addr rect) {
  if (!path_addr) return false;
  auto path = cstr(path_addr, kMaxPath);
  Plane* p = plane_at(plane);
  if (!path || !p) return false;
  const RectArg area(rect);
  if (!area.ok()) return false;
  if (!SavePlane(*path, *p, area.get())) {
    report_message(1, "SavePlane : 画像ファイルの書き込みに失敗しました。\nFile : %s",
                   std::string(*path).c_str());
    return false;
  }
  return true;
}

bool bi_gattach(std::uint32_t plane, std::uint32_t mask) {
  if (plane >= std::uint32_t(kPlaneSlots) || mask >= std::uint32_t(kPlaneSlots)) return false;
  PlaneTable().slots[plane].mask = std::int32_t(mask);
  return true;
}

bool bi_gdetach(std::uint32_t plane) {
  if (plane >= std::uint32_t(kPlaneSlots)) return false;
  PlaneTable().slots[plane].mask = -1;
  return true;
}

std::uint32_t bi_ggetpal(std::int32_t plane, std::uint32_t first, std::int32_t count, Addr colors) {
  return copy_palette(plane, first, count, colors, true);
}

std::uint32_t bi_gsetpal(std::int32_t plane, std::uint32_t first, std::int32_t count, Addr colors) {
  return copy_palette(plane, first, count, colors, false);
}

bool bi_ginfo(std::int32_t plane, Addr info) {
  if (!info) return true;
  std::uint8_t* out = wspan(info, 24);
  if (!out) return false;
  std::uint32_t v[6] = {};
  if (Plane* p = plane_at(plane)) {
    v[0] = std::uint32_t(p->width);
    v[1] = std::uint32_t(p->height);
    v[2] = std::uint32_t(p->bpp);
    v[3] = (p->width && p->height)
               ? p->bits + std::uint32_t(p->height - 1) * std::uint32_t(p->stride)
               : 0;
    v[4] = std::uint32_t(-p->stride);
    v[5] = p->colors_addr();
  }
  std::memcpy(out, v, sizeof v);
  return true;
}

bool bi_dload(std::int32_t plane, std::int32_t x, std::int32_t y, Addr path_addr, Addr changed) {
  if (!path_addr) return false;
  auto path = cstr(path_addr, kMaxPath);
  if (!path || !plane_at(plane)) return false;
  std::string data;
  if (!storage::ReadWholeExpFile(*path, data)) return false;
  return finish_diff(plane, x, y, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                     changed);
}

bool bi_dcopy(std::int32_t plane, std::int32_t x, std::int32_t y, Addr data_addr, Addr changed) {
  std::uint64_t limit = script_space().limit();
  if (data_addr < kLowLimit || data_addr >= limit) return false;
  const std::uint8_t* data = span(data_addr, limit - data_addr);
  return finish_diff(plane, x, y, data, limit - data_addr, changed);
}

}  // namespace talven::graphics
