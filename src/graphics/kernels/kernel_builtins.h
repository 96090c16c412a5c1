// Builtin handlers of the copy and fill family, typed (runtime/bind.h).
//
// Trap numbers: 30 gcopy, 31 gblit, 32 gblita, 33 gclear, 34 gfill,
// 35 gline, 36 gpoly. Each returns 1 when drawn, 0 on failure (bad
// addresses included). Rectangle and mode arguments are the addresses of
// their records, 0 for none.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::int32_t bi_gcopy(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                      Addr src_rect, Addr mode);
std::int32_t bi_gblit(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect, Addr mode,
                      std::int32_t angle);
std::int32_t bi_gblita(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect, Addr mode,
                       std::int32_t angle);
std::int32_t bi_gclear(std::int32_t plane, Addr rect, std::uint32_t color);
std::int32_t bi_gfill(std::int32_t plane, std::int32_t x, std::int32_t y, std::int32_t width,
                      std::int32_t height, std::uint32_t color);
std::int32_t bi_gline(std::int32_t plane, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                      std::int32_t y2, std::uint32_t color);
std::int32_t bi_gpoly(std::int32_t plane, Addr points, std::int32_t count, std::uint32_t color);

}  // namespace talven::graphics
