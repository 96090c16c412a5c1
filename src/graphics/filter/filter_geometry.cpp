// Geometric filters: freemap, rotate, smooth, tiled, scroll.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "graphics/filter/filter_util.h"
#include "graphics/filter/filters.h"
#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"
#include "script/thread_owned.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talven::graphics {

using namespace filter_detail;

namespace {

// Walks pos(k) = base + floor((step * k + bias) / den) one k at a time with
// integer remainders; den > 0. __int128 start-up so that any 32-bit
// geometry and step counts up to 2^24 stay exact.
struct Stepper {
  std::int64_t value = 0, rem = 0, den = 1, q = 0, r = 0;

  void start(std::int64_t base, std::int64_t step, std::int64_t bias, std::int64_t divisor,
             std::int64_t k) {
    den = divisor;
    __int128 num = __int128(step) * k + bias;
    __int128 qq = num / den, rr = num % den;
    if (rr < 0) rr += den, qq -= 1;
    value = base + std::int64_t(qq);
    rem = std::int64_t(rr);
    q = floor_div(step, den);
    r = step - q * den;
  }
  void next() {
    value += q;
    rem += r;
    if (rem >= den) rem -= den, ++value;
  }
};

// base + round(d * k / n) for k = 0..n; constant for n = 0.
void start_line(Stepper& s, std::int64_t base, std::int64_t d, std::int64_t n, std::int64_t k = 0) {
  if (n == 0) s.start(base, 0, 0, 1, 0);
  else s.start(base, 2 * d, n, 2 * n, k);
}

// One whole pixel; fixed-size copies so that no call is made per pixel.
inline void copy_pixel(std::uint8_t* d, const std::uint8_t* s, int bytes) {
  switch (bytes) {
    case 1: d[0] = s[0]; break;
    case 2: std::memcpy(d, s, 2); break;
    case 3: std::memcpy(d, s, 3); break;
    default: std::memcpy(d, s, 4);
  }
}

std::int64_t manhattan(const Point64& a, const Point64& b) {
  return std::llabs(b.x - a.x) + std::llabs(b.y - a.y);
}

// The k range [lo, hi] of a segment from a to a + d in m steps whose
// coordinate may fall inside [c0, c1); widened by two for rounding.
bool segment_range(std::int64_t a, std::int64_t d, std::int64_t m, std::int64_t c0, std::int64_t c1,
                   std::int64_t& lo, std::int64_t& hi) {
  if (d == 0) {
    if (a < c0 || a >= c1) return false;
    lo = 0, hi = m;
    return true;
  }
  const double k0 = double(c0 - a) * double(m) / double(d);
  const double k1 = double(c1 - a) * double(m) / double(d);
  double a0 = std::floor(std::min(k0, k1)) - 2, a1 = std::ceil(std::max(k0, k1)) + 2;
  a0 = std::max(a0, 0.0);
  a1 = std::min(a1, double(m));
  if (a0 > a1) return false;
  lo = std::int64_t(a0), hi = std::int64_t(a1);
  return true;
}

}  // namespace

int freemap(Plane* dst, const Point64* points, Plane* src, const Rect* src_rect, std::int32_t key) {
  if (!filter_depth(dst) || !src || src->bpp != dst->bpp) return 0;
  const Rect sr = source_rect(*src, src_rect);
  const Rect clip = dst->clip;
  if (sr.empty() || clip.empty()) return 0;
  Point64 p[4];
  if (points) {
    std::copy(points, points + 4, p);
  } else {
    p[0] = {0, 0};
    p[1] = {0, dst->height - 1};
    p[2] = {dst->width - 1, dst->height - 1};
    p[3] = {dst->width - 1, 0};
  }
  // Edge steps, and a bound on every segment's length.
  const std::int64_t n = std::max(manhattan(p[0], p[1]), manhattan(p[3], p[2]));
  const std::int64_t seg_bound = std::max(manhattan(p[0], p[3]), manhattan(p[1], p[2])) + 2;
  if (n > kMaxFreemapSteps || seg_bound > kMaxFreemapSteps) return 0;

  SourceArea sa(*src, sr, src == dst);
  const KeyTest kt(key, *src);
  const View dv = plane_view(*dst);
  const int bytes = dv.bytes;
  const std::int64_t sw = sr.width(), sh = sr.height();

  Stepper ax, ay, bx, by, srow;
  start_line(ax, p[0].x, p[1].x - p[0].x, n);
  start_line(ay, p[0].y, p[1].y - p[0].y, n);
  start_line(bx, p[3].x, p[2].x - p[3].x, n);
  start_line(by, p[3].y, p[2].y - p[3].y, n);
  srow.start(sr.top, sh, 0, n + 1, 0);

  for (std::int64_t i = 0; i <= n; ++i) {
    const std::int64_t x0 = ax.value, y0 = ay.value, x1 = bx.value, y1 = by.value;
    const std::int64_t sy = srow.value;
    ax.next(), ay.next(), bx.next(), by.next(), srow.next();
    if (std::max(x0, x1) < clip.left || std::min(x0, x1) >= clip.right ||
        std::max(y0, y1) < clip.top || std::min(y0, y1) >= clip.bottom)
      continue;
    const std::int64_t dx = x1 - x0, dy = y1 - y0, m = std::llabs(dx) + std::llabs(dy);
    std::int64_t lx, hx, ly, hy;
    if (!segment_range(x0, dx, m, clip.left, clip.right, lx, hx) ||
        !segment_range(y0, dy, m, clip.top, clip.bottom, ly, hy))
      continue;
    const std::int64_t k0 = std::max(lx, ly), k1 = std::min(hx, hy);
    if (k0 > k1) continue;
    Stepper px, py, scol;
    start_line(px, x0, dx, m, k0);
    start_line(py, y0, dy, m, k0);
    scol.start(sr.left, sw, 0, m + 1, k0);
    const std::uint8_t* srow_ptr = sa.view.row(sy);
    for (std::int64_t k = k0; k <= k1; ++k) {
      const std::int64_t x = px.value, y = py.value;
      if (x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom) {
        const std::uint8_t* s = srow_ptr + scol.value * bytes;
        if (!kt.on || !kt.match(s)) copy_pixel(dv.at(x, y), s, bytes);
      }
      px.next(), py.next(), scol.next();
    }
  }
  return 1;
}

int rotate(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, std::int32_t angle,
           std::int32_t key) {
  if (!filter_depth(dst) || !src || src->bpp != dst->bpp) return 0;
  const Rect dr = dst_rect ? *dst_rect : dst->bounds();
  if (dr.empty()) return 0;
  const auto& t = kernel_tables();
  const std::int64_t sn = t.sine[angle & 2047], cs = t.sine[(angle & 2047) + 512];
  const std::int64_t cx = (std::int64_t(dr.left) + dr.right - 1) >> 1;
  const std::int64_t cy = (std::int64_t(dr.top) + dr.bottom - 1) >> 1;
  const std::int64_t l = dr.left - cx, r = std::int64_t(dr.right) - 1 - cx;
  const std::int64_t tp = dr.top - cy, b = std::int64_t(dr.bottom) - 1 - cy;
  const Point64 corners[4] = {{l, tp}, {l, b}, {r, b}, {r, tp}};
  Point64 p[4];
  for (int i = 0; i < 4; ++i) {
    const std::int64_t x = corners[i].x, y = corners[i].y;
    p[i] = {cx + ((x * cs - y * sn) >> 16), cy + ((x * sn + y * cs) >> 16)};
  }
  return freemap(dst, p, src, src_rect, key);
}

// ---- smooth -------------------------------------------------------------------

namespace {

// Weights of the four neighbours from 8-bit fractions; they sum to 65536,
// and sum(c * w) >> 16 equals c00 + ((c11-c10-c01+c00) fx fy +
// ((c01-c00) fy + (c10-c00) fx) * 256) >> 16 exactly.
struct Weights {
  std::uint32_t w00, w10, w01, w11;
  Weights(std::uint32_t fx, std::uint32_t fy)
      : w00((256 - fx) * (256 - fy)), w10(fx * (256 - fy)), w01((256 - fx) * fy), w11(fx * fy) {}
};

inline std::uint32_t blend4(std::uint32_t c00, std::uint32_t c10, std::uint32_t c01,
                            std::uint32_t c11, const Weights& w) {
  // Two channels per 64-bit word, 32 bits apart: a lane's sum stays below 2^24.
  auto even = [](std::uint32_t c) {
    return std::uint64_t(c & 0xFF) | std::uint64_t(c & 0xFF0000) << 16;
  };
  auto odd = [](std::uint32_t c) {
    return std::uint64_t(c >> 8 & 0xFF) | std::uint64_t(c >> 24) << 32;
  };
  const std::uint64_t e =
      even(c00) * w.w00 + even(c10) * w.w10 + even(c01) * w.w01 + even(c11) * w.w11;
  const std::uint64_t o = odd(c00) * w.w00 + odd(c10) * w.w10 + odd(c01) * w.w01 + odd(c11) * w.w11;
  return std::uint32_t((e >> 16) & 0xFF) | std::uint32_t((o >> 16) & 0xFF) << 8 |
         std::uint32_t((e >> 48) & 0xFF) << 16 | std::uint32_t((o >> 48) & 0xFF) << 24;
}

inline std::uint32_t load_px(const std::uint8_t* p, int bytes) {
  switch (bytes) {
    case 1: return p[0];
    case 2: return std::uint32_t(p[0] | p[1] << 8);
    case 3: return std::uint32_t(p[0] | p[1] << 8 | p[2] << 16);
    default: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

inline void store_px(std::uint8_t* p, int bytes, std::uint32_t v) {
  switch (bytes) {
    case 1: p[0] = std::uint8_t(v); break;
    case 2: p[0] = std::uint8_t(v), p[1] = std::uint8_t(v >> 8); break;
    case 3:
      p[0] = std::uint8_t(v), p[1] = std::uint8_t(v >> 8), p[2] = std::uint8_t(v >> 16);
      break;
    default: std::memcpy(p, &v, 4);
  }
}

// 16-bit pixels blend per 5-bit field: spread to one field per byte.
inline std::uint32_t unpack15(std::uint32_t v) {
  return (v & 31) | ((v >> 5) & 31) << 8 | ((v >> 10) & 31) << 16;
}
inline std::uint32_t pack15(std::uint32_t v) {
  return (v & 31) | ((v >> 8) & 31) << 5 | ((v >> 16) & 31) << 10;
}

struct AxisSteps {
  std::uint64_t start = 0, step = 0;
};

AxisSteps axis_steps(std::int64_t s, std::int64_t d, bool vertical) {
  AxisSteps a;
  const std::uint64_t fixed = std::uint64_t(s) << 32;
  if (d > s) {
    a.step = fixed / std::uint64_t(vertical ? d + 1 : d);
    a.start = a.step / 2;
  } else {
    a.step = fixed / std::uint64_t(d);
  }
  return a;
}

}  // namespace

int smooth(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, std::int32_t key) {
  if (!filter_depth(dst) || !src || src->bpp != dst->bpp) return 0;
  const Rect dr = intersect(dst_rect ? *dst_rect : dst->bounds(), dst->clip);
  const Rect sr = source_rect(*src, src_rect);
  if (dr.empty() || sr.empty()) return 0;
  const std::int64_t dw = dr.width(), dh = dr.height(), sw = sr.width(), sh = sr.height();
  const AxisSteps ax = axis_steps(sw, dw, false), ay = axis_steps(sh, dh, true);

  SourceArea sa(*src, sr, src == dst);
  const View dv = plane_view(*dst);
  const int bytes = dv.bytes;
  const KeyTest kt(key, *src);

  // Column offsets (bytes from the rectangle's left) and weights.
  const std::size_t columns = static_cast<std::size_t>(dw);
  std::vector<std::int32_t> col0(columns), col1(columns);
  std::vector<std::uint8_t> colf(columns);
  for (std::int64_t i = 0; i < dw; ++i) {
    const std::uint64_t u = ax.start + std::uint64_t(i) * ax.step;
    const std::int64_t ix = std::min<std::int64_t>(std::int64_t(u >> 32), sw - 1);
    col0[std::size_t(i)] = std::int32_t(ix * bytes);
    col1[std::size_t(i)] = std::int32_t(std::min(ix + 1, sw - 1) * bytes);
    colf[std::size_t(i)] = std::uint8_t(u >> 24);
  }

  if (bytes == 4 && !kt.on) {
    // Each source row pair is first blended vertically into 16-bit channels
    // (c0 (256 - fy) + c1 fy fits), then pairs of those horizontally; the
    // sum is the same as weighting the four pixels at once.
    const std::size_t lanes = std::size_t(sw) * 4;
    // Per pair of columns: four copies of each column's 256 - fx, then of
    // each fx, laid out for the two-pixel step below.
    std::vector<std::uint16_t> weights(columns * 8 + 16);
    for (std::size_t k = 0; k + 1 < columns; k += 2)
      for (int c = 0; c < 4; ++c) {
        weights[8 * k + c] = std::uint16_t(256 - colf[k]);
        weights[8 * k + 4 + c] = std::uint16_t(256 - colf[k + 1]);
        weights[8 * k + 8 + c] = colf[k];
        weights[8 * k + 12 + c] = colf[k + 1];
      }
    for_rows(dr.top, dr.bottom, dw, [&](int y) {
      std::vector<std::uint16_t>& vert = script::thread_owned<std::vector<std::uint16_t>>([] {});
      vert.resize(lanes + 4);
      const std::uint64_t v = ay.start + std::uint64_t(y - dr.top) * ay.step;
      const std::int64_t iy = std::min<std::int64_t>(std::int64_t(v >> 32), sh - 1);
      const std::uint32_t fy = std::uint8_t(v >> 24), gy = 256 - fy;
      const std::uint8_t* r0 = sa.view.at(sr.left, sr.top + iy);
      const std::uint8_t* r1 = sa.view.at(sr.left, sr.top + std::min(iy + 1, sh - 1));
      std::uint16_t* vt = vert.data();
#pragma omp simd
      for (std::size_t k = 0; k < lanes; ++k) vt[k] = std::uint16_t(r0[k] * gy + r1[k] * fy);
      // One column past the end repeats the last, so a column and its right
      // neighbour are always the 16 bytes at its offset.
      std::memcpy(vt + lanes, vt + lanes - 4, 8);
      std::uint32_t* out = reinterpret_cast<std::uint32_t*>(dv.at(dr.left, y));
      constexpr std::uint64_t kLanes = 0x0000FFFF0000FFFFull;
      std::int64_t i = 0;
#if defined(__SSE2__)
      // Two pixels per step: 16-bit products widened to 32 bits.
      for (; i + 1 < dw; i += 2) {
        const std::size_t k = std::size_t(i);
        const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vt + col0[k]));
        const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vt + col0[k + 1]));
        const __m128i a = _mm_unpacklo_epi64(x0, x1), b = _mm_unpackhi_epi64(x0, x1);
        const __m128i gx =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights.data() + 8 * k));
        const __m128i fx =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights.data() + 8 * k + 8));
        const __m128i la = _mm_mullo_epi16(a, gx), ha = _mm_mulhi_epu16(a, gx);
        const __m128i lb = _mm_mullo_epi16(b, fx), hb = _mm_mulhi_epu16(b, fx);
        const __m128i s0 = _mm_srli_epi32(
            _mm_add_epi32(_mm_unpacklo_epi16(la, ha), _mm_unpacklo_epi16(lb, hb)), 16);
        const __m128i s1 = _mm_srli_epi32(
            _mm_add_epi32(_mm_unpackhi_epi16(la, ha), _mm_unpackhi_epi16(lb, hb)), 16);
        const __m128i px = _mm_packus_epi16(_mm_packs_epi32(s0, s1), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), px);
      }
#endif
      for (; i < dw; ++i) {
        std::uint64_t a, b;
        std::memcpy(&a, vt + col0[std::size_t(i)], 8);
        std::memcpy(&b, vt + col1[std::size_t(i)], 8);
        const std::uint64_t fx = colf[std::size_t(i)], gx = 256 - fx;
        const std::uint64_t even = (a & kLanes) * gx + (b & kLanes) * fx;
        const std::uint64_t odd = (a >> 16 & kLanes) * gx + (b >> 16 & kLanes) * fx;
        const std::uint32_t px =
            std::uint32_t(even >> 16 & 0xFF) | std::uint32_t(odd >> 16 & 0xFF) << 8 |
            std::uint32_t(even >> 48 & 0xFF) << 16 | std::uint32_t(odd >> 48 & 0xFF) << 24;
        std::memcpy(out + i, &px, 4);
      }
    });
    return 1;
  }

  for_rows(dr.top, dr.bottom, dw, [&](int y) {
    const std::uint64_t v = ay.start + std::uint64_t(y - dr.top) * ay.step;
    const std::int64_t iy = std::min<std::int64_t>(std::int64_t(v >> 32), sh - 1);
    const std::uint32_t fy = std::uint8_t(v >> 24);
    const std::uint8_t* r0 = sa.view.at(sr.left, sr.top + iy);
    const std::uint8_t* r1 = sa.view.at(sr.left, sr.top + std::min(iy + 1, sh - 1));
    std::uint8_t* out = dv.at(dr.left, y);
    for (std::int64_t i = 0; i < dw; ++i, out += bytes) {
      const Weights w(colf[std::size_t(i)], fy);
      const std::uint8_t *p00 = r0 + col0[std::size_t(i)], *p10 = r0 + col1[std::size_t(i)];
      const std::uint8_t *p01 = r1 + col0[std::size_t(i)], *p11 = r1 + col1[std::size_t(i)];
      std::uint32_t c00 = load_px(p00, bytes), c10 = load_px(p10, bytes), c01 = load_px(p01, bytes),
                    c11 = load_px(p11, bytes);
      if (kt.on) {
        const std::uint32_t under = load_px(out, bytes);
        if (kt.match(p00)) c00 = under;
        if (kt.match(p10)) c10 = under;
        if (kt.match(p01)) c01 = under;
        if (kt.match(p11)) c11 = under;
      }
      if (bytes == 2) {
        store_px(out, 2,
                 pack15(blend4(unpack15(c00), unpack15(c10), unpack15(c01), unpack15(c11), w)));
      } else {
        store_px(out, bytes, blend4(c00, c10, c01, c11, w));
      }
    }
  });
  return 1;
}

// ---- tiled --------------------------------------------------------------------

int tiled(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, std::int32_t angle,
          std::int32_t zoom) {
  if (!filter_depth(dst) || !src || src->bpp != dst->bpp) return 0;
  const Rect given = dst_rect ? *dst_rect : dst->bounds();
  const Rect dr = intersect(given, dst->clip);
  const Rect sr = source_rect(*src, src_rect);
  if (dr.empty() || sr.empty()) return 0;
  const std::int64_t z = zoom == 0 ? 1 : zoom;
  const auto& t = kernel_tables();
  const std::int64_t sn = t.sine[angle & 2047], cs = t.sine[(angle & 2047) + 512];
  const std::int64_t du_col = cs / z, dv_col = sn / z, du_row = -sn / z, dv_row = cs / z;
  // The given rectangle's centre shows the source origin, wherever the clip cuts.
  const std::int64_t cx = (std::int64_t(given.left) + given.right) / 2;
  const std::int64_t cy = (std::int64_t(given.top) + given.bottom) / 2;
  const std::int64_t sw = sr.width(), sh = sr.height();
  const bool pow_w = (sw & (sw - 1)) == 0, pow_h = (sh & (sh - 1)) == 0;

  SourceArea sa(*src, sr, src == dst);
  const View dv = plane_view(*dst);
  const int bytes = dv.bytes;
  for (std::int64_t y = dr.top; y < dr.bottom; ++y) {
    std::int64_t u = (dr.left - cx) * du_col + (y - cy) * du_row;
    std::int64_t v = (dr.left - cx) * dv_col + (y - cy) * dv_row;
    std::uint8_t* out = dv.at(dr.left, y);
    for (std::int64_t x = dr.left; x < dr.right; ++x, out += bytes, u += du_col, v += dv_col) {
      const std::int64_t iu = u >> 16, iv = v >> 16;
      const std::int64_t sx = pow_w ? (iu & (sw - 1)) : positive_mod(iu, sw);
      const std::int64_t sy = pow_h ? (iv & (sh - 1)) : positive_mod(iv, sh);
      copy_pixel(out, sa.view.at(sr.left + sx, sr.top + sy), bytes);
    }
  }
  return 1;
}

// ---- scroll -------------------------------------------------------------------

int scroll(Plane* p, const Rect* rect, std::int32_t dx, std::int32_t dy) {
  if (!filter_depth(p)) return 0;
  const Rect r = intersect(rect ? *rect : p->bounds(), p->clip);
  if (r.empty()) return 0;
  const std::int64_t w = r.width(), h = r.height();
  const std::int64_t ox = positive_mod(dx, w), oy = positive_mod(dy, h);
  if (ox == 0 && oy == 0) return 1;
  SourceArea old(*p, r, true);
  const View dv = plane_view(*p);
  const int bytes = dv.bytes;
  for (std::int64_t y = 0; y < h; ++y) {
    const std::int64_t sy = r.top + (y + oy) % h;
    std::uint8_t* out = dv.at(r.left, r.top + y);
    std::memcpy(out, old.view.at(r.left + ox, sy), std::size_t((w - ox) * bytes));
    if (ox) std::memcpy(out + (w - ox) * bytes, old.view.at(r.left, sy), std::size_t(ox * bytes));
  }
  return 1;
}

}  // namespace talven::graphics
