// Builtin handlers of the copy and fill family.
//
// Trap numbers: 30 gcopy, 31 gblit, 32 gblita, 33 gclear, 34 gfill,
// 35 gline, 36 gpoly. Each takes the script address of its argument block
// and returns 1 when drawn, 0 on failure (bad addresses included).
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::uint32_t bi_gcopy(Addr args);
std::uint32_t bi_gblit(Addr args);
std::uint32_t bi_gblita(Addr args);
std::uint32_t bi_gclear(Addr args);
std::uint32_t bi_gfill(Addr args);
std::uint32_t bi_gline(Addr args);
std::uint32_t bi_gpoly(Addr args);

}  // namespace talven::graphics
