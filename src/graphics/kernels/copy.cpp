// Copies between planes: gcopy at 1:1, the stretch copy used by gcopy and
// sprites, and the rotated copies of gblit (nearest) and gblita (bilinear).
//
// Kernels read source pixels from one contiguous run. The 1:1 copy hands
// them the plane rows directly; the scaled and rotated copies gather each
// destination row's source pixels (and mask bytes) into per-thread scratch
// rows first, so every mode and depth pair shares the same kernels.
#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "graphics/kernels/fast_paths.h"
#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"
#include "script/thread_owned.h"

namespace talven::graphics {

namespace {

struct Scratch {
  std::vector<std::uint8_t> pixels;
  std::vector<std::uint8_t> mask;
  void fit(std::size_t n) {
    if (pixels.size() < n * 4) pixels.resize(n * 4);
    if (mask.size() < n) mask.resize(n);
  }
};

Scratch& scratch() {
  return script::thread_owned<Scratch>([] {});
}

// A host copy of a plane's header and pixels, read in place of the plane
// when a copy's source or mask is its own destination (rows are drawn in
// parallel and may overlap the rows they read).
struct Snapshot {
  std::vector<std::uint8_t> bytes;
  Plane plane;
  explicit Snapshot(const Plane& p) {
    const std::size_t header = 40 + 4 * std::size_t(p.table_entries);
    const std::size_t pixels = std::size_t(p.stride) * std::size_t(p.height);
    bytes.resize(header + pixels);
    std::memcpy(bytes.data(), p.header, header);
    if (pixels) std::memcpy(bytes.data() + header, p.pixels, pixels);
    plane.header = bytes.data();
    plane.pixels = bytes.data() + header;
    plane.width = p.width;
    plane.height = p.height;
    plane.bpp = p.bpp;
    plane.stride = p.stride;
    plane.table_entries = p.table_entries;
    plane.clip = p.clip;
  }
};

// Swaps `p` for a snapshot when it is the destination.
Plane* readable(Plane* p, const Plane* dst, std::unique_ptr<Snapshot>& keep) {
  if (!p || p != dst) return p;
  keep = std::make_unique<Snapshot>(*p);
  return &keep->plane;
}

// The mask plane to use: only masks of 8 bits or more carry a byte per pixel.
Plane* usable_mask(Plane* mask, bool uses_mask) {
  if (!uses_mask || !mask || mask->bpp < 8) return nullptr;
  return mask;
}

}  // namespace

int gcopy(std::int32_t dst_slot, std::int32_t x, std::int32_t y, std::int32_t src_slot,
          const Rect* src_rect, const BlendMode* mode) {
  Plane* dst = plane_at(dst_slot);
  Plane* src = plane_at(src_slot);
  KernelContext c;
  bool uses_mask = false;
  if (!prepare_mode(mode, dst, src, c, uses_mask)) return 0;
  Plane* mask = usable_mask(mask_of(src_slot), uses_mask);
  std::unique_ptr<Snapshot> src_copy, mask_copy;
  src = readable(src, dst, src_copy);
  mask = readable(mask, dst, mask_copy);

  Rect sr = src_rect ? normalized(*src_rect) : src->bounds();
  std::int64_t dx = std::int64_t(x) - sr.left, dy = std::int64_t(y) - sr.top;
  auto shift = [&](const Rect& r) {
    return Rect{std::int32_t(std::clamp<std::int64_t>(r.left + dx, INT32_MIN, INT32_MAX)),
                std::int32_t(std::clamp<std::int64_t>(r.top + dy, INT32_MIN, INT32_MAX)),
                std::int32_t(std::clamp<std::int64_t>(r.right + dx, INT32_MIN, INT32_MAX)),
                std::int32_t(std::clamp<std::int64_t>(r.bottom + dy, INT32_MIN, INT32_MAX))};
  };
  Rect area = intersect(shift(sr), dst->clip);
  area = intersect(area, shift(src->bounds()));
  if (mask) area = intersect(area, shift(mask->bounds()));
  if (area.empty()) return 0;

  const int sb = src->bpp / 8, db = dst->bpp / 8;
  KernelFn fn = find_kernel(c.mode, mask != nullptr, sb, db);
  if (!fn) return 1;
  const int w = area.width();
  const int sx = int(area.left - dx);
  // Same-depth kCopy is a row copy (between 8-bit planes only while
  // indexes are copied as they are).
  const bool row_copy = c.mode == Blend::kCopy && sb == db && (sb != 1 || c.grey);
  const bool layer32 = c.mode == Blend::kAlphaLayering && sb == 4 && db == 4;
  c.mask_step = mask ? mask->bpp / 8 : 1;
  if (row_copy && area.left == 0 && sx == 0 && w == dst->width && w == src->width &&
      dst->stride == src->stride) {
    // Whole rows of equal layout are one block of memory: copy it in a few
    // large pieces (forwards, which the memory system prefers).
    const std::size_t rows = std::size_t(area.height());
    const std::uint8_t* from = src->row(int(area.bottom - 1 - dy));
    std::uint8_t* to = dst->row(area.bottom - 1);
    const std::size_t bytes = rows * std::size_t(dst->stride);
    const int pieces = multithreading() ? 16 : 1;
    for_rows(0, pieces, kParallelPixels, [&](int k) {
      std::size_t begin = bytes * std::size_t(k) / pieces,
                  end = bytes * std::size_t(k + 1) / pieces;
      std::memcpy(to + begin, from + begin, end - begin);
    });
    return 1;
  }
  for_rows(area.top, area.bottom, area.width(), [&](int yy) {
    std::uint8_t* d = dst->row(yy) + std::int64_t(area.left) * db;
    const int syy = int(yy - dy);
    const std::uint8_t* s = src->row(syy) + std::int64_t(sx) * sb;
    if (row_copy) {
      std::memcpy(d, s, std::size_t(w) * sb);
      return;
    }
    const std::uint8_t* m = mask ? mask->row(syy) + std::int64_t(sx) * c.mask_step : nullptr;
    if (layer32) layer_row_32(d, s, m, c.mask_step, w, c.opacity);
    else fn(c, d, s, m, w);
  });
  return 1;
}

int stretch_copy(Plane* dst, Rect dst_rect, Plane* src, Rect src_rect, Plane* mask,
                 const BlendMode* mode) {
  KernelContext c;
  bool uses_mask = false;
  if (!prepare_mode(mode, dst, src, c, uses_mask)) return 0;
  mask = usable_mask(mask, uses_mask);
  std::unique_ptr<Snapshot> src_copy, mask_copy;
  src = readable(src, dst, src_copy);
  mask = readable(mask, dst, mask_copy);
  bool mirror_x = (dst_rect.right < dst_rect.left) != (src_rect.right < src_rect.left);
  bool mirror_y = (dst_rect.bottom < dst_rect.top) != (src_rect.bottom < src_rect.top);
  Rect dr = normalized(dst_rect), sr = normalized(src_rect);
  if (dr.empty() || sr.empty()) return 0;
  Rect sbounds = src->bounds();
  if (mask) sbounds = intersect(sbounds, mask->bounds());
  Rect sclip = intersect(sr, sbounds);
  Rect dclip = intersect(dr, dst->clip);
  if (sclip.empty() || dclip.empty()) return 0;

  const std::int64_t dw = dr.width(), dh = dr.height(), sw = sr.width(), sh = sr.height();
  // Source column of each destination column: exact ratio in 64 bits;
  // columns whose source falls outside the clipped source are dropped,
  // which moves that side by the scaled amount.
  auto map_axis = [](std::int64_t d, std::int64_t dlen, std::int64_t s0, std::int64_t slen,
                     bool mirror) {
    std::int64_t off = std::int64_t(__int128(d) * slen / dlen);
    return mirror ? s0 + slen - 1 - off : s0 + off;
  };
  std::vector<std::int32_t> cols, rows;
  int x0 = -1, y0 = -1;
  for (int x = dclip.left; x < dclip.right; ++x) {
    std::int64_t sx = map_axis(std::int64_t(x) - dr.left, dw, sr.left, sw, mirror_x);
    if (sx < sclip.left || sx >= sclip.right) {
      if (!cols.empty()) break;
      continue;
    }
    if (cols.empty()) x0 = x;
    cols.push_back(std::int32_t(sx));
  }
  for (int y = dclip.top; y < dclip.bottom; ++y) {
    std::int64_t sy = map_axis(std::int64_t(y) - dr.top, dh, sr.top, sh, mirror_y);
    if (sy < sclip.top || sy >= sclip.bottom) {
      if (!rows.empty()) break;
      continue;
    }
    if (rows.empty()) y0 = y;
    rows.push_back(std::int32_t(sy));
  }
  if (cols.empty() || rows.empty()) return 0;

  const int sb = src->bpp / 8, db = dst->bpp / 8;
  KernelFn fn = find_kernel(c.mode, mask != nullptr, sb, db);
  if (!fn) return 1;
  const int n = int(cols.size());
  const int mstep = mask ? mask->bpp / 8 : 0;
  const bool direct = !mirror_x && cols.back() - cols.front() == n - 1;
  c.mask_step = direct && mask ? mstep : 1;
  const bool layer32 = c.mode == Blend::kAlphaLayering && sb == 4 && db == 4;
  for_rows(0, int(rows.size()), n, [&](int i) {
    std::uint8_t* d = dst->row(y0 + i) + std::int64_t(x0) * db;
    const std::uint8_t* srow = src->row(rows[i]);
    const std::uint8_t* mrow = mask ? mask->row(rows[i]) : nullptr;
    if (direct) {
      const std::uint8_t* sp = srow + std::int64_t(cols[0]) * sb;
      const std::uint8_t* mp = mrow ? mrow + std::int64_t(cols[0]) * mstep : nullptr;
      if (layer32) layer_row_32(d, sp, mp, c.mask_step, n, c.opacity);
      else fn(c, d, sp, mp, n);
      return;
    }
    Scratch& s = scratch();
    s.fit(std::size_t(n));
    for (int k = 0; k < n; ++k)
      std::memcpy(&s.pixels[std::size_t(k) * sb], srow + std::int64_t(cols[k]) * sb, sb);
    if (mrow)
      for (int k = 0; k < n; ++k) s.mask[k] = mrow[std::int64_t(cols[k]) * mstep];
    if (layer32) layer_row_32(d, s.pixels.data(), mrow ? s.mask.data() : nullptr, 1, n, c.opacity);
    else fn(c, d, s.pixels.data(), mrow ? s.mask.data() : nullptr, n);
  });
  return 1;
}

// ---- rotated copies --------------------------------------------------------

namespace {

struct Geometry {
  Rect box;             // clipped destination box
  Rect sclip;           // clipped source rectangle
  std::int64_t u0, v0;  // 16.16 source position of the box's first pixel centre
  std::int64_t du_dx, dv_dx, du_dy, dv_dy;
};

bool rotated_geometry(Plane* dst, const Rect& dst_rect, Plane* src, const Rect& src_rect,
                      Plane* mask, std::int32_t angle, bool widen_x, bool widen_y,
                      std::int32_t sub_x, std::int32_t sub_y, Geometry& g) {
  bool mirror_x = (dst_rect.right < dst_rect.left) != (src_rect.right < src_rect.left);
  bool mirror_y = (dst_rect.bottom < dst_rect.top) != (src_rect.bottom < src_rect.top);
  Rect dr = normalized(dst_rect), sr = normalized(src_rect);
  if (dr.empty() || sr.empty()) return false;
  if (mirror_x != mirror_y) angle = -angle;
  const KernelTables& t = kernel_tables();
  const std::int64_t sn = t.sine[angle & 2047], cs = t.sine[(angle & 2047) + 512];
  const std::int64_t w = dr.width(), h = dr.height(), sw = sr.width(), sh = sr.height();
  std::int64_t bw = (std::llabs(w * cs) + std::llabs(h * sn) + 0x8000) >> 16;
  std::int64_t bh = (std::llabs(h * cs) + std::llabs(w * sn) + 0x8000) >> 16;
  std::int64_t left = dr.left + w / 2 - bw / 2, top = dr.top + h / 2 - bh / 2;
  if (widen_x) ++bw;
  if (widen_y) ++bh;
  Rect box{std::int32_t(std::clamp<std::int64_t>(left, INT32_MIN, INT32_MAX)),
           std::int32_t(std::clamp<std::int64_t>(top, INT32_MIN, INT32_MAX)),
           std::int32_t(std::clamp<std::int64_t>(left + bw, INT32_MIN, INT32_MAX)),
           std::int32_t(std::clamp<std::int64_t>(top + bh, INT32_MIN, INT32_MAX))};
  g.box = intersect(box, dst->clip);
  Rect sb = intersect(sr, src->bounds());
  if (mask) sb = intersect(sb, mask->bounds());
  g.sclip = sb;
  if (g.box.empty() || g.sclip.empty()) return false;

  // Inverse mapping: a destination offset (X, Y) from the destination
  // centre is turned back by the angle and scaled to the source.
  // Scale ratios beyond 2^24 mean nothing on a plane; refusing them keeps
  // every later product inside 64 bits.
  if (sw / w >= (1 << 24) || sh / h >= (1 << 24)) return false;
  g.du_dx = cs * sw / w;
  g.du_dy = sn * sw / w;
  g.dv_dx = -sn * sh / h;
  g.dv_dy = cs * sh / h;
  if (mirror_x) g.du_dx = -g.du_dx, g.du_dy = -g.du_dy;
  if (mirror_y) g.dv_dx = -g.dv_dx, g.dv_dy = -g.dv_dy;
  // Offsets in half pixels from the destination centre to the first pixel
  // centre of the clipped box, less the sub-pixel shift.
  std::int64_t x2 = 2 * std::int64_t(g.box.left) + 1 - 2 * std::int64_t(dr.left) - w;
  std::int64_t y2 = 2 * std::int64_t(g.box.top) + 1 - 2 * std::int64_t(dr.top) - h;
  std::int64_t uc = (2 * std::int64_t(sr.left) + sw) << 15;
  std::int64_t vc = (2 * std::int64_t(sr.top) + sh) << 15;
  auto start = [&](std::int64_t centre, std::int64_t step_x, std::int64_t step_y) {
    __int128 v = centre + (__int128(x2) * step_x + __int128(y2) * step_y) / 2 -
                 ((__int128(sub_x) * step_x + __int128(sub_y) * step_y) >> 16);
    const __int128 limit = __int128(1) << 61;  // far outside any source either way
    return std::int64_t(v > limit ? limit : (v < -limit ? -limit : v));
  };
  g.u0 = start(uc, g.du_dx, g.du_dy);
  g.v0 = start(vc, g.dv_dx, g.dv_dy);
  // Walking the box must stay inside 64 bits as well.
  const std::int64_t step = std::max(
      {std::llabs(g.du_dx), std::llabs(g.du_dy), std::llabs(g.dv_dx), std::llabs(g.dv_dy)});
  if (__int128(step) * (std::int64_t(g.box.width()) + g.box.height()) > (__int128(1) << 60))
    return false;
  return true;
}

inline std::int64_t floor16(std::int64_t v) { return v >> 16; }  // arithmetic shift

// Converts a source pixel to blue, green, red, alpha bytes.
inline void to_bgra(const Plane* src, const std::uint8_t* p, std::uint8_t* out) {
  switch (src->bpp) {
    case 8: {
      const std::uint8_t* e = src->colors() + 4 * p[0];
      out[0] = e[0], out[1] = e[1], out[2] = e[2], out[3] = 255;
      break;
    }
    case 16: {
      std::uint32_t v = kernel_tables().expand15[(p[0] | p[1] << 8) & 0x7FFF];
      out[0] = std::uint8_t(v), out[1] = std::uint8_t(v >> 8), out[2] = std::uint8_t(v >> 16);
      out[3] = 255;
      break;
    }
    case 24: out[0] = p[0], out[1] = p[1], out[2] = p[2], out[3] = 255; break;
    default: std::memcpy(out, p, 4); break;
  }
}

// Bilinear weights from the top 8 fractional bits; the result never leaves
// the range of the four inputs.
inline int bilerp(int c00, int c10, int c01, int c11, int fx, int fy) {
  return c00 +
         (((c11 - c10 - c01 + c00) * fx * fy + ((c01 - c00) * fy + (c10 - c00) * fx) * 256) >> 16);
}

// bilerp() of the four channels of BGRA pixels: a points at the pixel and
// its right neighbour, b at the two below. The same value in two passes of
// non-negative weights: horizontally 256 - fx and fx, vertically 256 - fy
// and fy; the sum (at most 255 * 65536) shifted down by 16 is what
// bilerp() computes, since its correction terms add up to exactly this sum
// less 65536 times the first input.
inline void bilerp_bgra(const std::uint8_t* a, const std::uint8_t* b, int fx, int fy,
                        std::uint8_t* out) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i wx = _mm_set1_epi32(fx << 16 | (256 - fx));
  const __m128i wy = _mm_set1_epi32(fy << 16 | (256 - fy));
  __m128i ta = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a));
  __m128i tb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b));
  // Channel pairs (left, right) as 16-bit words, then weighed and summed.
  ta = _mm_unpacklo_epi8(_mm_unpacklo_epi8(ta, _mm_srli_epi64(ta, 32)), zero);
  tb = _mm_unpacklo_epi8(_mm_unpacklo_epi8(tb, _mm_srli_epi64(tb, 32)), zero);
  const __m128i top = _mm_madd_epi16(ta, wx), bottom = _mm_madd_epi16(tb, wx);  // at most 65280
  // The vertical pass on the high and low bytes of the two rows apart, so
  // every factor stays a 16-bit word.
  const __m128i low8 = _mm_set1_epi32(0xFF);
  const __m128i hi = _mm_madd_epi16(
      _mm_or_si128(_mm_srli_epi32(top, 8), _mm_slli_epi32(_mm_srli_epi32(bottom, 8), 16)), wy);
  const __m128i lo = _mm_madd_epi16(
      _mm_or_si128(_mm_and_si128(top, low8), _mm_slli_epi32(_mm_and_si128(bottom, low8), 16)), wy);
  __m128i sum = _mm_srli_epi32(_mm_add_epi32(_mm_slli_epi32(hi, 8), lo), 16);
  sum = _mm_packs_epi32(sum, sum);
  sum = _mm_packus_epi16(sum, sum);
  const std::uint32_t v = std::uint32_t(_mm_cvtsi128_si32(sum));
  std::memcpy(out, &v, 4);
#else
  for (int ch = 0; ch < 4; ++ch)
    out[ch] = std::uint8_t(bilerp(a[ch], a[4 + ch], b[ch], b[4 + ch], fx, fy));
#endif
}

}  // namespace

int rotated_copy(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, Plane* mask,
                 const BlendMode* mode, std::int32_t angle, bool bilinear, std::int32_t sub_x,
                 std::int32_t sub_y) {
  KernelContext c;
  bool uses_mask = false;
  if (!prepare_mode(mode, dst, src, c, uses_mask)) return 0;
  mask = usable_mask(mask, uses_mask);
  Rect dr = dst_rect ? *dst_rect : dst->bounds();
  Rect sr = src_rect ? *src_rect : src->bounds();
  sub_x &= 0xFFFF;
  sub_y &= 0xFFFF;
  if (!bilinear) sub_x = sub_y = 0;
  Geometry g;
  if (!rotated_geometry(dst, dr, src, sr, mask, angle, sub_x != 0, sub_y != 0, sub_x, sub_y, g))
    return 0;
  std::unique_ptr<Snapshot> src_copy, mask_copy;
  src = readable(src, dst, src_copy);
  mask = readable(mask, dst, mask_copy);

  const int sb = src->bpp / 8, db = dst->bpp / 8;
  if (!find_kernel(c.mode, mask != nullptr, sb, db)) return 1;
  // gblita samples 8-bit values as they are where they are grey levels or
  // coverage, and everything else as 32-bit colour with alpha.
  const bool raw8 =
      sb == 1 && (c.grey || c.mode == Blend::kAlphaTransfer || c.mode == Blend::kCoverageColour);
  const int kb = bilinear && !raw8 ? 4 : sb;
  KernelFn fn = find_kernel(c.mode, mask != nullptr, kb, db);
  if (!fn) return 1;
  if (bilinear && kb == 4 && sb != 4) {
    // The samples are colours now: a key meant for an 8-bit source's
    // indexes becomes that entry's colour.
    if (c.mode == Blend::kSourceKey && sb == 1) c.key = src->color(int(c.key));
    c.src_colors = nullptr;
    c.grey = false;
  }
  const int mstep = mask ? mask->bpp / 8 : 0;
  const Rect s = g.sclip;
  c.mask_step = 1;
  const bool layer32 = c.mode == Blend::kAlphaLayering && kb == 4 && db == 4;

  for_rows(g.box.top, g.box.bottom, g.box.width(), [&](int y) {
    Scratch& sc = scratch();
    const int n = g.box.width();
    sc.fit(std::size_t(n));
    const std::int64_t row = y - g.box.top;
    std::int64_t u = g.u0 + row * g.du_dy, v = g.v0 + row * g.dv_dy;
    std::uint8_t* drow = dst->row(y);
    int run_start = -1, run = 0;
    auto flush = [&](int end) {
      if (run_start >= 0 && run > 0) {
        std::uint8_t* d = drow + std::int64_t(g.box.left + run_start) * db;
        const std::uint8_t* m = mask ? sc.mask.data() : nullptr;
        if (layer32) layer_row_32(d, sc.pixels.data(), m, 1, end - run_start, c.opacity);
        else fn(c, d, sc.pixels.data(), m, end - run_start);
      }
      run_start = -1;
      run = 0;
    };
    for (int i = 0; i < n; ++i, u += g.du_dx, v += g.dv_dx) {
      bool ok;
      if (!bilinear) {
        std::int64_t px = floor16(u), py = floor16(v);
        ok = px >= s.left && px < s.right && py >= s.top && py < s.bottom;
        if (ok) {
          if (run_start < 0) run_start = i;
          std::memcpy(&sc.pixels[std::size_t(run) * sb], src->row(int(py)) + px * sb, sb);
          if (mask) sc.mask[run] = mask->row(int(py))[px * mstep];
          ++run;
        }
      } else {
        const std::int64_t uu = u - 0x8000, vv = v - 0x8000;
        const std::int64_t x0 = floor16(uu), y0 = floor16(vv);
        ok = x0 >= s.left - 1 && x0 < s.right && y0 >= s.top - 1 && y0 < s.bottom;
        if (ok) {
          if (run_start < 0) run_start = i;
          const int fx = int((uu >> 8) & 0xFF), fy = int((vv >> 8) & 0xFF);
          std::uint8_t* o = &sc.pixels[std::size_t(run) * kb];
          if (sb == 4 && kb == 4 && x0 >= s.left && x0 + 1 < s.right && y0 >= s.top &&
              y0 + 1 < s.bottom) {
            // Inside the source: the four neighbours as they are.
            const std::uint8_t* a = src->row(int(y0)) + x0 * 4;
            const std::uint8_t* b = src->row(int(y0 + 1)) + x0 * 4;
            bilerp_bgra(a, b, fx, fy, o);
            if (mask) {
              const std::uint8_t* ma = mask->row(int(y0)) + x0 * mstep;
              const std::uint8_t* mb = mask->row(int(y0 + 1)) + x0 * mstep;
              sc.mask[run] = std::uint8_t(bilerp(ma[0], ma[mstep], mb[0], mb[mstep], fx, fy));
            }
            ++run;
            continue;
          }
          // Four neighbours; those outside the source count with alpha 0
          // (and the colour of the nearest inside pixel).
          std::uint8_t px[4][4];
          int mk[4];
          for (int k = 0; k < 4; ++k) {
            std::int64_t nx = x0 + (k & 1), ny = y0 + (k >> 1);
            bool inside = nx >= s.left && nx < s.right && ny >= s.top && ny < s.bottom;
            std::int64_t cx = std::clamp<std::int64_t>(nx, s.left, s.right - 1);
            std::int64_t cy = std::clamp<std::int64_t>(ny, s.top, s.bottom - 1);
            const std::uint8_t* p = src->row(int(cy)) + cx * sb;
            if (raw8) {
              px[k][0] = (inside || c.grey) ? p[0] : 0;
            } else {
              to_bgra(src, p, px[k]);
              if (!inside) px[k][3] = 0;
            }
            mk[k] = mask && inside ? mask->row(int(cy))[cx * mstep] : 0;
          }
          for (int ch = 0; ch < kb; ++ch)
            o[ch] = std::uint8_t(bilerp(px[0][ch], px[1][ch], px[2][ch], px[3][ch], fx, fy));
          if (mask) sc.mask[run] = std::uint8_t(bilerp(mk[0], mk[1], mk[2], mk[3], fx, fy));
          ++run;
        }
      }
      if (!ok) flush(i);
    }
    flush(n);
  });
  return 1;
}

}  // namespace talven::graphics
