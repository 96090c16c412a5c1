// Rectangle builtins (rc_*) over 16-byte records in script memory: left,
// top, right, bottom as signed 32-bit integers, right and bottom exclusive.
//
// A null or unreachable record makes every builtin return 0 without writing
// anything, except rc_check, which takes such a rectangle as empty (1).
// Coordinate arithmetic wraps at 32 bits.
#pragma once

#include <cstdint>
#include <optional>

#include "base/address_space.h"
#include "lib/numbers.h"

namespace talven::lib {

std::optional<Rect> load_rect(Addr addr);
bool store_rect(Addr addr, const Rect& r);

std::uint32_t bi_rc_empty(Addr args);
std::uint32_t bi_rc_set(Addr args);
std::uint32_t bi_rc_setwh(Addr args);
std::uint32_t bi_rc_copy(Addr args);
std::uint32_t bi_rc_move(Addr args);
std::uint32_t bi_rc_intersect(Addr args);
std::uint32_t bi_rc_union(Addr args);
std::uint32_t bi_rc_inflate(Addr args);
std::uint32_t bi_rc_in(Addr args);
std::uint32_t bi_rc_check(Addr args);

}  // namespace talven::lib
