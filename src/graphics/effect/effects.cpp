// Effect objects, the mesh deformations and the mesh renderer.
#include "graphics/effect/effects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "graphics/kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace talven::graphics {

namespace {

constexpr Addr kHeaderBytes = 16;  // columns, rows, source width, source height

struct Effect {
  std::int32_t dst_slot = 0, src_slot = 0;
  std::int32_t bpp = 0;
  std::int32_t dst_left = 0, dst_top = 0;
  std::int32_t src_left = 0, src_top = 0, src_width = 0, src_height = 0;
  std::int32_t columns = 0, rows = 0;
  Addr block = 0;  // header + mesh in script memory
  std::uint32_t block_bytes = 0;
  std::vector<float> heights[2];  // water fields, (rows + 3) x (columns + 3)
  int current = 0;                // which field is the current one

  ~Effect() {
    // A script may have freed the block itself; never free a stranger's.
    if (block && script_space().block_size(block) == block_bytes) script_free(block);
  }
  Addr mesh_addr() const { return block + kHeaderBytes; }
  std::size_t points() const { return std::size_t(columns + 1) * std::size_t(rows + 1); }
  // Host view of the mesh, null when the block is no longer ours.
  float* mesh() const {
    if (script_space().block_size(block) != block_bytes) return nullptr;
    return reinterpret_cast<float*>(wspan(mesh_addr(), points() * 8));
  }
  int field_width() const { return columns + 3; }
};

std::array<std::unique_ptr<Effect>, kEffectSlots>& slots() {
  static std::array<std::unique_ptr<Effect>, kEffectSlots> table;
  return table;
}

bool slot_ok(std::int32_t slot) { return slot >= 0 && slot < kEffectSlots; }

// The object of a slot with its mesh, or null.
Effect* live(std::int32_t slot, float*& mesh) {
  if (!slot_ok(slot) || !slots()[std::size_t(slot)]) return nullptr;
  Effect* e = slots()[std::size_t(slot)].get();
  mesh = e->mesh();
  return mesh ? e : nullptr;
}

bool depth_ok(const Plane* p) {
  return p && (p->bpp == 8 || p->bpp == 16 || p->bpp == 24 || p->bpp == 32);
}

inline void set_point(float* mesh, const Effect& e, int j, int i, double u, double v) {
  float* p = mesh + 2 * (std::size_t(i) * std::size_t(e.columns + 1) + std::size_t(j));
  p[0] = float(u);
  p[1] = float(v);
}

// j * W / columns with integer division, as the identity mesh places points.
inline double grid_u(const Effect& e, int j) {
  return double(std::int64_t(j) * e.src_width / e.columns);
}
inline double grid_v(const Effect& e, int i) {
  return double(std::int64_t(i) * e.src_height / e.rows);
}

// Offsets of point (j, i) from the grid centre in destination pixels.
inline double centre_dx(const Effect& e, int j) {
  return double(kEffectCell * j - kEffectCell * (e.columns / 2));
}
inline double centre_dy(const Effect& e, int i) {
  return double(kEffectCell * i - kEffectCell * (e.rows / 2));
}

template <typename F>
void for_points(const Effect& e, F&& f) {
  for (int i = 0; i <= e.rows; ++i)
    for (int j = 0; j <= e.columns; ++j) f(j, i);
}

struct MeshPoint {
  double u, v;  // source position of a grid point
};

// Places every grid point of the effect in `slot` where place(effect, j, i)
// says; 0 when the slot holds no live effect.
template <typename Place>
int place_points(std::int32_t slot, Place&& place) {
  float* mesh;
  Effect* e = live(slot, mesh);
  if (!e) return 0;
  for_points(*e, [&](int j, int i) {
    const MeshPoint p = place(*e, j, i);
    set_point(mesh, *e, j, i, p.u, p.v);
  });
  return 1;
}

// Sines and cosines of the two view angles of the land and ball views.
struct Tilt {
  double s1, c1, s2, c2;
  Tilt(double angle1, double angle2)
      : s1(std::sin(angle1)), c1(std::cos(angle1)), s2(std::sin(angle2)), c2(std::cos(angle2)) {}
};

// A circle on the grid: its centre and radius in destination pixels and
// the grid points of its bounding box (in cells, clamped to the grid).
struct GridCircle {
  double x, y, radius;
  int j0 = 0, j1 = -1, i0 = 0, i1 = -1;

  // Calls f(j, i, px, py, dist) for each grid point no further than the
  // radius from the centre, (px, py) its offset from the centre.
  template <typename F>
  void for_points_inside(F&& f) const {
    for (int i = i0; i <= i1; ++i)
      for (int j = j0; j <= j1; ++j) {
        const double px = kEffectCell * j - x, py = kEffectCell * i - y;
        const double dist = std::sqrt(px * px + py * py);
        if (dist > radius) continue;
        f(j, i, px, py, dist);
      }
  }
};

// Fills in the circle's box; false when the box misses the grid or cannot
// be formed.
bool circle_box(const Effect& e, GridCircle& c) {
  if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.radius)) return false;
  const double r = std::fabs(c.radius);
  const double lo_x = std::floor((c.x - r) / kEffectCell),
               hi_x = std::ceil((c.x + r) / kEffectCell);
  const double lo_y = std::floor((c.y - r) / kEffectCell),
               hi_y = std::ceil((c.y + r) / kEffectCell);
  if (hi_x < 0 || lo_x > e.columns || hi_y < 0 || lo_y > e.rows) return false;
  c.j0 = int(std::max(lo_x, 0.0)), c.j1 = int(std::min(hi_x, double(e.columns)));
  c.i0 = int(std::max(lo_y, 0.0)), c.i1 = int(std::min(hi_y, double(e.rows)));
  return true;
}

}  // namespace

// ---- objects --------------------------------------------------------------------------

Addr effect_init(std::int32_t slot, std::int32_t dst_slot, const Rect* dst_rect,
                 std::int32_t src_slot, const Rect* src_rect) {
  if (!slot_ok(slot)) return 0;
  slots()[std::size_t(slot)].reset();
  Plane* dst = plane_at(dst_slot);
  Plane* src = plane_at(src_slot);
  if (!depth_ok(dst) || !src || src->bpp != dst->bpp) return 0;
  const Rect dr = intersect(dst_rect ? *dst_rect : dst->bounds(), dst->clip);
  const Rect sr = src_rect ? intersect(*src_rect, src->bounds()) : src->bounds();
  if (dr.empty() || sr.empty()) return 0;
  auto e = std::make_unique<Effect>();
  e->columns = std::int32_t(dr.width() / kEffectCell);
  e->rows = std::int32_t(dr.height() / kEffectCell);
  if (e->columns == 0 || e->rows == 0) return 0;  // no whole cell to draw
  const std::uint64_t bytes = kHeaderBytes + std::uint64_t(e->points()) * 8;
  if (bytes > 0x40000000u) return 0;
  e->block = script_zalloc(std::uint32_t(bytes));
  if (!e->block) return 0;
  e->block_bytes = script_space().block_size(e->block);
  e->dst_slot = dst_slot, e->src_slot = src_slot, e->bpp = dst->bpp;
  e->dst_left = dr.left, e->dst_top = dr.top;
  e->src_left = sr.left, e->src_top = sr.top;
  e->src_width = std::int32_t(sr.width()), e->src_height = std::int32_t(sr.height());
  const std::int32_t header[4] = {e->columns, e->rows, e->src_width, e->src_height};
  write_bytes(e->block, header, sizeof header);
  const Addr addr = e->block;
  slots()[std::size_t(slot)] = std::move(e);
  return addr;
}

int effect_free(std::int32_t slot) {
  if (!slot_ok(slot)) return 0;
  slots()[std::size_t(slot)].reset();
  return 1;
}

void effects_release() {
  for (auto& s : slots()) s.reset();
}

bool effect_info(std::int32_t slot, std::int32_t& columns, std::int32_t& rows, Addr& mesh) {
  float* m;
  const Effect* e = live(slot, m);
  if (!e) return false;
  columns = e->columns, rows = e->rows, mesh = e->mesh_addr();
  return true;
}

// ---- deformations ------------------------------------------------------------------------

int effect_clear(std::int32_t slot) {
  return place_points(slot, [](const Effect& e, int j, int i) {
    return MeshPoint{grid_u(e, j), grid_v(e, i)};
  });
}

int effect_rotate(std::int32_t slot, double cx, double cy, double scale, double angle) {
  const double s = std::sin(angle), c = std::cos(angle);
  return place_points(slot, [&](const Effect& e, int j, int i) {
    const double w = grid_u(e, j) - cx, h = grid_v(e, i) - cy;
    return MeshPoint{cx + scale * (c * w - s * h), cy + scale * (s * w + c * h)};
  });
}

int effect_tunnel(std::int32_t slot, double depth, double angle, double offset) {
  const double a = depth / 100.0, s = std::sin(angle), c = std::cos(angle);
  return place_points(slot, [&](const Effect& e, int j, int i) {
    const double dx = centre_dx(e, j), dy = centre_dy(e, i);
    const double B = offset * s + c * dx;
    const double divisor = dy * dy + B * B;
    const double num = offset * c - s * dx;
    const double C = divisor != 0 ? num * num / divisor * a : 0.0;
    double D;
    if (std::fabs(B) < 0.0001) {
      D = dy > 0 ? 0.25 : 0.75;
    } else {
      D = std::atan2(dy, B) / (2 * std::numbers::pi);
      if (D < 0) D += 1;
    }
    return MeshPoint{D * double(e.src_width), C};
  });
}

int effect_land(std::int32_t slot, double scale, double angle1, double angle2, double height) {
  const Tilt t(angle1, angle2);
  return place_points(slot, [&](const Effect& e, int j, int i) {
    const double dx = centre_dx(e, j), dy = centre_dy(e, i);
    const double D = height * t.s1 + t.c1 * dx;
    double E = std::fabs(dy * t.c2 - t.s2 * D);
    if (E == 0) E = 1;
    const double F = dy * t.s2 + t.c2 * D;
    const double G = height * t.c1 - t.s1 * dx;
    return MeshPoint{F * scale / E * 0.4, G * scale / E * 0.4};
  });
}

int effect_ball(std::int32_t slot, double scale, double angle1, double angle2, double distance) {
  const Tilt t(angle1, angle2);
  return place_points(slot, [&](const Effect& e, int j, int i) {
    const double dx = centre_dx(e, j), dy = centre_dy(e, i);
    const double r = distance * t.c1 - dy * t.s1;
    const double C = r * t.s2 + t.c2 * dx;
    const double B = r * t.c2 - t.s2 * dx;
    const double Z = distance * t.s1 + dy * t.c1;
    const double d = std::sqrt(Z * Z + C * C + B * B);
    // The eye at the sphere's centre sees every point at distance 0: show the origin.
    if (d == 0) return MeshPoint{0, 0};
    return MeshPoint{scale * C / d, scale * B / d};
  });
}

int effect_whirl(std::int32_t slot, double twist) {
  const double pi = std::numbers::pi;
  return place_points(slot, [&](const Effect& e, int j, int i) {
    const double W = e.src_width, H = e.src_height;
    const int ei = j - e.columns / 2, fi = i - e.rows / 2;
    const double ef = ei, ff = fi;
    double g;
    if (ei == 0) {
      g = fi <= 0 ? 3 * pi / 2 : pi / 2;
    } else {
      g = std::atan(ff / ef);
      if (ei < 0) g += pi;
    }
    const double r = std::sqrt(ef * ef + ff * ff);
    const double l = g + twist / (r + 1);
    return MeshPoint{W / 2 + (W / e.columns) * r * std::cos(l),
                     H / 2 + (H / e.rows) * r * std::sin(l)};
  });
}

int effect_raster(std::int32_t slot, double phase, double wavelength, double amplitude) {
  float* mesh;
  Effect* e = live(slot, mesh);
  if (!e) return 0;
  const bool wave = std::fabs(wavelength) > 0.0001;
  for (int i = 0; i <= e->rows; ++i) {
    const double row_phase =
        wave ? 2 * std::numbers::pi * (phase + kEffectCell * i) / wavelength : 0.0;
    const double shift = amplitude * std::sin(row_phase);
    for (int j = 0; j <= e->columns; ++j)
      set_point(mesh, *e, j, i, shift + grid_u(*e, j), grid_v(*e, i));
  }
  return 1;
}

int effect_lens(std::int32_t slot, double x, double y, double radius, double strength) {
  float* mesh;
  Effect* e = live(slot, mesh);
  if (!e) return 0;
  GridCircle circle{x, y, radius};
  if (!circle_box(*e, circle)) return 0;
  if (!(radius > 0)) return 1;  // an empty circle moves nothing
  circle.for_points_inside([&](int j, int i, double px, double py, double dist) {
    const double k = (radius - dist) * strength / radius;
    float* p = mesh + 2 * (std::size_t(i) * std::size_t(e->columns + 1) + std::size_t(j));
    p[0] = float(p[0] + k * px);
    p[1] = float(p[1] + k * py);
  });
  return 1;
}

int effect_blob(std::int32_t slot, double x, double y, double radius, double depth) {
  float* mesh;
  Effect* e = live(slot, mesh);
  if (!e) return 0;
  const std::size_t field = std::size_t(e->rows + 3) * std::size_t(e->field_width());
  if (e->heights[0].empty()) {
    e->heights[0].assign(field, 0.0f);
    e->heights[1].assign(field, 0.0f);
    e->current = 0;
  }
  GridCircle circle{x, y, radius};
  if (!circle_box(*e, circle) || !(radius > 0)) return 1;
  std::vector<float>& h = e->heights[e->current];
  circle.for_points_inside([&](int j, int i, double, double, double dist) {
    float& v = h[std::size_t(i + 1) * std::size_t(e->field_width()) + std::size_t(j + 1)];
    v = float(v + (radius - dist) * depth / radius);
  });
  return 1;
}

int effect_water(std::int32_t slot, double damping) {
  float* mesh;
  Effect* e = live(slot, mesh);
  if (!e || e->heights[0].empty()) return 0;
  const std::size_t fw = std::size_t(e->field_width());
  if (std::fabs(damping) > 0.0001) {
    const std::vector<float>& cur = e->heights[e->current];
    std::vector<float>& prev = e->heights[1 - e->current];
    for (int i = 0; i <= e->rows; ++i)
      for (int j = 0; j <= e->columns; ++j) {
        const std::size_t at = std::size_t(i + 1) * fw + std::size_t(j + 1);
        const double sum = double(cur[at - fw - 1]) + cur[at - fw] + cur[at - fw + 1] +
                           cur[at - 1] + cur[at + 1] + cur[at + fw - 1] + cur[at + fw] +
                           cur[at + fw + 1];
        const double n = sum * 0.25 - prev[at];
        prev[at] = float(n - n / damping);
      }
    e->current = 1 - e->current;
  }
  const std::vector<float>& h = e->heights[e->current];
  for_points(*e, [&](int j, int i) {
    const std::size_t at = std::size_t(i + 1) * fw + std::size_t(j + 1);
    set_point(mesh, *e, j, i, grid_u(*e, j) + (double(h[at]) - h[at + 1]),
              grid_v(*e, i) + (double(h[at]) - h[at + fw]));
  });
  return 1;
}

// ---- rendering ----------------------------------------------------------------------------

namespace {

// A mesh coordinate as the renderer takes it: NaN and infinities are 0.
inline double sane(float v) { return std::isfinite(v) ? double(v) : 0.0; }

// Integer sample positions and the 16-bit fraction of a coordinate, wrapped
// into [0, size).
struct Sample {
  std::int64_t i0, i1;
  std::int64_t f;
};

inline Sample locate(double u, std::int64_t size) {
  Sample s;
  if (u >= 0 && u < double(size - 1)) {  // the common case, no wrap
    s.i0 = std::int64_t(u);
    s.i1 = s.i0 + 1;
    s.f = std::int64_t((u - double(s.i0)) * 65536.0);
    return s;
  }
  const double fl = std::floor(u);
  s.f = std::int64_t((u - fl) * 65536.0);
  if (s.f > 65535) s.f = 65535;
  double m = std::fmod(fl, double(size));
  if (m < 0) m += double(size);
  s.i0 = std::int64_t(m);
  if (s.i0 >= size) s.i0 = 0;
  s.i1 = s.i0 + 1 == size ? 0 : s.i0 + 1;
  return s;
}

// c00 + ((c11 - c10 - c01 + c00) fx fy / 65536 + (c10 - c00) fx + (c01 - c00) fy) >> 16,
// the division truncating. With fx fy = ph 65536 + pl the first term is
// d ph + trunc(d pl / 65536) exactly, which keeps everything in 32 bits.
struct Fractions {
  std::int32_t fx, fy, ph, pl;
  Fractions(std::int64_t x, std::int64_t y)
      : fx(std::int32_t(x)),
        fy(std::int32_t(y)),
        ph(std::int32_t((x * y) >> 16)),
        pl(std::int32_t((x * y) & 0xFFFF)) {}
};

inline int lerp_channel(int c00, int c10, int c01, int c11, const Fractions& f) {
  const std::int32_t d = c11 - c10 - c01 + c00;
  std::int32_t q = d * f.pl;
  q = (q + ((q >> 31) & 0xFFFF)) >> 16;
  const std::int32_t t = d * f.ph + q + (c10 - c00) * f.fx + (c01 - c00) * f.fy;
  return std::clamp(c00 + (t >> 16), 0, 255);
}

// What one ef_copy renders: the mesh, the source rows and the destination.
struct RenderJob {
  const float* mesh;
  std::size_t stride_pts;
  int columns;
  int bytes;
  const std::uint8_t* sbase;
  std::int64_t sstride, sw, sh;
  Plane* dst;
  std::int32_t dst_left, dst_top;
};

// One row of cells. Positions step in double precision: along a pixel row
// by the top edge's eighth, and from row to row the left edge and that
// step advance so that every pixel lies on the cell's bilinear patch.
void render_cell_row(const RenderJob& job, int ci) {
  const float* top = job.mesh + 2 * std::size_t(ci) * job.stride_pts;
  const float* bottom = top + 2 * job.stride_pts;
  const int bytes = job.bytes;
  for (int cj = 0; cj < job.columns; ++cj) {
    const double u00 = sane(top[2 * cj]), v00 = sane(top[2 * cj + 1]);
    const double u10 = sane(top[2 * cj + 2]), v10 = sane(top[2 * cj + 3]);
    const double u01 = sane(bottom[2 * cj]), v01 = sane(bottom[2 * cj + 1]);
    const double u11 = sane(bottom[2 * cj + 2]), v11 = sane(bottom[2 * cj + 3]);
    double lu = u00, lv = v00;                                  // left edge
    double su = (u10 - u00) / 8, sv = (v10 - v00) / 8;          // step along a row
    const double elu = (u01 - u00) / 8, elv = (v01 - v00) / 8;  // left edge per row
    const double esu = ((u11 - u01) - (u10 - u00)) / 64, esv = ((v11 - v01) - (v10 - v00)) / 64;
    for (int y = 0; y < kEffectCell; ++y) {
      std::uint8_t* out = job.dst->row(job.dst_top + ci * kEffectCell + y) +
                          (std::int64_t(job.dst_left) + std::int64_t(cj) * kEffectCell) * bytes;
      double u = lu, v = lv;
      for (int x = 0; x < kEffectCell; ++x, u += su, v += sv, out += bytes) {
        const Sample a = locate(u, job.sw), b = locate(v, job.sh);
        const std::uint8_t* r0 = job.sbase + b.i0 * job.sstride;
        const std::uint8_t* r1 = job.sbase + b.i1 * job.sstride;
        const std::uint8_t *p00 = r0 + a.i0 * bytes, *p10 = r0 + a.i1 * bytes;
        const std::uint8_t *p01 = r1 + a.i0 * bytes, *p11 = r1 + a.i1 * bytes;
        const Fractions fr(a.f, b.f);
        if (bytes == 2) {
          const int c00 = p00[0] | p00[1] << 8, c10 = p10[0] | p10[1] << 8;
          const int c01 = p01[0] | p01[1] << 8, c11 = p11[0] | p11[1] << 8;
          int v15 = 0;
          for (int s = 0; s < 15; s += 5)
            v15 |= lerp_channel(c00 >> s & 31, c10 >> s & 31, c01 >> s & 31, c11 >> s & 31, fr)
                   << s;
          out[0] = std::uint8_t(v15), out[1] = std::uint8_t(v15 >> 8);
        } else {
          for (int c = 0; c < bytes; ++c)
            out[c] = std::uint8_t(lerp_channel(p00[c], p10[c], p01[c], p11[c], fr));
        }
      }
      lu += elu, lv += elv, su += esu, sv += esv;
    }
  }
}

#if defined(__x86_64__) || defined(__i386__)
// 32-bit pixels on processors with SSE4.1: the four channels of a pixel in
// the 32-bit lanes of one register, the same arithmetic as lerp_channel.
// Chosen at run time.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.1")
#endif
// Four bytes widened to four 32-bit lanes.
__attribute__((target("sse4.1"))) inline __m128i widen(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(v));
}

__attribute__((target("sse4.1"))) void render_cell_row_sse41(const RenderJob& job, int ci) {
  const float* top = job.mesh + 2 * std::size_t(ci) * job.stride_pts;
  const float* bottom = top + 2 * job.stride_pts;
  const __m128i low16 = _mm_set1_epi32(0xFFFF);
  for (int cj = 0; cj < job.columns; ++cj) {
    const double u00 = sane(top[2 * cj]), v00 = sane(top[2 * cj + 1]);
    const double u10 = sane(top[2 * cj + 2]), v10 = sane(top[2 * cj + 3]);
    const double u01 = sane(bottom[2 * cj]), v01 = sane(bottom[2 * cj + 1]);
    const double u11 = sane(bottom[2 * cj + 2]), v11 = sane(bottom[2 * cj + 3]);
    double lu = u00, lv = v00;
    double su = (u10 - u00) / 8, sv = (v10 - v00) / 8;
    const double elu = (u01 - u00) / 8, elv = (v01 - v00) / 8;
    const double esu = ((u11 - u01) - (u10 - u00)) / 64, esv = ((v11 - v01) - (v10 - v00)) / 64;
    for (int y = 0; y < kEffectCell; ++y) {
      std::uint8_t* out = job.dst->row(job.dst_top + ci * kEffectCell + y) +
                          (std::int64_t(job.dst_left) + std::int64_t(cj) * kEffectCell) * 4;
      double u = lu, v = lv;
      for (int x = 0; x < kEffectCell; ++x, u += su, v += sv, out += 4) {
        const Sample a = locate(u, job.sw), b = locate(v, job.sh);
        const std::uint8_t* r0 = job.sbase + b.i0 * job.sstride;
        const std::uint8_t* r1 = job.sbase + b.i1 * job.sstride;
        const Fractions f(a.f, b.f);
        const __m128i c00 = widen(r0 + a.i0 * 4), c10 = widen(r0 + a.i1 * 4);
        const __m128i c01 = widen(r1 + a.i0 * 4), c11 = widen(r1 + a.i1 * 4);
        const __m128i d = _mm_add_epi32(_mm_sub_epi32(_mm_sub_epi32(c11, c10), c01), c00);
        __m128i q = _mm_mullo_epi32(d, _mm_set1_epi32(f.pl));
        q = _mm_srai_epi32(_mm_add_epi32(q, _mm_and_si128(_mm_srai_epi32(q, 31), low16)), 16);
        __m128i t = _mm_add_epi32(_mm_mullo_epi32(d, _mm_set1_epi32(f.ph)), q);
        t = _mm_add_epi32(t, _mm_mullo_epi32(_mm_sub_epi32(c10, c00), _mm_set1_epi32(f.fx)));
        t = _mm_add_epi32(t, _mm_mullo_epi32(_mm_sub_epi32(c01, c00), _mm_set1_epi32(f.fy)));
        __m128i r = _mm_add_epi32(c00, _mm_srai_epi32(t, 16));
        r = _mm_packus_epi32(r, r);  // saturating: the clamp to 0..255
        r = _mm_packus_epi16(r, r);
        const std::int32_t px = _mm_cvtsi128_si32(r);
        std::memcpy(out, &px, 4);
      }
      lu += elu, lv += elv, su += esu, sv += esv;
    }
  }
}
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

bool use_sse41() {
  static const bool ok = __builtin_cpu_supports("sse4.1");
  return ok;
}
#else
void render_cell_row_sse41(const RenderJob& job, int ci) { render_cell_row(job, ci); }
bool use_sse41() { return false; }
#endif

}  // namespace

int effect_copy(std::int32_t slot) {
  float* mesh;
  Effect* e = live(slot, mesh);
  if (!e) return 0;
  Plane* dst = plane_at(e->dst_slot);
  Plane* src = plane_at(e->src_slot);
  // The planes may have been replaced since ef_init: draw only into what still fits.
  if (!dst || !src || dst->bpp != e->bpp || src->bpp != e->bpp) return 0;
  const std::int64_t dw = std::int64_t(e->columns) * kEffectCell,
                     dh = std::int64_t(e->rows) * kEffectCell;
  if (e->dst_left + dw > dst->width || e->dst_top + dh > dst->height ||
      std::int64_t(e->src_left) + e->src_width > src->width ||
      std::int64_t(e->src_top) + e->src_height > src->height)
    return 0;

  RenderJob job{mesh,         std::size_t(e->columns + 1),
                e->columns,   e->bpp / 8,
                nullptr,      0,
                e->src_width, e->src_height,
                dst,          e->dst_left,
                e->dst_top};
  // Source rows top-down; copied first when the source is the destination.
  std::vector<std::uint8_t> copy;
  job.sbase = src->row(e->src_top) + std::int64_t(e->src_left) * job.bytes;
  job.sstride = -std::int64_t(src->stride);
  if (src == dst) {
    const std::int64_t row_bytes = job.sw * job.bytes;
    copy.resize(std::size_t(row_bytes * job.sh));
    for (std::int64_t y = 0; y < job.sh; ++y)
      std::memcpy(copy.data() + y * row_bytes, job.sbase + y * job.sstride, std::size_t(row_bytes));
    job.sbase = copy.data();
    job.sstride = row_bytes;
  }
  const bool sse41 = job.bytes == 4 && use_sse41();
  for_rows(0, e->rows, std::int64_t(e->columns) * kEffectCell * kEffectCell, [&](int ci) {
    if (sse41) render_cell_row_sse41(job, ci);
    else render_cell_row(job, ci);
  });
  return 1;
}

}  // namespace talven::graphics
