// The 3D renderer on a full 1280 x 720 32-bit frame: a textured,
// Gouraud-lit, gently waving grid of 20 000 triangles that covers the whole
// view, drawn by p3d_clear + p3d_setobj + p3d_render (transform, lighting,
// culling, sorting, perspective-correct texturing, depth test), side by side
// with a straightforward reference written here: the same transform and
// lighting, then every triangle's bounding box scanned pixel by pixel with
// barycentric weights (no incremental stepping, no spans).
//
// Read the ratio from real time: Reference / Talven. The counters give
// frames, triangles and pixels per second (pixels: the frame's 921 600).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "graphics/plane/plane.h"
#include "graphics/render3d/model.h"
#include "graphics/render3d/render3d.h"

namespace {

namespace r3 = talven::graphics::render3d;
using talven::graphics::Plane;

constexpr int kW = 1280, kH = 720, kGrid = 100;  // 100 x 100 quads
constexpr float kFocal = 800, kDepth = 5;
constexpr int kTarget = 900, kTexture = 901;

r3::ModelData grid() {
  r3::ModelData m;
  const float hw = 4.4f, hh = 2.6f;
  for (int j = 0; j <= kGrid; ++j)
    for (int i = 0; i <= kGrid; ++i) {
      const float x = -hw + 2 * hw * i / kGrid, y = -hh + 2 * hh * j / kGrid;
      m.vertices.push_back(r3::Vec3{x, y, 0.15f * std::sin(x * 2.0f) * std::cos(y * 2.5f)});
    }
  auto at = [](int i, int j) { return std::uint16_t(j * (kGrid + 1) + i); };
  auto uv = [](int i, int j) {
    return std::array<std::int32_t, 2>{i * 65536 * 4 / kGrid, j * 65536 * 3 / kGrid};
  };
  for (int j = 0; j < kGrid; ++j)
    for (int i = 0; i < kGrid; ++i) {
      const int q[2][3][2] = {{{i, j}, {i, j + 1}, {i + 1, j}},
                              {{i, j + 1}, {i + 1, j + 1}, {i + 1, j}}};
      for (const auto& t : q) {
        r3::ModelData::Face f{};
        for (int k = 0; k < 3; ++k) {
          f.index[k] = at(t[k][0], t[k][1]);
          const auto c = uv(t[k][0], t[k][1]);
          f.uv[k][0] = c[0];
          f.uv[k][1] = c[1];
        }
        m.faces.push_back(f);
      }
    }
  m.radius = std::sqrt(4.4f * 4.4f + 2.6f * 2.6f);
  return m;
}

void make_texture() {
  talven::graphics::set_plane(kTexture, talven::graphics::CreatePlane(256, 256, 24));
  Plane* t = talven::graphics::plane_at(kTexture);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      std::uint8_t* p = t->row(y) + 3 * x;
      const bool dark = ((x >> 5) ^ (y >> 5)) & 1;
      p[0] = dark ? 60 : 230, p[1] = std::uint8_t(x), p[2] = std::uint8_t(y);
    }
}

const r3::LightRecord kSun{{0.8f, 0.8f, 0.75f}, 0, 0};
constexpr std::int32_t kSunA = 150, kSunB = 120;

struct Scene {
  r3::ModelData data = grid();
  talven::Addr model = 0;
  Scene() {
    talven::graphics::set_plane(kTarget, talven::graphics::CreatePlane(kW, kH, 32));
    make_texture();
    r3::init(kTarget, kFocal, 0.5f, 100.0f);
    model = r3::add_model(data);
    r3::set_material(model, 0, 0xFFFFFF, r3::texture_address(kTexture), 7);
  }
};

Scene& scene() {
  static Scene s;
  return s;
}

void counters(benchmark::State& state) {
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["triangles/s"] = benchmark::Counter(double(state.iterations()) * 2 * kGrid * kGrid,
                                                     benchmark::Counter::kIsRate);
  state.counters["pixels/s"] =
      benchmark::Counter(double(state.iterations()) * kW * kH, benchmark::Counter::kIsRate);
}

void BM_Talven(benchmark::State& state) {
  Scene& s = scene();
  const std::int32_t level[3] = {0, 0, 0};
  for (auto _ : state) {
    r3::clear();
    r3::set_view(r3::Vec3{}, level);
    r3::set_ambient(0.25f, 0.25f, 0.3f);
    r3::add_light(kSun, kSunA, kSunB, 0);
    r3::set_object(s.model, r3::Vec3{0, 0, kDepth}, level);
    r3::render();
    benchmark::ClobberMemory();
  }
  counters(state);
}

// ---- the reference ------------------------------------------------------------

struct RefVertex {
  float sx, sy, rz, c[3];
};

void BM_Reference(benchmark::State& state) {
  Scene& s = scene();
  const r3::ModelData& m = s.data;
  Plane* target = talven::graphics::plane_at(kTarget);
  const Plane* tex = talven::graphics::plane_at(kTexture);
  std::vector<float> depth(std::size_t(kW) * kH);
  std::vector<RefVertex> vs(m.vertices.size());
  // Vertex normals: the mean of the face normals around each vertex.
  std::vector<r3::Vec3> normals(m.vertices.size());
  for (const auto& f : m.faces) {
    const r3::Vec3 a = m.vertices[f.index[0]], b = m.vertices[f.index[1]],
                   c = m.vertices[f.index[2]];
    const float e1[3] = {b.x - a.x, b.y - a.y, b.z - a.z},
                e2[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
    float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                  e1[0] * e2[1] - e1[1] * e2[0]};
    const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k) {
      normals[f.index[k]].x += n[0] / len / 3;
      normals[f.index[k]].y += n[1] / len / 3;
      normals[f.index[k]].z += n[2] / len / 3;
    }
  }
  const float ra = float(kSunA * 2 * M_PI / 2048), rb = float(kSunB * 2 * M_PI / 2048);
  const float dir[3] = {std::sin(ra) * std::cos(rb), -std::sin(rb), std::cos(ra) * std::cos(rb)};
  for (auto _ : state) {
    std::fill(depth.begin(), depth.end(), 0.0f);
    for (std::size_t i = 0; i < vs.size(); ++i) {
      const r3::Vec3 p = m.vertices[i];
      const float z = p.z + kDepth;
      vs[i].rz = 65536.0f / z;
      vs[i].sx = std::trunc(kW / 2 + p.x * kFocal / z);
      vs[i].sy = std::trunc(kH / 2 - p.y * kFocal / z);
      const r3::Vec3 n = normals[i];
      const float d = n.x * dir[0] + n.y * dir[1] + n.z * dir[2];
      const float amb[3] = {0.25f, 0.25f, 0.3f};
      for (int ch = 0; ch < 3; ++ch)
        vs[i].c[ch] = std::min(1.0f, amb[ch] - (d < 0 ? kSun.color[ch] * d : 0)) * 255;
    }
    for (const auto& f : m.faces) {
      const RefVertex& a = vs[f.index[0]];
      const RefVertex& b = vs[f.index[1]];
      const RefVertex& c = vs[f.index[2]];
      const float area = (b.sx - a.sx) * (c.sy - a.sy) - (c.sx - a.sx) * (b.sy - a.sy);
      if (area <= 0) continue;
      const int x0 = std::max(0, int(std::min({a.sx, b.sx, c.sx})));
      const int x1 = std::min(kW - 1, int(std::max({a.sx, b.sx, c.sx})));
      const int y0 = std::max(0, int(std::min({a.sy, b.sy, c.sy})));
      const int y1 = std::min(kH - 1, int(std::max({a.sy, b.sy, c.sy})));
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
          const float w0 = ((c.sx - b.sx) * (y - b.sy) - (x - b.sx) * (c.sy - b.sy)) / area;
          const float w1 = ((a.sx - c.sx) * (y - c.sy) - (x - c.sx) * (a.sy - c.sy)) / area;
          const float w2 = 1 - w0 - w1;
          if (w0 < 0 || w1 < 0 || w2 < 0) continue;
          const float rz = w0 * a.rz + w1 * b.rz + w2 * c.rz;
          float& dz = depth[std::size_t(y) * kW + x];
          if (!(rz > dz)) continue;
          dz = rz;
          const float u = (w0 * f.uv[0][0] / 65536.0f * a.rz + w1 * f.uv[1][0] / 65536.0f * b.rz +
                           w2 * f.uv[2][0] / 65536.0f * c.rz) /
                          rz;
          const float v = (w0 * f.uv[0][1] / 65536.0f * a.rz + w1 * f.uv[1][1] / 65536.0f * b.rz +
                           w2 * f.uv[2][1] / 65536.0f * c.rz) /
                          rz;
          const int tu = std::clamp(int((u - std::floor(u)) * tex->width), 0, tex->width - 1);
          const int tv = std::clamp(int((v - std::floor(v)) * tex->height), 0, tex->height - 1);
          const std::uint8_t* t = tex->row(tv) + 3 * tu;
          std::uint8_t* p = target->row(y) + 4 * x;
          for (int ch = 0; ch < 3; ++ch) {
            const float col = w0 * a.c[2 - ch] + w1 * b.c[2 - ch] + w2 * c.c[2 - ch];
            p[ch] = std::uint8_t(std::min(255.0f, t[ch] * col / 255));
          }
          p[3] = 255;
        }
    }
    benchmark::ClobberMemory();
  }
  counters(state);
}

}  // namespace

BENCHMARK(BM_Talven)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
