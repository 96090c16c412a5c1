// Mesh warp effects: eight slots of effect objects that warp a source region
// of one plane into a destination region of another through a coarse mesh.
//
// An object cuts its destination rectangle into 8 x 8 pixel cells and keeps
// one mesh point per cell corner: the source position (two 32-bit floats,
// relative to the source rectangle's top-left) that the corner shows. The
// mesh lives in script memory, because ef_info hands its address to scripts
// and they may edit points; everything else (planes, rectangles, the water
// height fields) stays in host memory, so a script can only disturb what it
// sees. Mesh values are read defensively: NaN and infinities count as 0 and
// any finite value wraps into the source.
//
// The deformation functions compute or adjust the mesh in double precision;
// effect_copy renders it, cell rows in parallel under MultiThreading.
// Everything runs under the builtin lock; slots are freed at runtime stop.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/plane/plane.h"

namespace talven::graphics {

constexpr int kEffectSlots = 8;
constexpr int kEffectCell = 8;  // cell edge in pixels

// ef_init: address of the new object in script memory, 0 on failure (the
// slot is emptied either way).
Addr effect_init(std::int32_t slot, std::int32_t dst_slot, const Rect* dst_rect,
                 std::int32_t src_slot, const Rect* src_rect);
int effect_free(std::int32_t slot);
int effect_copy(std::int32_t slot);
// Columns, rows and the mesh address; false for a bad or empty slot.
bool effect_info(std::int32_t slot, std::int32_t& columns, std::int32_t& rows, Addr& mesh);

int effect_clear(std::int32_t slot);
int effect_rotate(std::int32_t slot, double cx, double cy, double scale, double angle);
int effect_tunnel(std::int32_t slot, double depth, double angle, double offset);
int effect_land(std::int32_t slot, double scale, double angle1, double angle2, double height);
int effect_ball(std::int32_t slot, double scale, double angle1, double angle2, double distance);
int effect_whirl(std::int32_t slot, double twist);
int effect_raster(std::int32_t slot, double phase, double wavelength, double amplitude);
int effect_lens(std::int32_t slot, double x, double y, double radius, double strength);
int effect_blob(std::int32_t slot, double x, double y, double radius, double depth);
int effect_water(std::int32_t slot, double damping);

// Frees every slot (runtime stop, tests).
void effects_release();

}  // namespace talven::graphics
