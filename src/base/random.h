// The process-wide random generator: MT19937 with the 1998 seeding routine.
//
// One generator serves the whole runtime: scripts' srand, rand and random
// (lib/numbers) and the pixel filters that draw random numbers (noise, slice,
// fire), so a seeded run repeats exactly. Callers run under the builtin lock
// (or before any script starts), so the state has no lock of its own.
#pragma once

#include <cstdint>

namespace talven {

void mt_seed(std::uint32_t seed);
// Full 32-bit output; a generator never seeded seeds itself with 4357.
std::uint32_t mt_next();
// Back to the never-seeded state.
void mt_unseed();
// Next output AND 0x7FFFFFFF (0 to 2147483647).
inline std::int32_t mt_rand31() { return static_cast<std::int32_t>(mt_next() & 0x7FFFFFFFu); }

}  // namespace talven
