// Script-facing plane, palette and colour builtins: decode the argument
// words, call the plane module, encode the result.
#include "graphics/plane/plane_builtins.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "graphics/plane/image_io.h"
#include "graphics/plane/plane.h"
#include "base/messages.h"
#include "runtime/builtins.h"
#include "storage/file_layer.h"

namespace talven::graphics {

namespace {

constexpr std::uint32_t kMaxPath = 4096;

bool read_args(Addr args, int n, std::uint32_t* w) {
  return runtime::read_arg_words(args, static_cast<unsigned>(n), w);
}

std::int32_t s32(std::uint32_t v) { return std::int32_t(v); }

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

bool optional_rect(std::uint32_t addr, Rect& r, bool& given) {
  given = addr != 0;
  return !given || load_rect(addr, r);
}

// Copies colour-table words between a table of `entries` and script memory.
std::uint32_t copy_palette(std::int32_t slot, std::uint32_t first, std::int32_t count,
                           Addr array, bool to_script) {
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
  if (to_script)
    std::memcpy(mem, table + first, 4ull * n);
  else
    std::memcpy(table + first, mem, 4ull * n);
  // Colour tables keep their fourth byte zero, as RGBQUAD entries do.
  if (!to_script && p)
    for (std::uint32_t i = first; i < first + n; ++i) table[i] &= 0xFFFFFF;
  return n;
}

}  // namespace

std::uint32_t bi_pal_map(Addr args) {
  std::uint32_t w[1];
  if (!read_args(args, 1, w) || !w[0]) return 0;
  const std::uint8_t* p = span(w[0], 1024);
  if (!p) return 0;
  std::uint32_t palette[256];
  std::memcpy(palette, p, sizeof palette);
  build_inverse_color_map(palette);
  return 1;
}

std::uint32_t bi_pal_load(Addr args) {
  std::uint32_t w[4];
  if (!read_args(args, 4, w)) return 0;
  Plane* p = plane_at(s32(w[0]));
  std::uint32_t index = w[1], first = w[2];
  std::int32_t count = s32(w[3]);
  if (!p || p->bpp > 8 || index > 255 || first > 255 || count <= 0) return 0;
  std::uint32_t entries = std::min<std::uint32_t>(p->colors_used(), std::uint32_t(p->table_entries));
  if (entries < first + 1) return 0;
  std::uint32_t n = std::min({std::uint32_t(count), entries - first, 256 - index});
  for (std::uint32_t i = 0; i < n; ++i) ScriptPalette()[index + i] = p->color(int(first + i));
  return n;
}

std::uint32_t bi_pal_set(Addr args) {
  std::uint32_t w[2];
  if (!read_args(args, 2, w) || w[0] > 255) return 0;
  ScriptPalette()[w[0]] = w[1];
  return 1;
}

std::uint32_t bi_pal_get(Addr args) {
  std::uint32_t w[1];
  if (!read_args(args, 1, w) || w[0] > 255) return 0;
  return ScriptPalette()[w[0]];
}

std::uint32_t bi_pal_sets(Addr args) {
  std::uint32_t w[3];
  if (!read_args(args, 3, w)) return 0;
  return copy_palette(-1, w[0], s32(w[1]), w[2], false) ? 1 : 0;
}

std::uint32_t bi_pal_gets(Addr args) {
  std::uint32_t w[3];
  if (!read_args(args, 3, w)) return 0;
  return copy_palette(-1, w[0], s32(w[1]), w[2], true) ? 1 : 0;
}

std::uint32_t bi_pal_change(Addr) {
  pal_change();
  return 1;
}

std::uint32_t bi_getpixel(Addr args) {
  std::uint32_t w[3];
  if (!read_args(args, 3, w)) return 0;
  Plane* p = plane_at(s32(w[0]));
  return p ? get_pixel_rgb(*p, s32(w[1]), s32(w[2])) : 0;
}

std::uint32_t bi_rgbtohsv(Addr args) {
  std::uint32_t w[1];
  return read_args(args, 1, w) ? rgbtohsv(w[0]) : 0;
}

std::uint32_t bi_hsvtorgb(Addr args) {
  std::uint32_t w[1];
  return read_args(args, 1, w) ? hsvtorgb(w[0]) : 0;
}

std::uint32_t bi_gclip(Addr args) {
  std::uint32_t w[2];
  if (!read_args(args, 2, w)) return 0;
  Plane* p = plane_at(s32(w[0]));
  if (!p) return 0;
  Rect r;
  bool given;
  if (!optional_rect(w[1], r, given)) return 0;
  set_clip(*p, given ? &r : nullptr);
  return 1;
}

std::uint32_t bi_ginit(Addr) {
  auto& t = PlaneTable();
  for (int i = 0; i < kPlaneSlots; ++i) {
    if (i != t.view_page && i != t.active_page) t.slots[i].plane.reset();
    t.slots[i].mask = -1;
  }
  return 1;
}

std::uint32_t bi_galloc(Addr args) {
  std::uint32_t w[4];
  if (!read_args(args, 4, w)) return 0;
  std::int32_t slot = choose_slot(w[0]);
  if (slot < 0) return 0;
  free_plane(slot);
  PlanePtr p = CreatePlane(s32(w[1]), s32(w[2]), s32(w[3]));
  if (!p) {
    report_message(1, "CreatePlane : 仮想画面の作成に失敗しました。");
    return 0;
  }
  set_plane(slot, std::move(p));
  return 1;
}

std::uint32_t bi_gfree(Addr args) {
  std::uint32_t w[1];
  if (!read_args(args, 1, w) || w[0] >= std::uint32_t(kPlaneSlots)) return 0;
  auto& t = PlaneTable();
  std::int32_t slot = s32(w[0]);
  if (slot != t.view_page && slot != t.active_page) t.slots[slot].plane.reset();
  t.slots[slot].mask = -1;
  return 1;
}

std::uint32_t bi_gload(Addr args) {
  std::uint32_t w[2];
  if (!read_args(args, 2, w) || !w[1]) return 0;
  auto path = cstr(w[1], kMaxPath);
  if (!path) return 0;
  std::int32_t slot = choose_slot(w[0]);
  if (slot < 0) return 0;
  free_plane(slot);
  PlanePtr p = LoadPlane(*path);
  if (!p) {
    report_message(1, "LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : %s",
                   std::string(*path).c_str());
    return 0;
  }
  set_plane(slot, std::move(p));
  return 1;
}

std::uint32_t bi_gsave(Addr args) {
  std::uint32_t w[3];
  if (!read_args(args, 3, w) || !w[0]) return 0;
  auto path = cstr(w[0], kMaxPath);
  Plane* p = plane_at(s32(w[1]));
  if (!path || !p) return 0;
  Rect r;
  bool given;
  if (!optional_rect(w[2], r, given)) return 0;
  if (!SavePlane(*path, *p, given ? &r : nullptr)) {
    report_message(1, "SavePlane : 画像ファイルの書き込みに失敗しました。\nFile : %s",
                   std::string(*path).c_str());
    return 0;
  }
  return 1;
}

std::uint32_t bi_gattach(Addr args) {
  std::uint32_t w[2];
  if (!read_args(args, 2, w)) return 0;
  if (w[0] >= std::uint32_t(kPlaneSlots) || w[1] >= std::uint32_t(kPlaneSlots)) return 0;
  PlaneTable().slots[w[0]].mask = s32(w[1]);
  return 1;
}

std::uint32_t bi_gdetach(Addr args) {
  std::uint32_t w[1];
  if (!read_args(args, 1, w) || w[0] >= std::uint32_t(kPlaneSlots)) return 0;
  PlaneTable().slots[w[0]].mask = -1;
  return 1;
}

std::uint32_t bi_ggetpal(Addr args) {
  std::uint32_t w[4];
  if (!read_args(args, 4, w)) return 0;
  return copy_palette(s32(w[0]), w[1], s32(w[2]), w[3], true);
}

std::uint32_t bi_gsetpal(Addr args) {
  std::uint32_t w[4];
  if (!read_args(args, 4, w)) return 0;
  return copy_palette(s32(w[0]), w[1], s32(w[2]), w[3], false);
}

std::uint32_t bi_ginfo(Addr args) {
  std::uint32_t w[2];
  if (!read_args(args, 2, w)) return 0;
  if (!w[1]) return 1;
  std::uint8_t* out = wspan(w[1], 24);
  if (!out) return 0;
  std::uint32_t v[6] = {};
  if (Plane* p = plane_at(s32(w[0]))) {
    v[0] = std::uint32_t(p->width);
    v[1] = std::uint32_t(p->height);
    v[2] = std::uint32_t(p->bpp);
    v[3] = (p->width && p->height) ? p->bits + std::uint32_t(p->height - 1) * std::uint32_t(p->stride) : 0;
    v[4] = std::uint32_t(-p->stride);
    v[5] = p->colors_addr();
  }
  std::memcpy(out, v, sizeof v);
  return 1;
}

namespace {

std::uint32_t finish_diff(std::uint32_t slot, std::uint32_t x, std::uint32_t y,
                          const std::uint8_t* data, std::uint64_t size, std::uint32_t rect_addr) {
  Rect r;
  if (!apply_diff(plane_at(s32(slot)), s32(x), s32(y), data, size, &r)) return 0;
  if (rect_addr) {
    std::int32_t v[4] = {r.left, r.top, r.right, r.bottom};
    if (!write_bytes(rect_addr, v, 16)) return 0;
  }
  return 1;
}

}  // namespace

std::uint32_t bi_dload(Addr args) {
  std::uint32_t w[5];
  if (!read_args(args, 5, w) || !w[3]) return 0;
  auto path = cstr(w[3], kMaxPath);
  if (!path || !plane_at(s32(w[0]))) return 0;
  std::string data;
  if (!storage::ReadWholeExpFile(*path, data)) return 0;
  return finish_diff(w[0], w[1], w[2], reinterpret_cast<const std::uint8_t*>(data.data()),
                     data.size(), w[4]);
}

std::uint32_t bi_dcopy(Addr args) {
  std::uint32_t w[5];
  if (!read_args(args, 5, w)) return 0;
  std::uint64_t limit = script_space().limit();
  if (w[3] < kLowLimit || w[3] >= limit) return 0;
  const std::uint8_t* data = span(w[3], limit - w[3]);
  return finish_diff(w[0], w[1], w[2], data, limit - w[3], w[4]);
}

}  // namespace talven::graphics
