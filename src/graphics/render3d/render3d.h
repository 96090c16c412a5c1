// The software 3D renderer behind the p3d_* builtins.
//
// One scene per process: a target plane (16, 24 or 32 bits), a depth buffer
// of its size, a camera, ambient light, up to 17 lights, and the stores of
// transformed vertices (32 768) and queued triangles (65 536) that
// p3d_setobj fills and p3d_render draws.
//
// Coordinates: x right, y up, z away from the camera (view space), screen y
// down. A front face runs clockwise on screen; faces are culled unless their
// type is two-sided. Angles are in 1/2048 of a turn; the camera and objects
// turn by yaw (about y), then pitch (about x), then roll (about z):
// R = Ry(a[1]) Rx(a[0]) Rz(a[2]), and the view matrix is the transpose of the
// camera's R.
//
// Depth: each pixel keeps 65536/z as a 32-bit float (0 after p3d_clear); a
// pixel is drawn only where the triangle's interpolated 65536/z is greater,
// and the new value is stored. Triangles are drawn in ascending order of
// their sort key (ties in queueing order).
//
// Surface colour: the lit colour (0..255 per channel) times the face colour
// gives the surface; textured faces multiply it with the texel (texture
// coordinates are fractions of the texture size, wrapped, nearest texel,
// perspective-correct). The second variant of types 2, 5, 8 and 10 doubles
// the lit colour (saturating), so half light already shows the full colour.
// Types 6 to 8 with a 32-bit texture blend by the texel's alpha and leave
// pixels with alpha 0 untouched (depth included). Additive types add the
// surface colour to the target with saturation.
//
// The scene holds only plane slots and texture addresses, never plane
// pointers, so a plane freed between calls is simply not drawn.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/render3d/model.h"

namespace talven::graphics::render3d {

constexpr int kMaxLights = 17;
constexpr std::uint32_t kVertexStore = 32768;
constexpr std::uint32_t kTriangleStore = 65536;

// The light record of p3d_light (17 bytes).
struct LightRecord {
  float color[3];
  float range;
  std::uint8_t kind;  // 0 directional, 1 point
};

bool init(std::int32_t target_slot, float focal, float near_distance, float far_distance);
void uninit();
void clear();
void set_view(const Vec3& position, const std::int32_t angles[3]);
void set_ambient(float r, float g, float b);
// Kind 0: a and b are angles; kind 1: (a, b, c) is a world position (float
// bits). False when the light is dropped.
bool add_light(const LightRecord& light, std::uint32_t a, std::uint32_t b, std::uint32_t c);
// Queues a model instance; false when the model is not live or the scene
// has no target. Culled and skipped objects still answer true.
bool set_object(Addr model, const Vec3& position, const std::int32_t angles[3]);
bool render();

struct SceneStats {
  std::uint32_t vertices = 0;   // in the vertex store
  std::uint32_t triangles = 0;  // queued
  std::uint32_t lights = 0;
  bool ready = false;  // a depth buffer exists
};
SceneStats scene_stats();

// Sort key of a queued triangle (for tests), in queueing order.
std::int32_t queued_key(std::uint32_t i);

}  // namespace talven::graphics::render3d
