// Builtin handlers of the sprite and hit-area family (trap numbers 57-76),
// typed (runtime/bind.h) except sp_set.
//
// sp_flag, sp_setbg, sp_getbg, sp_reset, sp_link (LinkSprite), sp_unlink,
// hit_reset, hit_check and hit_point are sprite.h's operations themselves.
// Sprites and hit areas cross the boundary as the script addresses of their
// records; a failing sp_set answers with the dummy record, the hit-area
// queries with 0.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/sprite/sprite.h"  // the operations bound as they are

namespace talven::graphics {

bool bi_sp_init(std::uint32_t mask);
bool bi_sp_redraw(std::uint32_t mask);
// Raw form (7 words: layer, state, x, y, plane, source rect, blend record):
// an unreadable block answers with the dummy record, which no constant
// failure word can name.
std::uint32_t bi_sp_set(Addr args);
// `changed` (0 for none) receives the changed area.
bool bi_sp_draw(std::uint32_t mask, Addr changed);
bool bi_sp_bgorg(std::int32_t x, std::int32_t y);
bool bi_sp_org(std::uint32_t mask, std::int32_t x, std::int32_t y);
bool bi_sp_sort(std::uint32_t mask, std::uint32_t keys);
bool bi_sp_rect(Addr sprite, Addr box_out);
bool bi_hit_init(std::uint32_t mask);
Addr bi_hit_set(std::int32_t layer, std::uint32_t mask, Addr sprite, Addr rect, std::int32_t value);
Addr bi_hit_rect(Addr rect, std::uint32_t mask);

}  // namespace talven::graphics
