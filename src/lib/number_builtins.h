// Number builtins: the random generator, table trigonometry, the float
// functions, interpolation, keyframes, noise, ftoa and the checksums, as
// thin handlers over lib/numbers.h.
//
// Float arguments and results are one word holding a 32-bit float. Failure
// values when an address or count does not fit in valid script memory (or
// is null where the builtin needs one):
//
//   ftoa, kf_setkey, kf_calc        0 (else 1)
//   kf_getindex                     -1
//   kf_getkey                       0.0
//   crc16, crc32                    0 (a count of 0 or less checksums no
//                                   bytes: 0xFFFF0000 and 0)
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/address_space.h"
#include "lib/numbers.h"

namespace talven::lib {

// Keyframe arrays in script memory (count records of 16 bytes).
std::optional<std::vector<KeyFrame>> load_keyframes(Addr keys, std::int32_t count);
bool store_keyframes(Addr keys, const std::vector<KeyFrame>& frames);

std::uint32_t bi_srand(Addr args);
std::uint32_t bi_rand(Addr args);
std::uint32_t bi_abs(Addr args);
std::uint32_t bi_sgn(Addr args);
std::uint32_t bi_tsin(Addr args);
std::uint32_t bi_tcos(Addr args);
std::uint32_t bi_tatan(Addr args);
std::uint32_t bi_random(Addr args);
std::uint32_t bi_fabs(Addr args);
std::uint32_t bi_sqrt(Addr args);
std::uint32_t bi_pow(Addr args);
std::uint32_t bi_log(Addr args);
std::uint32_t bi_exp(Addr args);
std::uint32_t bi_floor(Addr args);
std::uint32_t bi_ceil(Addr args);
std::uint32_t bi_sin(Addr args);
std::uint32_t bi_cos(Addr args);
std::uint32_t bi_tan(Addr args);
std::uint32_t bi_asin(Addr args);
std::uint32_t bi_acos(Addr args);
std::uint32_t bi_atan(Addr args);
std::uint32_t bi_ftoa(Addr args);
std::uint32_t bi_perlin_init(Addr args);
std::uint32_t bi_perlin_noise(Addr args);
std::uint32_t bi_bezier(Addr args);
std::uint32_t bi_neville(Addr args);
std::uint32_t bi_linear(Addr args);
std::uint32_t bi_kf_setkey(Addr args);
std::uint32_t bi_kf_calc(Addr args);
std::uint32_t bi_kf_getindex(Addr args);
std::uint32_t bi_kf_getkey(Addr args);
std::uint32_t bi_crc16(Addr args);
std::uint32_t bi_crc32(Addr args);

}  // namespace talven::lib
