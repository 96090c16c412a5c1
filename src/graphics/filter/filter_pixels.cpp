// Pixel filters: noise, slice, fire, gradation, mosaic, monotone, blur.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/random.h"
#include "graphics/filter/filter_util.h"
#include "graphics/filter/filters.h"
#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"

namespace talven::graphics {

using namespace filter_detail;

namespace {

// The filter's area in one plane: the rectangle (null: whole plane) cut to the clip.
Rect clipped_area(const Plane& p, const Rect* r) { return intersect(r ? *r : p.bounds(), p.clip); }

// Channels of a pixel as separate values: one per byte, or the three 5-bit
// fields of a 16-bit pixel.
int channel_count(int bytes) { return bytes == 2 ? 3 : bytes; }

inline void get_channels(const std::uint8_t* p, int bytes, int* c) {
  if (bytes == 2) {
    const int v = p[0] | p[1] << 8;
    c[0] = v & 31, c[1] = (v >> 5) & 31, c[2] = (v >> 10) & 31;
  } else {
    for (int i = 0; i < bytes; ++i) c[i] = p[i];
  }
}

inline void put_channels(std::uint8_t* p, int bytes, const int* c) {
  if (bytes == 2) {
    const int v = c[0] | c[1] << 5 | c[2] << 10;
    p[0] = std::uint8_t(v), p[1] = std::uint8_t(v >> 8);
  } else {
    for (int i = 0; i < bytes; ++i) p[i] = std::uint8_t(c[i]);
  }
}

}  // namespace

// ---- noise, slice, fire ---------------------------------------------------------

int noise(Plane* p, const Rect* rect, std::int32_t amount) {
  if (!p || (p->bpp != 16 && p->bpp != 24 && p->bpp != 32) || amount <= 0) return 0;
  const Rect r = clipped_area(*p, rect);
  if (r.empty()) return 0;
  const View v = plane_view(*p);
  const auto& t = kernel_tables();
  const int e = amount >= 256 ? 0 : 255 - amount;
  const int e16 = e / 8;
  for (std::int64_t y = r.top; y < r.bottom; ++y) {
    std::uint32_t counter = std::uint32_t(mt_rand31());
    const std::uint32_t grow = std::uint32_t(mt_rand31());
    std::uint8_t* px = v.at(r.left, y);
    for (std::int64_t x = r.left; x < r.right; ++x, px += v.bytes, counter += grow) {
      if (v.bytes == 2) {
        const int n = int(counter & 31);
        if (n <= e16) continue;
        int c[3];
        get_channels(px, 2, c);
        for (int& ch : c) ch = std::min(ch + n - e16, 31);
        const int bit15 = px[1] & 0x80;
        put_channels(px, 2, c);
        px[1] = std::uint8_t(px[1] | bit15);
      } else {
        const int n = int(counter & 255);
        if (n <= e) continue;
        for (int i = 0; i < 3; ++i) px[i] = t.clamp(px[i] + n - e);
      }
    }
  }
  return 1;
}

int slice(Plane* p, const Rect* rect, std::int32_t amount) {
  if (!filter_depth(p) || amount <= 0) return 0;
  const Rect r = clipped_area(*p, rect);
  if (r.empty()) return 0;
  const std::int64_t w = r.width();
  const std::int64_t a = w * std::min(amount, 256) / 256;
  if (a == 0) return 1;
  const View v = plane_view(*p);
  const int bytes = v.bytes;
  std::vector<std::uint8_t> line(std::size_t(w * bytes));
  for (std::int64_t y = r.top; y < r.bottom; ++y) {
    const std::int64_t shift = mt_rand31() % (2 * a) - a;
    std::uint8_t* row = v.at(r.left, y);
    std::memcpy(line.data(), row, line.size());
    std::memset(row, 0, line.size());
    // Pixel x takes old pixel x - shift.
    const std::int64_t from = std::max<std::int64_t>(0, shift), to = std::min(w, w + shift);
    if (to > from)
      std::memcpy(row + from * bytes, line.data() + (from - shift) * bytes,
                  std::size_t((to - from) * bytes));
  }
  return 1;
}

int fire(Plane* p, const Rect* rect) {
  if (!filter_depth(p)) return 0;
  const Rect r = clipped_area(*p, rect);
  if (r.empty() || r.height() < 2) return 0;
  const View v = plane_view(*p);
  const int bytes = v.bytes;
  const auto& t = kernel_tables();
  for (std::int64_t y = r.top + 1; y < r.bottom; ++y) {
    const std::uint8_t* from = v.at(r.left, y);
    for (std::int64_t x = r.left; x < r.right; ++x, from += bytes) {
      const std::int64_t tx =
          std::clamp<std::int64_t>(x + mt_rand31() % 3 - 1, r.left, r.right - 1);
      std::uint8_t* to = v.at(tx, y - 1);
      switch (bytes) {
        case 1: to[0] = std::uint8_t(from[0] > 2 ? from[0] - 2 : 0); break;
        case 2: {
          int c[3];
          get_channels(from, 2, c);
          for (int& ch : c) ch = std::max(ch - 1, 0);
          const int bit15 = from[1] & 0x80;
          put_channels(to, 2, c);
          to[1] = std::uint8_t(to[1] | bit15);
          break;
        }
        default:
          for (int i = 0; i < bytes; ++i) to[i] = t.clamp(from[i] - 1);
      }
    }
  }
  return 1;
}

// ---- gradation and mosaic ------------------------------------------------------

int gradation(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, const Rect* src_rect) {
  if (!filter_depth(dst) || !src || src->bpp != dst->bpp) return 0;
  const Rect sr = source_rect(*src, src_rect);
  if (sr.empty()) return 0;
  const Rect area = placed_area(*dst, x, y, sr);
  if (area.empty()) return 0;
  SourceArea sa(*src, sr, src == dst);
  const View dv = plane_view(*dst);
  const int bytes = dv.bytes, channels = channel_count(bytes);
  for (std::int64_t dy = area.top; dy < area.bottom; ++dy) {
    const std::int64_t sy = sr.top + (dy - y);
    const std::int64_t up = sy > sr.top ? sy - 1 : sy, down = sy + 1 < sr.bottom ? sy + 1 : sy;
    std::uint8_t* out = dv.at(area.left, dy);
    for (std::int64_t dx = area.left; dx < area.right; ++dx, out += bytes) {
      const std::int64_t sx = sr.left + (dx - x);
      const std::int64_t left = sx > sr.left ? sx - 1 : sx, right = sx + 1 < sr.right ? sx + 1 : sx;
      int a[4], b[4], c[4], d[4], m[4];
      get_channels(sa.view.at(sx, up), bytes, a);
      get_channels(sa.view.at(sx, down), bytes, b);
      get_channels(sa.view.at(left, sy), bytes, c);
      get_channels(sa.view.at(right, sy), bytes, d);
      for (int i = 0; i < channels; ++i) m[i] = (a[i] + b[i] + c[i] + d[i]) >> 2;
      put_channels(out, bytes, m);
    }
  }
  return 1;
}

namespace {

// Copies the source area 1:1 (mosaic with one-pixel blocks).
void plain_copy(const View& dv, const View& sv, const Rect& area, std::int32_t x, std::int32_t y,
                const Rect& sr) {
  const std::size_t n = std::size_t(area.width() * dv.bytes);
  for (std::int64_t dy = area.top; dy < area.bottom; ++dy)
    std::memmove(dv.at(area.left, dy),
                 sv.at(sr.left + (area.left - std::int64_t(x)), sr.top + (dy - y)), n);
}

// Mean of n packed pixels.
std::uint32_t mean_pixel(const std::uint32_t* s, int n, int bytes) {
  if (bytes == 2) {
    std::uint32_t lo = 0, mid = 0;
    for (int i = 0; i < n; ++i) lo += s[i] & 0x7C1F, mid += s[i] & 0x3E0;
    const int shift = n == 4 ? 2 : n == 2 ? 1 : 0;
    return ((lo >> shift) & 0x7C1F) | ((mid >> shift) & 0x3E0);
  }
  std::uint32_t out = 0;
  for (int b = 0; b < bytes; ++b) {
    std::uint32_t sum = 0;
    for (int i = 0; i < n; ++i) sum += (s[i] >> (8 * b)) & 0xFF;
    out |= (sum / std::uint32_t(n)) << (8 * b);
  }
  return out;
}

}  // namespace

int mosaic(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, const Rect* src_rect,
           std::int32_t block_w, std::int32_t block_h) {
  if (!filter_depth(dst) || !src || src->bpp != dst->bpp) return 0;
  const Rect sr = source_rect(*src, src_rect);
  if (sr.empty()) return 0;
  const Rect area = placed_area(*dst, x, y, sr);
  if (area.empty()) return 0;
  std::int64_t bw = std::llabs(std::int64_t(block_w)), bh = std::llabs(std::int64_t(block_h));
  if (bw < 2) bw = 1;
  if (bh < 2) bh = 1;
  SourceArea sa(*src, sr, src == dst);
  const View dv = plane_view(*dst);
  const int bytes = dv.bytes;
  if (bw == 1 && bh == 1) {
    plain_copy(dv, sa.view, area, x, y, sr);
    return 1;
  }
  auto value = [&](std::int64_t sx, std::int64_t sy) {
    const std::uint8_t* p = sa.view.at(sx, sy);
    std::uint32_t v = 0;
    std::memcpy(&v, p, std::size_t(bytes));
    return v;
  };
  // Blocks are laid from (x, y), the source's top-left, whatever the clip.
  const std::int64_t first_by = (area.top - std::int64_t(y)) / bh,
                     last_by = (area.bottom - 1 - std::int64_t(y)) / bh;
  const std::int64_t first_bx = (area.left - std::int64_t(x)) / bw,
                     last_bx = (area.right - 1 - std::int64_t(x)) / bw;
  for (std::int64_t by = first_by; by <= last_by; ++by) {
    const std::int64_t oy0 = by * bh,
                       oy1 = std::min(oy0 + bh, sr.height()) - 1;  // offsets in the source
    for (std::int64_t bx = first_bx; bx <= last_bx; ++bx) {
      const std::int64_t ox0 = bx * bw, ox1 = std::min(ox0 + bw, sr.width()) - 1;
      std::uint32_t s[4];
      int n;
      const std::int64_t l = sr.left + ox0, r = sr.left + ox1, t = sr.top + oy0, b = sr.top + oy1;
      if (l == r && t == b) {
        s[0] = value(l, t), n = 1;
      } else if (l == r || t == b) {
        s[0] = value(l, t), s[1] = value(r, b), n = 2;
      } else {
        s[0] = value(l, t), s[1] = value(r, t), s[2] = value(l, b), s[3] = value(r, b), n = 4;
      }
      const std::uint32_t c = mean_pixel(s, n, bytes);
      const std::int64_t x0 = std::max<std::int64_t>(area.left, x + ox0),
                         x1 = std::min<std::int64_t>(area.right, x + ox1 + 1);
      const std::int64_t y0 = std::max<std::int64_t>(area.top, y + oy0),
                         y1 = std::min<std::int64_t>(area.bottom, y + oy1 + 1);
      for (std::int64_t py = y0; py < y1; ++py) {
        std::uint8_t* out = dv.at(x0, py);
        for (std::int64_t px = x0; px < x1; ++px, out += bytes)
          std::memcpy(out, &c, std::size_t(bytes));
      }
    }
  }
  return 1;
}

// ---- monotone ---------------------------------------------------------------------

int monotone(Plane* p, const Rect* rect, std::uint32_t dark, std::uint32_t light) {
  if (!p || (p->bpp != 16 && p->bpp != 24 && p->bpp != 32)) return 0;
  const Rect r = clipped_area(*p, rect);
  if (r.empty()) return 0;
  const std::uint32_t d = color_to_rgb(dark), l = color_to_rgb(light);
  std::uint8_t table[3][256];  // blue, green, red
  for (int c = 0; c < 3; ++c) {
    const int dc = int(d >> (8 * c) & 0xFF), lc = int(l >> (8 * c) & 0xFF);
    for (int i = 0; i < 256; ++i) table[c][i] = std::uint8_t(dc + (lc - dc) * i / 255);
  }
  const View v = plane_view(*p);
  const auto& t = kernel_tables();
  for (std::int64_t y = r.top; y < r.bottom; ++y) {
    std::uint8_t* px = v.at(r.left, y);
    for (std::int64_t x = r.left; x < r.right; ++x, px += v.bytes) {
      std::uint32_t b, g, rr;
      if (v.bytes == 2) {
        const std::uint32_t c = t.expand15[(px[0] | px[1] << 8) & 0x7FFF];
        b = c & 0xFF, g = c >> 8 & 0xFF, rr = c >> 16 & 0xFF;
      } else {
        b = px[0], g = px[1], rr = px[2];
      }
      const std::uint32_t grey = (19595 * rr + 38470 * g + 7471 * b) >> 16;
      const std::uint32_t nb = table[0][grey], ng = table[1][grey], nr = table[2][grey];
      if (v.bytes == 2) {
        const std::uint32_t packed =
            (nb >> 3) | (ng >> 3) << 5 | (nr >> 3) << 10 | (px[1] & 0x80u) << 8;
        px[0] = std::uint8_t(packed), px[1] = std::uint8_t(packed >> 8);
      } else {
        px[0] = std::uint8_t(nb), px[1] = std::uint8_t(ng), px[2] = std::uint8_t(nr);
      }
    }
  }
  return 1;
}

// ---- blur ----------------------------------------------------------------------------

namespace {

// Columns per parallel strip of the vertical blur: a strip walks down its
// columns with one running sum per channel, reading whole cache lines.
constexpr std::int64_t kStripColumns = 64;

template <int B>
void blur_rows(const View& dv, const View& sv, const Rect& area, const Rect& sr, std::int64_t ox,
               std::int64_t oy, int radius) {
  const std::uint32_t mult = 65536u / std::uint32_t(2 * radius + 1);
  const std::int64_t last = sr.right - 1;
  for_rows(area.top, area.bottom, area.width(), [&](int y) {
    const std::uint8_t* row = sv.row(sr.top + (y - oy));
    auto px = [&](std::int64_t sx) {
      return row + std::clamp<std::int64_t>(sx, sr.left, last) * B;
    };
    const std::int64_t sx0 = sr.left + (area.left - ox);
    std::uint32_t sum[B] = {};
    for (std::int64_t k = -radius; k <= radius; ++k)
      for (int c = 0; c < B; ++c) sum[c] += px(sx0 + k)[c];
    std::uint8_t* out = dv.at(area.left, y);
    const std::int64_t n = area.width();
    for (std::int64_t i = 0; i < n; ++i, out += B) {
      for (int c = 0; c < B; ++c) out[c] = std::uint8_t((sum[c] * mult + 0x8000) >> 16);
      const std::uint8_t *in = px(sx0 + i + radius + 1), *gone = px(sx0 + i - radius);
      for (int c = 0; c < B; ++c) sum[c] += in[c] - gone[c];
    }
  });
}

template <int B>
void blur_columns(const View& dv, const View& sv, const Rect& area, const Rect& sr, std::int64_t ox,
                  std::int64_t oy, int radius) {
  const std::uint32_t mult = 65536u / std::uint32_t(2 * radius + 1);
  const std::int64_t width = area.width(), height = area.height();
  const int strips = int((width + kStripColumns - 1) / kStripColumns);
  const std::int64_t sx0 = sr.left + (area.left - ox), sy0 = sr.top + (area.top - oy);
  for_rows(0, strips, kStripColumns * height, [&](int strip) {
    const std::int64_t c0 = strip * kStripColumns, n = std::min(kStripColumns, width - c0);
    const std::size_t lanes = std::size_t(n * B);
    std::uint32_t sum[kStripColumns * 4] = {};
    auto row = [&](std::int64_t sy) {
      return sv.at(sx0 + c0, std::clamp<std::int64_t>(sy, sr.top, sr.bottom - 1));
    };
    for (std::int64_t k = -radius; k <= radius; ++k) {
      const std::uint8_t* s = row(sy0 + k);
      for (std::size_t i = 0; i < lanes; ++i) sum[i] += s[i];
    }
    for (std::int64_t j = 0; j < height; ++j) {
      std::uint8_t* out = dv.at(area.left + c0, area.top + j);
      for (std::size_t i = 0; i < lanes; ++i) out[i] = std::uint8_t((sum[i] * mult + 0x8000) >> 16);
      const std::uint8_t *in = row(sy0 + j + radius + 1), *gone = row(sy0 + j - radius);
      for (std::size_t i = 0; i < lanes; ++i) sum[i] += in[i] - gone[i];
    }
  });
}

}  // namespace

int blur(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, const Rect* src_rect,
         std::int32_t radius) {
  if (!dst || !src || src->bpp != dst->bpp || (dst->bpp != 8 && dst->bpp != 24 && dst->bpp != 32))
    return 0;
  const Rect sr = source_rect(*src, src_rect);
  if (sr.empty()) return 0;
  const Rect area = placed_area(*dst, x, y, sr);
  if (area.empty()) return 0;
  const bool horizontal = radius > 0;
  const int r = int(std::min<std::int64_t>(std::llabs(std::int64_t(radius)), 127));
  SourceArea sa(*src, sr, src == dst);
  const View dv = plane_view(*dst);
  if (r == 0) {
    plain_copy(dv, sa.view, area, x, y, sr);
    return 1;
  }
  switch (dv.bytes) {
    case 1:
      horizontal ? blur_rows<1>(dv, sa.view, area, sr, x, y, r)
                 : blur_columns<1>(dv, sa.view, area, sr, x, y, r);
      break;
    case 3:
      horizontal ? blur_rows<3>(dv, sa.view, area, sr, x, y, r)
                 : blur_columns<3>(dv, sa.view, area, sr, x, y, r);
      break;
    default:
      horizontal ? blur_rows<4>(dv, sa.view, area, sr, x, y, r)
                 : blur_columns<4>(dv, sa.view, area, sr, x, y, r);
  }
  return 1;
}

}  // namespace talven::graphics
