// Builtin handlers of the mesh effects, typed (runtime/bind.h).
//
// Trap numbers: 296 ef_init, 297 ef_free, 298 ef_copy, 299 ef_info,
// 300 ef_rotate, 301 ef_tunnel, 302 ef_land, 303 ef_ball, 304 ef_whirl,
// 305 ef_raster, 306 ef_blob, 307 ef_water, 308 ef_clear, 309 ef_lens.
// ef_free, ef_copy and ef_clear are effects.h's functions themselves. The
// deformations take their numeric arguments as float words and hand them
// on widened to double.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/effect/effects.h"  // ef_free, ef_copy, ef_clear: bound as they are

namespace talven::graphics {

// Rectangles are addresses of their records, 0 for the whole plane.
Addr bi_ef_init(std::int32_t slot, std::int32_t dst, Addr dst_rect, std::int32_t src,
                Addr src_rect);
// Writes columns, rows and the mesh address to `out`.
bool bi_ef_info(std::int32_t slot, Addr out);
std::int32_t bi_ef_rotate(std::int32_t slot, float cx, float cy, float scale, float angle);
std::int32_t bi_ef_tunnel(std::int32_t slot, float depth, float angle, float offset);
std::int32_t bi_ef_land(std::int32_t slot, float scale, float angle1, float angle2, float height);
std::int32_t bi_ef_ball(std::int32_t slot, float scale, float angle1, float angle2, float distance);
std::int32_t bi_ef_whirl(std::int32_t slot, float twist);
std::int32_t bi_ef_raster(std::int32_t slot, float phase, float wavelength, float amplitude);
std::int32_t bi_ef_blob(std::int32_t slot, float x, float y, float radius, float depth);
std::int32_t bi_ef_water(std::int32_t slot, float damping);
std::int32_t bi_ef_lens(std::int32_t slot, float x, float y, float radius, float strength);

}  // namespace talven::graphics
