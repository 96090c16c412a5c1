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

// The builtins (typed: runtime/bind.h).
bool bi_rc_empty(Addr rect);
bool bi_rc_set(Addr rect, std::int32_t left, std::int32_t top, std::int32_t right,
               std::int32_t bottom);
bool bi_rc_setwh(Addr rect, std::int32_t x, std::int32_t y, std::int32_t width,
                 std::int32_t height);
bool bi_rc_copy(Addr dst, Addr src);
bool bi_rc_move(Addr rect, std::int32_t dx, std::int32_t dy);
bool bi_rc_intersect(Addr dst, Addr a, Addr b);
bool bi_rc_union(Addr dst, Addr a, Addr b);
bool bi_rc_inflate(Addr rect, std::int32_t dx, std::int32_t dy);
bool bi_rc_in(Addr rect, std::int32_t x, std::int32_t y);
bool bi_rc_check(Addr rect);

}  // namespace talven::lib
