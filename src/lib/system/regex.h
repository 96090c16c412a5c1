// Regular expressions for scripts: Oniguruma with the Shift_JIS encoding and
// the Ruby syntax.
//
// Expressions are handles (small integers, never reused while the runtime
// runs). Regions are records in script memory, so that scripts read their
// offsets directly, laid out as the library's own region on a 32-bit
// system (20 bytes):
//     +0  allocated   number of entries the arrays hold
//     +4  num_regs    number of registers of the last match
//     +8  beg         address of num_regs 32-bit begin offsets
//     +12 end         address of num_regs 32-bit end offsets
//     +16 0           (history, unused)
// The region's address is its handle. The library's region lives in host
// memory beside it and is copied out after every search, match and clear;
// the header is rewritten each time, so a script that scribbled on it
// cannot move the arrays. Handles that were freed or never given out are
// refused on every call.
//
// Backtracking is bounded by the library's retry limits, so a catastrophic
// pattern ends with a negative code instead of hanging the game.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/address_space.h"

namespace talven::lib::system {

constexpr std::uint32_t kRegionSize = 20;

// 0 for a pattern that does not compile (or no room for another).
std::uint32_t regex_new(std::string_view pattern, std::uint32_t options);
bool regex_free(std::uint32_t handle);
// Searches text[0, length) from min(start, length) towards min(range, length):
// the offset of the match, or a negative library code (-1: none). Bad
// handles, text or regions give -1.
std::int32_t regex_search(std::uint32_t handle, Addr text, std::uint32_t length,
                          std::uint32_t start, std::uint32_t range, Addr region,
                          std::uint32_t options);
// Matches at min(position, length): the length of the match or a negative code.
std::int32_t regex_match(std::uint32_t handle, Addr text, std::uint32_t length,
                         std::uint32_t position, Addr region, std::uint32_t options);

Addr region_new();
bool region_free(Addr region);
bool region_clear(Addr region);

void regex_release_all();

}  // namespace talven::lib::system
