// Memory builtins: malloc, realloc, free and the mem* family over the script
// address space.
//
// Blocks come from the script heap, so every address a script holds stays
// inside its space. Every access is checked; an address or count that does
// not fit inside valid script memory makes the builtin do nothing and return
// its failure value:
//
//   malloc, realloc              0 (realloc keeps the old block)
//   free                         1 for a block or null, 0 for an address
//                                that is not the start of a live block
//   memcpy, memmove, memset,
//   memswap                      0 (1 on success; a count of 0 succeeds)
//   memcmp                       0x7FFFFFFF (results are otherwise -1, 0, 1)
//
// Counts are unsigned 32-bit, except memswap's, where a count of 0 or less
// (as a signed word) does nothing and succeeds.
#pragma once

#include <cstdint>
#include <optional>

#include "base/address_space.h"

namespace talven::lib {

// Result of the comparison builtins for an unreadable argument.
constexpr std::uint32_t kCompareError = 0x7FFFFFFFu;

bool mem_copy(Addr dst, Addr src, std::uint32_t count);  // overlap-safe
bool mem_set(Addr dst, std::uint8_t value, std::uint32_t count);
// -1, 0 or 1 by the first differing byte (unsigned); nullopt when unreadable.
std::optional<int> mem_compare(Addr a, Addr b, std::uint32_t count);
// Exchanges two blocks byte by byte (overlapping blocks swap in order, as a
// byte loop would).
bool mem_swap(Addr a, Addr b, std::uint32_t count);

// The builtins (typed: runtime/bind.h).
Addr bi_malloc(std::uint32_t size);
Addr bi_realloc(Addr block, std::uint32_t size);
bool bi_free(Addr block);
bool bi_memcpy(Addr dst, Addr src, std::uint32_t count);
bool bi_memmove(Addr dst, Addr src, std::uint32_t count);
bool bi_memset(Addr dst, std::uint32_t value, std::uint32_t count);
std::int32_t bi_memcmp(Addr a, Addr b, std::uint32_t count);
bool bi_memswap(Addr a, Addr b, std::int32_t count);

}  // namespace talven::lib
