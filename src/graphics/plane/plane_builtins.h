// Builtin handlers of the plane, palette and colour families.
//
// Each takes the script address of its argument block (first argument
// lowest) and returns one word; bad addresses give the failure value.
// Trap numbers: 14 pal_map, 15 pal_load, 16 pal_set, 17 pal_get, 18 pal_sets,
// 19 pal_gets, 20 pal_change, 21 getpixel, 22 rgbtohsv, 23 hsvtorgb,
// 24 gclip, 25 ginit, 26 galloc, 27 gfree, 28 gload, 29 gsave, 37 gattach,
// 38 gdetach, 39 ggetpal, 40 gsetpal, 41 ginfo, 42 dload, 43 dcopy.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::uint32_t bi_pal_map(Addr args);
std::uint32_t bi_pal_load(Addr args);
std::uint32_t bi_pal_set(Addr args);
std::uint32_t bi_pal_get(Addr args);
std::uint32_t bi_pal_sets(Addr args);
std::uint32_t bi_pal_gets(Addr args);
std::uint32_t bi_pal_change(Addr args);
std::uint32_t bi_getpixel(Addr args);
std::uint32_t bi_rgbtohsv(Addr args);
std::uint32_t bi_hsvtorgb(Addr args);
std::uint32_t bi_gclip(Addr args);
std::uint32_t bi_ginit(Addr args);
std::uint32_t bi_galloc(Addr args);
std::uint32_t bi_gfree(Addr args);
std::uint32_t bi_gload(Addr args);
std::uint32_t bi_gsave(Addr args);
std::uint32_t bi_gattach(Addr args);
std::uint32_t bi_gdetach(Addr args);
std::uint32_t bi_ggetpal(Addr args);
std::uint32_t bi_gsetpal(Addr args);
std::uint32_t bi_ginfo(Addr args);
std::uint32_t bi_dload(Addr args);
std::uint32_t bi_dcopy(Addr args);

}  // namespace talven::graphics
