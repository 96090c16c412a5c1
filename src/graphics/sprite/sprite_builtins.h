// Builtin handlers of the sprite and hit-area family (trap numbers 57-76).
//
// Each takes the script address of its argument block. Sprites and hit
// areas cross the boundary as the script addresses of their records; a
// failing sp_set answers with the dummy record, the hit-area queries with 0.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

std::uint32_t bi_sp_flag(Addr args);
std::uint32_t bi_sp_init(Addr args);
std::uint32_t bi_sp_setbg(Addr args);
std::uint32_t bi_sp_getbg(Addr args);
std::uint32_t bi_sp_redraw(Addr args);
std::uint32_t bi_sp_set(Addr args);
std::uint32_t bi_sp_reset(Addr args);
std::uint32_t bi_sp_link(Addr args);
std::uint32_t bi_sp_unlink(Addr args);
std::uint32_t bi_sp_draw(Addr args);
std::uint32_t bi_sp_bgorg(Addr args);
std::uint32_t bi_sp_org(Addr args);
std::uint32_t bi_sp_sort(Addr args);
std::uint32_t bi_sp_rect(Addr args);
std::uint32_t bi_hit_init(Addr args);
std::uint32_t bi_hit_set(Addr args);
std::uint32_t bi_hit_reset(Addr args);
std::uint32_t bi_hit_check(Addr args);
std::uint32_t bi_hit_rect(Addr args);
std::uint32_t bi_hit_point(Addr args);

}  // namespace talven::graphics
