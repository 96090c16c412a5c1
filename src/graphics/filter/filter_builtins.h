// Builtin handlers of the image filters.
//
// Trap numbers: 284 freemap, 285 smooth, 286 rotate, 287 tiled, 288 scroll,
// 289 noise, 290 slice, 291 gradation, 292 mosaic, 293 monotone, 294 blur,
// 295 fire. Each decodes its argument words, reads rectangles and points
// through checked script memory (a bad address gives 0) and calls the
// filter of filters.h.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::uint32_t bi_freemap(Addr args);
std::uint32_t bi_smooth(Addr args);
std::uint32_t bi_rotate(Addr args);
std::uint32_t bi_tiled(Addr args);
std::uint32_t bi_scroll(Addr args);
std::uint32_t bi_noise(Addr args);
std::uint32_t bi_slice(Addr args);
std::uint32_t bi_gradation(Addr args);
std::uint32_t bi_mosaic(Addr args);
std::uint32_t bi_monotone(Addr args);
std::uint32_t bi_blur(Addr args);
std::uint32_t bi_fire(Addr args);

}  // namespace talven::graphics
