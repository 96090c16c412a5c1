// Builtin handlers of the page and dirty-rectangle families.
//
// Trap numbers: 77 setorg, 78 vpage, 79 apage, 80 update, 89 drt_init,
// 90 drt_set, 91 drt_copy. Each takes the script address of its argument
// block and returns one word; bad addresses give 0.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::uint32_t bi_setorg(Addr args);
std::uint32_t bi_vpage(Addr args);
std::uint32_t bi_apage(Addr args);
std::uint32_t bi_update(Addr args);
std::uint32_t bi_drt_init(Addr args);
std::uint32_t bi_drt_set(Addr args);
std::uint32_t bi_drt_copy(Addr args);

}  // namespace talven::graphics
