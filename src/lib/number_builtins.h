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

// The builtins (typed: runtime/bind.h). Where a function of numbers.h is
// the builtin itself, the name refers to it.
std::int32_t bi_srand(std::uint32_t seed);  // 0: seeded from the clock
inline constexpr auto& bi_rand = rand31;
std::int32_t bi_abs(std::int32_t n);  // |INT_MIN| wraps to itself
std::int32_t bi_sgn(std::int32_t n);
inline constexpr auto& bi_tsin = tsin;
inline constexpr auto& bi_tcos = tcos;
inline constexpr auto& bi_tatan = tatan;
inline constexpr auto& bi_random = random_unit;
float bi_fabs(float x);
float bi_sqrt(float x);
float bi_pow(float x, float y);
float bi_log(float x);
float bi_exp(float x);
float bi_floor(float x);
float bi_ceil(float x);
float bi_sin(float x);
float bi_cos(float x);
float bi_tan(float x);
float bi_asin(float x);
float bi_acos(float x);
float bi_atan(float y, float x);
bool bi_ftoa(Addr buffer, float value);
std::int32_t bi_perlin_init(std::int32_t octaves, float persistence);
inline constexpr auto& bi_perlin_noise = perlin_noise;
inline constexpr auto& bi_bezier = bezier;
inline constexpr auto& bi_neville = neville;
inline constexpr auto& bi_linear = linear;
bool bi_kf_setkey(Addr key, std::uint32_t time, std::uint32_t value);
bool bi_kf_calc(Addr keys, std::int32_t count);
std::int32_t bi_kf_getindex(Addr keys, std::int32_t count, float x);
float bi_kf_getkey(Addr keys, std::int32_t count, float x, std::int32_t mode);
std::uint32_t bi_crc16(Addr data, std::int32_t count);
std::uint32_t bi_crc32(Addr data, std::int32_t count);

}  // namespace talven::lib
