// Shape fills: gclear's solid rectangle, gfill's translucent rectangle,
// gline (anti-aliased unless axis-aligned) and gpoly (even-odd rule).
// Colours are 0xAARRGGBB; the top byte is the alpha of the blend.
#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"
#include "script/thread_owned.h"

namespace talven::graphics {

namespace {

bool drawable(const Plane* p) {
  return p && (p->bpp == 8 || p->bpp == 16 || p->bpp == 24 || p->bpp == 32);
}

// Blends one pixel as gfill does: 32-bit planes are layered with the alpha,
// the others mix each channel (an 8-bit plane's index numerically).
inline void blend_pixel(const KernelTables& t, int bpp, std::uint8_t* d, std::uint32_t color,
                        int a) {
  if (a == 0) return;
  const int b = color & 0xFF, g = (color >> 8) & 0xFF, r = (color >> 16) & 0xFF;
  auto mix = [&](int x, int y, int w) { return t.mul[w][x] + t.mul[255 - w][y]; };
  switch (bpp) {
    case 8: d[0] = std::uint8_t(mix(b, d[0], a)); break;
    case 16: {
      std::uint32_t v = t.expand15[(d[0] | d[1] << 8) & 0x7FFF];
      int nb = mix(b, v & 0xFF, a), ng = mix(g, (v >> 8) & 0xFF, a), nr = mix(r, v >> 16, a);
      std::uint16_t p = std::uint16_t((nr >> 3) << 10 | (ng >> 3) << 5 | (nb >> 3));
      d[0] = std::uint8_t(p);
      d[1] = std::uint8_t(p >> 8);
      break;
    }
    case 24:
      d[0] = std::uint8_t(mix(b, d[0], a));
      d[1] = std::uint8_t(mix(g, d[1], a));
      d[2] = std::uint8_t(mix(r, d[2], a));
      break;
    default:
      if (a == 255) {
        d[0] = std::uint8_t(b), d[1] = std::uint8_t(g), d[2] = std::uint8_t(r), d[3] = 255;
      } else {
        int w = t.over[a][d[3]];
        d[0] = std::uint8_t(mix(b, d[0], w));
        d[1] = std::uint8_t(mix(g, d[1], w));
        d[2] = std::uint8_t(mix(r, d[2], w));
        d[3] = t.screen[a][d[3]];
      }
      break;
  }
}

}  // namespace

int solid_fill(Plane* p, const Rect* r, std::uint32_t color) {
  if (!drawable(p)) return 0;
  Rect area = intersect(r ? *r : p->bounds(), p->clip);
  if (area.empty()) return 0;
  const int bytes = p->bpp / 8;
  std::uint8_t px[4];
  switch (bytes) {
    case 1: px[0] = std::uint8_t(color); break;
    case 2: {
      std::uint16_t v = std::uint16_t(((color >> 19) & 31) << 10 | ((color >> 11) & 31) << 5 |
                                      ((color >> 3) & 31));
      px[0] = std::uint8_t(v), px[1] = std::uint8_t(v >> 8);
      break;
    }
    default: std::memcpy(px, &color, 4); break;
  }
  const int w = area.width();
  for_rows(area.top, area.bottom, area.width(), [&](int y) {
    std::uint8_t* d = p->row(y) + std::int64_t(area.left) * bytes;
    if (bytes == 1) {
      std::memset(d, px[0], std::size_t(w));
    } else {
      for (int x = 0; x < w; ++x, d += bytes) std::memcpy(d, px, bytes);
    }
  });
  return 1;
}

int gfill(Plane* p, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
          std::uint32_t color) {
  if (!drawable(p)) return 0;
  const int a = int(color >> 24);
  if (a == 0) return 1;
  Rect r{x, y, std::int32_t(std::clamp<std::int64_t>(std::int64_t(x) + w, INT32_MIN, INT32_MAX)),
         std::int32_t(std::clamp<std::int64_t>(std::int64_t(y) + h, INT32_MIN, INT32_MAX))};
  Rect area = intersect(r, p->clip);
  if (area.empty()) return 0;
  const KernelTables& t = kernel_tables();
  const int bytes = p->bpp / 8;
  for_rows(area.top, area.bottom, area.width(), [&](int yy) {
    std::uint8_t* d = p->row(yy) + std::int64_t(area.left) * bytes;
    for (int i = area.left; i < area.right; ++i, d += bytes) blend_pixel(t, p->bpp, d, color, a);
  });
  return 1;
}

namespace {

// Whether v lies between a and b, both included.
bool between(std::int64_t v, std::int64_t a, std::int64_t b) {
  return a <= b ? a <= v && v <= b : b <= v && v <= a;
}

// Moves end point (x, y) along the segment towards (ox, oy) until it lies in
// [0, w) x [0, h): x first, then y. An end is only ever moved to an edge the
// segment reaches before (ox, oy), so the clipped ends stay on the segment;
// false when no such point exists (the segment stays outside).
bool clip_end(std::int64_t& x, std::int64_t& y, std::int64_t ox, std::int64_t oy, std::int64_t w,
              std::int64_t h) {
  auto move_x = [&](std::int64_t to) {
    if (ox == x || !between(to, x, ox)) return false;
    y += std::int64_t(__int128(to - x) * (oy - y) / (ox - x));
    x = to;
    return true;
  };
  auto move_y = [&](std::int64_t to) {
    if (oy == y || !between(to, y, oy)) return false;
    x += std::int64_t(__int128(to - y) * (ox - x) / (oy - y));
    y = to;
    return true;
  };
  if (x < 0 && !move_x(0)) return false;
  if (x >= w && !move_x(w - 1)) return false;
  if (y < 0 && !move_y(0)) return false;
  if (y >= h && !move_y(h - 1)) return false;
  return x >= 0 && x < w && y >= 0 && y < h;
}

}  // namespace

int gline(Plane* p, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
          std::uint32_t color) {
  if (!drawable(p)) return 0;
  const int a = int(color >> 24);
  if (a == 0) return 1;
  std::int64_t ax = x1, ay = y1, bx = x2, by = y2;
  const std::int64_t W = p->width, H = p->height;
  std::int64_t oax = ax, oay = ay;
  if (!clip_end(ax, ay, bx, by, W, H)) return 0;
  if (!clip_end(bx, by, oax, oay, W, H)) return 0;
  const KernelTables& t = kernel_tables();
  auto put = [&](std::int64_t x, std::int64_t y, int weight) {
    if (std::uint8_t* d = p->pixel(int(x), int(y))) blend_pixel(t, p->bpp, d, color, weight);
  };
  if (ay == by || ax == bx) {
    std::int64_t sx = ax < bx ? 1 : (ax > bx ? -1 : 0), sy = ay < by ? 1 : (ay > by ? -1 : 0);
    for (std::int64_t x = ax, y = ay;; x += sx, y += sy) {
      put(x, y, a);
      if (x == bx && y == by) break;
    }
    return 1;
  }
  const bool x_major = std::llabs(bx - ax) >= std::llabs(by - ay);
  // Walk along the longer axis in increasing order.
  if ((x_major && ax > bx) || (!x_major && ay > by)) {
    std::swap(ax, bx);
    std::swap(ay, by);
  }
  const std::int64_t dlong = x_major ? bx - ax : by - ay;
  const std::int64_t dshort = x_major ? by - ay : bx - ax;
  std::int64_t pos = (x_major ? ay : ax) * 65536;
  if (dshort <= 0) pos -= 1;
  std::int64_t step = dshort * 65536 / dlong + (dshort <= 0 ? 1 : -1);
  for (std::int64_t i = 0; i <= dlong; ++i, pos += step) {
    const int f = int((pos >> 8) & 0xFF);
    const std::int64_t s = pos >> 16;
    const std::int64_t l = (x_major ? ax : ay) + i;
    if (x_major) {
      put(l, s, t.mul[a][255 - f]);
      put(l, s + 1, t.mul[a][f]);
    } else {
      put(s, l, t.mul[a][255 - f]);
      put(s + 1, l, t.mul[a][f]);
    }
  }
  return 1;
}

int gpoly(Plane* p, const std::int32_t* pts, std::int32_t count, std::uint32_t color) {
  if (!drawable(p) || count < 3 || !pts) return 0;
  const int a = int(color >> 24);
  if (a == 0) return 0;
  const Rect clip = p->clip;
  if (clip.empty()) return 0;
  struct Edge {
    std::int64_t x;      // 16.16 at the upper end
    std::int64_t upper;  // first row
    std::int64_t lower;  // row past the end
    std::int64_t slope;  // 16.16 per row
  };
  std::vector<Edge> edges;
  edges.reserve(std::size_t(count));
  for (int i = 0; i < count; ++i) {
    std::int64_t x0 = pts[2 * i], y0 = pts[2 * i + 1];
    std::int64_t x1 = pts[2 * ((i + 1) % count)], y1 = pts[2 * ((i + 1) % count) + 1];
    if (y0 == y1) continue;
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    if (y1 <= clip.top || y0 >= clip.bottom) continue;
    edges.push_back(Edge{x0 * 65536, y0, y1, (x1 - x0) * 65536 / (y1 - y0)});
  }
  if (edges.empty()) return 1;
  const KernelTables& t = kernel_tables();
  const int bytes = p->bpp / 8;
  for_rows(clip.top, clip.bottom, clip.width(), [&](int y) {
    std::vector<std::int64_t>& xs = script::thread_owned<std::vector<std::int64_t>>([] {});
    xs.clear();
    for (const Edge& e : edges)
      if (y >= e.upper && y < e.lower) xs.push_back(e.x + e.slope * (y - e.upper));
    for (std::size_t i = 1; i < xs.size(); ++i) {  // insertion sort: few edges per row
      std::int64_t v = xs[i];
      std::size_t j = i;
      for (; j > 0 && xs[j - 1] > v; --j) xs[j] = xs[j - 1];
      xs[j] = v;
    }
    std::uint8_t* row = p->row(y);
    for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
      std::int64_t l = std::max<std::int64_t>(xs[i] >> 16, clip.left);
      std::int64_t r = std::min<std::int64_t>(xs[i + 1] >> 16, clip.right - 1);
      for (std::int64_t x = l; x <= r; ++x) blend_pixel(t, p->bpp, row + x * bytes, color, a);
    }
  });
  return 1;
}

}  // namespace talven::graphics
