// Scene state, object set-up (transform, culling, lighting, projection) and
// the render pass of the 3D renderer.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <new>
#include <numbers>
#include <vector>

#include "graphics/kernels/tables.h"
#include "graphics/render3d/raster.h"
#include "graphics/render3d/render3d.h"

namespace talven::graphics::render3d {

namespace {

struct Mat3 {
  float m[3][3];
  Vec3 operator*(const Vec3& v) const {
    return Vec3{m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
                m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
  }
  Mat3 operator*(const Mat3& o) const {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        r.m[i][j] = m[i][0] * o.m[0][j] + m[i][1] * o.m[1][j] + m[i][2] * o.m[2][j];
    return r;
  }
  Mat3 transposed() const {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r.m[i][j] = m[j][i];
    return r;
  }
};

constexpr Mat3 kIdentity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

float radians(std::int32_t angle) {
  // Reduce first so that huge angles keep their precision.
  return float(angle % 2048) * float(2.0 * std::numbers::pi / 2048.0);
}

// Yaw about y, then pitch about x, then roll about z.
Mat3 rotation(const std::int32_t a[3]) {
  const float sx = std::sin(radians(a[0])), cx = std::cos(radians(a[0]));
  const float sy = std::sin(radians(a[1])), cy = std::cos(radians(a[1]));
  const float sz = std::sin(radians(a[2])), cz = std::cos(radians(a[2]));
  const Mat3 ry{{{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}}};
  const Mat3 rx{{{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}}};
  const Mat3 rz{{{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}}};
  return ry * rx * rz;
}

Vec3 sub(const Vec3& a, const Vec3& b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
float dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

struct Light {
  int kind = 0;
  float color[3] = {};
  Vec3 v;  // direction (kind 0) or position relative to the camera, view space
  float range = 0;
};

// One transformed vertex.
struct ViewVertex {
  std::int32_t sx = 0, sy = 0;
  float rz = 0;              // 65536 / z
  Vec3 pos;                  // view space
  std::uint8_t lit[3] = {};  // r, g, b
  std::int32_t env[2] = {};  // 16.16
  bool valid = false;
};

struct Triangle {
  std::uint32_t v[3];
  std::int32_t key;
  std::uint8_t type;
  std::uint8_t flags;
  std::uint32_t color;
  std::uint8_t lit[3][3];  // per vertex r, g, b
  std::int32_t uv[3][2];
  Addr texture;
};

// A triangle ready for the rasteriser, with its screen bounding box.
struct Prepared {
  RasterVertex v[3];
  const Texture* tex;
  Blend blend;
  bool doubled;
  std::int32_t left, top, right, bottom;  // inclusive
};

struct Scene {
  std::int32_t target = -1;
  std::int32_t width = 0, height = 0;
  std::vector<float> depth;
  float focal = 1, near_distance = 1, far_distance = 1000;
  Vec3 camera;
  Mat3 view = kIdentity;
  float ambient[3] = {};
  Light lights[kMaxLights];
  int light_count = 0;
  std::vector<ViewVertex> vertices;
  std::vector<Triangle> triangles;
  // Work lists of p3d_render, kept from frame to frame for their capacity.
  std::vector<std::uint64_t> order;
  std::vector<Prepared> prepared;
  std::vector<std::vector<std::uint32_t>> bins;
};

Scene g_scene;

// Lit channels as bytes: 1.0 and above give 255, NaN gives 0.
std::uint8_t to_byte(float c) {
  if (!(c > 0)) return 0;
  if (c >= 1.0f) return 255;
  return std::uint8_t(c * 255.0f);
}

void light_normal(const Vec3& n, const Vec3& p, std::uint8_t out[3]) {
  const Scene& s = g_scene;
  float c[3] = {s.ambient[0], s.ambient[1], s.ambient[2]};
  for (int i = 0; i < s.light_count; ++i) {
    const Light& l = s.lights[i];
    float k;
    if (l.kind == 0) {
      k = dot(n, l.v);
    } else {
      const Vec3 d = sub(p, l.v);
      const float d2 = dot(d, d);
      const float r2 = l.range * l.range;
      if (!(d2 < r2) || !(d2 > 0)) continue;
      k = dot(n, d) / std::sqrt(d2) * (r2 - d2) / r2;
    }
    if (k < 0)
      for (int ch = 0; ch < 3; ++ch) c[ch] -= l.color[ch] * k;
  }
  for (int ch = 0; ch < 3; ++ch) out[ch] = to_byte(c[ch]);
}

// 32768 - n * 32767 as 16.16, NaN taken as 0.
std::int32_t env_coord(float n) {
  if (!(n >= -1.0f)) n = n < -1.0f ? -1.0f : 0.0f;
  if (n > 1.0f) n = 1.0f;
  return std::int32_t(32768.0f - n * 32767.0f);
}

// Screen coordinates stay far inside int range whatever the projection.
std::int32_t screen_coord(float v) {
  constexpr float kLimit = 1 << 24;
  if (!(v > -kLimit)) return -(1 << 24);
  if (v > kLimit) return 1 << 24;
  return std::int32_t(v);
}

Vec3 read_vec(const std::uint8_t* p) {
  Vec3 v;
  std::memcpy(&v, p, 12);
  return v;
}

Plane* target_plane() {
  Plane* p = plane_at(g_scene.target);
  if (!p || p->width != g_scene.width || p->height != g_scene.height) return nullptr;
  if (p->bpp != 16 && p->bpp != 24 && p->bpp != 32) return nullptr;
  return p;
}

}  // namespace

bool init(std::int32_t target_slot, float focal, float near_distance, float far_distance) {
  uninit();
  const Plane* p = plane_at(target_slot);
  if (!p || (p->bpp != 16 && p->bpp != 24 && p->bpp != 32)) return false;
  Scene& s = g_scene;
  try {
    s.depth.assign(std::size_t(p->width) * std::size_t(p->height), 0.0f);
    s.vertices.reserve(kVertexStore);
    s.triangles.reserve(kTriangleStore);
  } catch (const std::bad_alloc&) {
    uninit();
    return false;
  }
  s.target = target_slot;
  s.width = p->width;
  s.height = p->height;
  s.focal = focal;
  s.near_distance = near_distance;
  s.far_distance = far_distance;
  return true;
}

void uninit() {
  free_all_models();
  Scene& s = g_scene;
  s.depth = {};
  s.vertices = {};
  s.triangles = {};
  s.order = {};
  s.prepared = {};
  s.bins = {};
  s.target = -1;
  s.width = s.height = 0;
  s.light_count = 0;
}

void clear() {
  Scene& s = g_scene;
  std::fill(s.depth.begin(), s.depth.end(), 0.0f);
  s.vertices.clear();
  s.triangles.clear();
  s.light_count = 0;
}

void set_view(const Vec3& position, const std::int32_t angles[3]) {
  g_scene.camera = position;
  g_scene.view = rotation(angles).transposed();
}

void set_ambient(float r, float g, float b) {
  g_scene.ambient[0] = r;
  g_scene.ambient[1] = g;
  g_scene.ambient[2] = b;
}

bool add_light(const LightRecord& rec, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  Scene& s = g_scene;
  if (s.light_count >= kMaxLights || rec.kind > 1) return false;
  Light l;
  l.kind = rec.kind;
  std::memcpy(l.color, rec.color, sizeof l.color);
  l.range = rec.range;
  if (rec.kind == 0) {
    const float ra = radians(std::int32_t(a)), rb = radians(std::int32_t(b));
    const Vec3 dir{std::sin(ra) * std::cos(rb), -std::sin(rb), std::cos(ra) * std::cos(rb)};
    l.v = s.view * dir;
  } else {
    const Vec3 world{std::bit_cast<float>(a), std::bit_cast<float>(b), std::bit_cast<float>(c)};
    const Vec3 rel = sub(world, s.camera);
    // Out of range (or not a number): the light is dropped.
    if (!(std::sqrt(dot(rel, rel)) <= rec.range)) return false;
    l.v = s.view * rel;
  }
  s.lights[s.light_count++] = l;
  return true;
}

bool set_object(Addr model, const Vec3& position, const std::int32_t angles[3]) {
  Scene& s = g_scene;
  const ModelSlot* m = find_model(model);
  if (!m || s.depth.empty()) return false;
  const std::uint8_t* vrec = span(m->vertices, m->vertex_count * vertex_record::kSize);
  const std::uint8_t* frec = span(m->faces, m->face_count * face_record::kSize);
  if ((m->vertex_count && !vrec) || (m->face_count && !frec)) return false;

  const Mat3 rot = s.view * rotation(angles);
  const Vec3 centre = s.view * sub(position, s.camera);
  float radius = 0;
  load(model + model_record::kRadius, radius);
  const float f = s.focal, hw = float(s.width) / 2, hh = float(s.height) / 2;
  const float cx = centre.x, cy = centre.y, cz = centre.z, r = radius;
  if (f * (cx + r) < -hw * cz || hw * cz < f * (cx - r) || f * (cy + r) < -hh * cz ||
      f * (cy - r) > hh * cz)
    return true;
  if (s.vertices.size() + m->vertex_count > kVertexStore ||
      s.triangles.size() + m->face_count > kTriangleStore)
    return true;

  const std::uint32_t first = std::uint32_t(s.vertices.size());
  s.vertices.resize(first + m->vertex_count);
  for (std::uint32_t i = 0; i < m->vertex_count; ++i) {
    const std::uint8_t* p = vrec + i * vertex_record::kSize;
    ViewVertex& out = s.vertices[first + i];
    const Vec3 local = read_vec(p + vertex_record::kPosition);
    const Vec3 normal = read_vec(p + vertex_record::kNormal);
    const std::uint8_t flags = p[vertex_record::kFlags];
    const Vec3 vp = rot * local;
    out.pos = Vec3{vp.x + cx, vp.y + cy, vp.z + cz};
    const float z = out.pos.z;
    out.valid = z >= s.near_distance && z <= s.far_distance && z > 0 && std::isfinite(out.pos.x) &&
                std::isfinite(out.pos.y);
    if (!out.valid) continue;
    out.rz = 65536.0f / z;
    out.valid = std::isfinite(out.rz);
    if (!out.valid) continue;
    out.sx = screen_coord(hw + out.pos.x * f / z);
    out.sy = screen_coord(hh - out.pos.y * f / z);
    if (flags & (kFlagGouraud | kFlagEnvironment)) {
      const Vec3 n = rot * normal;
      if (flags & kFlagGouraud) light_normal(n, out.pos, out.lit);
      if (flags & kFlagEnvironment) out.env[0] = env_coord(n.x), out.env[1] = env_coord(n.y);
    }
  }

  for (std::uint32_t i = 0; i < m->face_count; ++i) {
    const std::uint8_t* p = frec + i * face_record::kSize;
    Triangle t;
    t.type = p[face_record::kType];
    t.flags = p[face_record::kFlags];
    if (t.type >= kMaterialTypes) continue;
    std::uint16_t idx[3];
    std::memcpy(idx, p + face_record::kIndex, 6);
    if (idx[0] >= m->vertex_count || idx[1] >= m->vertex_count || idx[2] >= m->vertex_count)
      continue;
    const ViewVertex* v[3];
    bool ok = true;
    for (int k = 0; k < 3; ++k) {
      t.v[k] = first + idx[k];
      v[k] = &s.vertices[t.v[k]];
      ok = ok && v[k]->valid;
    }
    if (!ok) continue;
    const std::int64_t area = std::int64_t(v[1]->sx - v[0]->sx) * (v[2]->sy - v[0]->sy) -
                              std::int64_t(v[2]->sx - v[0]->sx) * (v[1]->sy - v[0]->sy);
    if (area < 0 && !(t.flags & kFlagTwoSided)) continue;
    auto beyond = [&](auto test) { return test(v[0]) && test(v[1]) && test(v[2]); };
    if (beyond([](const ViewVertex* q) { return q->sx < 0; }) ||
        beyond([&](const ViewVertex* q) { return q->sx >= s.width; }) ||
        beyond([](const ViewVertex* q) { return q->sy < 0; }) ||
        beyond([&](const ViewVertex* q) { return q->sy >= s.height; }))
      continue;
    // Each 65536/z counts with its integer part; the sum saturates.
    const double sum =
        std::trunc(double(v[0]->rz)) + std::trunc(double(v[1]->rz)) + std::trunc(double(v[2]->rz));
    const std::int32_t key = sum >= 2147483647.0 ? 0x7fffffff : std::int32_t(sum);
    t.key = (t.flags & kFlagReversed) ? 0x7fffffff - key : key;
    std::memcpy(&t.color, p + face_record::kColor, 4);
    std::memcpy(&t.texture, p + face_record::kTexture, 4);
    if (t.flags & kFlagGouraud) {
      for (int k = 0; k < 3; ++k) std::memcpy(t.lit[k], v[k]->lit, 3);
    } else {
      const Vec3 n = read_vec(p + face_record::kNormal);
      const Vec3 mid{(v[0]->pos.x + v[1]->pos.x + v[2]->pos.x) / 3,
                     (v[0]->pos.y + v[1]->pos.y + v[2]->pos.y) / 3,
                     (v[0]->pos.z + v[1]->pos.z + v[2]->pos.z) / 3};
      light_normal(rot * n, mid, t.lit[0]);
      std::memcpy(t.lit[1], t.lit[0], 3);
      std::memcpy(t.lit[2], t.lit[0], 3);
    }
    if (t.flags & kFlagEnvironment) {
      for (int k = 0; k < 3; ++k) t.uv[k][0] = v[k]->env[0], t.uv[k][1] = v[k]->env[1];
    } else {
      std::memcpy(t.uv, p + face_record::kTexCoord, 24);
    }
    s.triangles.push_back(t);
  }
  return true;
}

namespace {

// Textures of one render pass, by address; 16- and 24-bit planes are
// widened once into `storage`. Entries keep their addresses (deque).
struct TextureCache {
  struct Entry {
    Addr addr = 0;
    bool live = false;
    bool alpha = false;
    Texture tex;
    std::vector<std::uint32_t> storage;
  };
  std::deque<Entry> entries;

  const Entry* get(Addr addr) {
    for (const Entry& e : entries)
      if (e.addr == addr) return e.live ? &e : nullptr;
    Entry& e = entries.emplace_back();
    e.addr = addr;
    const Plane* p = texture_plane(addr);
    if (!p || (p->bpp != 16 && p->bpp != 24 && p->bpp != 32) || p->width <= 0 || p->height <= 0)
      return nullptr;
    e.live = true;
    e.tex.width = p->width;
    e.tex.height = p->height;
    if (p->bpp == 32) {
      e.tex.top = reinterpret_cast<const std::uint32_t*>(p->row(0));
      e.tex.pitch = -std::ptrdiff_t(p->stride / 4);
      e.alpha = true;
      return &e;
    }
    const KernelTables& kt = kernel_tables();
    e.storage.resize(std::size_t(p->width) * p->height);
    for (int y = 0; y < p->height; ++y) {
      const std::uint8_t* row = p->row(y);
      std::uint32_t* out = e.storage.data() + std::size_t(y) * p->width;
      for (int x = 0; x < p->width; ++x) {
        if (p->bpp == 16) {
          std::uint16_t v;
          std::memcpy(&v, row + 2 * x, 2);
          out[x] = 0xFF000000u | kt.expand15[v & 0x7FFF];
        } else {
          const std::uint8_t* q = row + 3 * x;
          out[x] = 0xFF000000u | std::uint32_t(q[2]) << 16 | std::uint32_t(q[1]) << 8 | q[0];
        }
      }
    }
    e.tex.top = e.storage.data();
    e.tex.pitch = p->width;
    return &e;
  }
};

// The target is drawn tile by tile, each tile taking its triangles in the
// sorted order: every pixel sees the same sequence of writes as when the
// triangles are drawn whole one after another, while a tile's colour and
// depth rows stay in cache.
constexpr int kTileSize = 64;

}  // namespace

bool render() {
  Scene& s = g_scene;
  Plane* target = target_plane();
  if (!target) return false;
  std::vector<std::uint64_t>& order = s.order;
  order.resize(s.triangles.size());
  // Key in the high half (offset to sort as unsigned), queueing order below.
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = (std::uint64_t(std::uint32_t(s.triangles[i].key) ^ 0x80000000u) << 32) | i;
  std::sort(order.begin(), order.end());

  TextureCache textures;
  std::vector<Prepared>& prepared = s.prepared;
  std::vector<std::vector<std::uint32_t>>& bins = s.bins;
  prepared.clear();
  const int tiles_x = (s.width + kTileSize - 1) / kTileSize,
            tiles_y = (s.height + kTileSize - 1) / kTileSize;
  bins.resize(std::size_t(tiles_x) * tiles_y);
  for (auto& b : bins) b.clear();
  for (std::size_t n = 0; n < order.size(); ++n) {
    // Sorted order jumps around the stores: fetch ahead.
    if (n + 16 < order.size()) __builtin_prefetch(&s.triangles[std::uint32_t(order[n + 16])]);
    if (n + 8 < order.size()) {
      const Triangle& ahead = s.triangles[std::uint32_t(order[n + 8])];
      for (int k = 0; k < 3; ++k) __builtin_prefetch(&s.vertices[ahead.v[k]]);
    }
    const Triangle& t = s.triangles[std::uint32_t(order[n])];
    Prepared p;
    const bool additive = t.type >= 3 && t.type <= 5;
    p.doubled = t.type == 2 || t.type == 5 || t.type == 8 || t.type == 10;
    p.tex = nullptr;
    bool tex_alpha = false;
    if (t.type >= 6) {
      if (const TextureCache::Entry* e = textures.get(t.texture)) {
        p.tex = &e->tex;
        tex_alpha = e->alpha && t.type <= 8;
      }
    }
    p.blend = additive ? Blend::kAdditive : (tex_alpha ? Blend::kAlpha : Blend::kOpaque);
    const std::uint32_t color = t.color;
    const float fr = float((color >> 16) & 0xFF) / 255.0f, fg = float((color >> 8) & 0xFF) / 255.0f,
                fb = float(color & 0xFF) / 255.0f;
    std::int32_t lo_x = 0x7FFFFFFF, lo_y = 0x7FFFFFFF, hi_x = -0x7FFFFFFF, hi_y = -0x7FFFFFFF;
    for (int k = 0; k < 3; ++k) {
      const ViewVertex& v = s.vertices[t.v[k]];
      RasterVertex& r = p.v[k];
      r.x = v.sx;
      r.y = v.sy;
      r.rz = v.rz;
      r.r = fr * t.lit[k][0];
      r.g = fg * t.lit[k][1];
      r.b = fb * t.lit[k][2];
      r.u = float(t.uv[k][0]) * (1.0f / 65536.0f);
      r.v = float(t.uv[k][1]) * (1.0f / 65536.0f);
      lo_x = std::min(lo_x, v.sx), hi_x = std::max(hi_x, v.sx);
      lo_y = std::min(lo_y, v.sy), hi_y = std::max(hi_y, v.sy);
    }
    p.left = std::max(lo_x, 0);
    p.top = std::max(lo_y, 0);
    p.right = std::min(hi_x, s.width - 1);
    p.bottom = std::min(hi_y, s.height - 1);
    if (p.left > p.right || p.top > p.bottom) continue;
    const auto index = std::uint32_t(prepared.size());
    prepared.push_back(p);
    for (int ty = p.top / kTileSize; ty <= p.bottom / kTileSize; ++ty)
      for (int tx = p.left / kTileSize; tx <= p.right / kTileSize; ++tx)
        bins[std::size_t(ty) * tiles_x + tx].push_back(index);
  }

  for (int ty = 0; ty < tiles_y; ++ty)
    for (int tx = 0; tx < tiles_x; ++tx) {
      RasterTarget rt{
          target, s.depth.data(),
          Rect{tx * kTileSize, ty * kTileSize, (tx + 1) * kTileSize, (ty + 1) * kTileSize}};
      for (std::uint32_t i : bins[std::size_t(ty) * tiles_x + tx]) {
        const Prepared& p = prepared[i];
        draw_triangle(rt, p.v, p.tex, p.blend, p.doubled);
      }
    }
  return true;
}

SceneStats scene_stats() {
  const Scene& s = g_scene;
  return SceneStats{std::uint32_t(s.vertices.size()), std::uint32_t(s.triangles.size()),
                    std::uint32_t(s.light_count), !s.depth.empty()};
}

std::int32_t queued_key(std::uint32_t i) {
  return i < g_scene.triangles.size() ? g_scene.triangles[i].key : 0;
}

}  // namespace talven::graphics::render3d
