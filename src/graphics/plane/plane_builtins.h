// Builtin handlers of the plane, palette and colour families, typed
// (runtime/bind.h): each parameter is one argument word, first argument
// first; bad addresses give the failure result (false or 0).
// Trap numbers: 14 pal_map, 15 pal_load, 16 pal_set, 17 pal_get, 18 pal_sets,
// 19 pal_gets, 20 pal_change, 21 getpixel, 22 rgbtohsv, 23 hsvtorgb,
// 24 gclip, 25 ginit, 26 galloc, 27 gfree, 28 gload, 29 gsave, 37 gattach,
// 38 gdetach, 39 ggetpal, 40 gsetpal, 41 ginfo, 42 dload, 43 dcopy.
// rgbtohsv and hsvtorgb are plane.h's conversions themselves.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/plane/plane.h"  // rgbtohsv, hsvtorgb: bound as they are

namespace talven::graphics {

bool bi_pal_map(Addr palette);
std::uint32_t bi_pal_load(std::int32_t plane, std::uint32_t index, std::uint32_t first,
                          std::int32_t count);
bool bi_pal_set(std::uint32_t index, std::uint32_t color);
std::uint32_t bi_pal_get(std::uint32_t index);
bool bi_pal_sets(std::uint32_t first, std::int32_t count, Addr colors);
bool bi_pal_gets(std::uint32_t first, std::int32_t count, Addr colors);
bool bi_pal_change();
std::uint32_t bi_getpixel(std::int32_t plane, std::int32_t x, std::int32_t y);
bool bi_gclip(std::int32_t plane, Addr rect);
bool bi_ginit();
// slot_arg: a slot below 1024, or the address of a variable that receives
// the highest free slot.
bool bi_galloc(std::uint32_t slot_arg, std::int32_t width, std::int32_t height, std::int32_t bpp);
bool bi_gfree(std::uint32_t plane);
bool bi_gload(std::uint32_t slot_arg, Addr path);
bool bi_gsave(Addr path, std::int32_t plane, Addr rect);
bool bi_gattach(std::uint32_t plane, std::uint32_t mask);
bool bi_gdetach(std::uint32_t plane);
std::uint32_t bi_ggetpal(std::int32_t plane, std::uint32_t first, std::int32_t count, Addr colors);
std::uint32_t bi_gsetpal(std::int32_t plane, std::uint32_t first, std::int32_t count, Addr colors);
bool bi_ginfo(std::int32_t plane, Addr info);
bool bi_dload(std::int32_t plane, std::int32_t x, std::int32_t y, Addr path, Addr changed);
bool bi_dcopy(std::int32_t plane, std::int32_t x, std::int32_t y, Addr data, Addr changed);

}  // namespace talven::graphics
