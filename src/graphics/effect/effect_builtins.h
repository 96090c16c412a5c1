// Builtin handlers of the mesh effects.
//
// Trap numbers: 296 ef_init, 297 ef_free, 298 ef_copy, 299 ef_info,
// 300 ef_rotate, 301 ef_tunnel, 302 ef_land, 303 ef_ball, 304 ef_whirl,
// 305 ef_raster, 306 ef_blob, 307 ef_water, 308 ef_clear, 309 ef_lens.
// The deformations take their numeric arguments as float words.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::uint32_t bi_ef_init(Addr args);
std::uint32_t bi_ef_free(Addr args);
std::uint32_t bi_ef_copy(Addr args);
std::uint32_t bi_ef_info(Addr args);
std::uint32_t bi_ef_rotate(Addr args);
std::uint32_t bi_ef_tunnel(Addr args);
std::uint32_t bi_ef_land(Addr args);
std::uint32_t bi_ef_ball(Addr args);
std::uint32_t bi_ef_whirl(Addr args);
std::uint32_t bi_ef_raster(Addr args);
std::uint32_t bi_ef_blob(Addr args);
std::uint32_t bi_ef_water(Addr args);
std::uint32_t bi_ef_clear(Addr args);
std::uint32_t bi_ef_lens(Addr args);

}  // namespace talven::graphics
