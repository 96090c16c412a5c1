// Builtin handlers of the image filters, typed (runtime/bind.h).
//
// Trap numbers: 284 freemap, 285 smooth, 286 rotate, 287 tiled, 288 scroll,
// 289 noise, 290 slice, 291 gradation, 292 mosaic, 293 monotone, 294 blur,
// 295 fire. Planes are slot numbers; rectangles and the freemap corners are
// script addresses of their records (0 for none), read through checked
// script memory (a bad address gives 0) before the filter of filters.h runs.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::int32_t bi_freemap(std::int32_t dst, Addr corners, std::int32_t src, Addr src_rect,
                        std::int32_t key);
std::int32_t bi_smooth(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect,
                       std::int32_t key);
std::int32_t bi_rotate(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect,
                       std::int32_t angle, std::int32_t key);
std::int32_t bi_tiled(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect,
                      std::int32_t angle, std::int32_t zoom);
std::int32_t bi_scroll(std::int32_t plane, Addr rect, std::int32_t dx, std::int32_t dy);
std::int32_t bi_noise(std::int32_t plane, Addr rect, std::int32_t amount);
std::int32_t bi_slice(std::int32_t plane, Addr rect, std::int32_t amount);
std::int32_t bi_gradation(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                          Addr src_rect);
std::int32_t bi_mosaic(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                       Addr src_rect, std::int32_t block_w, std::int32_t block_h);
std::int32_t bi_monotone(std::int32_t plane, Addr rect, std::uint32_t dark, std::uint32_t light);
std::int32_t bi_blur(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                     Addr src_rect, std::int32_t radius);
std::int32_t bi_fire(std::int32_t plane, Addr rect);

}  // namespace talven::graphics
