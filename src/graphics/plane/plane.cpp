// Planes, the plane table, palettes, colour values and difference images.
#include "graphics/plane/plane.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace talven::graphics {

namespace {

void put16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }
void put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
std::uint32_t get32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Colour distance tables: weighted squares of 6-bit differences, indexed by
// the difference wrapped to 7 bits.
struct DistanceTables {
  std::uint32_t red[128], green[128], blue[128];
  DistanceTables() {
    for (int i = 0; i < 128; ++i) {
      std::int32_t d = i < 64 ? i : i - 128;
      red[i] = 900u * d * d;
      green[i] = 3481u * d * d;
      blue[i] = 121u * d * d;
    }
  }
};
const DistanceTables& distance_tables() {
  static const DistanceTables t;
  return t;
}

std::uint32_t g_palette_serial = 0;

}  // namespace

// ---- rectangles ------------------------------------------------------------

Rect intersect(const Rect& a, const Rect& b) {
  return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

Rect normalized(const Rect& r) {
  Rect n = r;
  if (n.right < n.left) std::swap(n.left, n.right);
  if (n.bottom < n.top) std::swap(n.top, n.bottom);
  return n;
}

bool load_rect(Addr addr, Rect& out) {
  const std::uint8_t* p = span(addr, 16);
  if (!p) return false;
  std::memcpy(&out.left, p, 4);
  std::memcpy(&out.top, p + 4, 4);
  std::memcpy(&out.right, p + 8, 4);
  std::memcpy(&out.bottom, p + 12, 4);
  return true;
}

// ---- planes ----------------------------------------------------------------

Plane::~Plane() {
  if (bits) script_free(bits);
  if (info) script_free(info);
}

std::uint32_t Plane::colors_used() const { return get32(header + 32); }
void Plane::set_colors_used(std::uint32_t n) {
  put32(header + 32, n);
  put32(header + 36, n);
}

std::uint32_t Plane::color(int i) const {
  if (i < 0 || i >= table_entries) return 0;
  return get32(header + 40 + 4 * i) & 0xFFFFFF;
}

std::uint8_t* Plane::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return nullptr;
  return row(y) + (std::int64_t(x) * bpp) / 8;
}

std::int64_t row_stride(std::int64_t width, int bpp) { return ((bpp * width + 31) / 32) * 4; }

void default_color_table(Plane& p) {
  std::uint8_t* t = p.colors();
  if (!t) return;
  auto set = [&](int i, int r, int g, int b) {
    t[4 * i] = std::uint8_t(b);
    t[4 * i + 1] = std::uint8_t(g);
    t[4 * i + 2] = std::uint8_t(r);
    t[4 * i + 3] = 0;
  };
  if (p.bpp == 1) {
    set(0, 0, 0, 0);
    set(1, 255, 255, 255);
  } else if (p.bpp == 4) {
    // Two-bit levels per channel, bit 3 the high bit of each; the levels are
    // spread evenly: 0, 85, 170, 255.
    for (int i = 0; i < 16; ++i) {
      int hi = (i >> 3) & 1;
      int r = hi << 1 | ((i >> 2) & 1);
      int g = hi << 1 | ((i >> 1) & 1);
      int b = hi << 1 | (i & 1);
      set(i, r * 85, g * 85, b * 85);
    }
  } else if (p.bpp == 8) {
    for (int i = 0; i < 256; ++i)
      set(i, ((i >> 5) & 7) * 255 / 7, ((i >> 2) & 7) * 255 / 7, (i & 3) * 85);
  }
}

PlanePtr CreatePlane(std::int32_t width, std::int32_t height, std::int32_t bpp) {
  if (width < 0 || height < 0) return nullptr;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
  std::int64_t stride = row_stride(width, bpp);
  std::uint64_t image = std::uint64_t(stride) * std::uint64_t(height);
  if (stride > 0x7FFFFFFF || image > 0xF0000000u) return nullptr;
  int entries = bpp <= 8 ? 1 << bpp : 0;

  auto p = std::make_unique<Plane>();
  p->info = script_zalloc(40 + 4 * entries);
  if (!p->info) return nullptr;
  p->bits = script_zalloc(std::uint32_t(image));
  if (!p->bits) return nullptr;  // the destructor frees info
  p->header = span(p->info, 40 + 4 * entries);
  p->pixels = span(p->bits, image);
  p->width = width;
  p->height = height;
  p->bpp = bpp;
  p->stride = std::int32_t(stride);
  p->table_entries = entries;
  p->clip = Rect{0, 0, width, height};

  std::uint8_t* h = p->header;
  put32(h, 40);
  put32(h + 4, std::uint32_t(width));
  put32(h + 8, std::uint32_t(height));
  put16(h + 12, 1);
  put16(h + 14, std::uint16_t(bpp));
  put32(h + 16, 0);
  put32(h + 20, std::uint32_t(image));
  put32(h + 24, 0);
  put32(h + 28, 0);
  p->set_colors_used(std::uint32_t(entries));
  default_color_table(*p);
  return p;
}

// ---- the plane table -------------------------------------------------------

PlaneTableState& PlaneTable() {
  static PlaneTableState state;
  return state;
}

Plane* plane_at(std::int32_t slot) {
  if (slot < 0 || slot >= kPlaneSlots) return nullptr;
  return PlaneTable().slots[slot].plane.get();
}

Plane* mask_of(std::int32_t slot) {
  if (slot < 0 || slot >= kPlaneSlots) return nullptr;
  return plane_at(PlaneTable().slots[slot].mask);
}

bool set_plane(std::int32_t slot, PlanePtr plane) {
  if (slot < 0 || slot >= kPlaneSlots) return false;
  PlaneTable().slots[slot].plane = std::move(plane);
  return true;
}

void free_plane(std::int32_t slot) {
  if (slot >= 0 && slot < kPlaneSlots) PlaneTable().slots[slot].plane.reset();
}

void reset_planes() {
  for (auto& s : PlaneTable().slots) {
    s.plane.reset();
    s.mask = -1;
  }
}

std::int32_t plane_width(const Plane* p) { return p ? p->width : 0; }
std::int32_t plane_height(const Plane* p) { return p ? p->height : 0; }
std::int32_t plane_bpp(const Plane* p) { return p ? p->bpp : 0; }

// ---- palettes --------------------------------------------------------------

std::array<std::uint32_t, 256>& ScriptPalette() {
  static std::array<std::uint32_t, 256> palette{};
  return palette;
}

std::array<std::uint8_t, 1024>& DisplayPalette() {
  static std::array<std::uint8_t, 1024> palette{};
  return palette;
}

std::array<std::uint8_t, 32768>& InverseColorMap() {
  static std::array<std::uint8_t, 32768> map{};
  return map;
}

std::uint32_t display_palette_serial() { return g_palette_serial; }

void pal_change() {
  auto& d = DisplayPalette();
  const auto& s = ScriptPalette();
  for (int i = 0; i < 256; ++i) {
    d[4 * i] = std::uint8_t(s[i]);
    d[4 * i + 1] = std::uint8_t(s[i] >> 8);
    d[4 * i + 2] = std::uint8_t(s[i] >> 16);
    d[4 * i + 3] = 0;
  }
  ++g_palette_serial;
}

std::uint32_t color_to_rgb(std::uint32_t value) {
  if (value & kPaletteIndexFlag) {
    const std::uint8_t* e = &DisplayPalette()[4 * (value & 0xFF)];
    return std::uint32_t(e[2]) << 16 | std::uint32_t(e[1]) << 8 | e[0];
  }
  return value & 0xFFFFFF;
}

std::uint32_t color_to_index(std::uint32_t value) {
  if (value & kPaletteIndexFlag) return value;
  return nearest_palette_index(value);
}

std::uint32_t color_distance(std::uint32_t a, std::uint32_t b) {
  const auto& t = distance_tables();
  int dr = int((a >> 18) & 63) - int((b >> 18) & 63);
  int dg = int((a >> 10) & 63) - int((b >> 10) & 63);
  int db = int((a >> 2) & 63) - int((b >> 2) & 63);
  return t.red[dr & 127] + t.green[dg & 127] + t.blue[db & 127];
}

std::uint8_t nearest_palette_index(std::uint32_t rgb) {
  const auto& t = distance_tables();
  const auto& pal = DisplayPalette();
  int r = (rgb >> 18) & 63, g = (rgb >> 10) & 63, b = (rgb >> 2) & 63;
  std::uint32_t best = 0xFFFFFFFF;
  int best_index = 0;
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* e = &pal[4 * i];
    std::uint32_t sum = t.green[(g - (e[1] >> 2)) & 127];
    if (sum >= best) continue;
    sum += t.red[(r - (e[2] >> 2)) & 127];
    if (sum >= best) continue;
    sum += t.blue[(b - (e[0] >> 2)) & 127];
    if (sum >= best) continue;
    best = sum;
    best_index = i;
    if (sum == 0) break;
  }
  return std::uint8_t(best_index);
}

void build_inverse_color_map(const std::uint32_t* palette) {
  const auto& t = distance_tables();
  auto& map = InverseColorMap();
  map.fill(0);
  int pr[256], pg[256], pb[256];
  for (int i = 0; i < 256; ++i) {
    pr[i] = (palette[i] >> 18) & 63;
    pg[i] = (palette[i] >> 10) & 63;
    pb[i] = (palette[i] >> 2) & 63;
  }
  // Distance from an entry to the centre of a 5-bit cell, in 6-bit units.
  auto dist = [&](int entry, int cell) {
    int cr = ((cell >> 10) & 31) * 2 + 1, cg = ((cell >> 5) & 31) * 2 + 1, cb = (cell & 31) * 2 + 1;
    return t.red[(pr[entry] - cr) & 127] + t.green[(pg[entry] - cg) & 127] +
           t.blue[(pb[entry] - cb) & 127];
  };
  std::vector<std::uint16_t> work;
  work.reserve(1 << 16);
  for (int i = 1; i < 256; ++i) {
    int cell = int(rgb15(palette[i] & 0xFFFFFF));
    if (map[cell] == 0) {
      map[cell] = std::uint8_t(i);
      work.push_back(std::uint16_t(cell));
    }
  }
  for (std::size_t head = 0; head < work.size(); ++head) {
    int cell = work[head];
    int entry = map[cell];
    int r = (cell >> 10) & 31, g = (cell >> 5) & 31, b = cell & 31;
    const int nb[6][3] = {{r - 1, g, b}, {r + 1, g, b}, {r, g - 1, b},
                          {r, g + 1, b}, {r, g, b - 1}, {r, g, b + 1}};
    for (const auto& n : nb) {
      if (n[0] < 0 || n[0] > 31 || n[1] < 0 || n[1] > 31 || n[2] < 0 || n[2] > 31) continue;
      int other = n[0] << 10 | n[1] << 5 | n[2];
      int held = map[other];
      if (held == entry) continue;
      if (held == 0 || dist(entry, other) < dist(held, other)) {
        map[other] = std::uint8_t(entry);
        work.push_back(std::uint16_t(other));
      }
    }
    // Keep the list from growing without end on long runs.
    if (head > (1u << 20) && head * 2 > work.size()) {
      work.erase(work.begin(), work.begin() + std::ptrdiff_t(head) + 1);
      head = std::size_t(-1);
    }
  }
}

// ---- HSV -------------------------------------------------------------------

std::uint32_t rgbtohsv(std::uint32_t rgb) {
  int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  int mx = std::max({r, g, b}), mn = std::min({r, g, b});
  int v = mx;
  int s = mx == 0 ? 0 : (mx - mn) * 255 / mx;
  if (s == 0) return std::uint32_t(v);
  int d = mx - mn;
  int h;
  if (mx == r) h = (mx - b) * 255 / d - (mx - g) * 255 / d;
  else if (mx == g) h = 512 + (mx - r) * 255 / d - (mx - b) * 255 / d;
  else h = 1024 + (mx - g) * 255 / d - (mx - r) * 255 / d;
  if (h < 0) h += 1536;
  int hh = h * 4 / 3;
  return std::uint32_t(hh) << 16 | std::uint32_t(s) << 8 | std::uint32_t(v);
}

std::uint32_t hsvtorgb(std::uint32_t hsv) {
  int v = hsv & 0xFF, s = (hsv >> 8) & 0xFF, hh = (hsv >> 16) & 0x7FF;
  if (s == 0) return std::uint32_t(v) << 16 | std::uint32_t(v) << 8 | std::uint32_t(v);
  int h = hh * 1536 / 2048;
  int sector = h / 256, f = h % 256;
  int p = (255 - s) * v / 255;
  int q = (255 - s * f / 255) * v / 255;
  int t = (255 - (255 - f) * s / 255) * v / 255;
  int r, g, b;
  switch (sector) {
    case 0: r = v, g = t, b = p; break;
    case 1: r = q, g = v, b = p; break;
    case 2: r = p, g = v, b = t; break;
    case 3: r = p, g = q, b = v; break;
    case 4: r = t, g = p, b = v; break;
    default: r = v, g = p, b = q; break;
  }
  return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

// ---- pixels ----------------------------------------------------------------

std::uint32_t get_pixel_rgb(const Plane& p, int x, int y) {
  const std::uint8_t* px = p.pixel(x, y);
  if (!px) return 0;
  switch (p.bpp) {
    case 1: return p.color((*px >> (7 - (x & 7))) & 1);
    case 4: return p.color((x & 1) ? (*px & 0x0F) : (*px >> 4));
    case 8: return p.color(*px);
    case 16: {
      std::uint32_t v = std::uint32_t(px[0]) | std::uint32_t(px[1]) << 8;
      auto widen = [](std::uint32_t f) { return (f << 3) | (f >> 2); };
      return widen((v >> 10) & 31) << 16 | widen((v >> 5) & 31) << 8 | widen(v & 31);
    }
    default: return std::uint32_t(px[2]) << 16 | std::uint32_t(px[1]) << 8 | px[0];
  }
}

void set_clip(Plane& p, const Rect* r) {
  if (!r) {
    p.clip = p.bounds();
    return;
  }
  Rect n = normalized(*r);
  n.left = std::max(n.left, 0);
  n.top = std::max(n.top, 0);
  n.right = std::min(n.right, p.width);
  n.bottom = std::min(n.bottom, p.height);
  p.clip = n;
}

// ---- difference images -----------------------------------------------------

bool apply_diff(Plane* plane, std::int32_t x, std::int32_t y, const std::uint8_t* data,
                std::uint64_t size, Rect* header_rect) {
  if (!plane || !data || x < 0 || y < 0 || size < 32) return false;
  if (std::memcmp(data, "DIFF", 4) != 0) return false;
  int bits = data[12] | data[13] << 8;
  if (bits != plane->bpp || bits < 8) return false;
  Rect r;
  std::memcpy(&r.left, data + 16, 4);
  std::memcpy(&r.top, data + 20, 4);
  std::memcpy(&r.right, data + 24, 4);
  std::memcpy(&r.bottom, data + 28, 4);
  if (header_rect) *header_rect = r;
  if (r.empty()) return false;
  if (std::int64_t(x) + r.left < 0 || std::int64_t(x) + r.right > plane->width ||
      std::int64_t(y) + r.top < 0 || std::int64_t(y) + r.bottom > plane->height)
    return false;
  const int bpp = bits / 8;
  std::uint64_t pos = 32;
  std::int64_t cx = x, cy = y;
  // Every write is checked against the plane: the stream is outside data
  // and may wander past the rectangle it declares.
  while (pos < size) {
    std::uint8_t n = data[pos++];
    if (n) {
      cx += n;
      continue;
    }
    if (pos >= size) break;
    std::uint8_t m = data[pos++];
    if (m == 0) {
      cx = x;
      ++cy;
      continue;
    }
    if (m == 1) break;
    for (int i = 0; i < m - 1; ++i) {
      if (pos + bpp > size) return true;
      if (cx < plane->width && cy < plane->height)
        std::memcpy(plane->pixel(int(cx), int(cy)), data + pos, bpp);
      pos += bpp;
      ++cx;
    }
  }
  return true;
}

}  // namespace talven::graphics
