// Triangle rasterisers of the 3D renderer: one span loop, specialised by
// target depth, texturing and blending.
//
// A triangle covers pixel (x, y) when the point lies inside it, with edges
// shared by two triangles drawn once (rows from the top vertex up to, not
// including, the bottom one; columns from the left edge's ceiling up to the
// right edge's). Depth (65536/z) and the perspective-divided texture
// coordinates are interpolated linearly in screen space; colours too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graphics/plane/plane.h"

namespace talven::graphics::render3d {

struct RasterVertex {
  double x = 0, y = 0;        // screen position
  float rz = 0;               // 65536 / z
  float r = 0, g = 0, b = 0;  // surface multiplier, 0..255
  float u = 0, v = 0;         // texture coordinates as fractions of the texture
};

// A texture as 32-bit BGRA rows: row(y) = top + y * pitch (pitch in pixels,
// negative for planes stored bottom-up).
struct Texture {
  const std::uint32_t* top = nullptr;
  std::ptrdiff_t pitch = 0;
  std::int32_t width = 0, height = 0;
  std::int32_t wmask = -1, hmask = -1;  // set by draw_triangle
};

enum class Blend { kOpaque, kAdditive, kAlpha };

struct RasterTarget {
  Plane* plane = nullptr;
  float* depth = nullptr;                   // width * height, top row first
  Rect clip{0, 0, 0x7FFFFFFF, 0x7FFFFFFF};  // drawing stays inside (and inside the plane)
};

// Draws one triangle. `texture` null draws the surface colour alone;
// `doubled` selects the second variant's doubled light.
void draw_triangle(const RasterTarget& target, const RasterVertex v[3], const Texture* texture,
                   Blend blend, bool doubled);

}  // namespace talven::graphics::render3d
