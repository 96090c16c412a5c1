// The span loops of the 3D renderer.
#include "graphics/render3d/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/kernels/tables.h"

namespace talven::graphics::render3d {

namespace {

// The interpolated quantities of a span, with their steps per pixel.
struct Attrs {
  float rz, ur, vr, r, g, b;
};

// A colour channel as 16.16 fixed point. The interpolation may overshoot a
// vertex value by a rounding error (or, for a degenerate sliver, by far);
// NaN becomes 0.
inline int fixed_channel(float c) { return int(std::min(std::max(0.0f, c), 255.0f) * 65536.0f); }

// Colours of a run, stepped linearly between its clamped ends, so that
// every pixel's channel lies in 0..255 without a clamp per pixel.
struct ColorStep {
  int r, g, b, dr, dg, db;
};

inline ColorStep color_steps(const Attrs& from, const Attrs& to, int n) {
  const double inv = 1.0 / n;
  ColorStep c;
  c.r = fixed_channel(from.r), c.g = fixed_channel(from.g), c.b = fixed_channel(from.b);
  c.dr = int((fixed_channel(to.r) - c.r) * inv);
  c.dg = int((fixed_channel(to.g) - c.g) * inv);
  c.db = int((fixed_channel(to.b) - c.b) * inv);
  return c;
}

// A texture coordinate in texels as 48.16 fixed point, its integer part
// wrapped into [0, size). Values that are far out (or not numbers) read
// texel 0.
inline std::int64_t fixed_texel(float t, int size, int mask) {
  if (!(t > -8388608.0f && t < 8388608.0f)) return 0;
  int i = int(t);
  i -= float(i) > t;
  const float frac = t - float(i);
  const int w = mask >= 0 ? (i & mask) : ((i % size) + size) % size;
  return (std::int64_t(w) << 16) + std::int64_t(frac * 65536.0f);
}

inline int texel_index(std::int64_t fixed, int size, int mask) {
  const std::int64_t i = fixed >> 16;
  return mask >= 0 ? int(i & mask) : int(((i % size) + size) % size);
}

// Ceiling of a value that is known to be far inside the int64 range.
inline double ceil_small(double v) {
  const double t = double(std::int64_t(v));
  return t < v ? t + 1 : t;
}

// Texture coordinates are exact (divided by the interpolated 1/z) every
// kSubspan pixels and linear in between.
constexpr int kSubspan = 16;

struct TexStep {
  std::int64_t u = 0, v = 0, du = 0, dv = 0;
};

inline std::int64_t fixed_step(float delta) {
  return delta > -1e12f && delta < 1e12f ? std::int64_t(delta) : 0;
}

// Texture steps of a run from its first pixel's attributes to the ones one
// past its last: u and v (in texels) are the interpolated u/z and v/z over
// 1/z at both ends (one division for the two), then stepped linearly.
// Ends where 1/z is not positive read texel 0.
inline TexStep texture_steps(const Attrs& from, const Attrs& to, int n, const Texture& t) {
  float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
  if (from.rz > 0 && to.rz > 0) {
    const float r = 1.0f / (from.rz * to.rz);
    const float iz0 = to.rz * r, iz1 = from.rz * r;
    u0 = from.ur * iz0, v0 = from.vr * iz0;
    u1 = to.ur * iz1, v1 = to.vr * iz1;
  } else if (from.rz > 0) {
    const float iz0 = 1.0f / from.rz;
    u1 = u0 = from.ur * iz0, v1 = v0 = from.vr * iz0;
  }
  TexStep s;
  s.u = fixed_texel(u0, t.width, t.wmask);
  s.v = fixed_texel(v0, t.height, t.hmask);
  const float k = 65536.0f / float(n);
  s.du = fixed_step((u1 - u0) * k);
  s.dv = fixed_step((v1 - v0) * k);
  return s;
}

template <int BPP>
inline void read_pixel(const std::uint8_t* p, int& b, int& g, int& r, const KernelTables& kt) {
  if constexpr (BPP == 16) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    const std::uint32_t rgb = kt.expand15[v & 0x7FFF];
    b = int(rgb & 0xFF), g = int((rgb >> 8) & 0xFF), r = int((rgb >> 16) & 0xFF);
  } else {
    b = p[0], g = p[1], r = p[2];
  }
}

// alpha < 0 keeps the pixel's alpha (32-bit targets).
template <int BPP>
inline void write_pixel(std::uint8_t* p, int b, int g, int r, int alpha) {
  if constexpr (BPP == 16) {
    const std::uint16_t v = std::uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
    std::memcpy(p, &v, 2);
  } else if (BPP == 32 && alpha >= 0) {
    const std::uint32_t v = std::uint32_t(b) | std::uint32_t(g) << 8 | std::uint32_t(r) << 16 |
                            std::uint32_t(alpha) << 24;
    std::memcpy(p, &v, 4);
  } else {
    p[0] = std::uint8_t(b), p[1] = std::uint8_t(g), p[2] = std::uint8_t(r);
  }
}

// One pixel: depth test, surface colour, blend, depth store.
template <int BPP, bool TEX, Blend BLEND>
inline void shade(std::uint8_t* p, float* depth, float rz, const ColorStep& cs, const TexStep& ts,
                  const Texture* t, int mul, const KernelTables& kt) {
  if (!(rz > *depth)) return;
  const int cr = cs.r >> 16, cg = cs.g >> 16, cb = cs.b >> 16;
  int sr, sg, sb, alpha = 255;
  if constexpr (TEX) {
    const int tu = texel_index(ts.u, t->width, t->wmask);
    const int tv = texel_index(ts.v, t->height, t->hmask);
    const std::uint32_t texel = t->top[tv * t->pitch + tu];
    if constexpr (BLEND == Blend::kAlpha) {
      alpha = int(texel >> 24);
      if (alpha == 0) return;
    }
    sb = std::min(255, int(((texel & 0xFF) * cb * mul + 32768) >> 16));
    sg = std::min(255, int((((texel >> 8) & 0xFF) * cg * mul + 32768) >> 16));
    sr = std::min(255, int((((texel >> 16) & 0xFF) * cr * mul + 32768) >> 16));
  } else {
    sb = std::min(255, (cb * mul) >> 8);
    sg = std::min(255, (cg * mul) >> 8);
    sr = std::min(255, (cr * mul) >> 8);
  }
  if constexpr (BLEND == Blend::kOpaque) {
    write_pixel<BPP>(p, sb, sg, sr, 255);
  } else {
    int db, dg, dr;
    read_pixel<BPP>(p, db, dg, dr, kt);
    if constexpr (BLEND == Blend::kAdditive) {
      write_pixel<BPP>(p, kt.clamp(db + sb), kt.clamp(dg + sg), kt.clamp(dr + sr), -1);
    } else {
      const int inv = 255 - alpha;
      int da = 255;
      if constexpr (BPP == 32) da = kt.screen[alpha][p[3]];
      write_pixel<BPP>(p, kt.mul[sb][alpha] + kt.mul[db][inv], kt.mul[sg][alpha] + kt.mul[dg][inv],
                       kt.mul[sr][alpha] + kt.mul[dr][inv], da);
    }
  }
  *depth = rz;
}

// The plane equations of a triangle: A(x, y) = base + ax (x - x0) + ay (y - y0)
// for the six attributes in Attrs order.
struct Equations {
  double x0, y0;
  double base[6], ax[6], ay[6];
  Attrs at(double x, double y) const {
    const double ox = x - x0, oy = y - y0;
    double v[6];
    for (int i = 0; i < 6; ++i) v[i] = base[i] + ax[i] * ox + ay[i] * oy;
    return Attrs{float(v[0]), float(v[1]), float(v[2]), float(v[3]), float(v[4]), float(v[5])};
  }
};

// A span is drawn in runs that end at multiples of kSubspan; each run starts
// from the exact plane equations, so a pixel's value does not depend on
// where the span was clipped (tiles are multiples of kSubspan wide).
template <int BPP, bool TEX, Blend BLEND>
void span(std::uint8_t* row, float* depth, int y, int x0, int x1, const Equations& eq,
          const Attrs& d, const Texture* t, int mul, const KernelTables& kt) {
  constexpr int kBytes = BPP / 8;
  std::uint8_t* p = row + std::ptrdiff_t(x0) * kBytes;
  TexStep ts;
  for (int x = x0; x < x1;) {
    const int end = std::min(x1, (x | (kSubspan - 1)) + 1);
    const int n = end - x;
    // The run's start comes from the plane equations, its end is stepped
    // from the start.
    const Attrs a = eq.at(x, y);
    Attrs last = a;
    last.rz += d.rz * float(n);
    last.r += d.r * float(n), last.g += d.g * float(n), last.b += d.b * float(n);
    if constexpr (TEX) {
      last.ur += d.ur * float(n);
      last.vr += d.vr * float(n);
      ts = texture_steps(a, last, n, *t);
    }
    ColorStep cs = color_steps(a, last, n);
    float rz = a.rz;
    for (; x < end; ++x, p += kBytes) {
      shade<BPP, TEX, BLEND>(p, depth + x, rz, cs, ts, t, mul, kt);
      rz += d.rz;
      cs.r += cs.dr, cs.g += cs.dg, cs.b += cs.db;
      if constexpr (TEX) ts.u += ts.du, ts.v += ts.dv;
    }
  }
}

template <int BPP, bool TEX, Blend BLEND>
void fill(const RasterTarget& target, const RasterVertex* s, const Texture* t, int mul) {
  const KernelTables& kt = kernel_tables();
  Plane& plane = *target.plane;
  const double x0 = s[0].x, y0 = s[0].y;
  const double dx1 = s[1].x - x0, dy1 = s[1].y - y0, dx2 = s[2].x - x0, dy2 = s[2].y - y0;
  const double area = dx1 * dy2 - dx2 * dy1;
  if (area == 0) return;
  const double inv_area = 1.0 / area;
  Equations eq;
  eq.x0 = x0;
  eq.y0 = y0;
  const float RasterVertex::*fields[6] = {&RasterVertex::rz, &RasterVertex::u, &RasterVertex::v,
                                          &RasterVertex::r,  &RasterVertex::g, &RasterVertex::b};
  for (int i = 0; i < 6; ++i) {
    if (!TEX && (i == 1 || i == 2)) {
      eq.base[i] = eq.ax[i] = eq.ay[i] = 0;
      continue;
    }
    // u and v, in texels, are interpolated divided by z, i.e. multiplied
    // by 65536/z.
    const bool persp = i == 1 || i == 2;
    const double scale = !persp ? 1.0 : i == 1 ? t->width : t->height;
    const double v0 = persp ? double(s[0].*fields[i]) * scale * s[0].rz : double(s[0].*fields[i]);
    const double v1 =
        (persp ? double(s[1].*fields[i]) * scale * s[1].rz : double(s[1].*fields[i])) - v0;
    const double v2 =
        (persp ? double(s[2].*fields[i]) * scale * s[2].rz : double(s[2].*fields[i])) - v0;
    eq.base[i] = v0;
    eq.ax[i] = (v1 * dy2 - v2 * dy1) * inv_area;
    eq.ay[i] = (dx1 * v2 - dx2 * v1) * inv_area;
  }
  const Attrs step{float(eq.ax[0]), float(eq.ax[1]), float(eq.ax[2]),
                   float(eq.ax[3]), float(eq.ax[4]), float(eq.ax[5])};

  // Vertices sorted by y for the edge walk.
  const RasterVertex* v[3] = {&s[0], &s[1], &s[2]};
  if (v[1]->y < v[0]->y) std::swap(v[0], v[1]);
  if (v[2]->y < v[1]->y) std::swap(v[1], v[2]);
  if (v[1]->y < v[0]->y) std::swap(v[0], v[1]);
  const int w = plane.width;
  const double left = std::max(0, target.clip.left),
               right = std::min(plane.width, target.clip.right);
  const double top = std::max(0, target.clip.top),
               bottom = std::min(plane.height, target.clip.bottom);
  const double ytop = std::max(ceil_small(v[0]->y), top);
  const double ybot = std::min(ceil_small(v[2]->y), bottom);
  // Edge slopes (dx per row); an edge is only walked over rows it spans,
  // so a flat edge's slope is never used.
  auto slope = [](const RasterVertex* a, const RasterVertex* b) {
    return b->y > a->y ? (b->x - a->x) / (b->y - a->y) : 0.0;
  };
  const double long_slope = slope(v[0], v[2]), upper_slope = slope(v[0], v[1]),
               lower_slope = slope(v[1], v[2]);
  for (double yd = ytop; yd < ybot; yd += 1.0) {
    const double xa = v[0]->x + (yd - v[0]->y) * long_slope;
    const double xb = yd < v[1]->y ? v[0]->x + (yd - v[0]->y) * upper_slope
                                   : v[1]->x + (yd - v[1]->y) * lower_slope;
    const double xl = std::max(ceil_small(std::min(xa, xb)), left);
    const double xr = std::min(ceil_small(std::max(xa, xb)), right);
    if (xl >= xr) continue;
    const int y = int(yd);
    span<BPP, TEX, BLEND>(plane.row(y), target.depth + std::ptrdiff_t(y) * w, y, int(xl), int(xr),
                          eq, step, t, mul, kt);
  }
}

template <int BPP>
void dispatch(const RasterTarget& target, const RasterVertex* v, const Texture* t, Blend blend,
              int mul_tex, int mul_plain) {
  if (t) {
    switch (blend) {
      case Blend::kOpaque: return fill<BPP, true, Blend::kOpaque>(target, v, t, mul_tex);
      case Blend::kAdditive: return fill<BPP, true, Blend::kAdditive>(target, v, t, mul_tex);
      case Blend::kAlpha: return fill<BPP, true, Blend::kAlpha>(target, v, t, mul_tex);
    }
  } else if (blend == Blend::kAdditive) {
    fill<BPP, false, Blend::kAdditive>(target, v, t, mul_plain);
  } else {
    fill<BPP, false, Blend::kOpaque>(target, v, t, mul_plain);
  }
}

}  // namespace

void draw_triangle(const RasterTarget& target, const RasterVertex v[3], const Texture* texture,
                   Blend blend, bool doubled) {
  if (!target.plane || !target.depth) return;
  Texture tex;
  if (texture && texture->width > 0 && texture->height > 0 && texture->top) {
    tex = *texture;
    auto mask = [](int n) { return (n & (n - 1)) == 0 ? n - 1 : -1; };
    tex.wmask = mask(tex.width);
    tex.hmask = mask(tex.height);
    texture = &tex;
  } else {
    texture = nullptr;
  }
  // Texel * colour * mul >> 16 is texel * colour / 255 (or twice that);
  // colour * mul >> 8 is the colour (or twice it).
  const int mul_tex = doubled ? 514 : 257;
  const int mul_plain = doubled ? 512 : 256;
  switch (target.plane->bpp) {
    case 16: return dispatch<16>(target, v, texture, blend, mul_tex, mul_plain);
    case 24: return dispatch<24>(target, v, texture, blend, mul_tex, mul_plain);
    case 32: return dispatch<32>(target, v, texture, blend, mul_tex, mul_plain);
    default: return;
  }
}

}  // namespace talven::graphics::render3d
