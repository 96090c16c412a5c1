// Model data for the 3D tests: a cube and a sphere around the origin, each
// face turned so that its front (clockwise on screen) faces outwards.
#pragma once

#include <cmath>
#include <numbers>
#include <vector>

#include "graphics/render3d/model.h"

namespace talven::graphics::render3d::test {

// Turns every face so that the cross product of its two edges from the
// first vertex (the renderer's front normal) points away from the origin.
inline void orient_outwards(ModelData& m) {
  for (ModelData::Face& f : m.faces) {
    const Vec3 a = m.vertices[f.index[0]], b = m.vertices[f.index[1]], c = m.vertices[f.index[2]];
    const Vec3 e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{c.x - a.x, c.y - a.y, c.z - a.z};
    const Vec3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    const Vec3 mid{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
    if (n.x * mid.x + n.y * mid.y + n.z * mid.z < 0) {
      std::swap(f.index[1], f.index[2]);
      for (int k = 0; k < 2; ++k) std::swap(f.uv[1][k], f.uv[2][k]);
    }
  }
}

// A cube of half size h: 8 shared corners, two triangles per side, each
// side mapped onto the whole texture and in its own group (0..5).
inline ModelData make_cube(float h = 1.0f) {
  ModelData m;
  for (int i = 0; i < 8; ++i)
    m.vertices.push_back(Vec3{i & 1 ? h : -h, i & 2 ? h : -h, i & 4 ? h : -h});
  // Corners of each side in order around it.
  const int sides[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
  const std::int32_t uv[4][2] = {{0, 0}, {65536, 0}, {65536, 65536}, {0, 65536}};
  for (int s = 0; s < 6; ++s) {
    const int tri[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (const auto& t : tri) {
      ModelData::Face f{};
      for (int k = 0; k < 3; ++k) {
        f.index[k] = std::uint16_t(sides[s][t[k]]);
        f.uv[k][0] = uv[t[k]][0];
        f.uv[k][1] = uv[t[k]][1];
      }
      f.group = std::uint8_t(s);
      m.faces.push_back(f);
    }
  }
  orient_outwards(m);
  m.radius = h * std::sqrt(3.0f);
  return m;
}

// A latitude-longitude sphere of radius r, all in group 0.
inline ModelData make_sphere(float r, int rings, int segments) {
  ModelData m;
  for (int i = 0; i <= rings; ++i) {
    const double phi = std::numbers::pi * i / rings;
    for (int j = 0; j < segments; ++j) {
      const double th = 2 * std::numbers::pi * j / segments;
      m.vertices.push_back(Vec3{float(r * std::sin(phi) * std::cos(th)), float(r * std::cos(phi)),
                                float(r * std::sin(phi) * std::sin(th))});
    }
  }
  auto at = [&](int i, int j) { return std::uint16_t(i * segments + (j % segments)); };
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segments; ++j) {
      const std::uint16_t a = at(i, j), b = at(i, j + 1), c = at(i + 1, j + 1), d = at(i + 1, j);
      if (i > 0) m.faces.push_back(ModelData::Face{{a, b, c}, {}, 0});
      if (i < rings - 1) m.faces.push_back(ModelData::Face{{a, c, d}, {}, 0});
    }
  orient_outwards(m);
  m.radius = r;
  return m;
}

}  // namespace talven::graphics::render3d::test
