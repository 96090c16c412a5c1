#include "lib/number_builtins.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>

#include "lib/arg_words.h"
#include "runtime/game_clock.h"

namespace talven::lib {

std::optional<std::vector<KeyFrame>> load_keyframes(Addr keys, std::int32_t count) {
  if (keys == kNullAddr || count < 0) return std::nullopt;
  std::uint64_t bytes = std::uint64_t{static_cast<std::uint32_t>(count)} * sizeof(KeyFrame);
  const std::uint8_t* p = span(keys, bytes);
  if (!p) return std::nullopt;
  std::vector<KeyFrame> frames(static_cast<std::size_t>(count));
  if (bytes) std::memcpy(frames.data(), p, bytes);
  return frames;
}

bool store_keyframes(Addr keys, const std::vector<KeyFrame>& frames) {
  std::uint8_t* p = wspan(keys, frames.size() * sizeof(KeyFrame));
  if (!p) return false;
  if (!frames.empty()) std::memcpy(p, frames.data(), frames.size() * sizeof(KeyFrame));
  return true;
}

std::uint32_t bi_srand(Addr args) {
  std::uint32_t seed = uarg(args, 0);
  mt_seed(seed != 0 ? seed : runtime::tick_count());
  return 1;
}

std::uint32_t bi_rand(Addr) { return word(rand31()); }

std::uint32_t bi_abs(Addr args) {
  std::uint32_t n = uarg(args, 0);
  return static_cast<std::int32_t>(n) < 0 ? 0u - n : n;  // |INT_MIN| wraps to itself
}

std::uint32_t bi_sgn(Addr args) {
  std::int32_t n = iarg(args, 0);
  return word(static_cast<std::int32_t>(n > 0 ? 1 : n < 0 ? -1 : 0));
}

std::uint32_t bi_tsin(Addr args) { return word(tsin(iarg(args, 0))); }
std::uint32_t bi_tcos(Addr args) { return word(tcos(iarg(args, 0))); }
std::uint32_t bi_tatan(Addr args) { return word(tatan(iarg(args, 0), iarg(args, 1))); }
std::uint32_t bi_random(Addr) { return word(random_unit()); }

namespace {

// The C library's double-precision function, rounded to float.
template <double (*F)(double)>
std::uint32_t float_function(Addr args) {
  return word(static_cast<float>(F(static_cast<double>(farg(args, 0)))));
}

double absolute(double x) { return std::fabs(x); }
double square_root(double x) { return std::sqrt(x); }
double logarithm(double x) { return std::log(x); }
double exponential(double x) { return std::exp(x); }
double round_down(double x) { return std::floor(x); }
double round_up(double x) { return std::ceil(x); }
double sine(double x) { return std::sin(x); }
double cosine(double x) { return std::cos(x); }
double tangent(double x) { return std::tan(x); }
double arc_sine(double x) { return std::asin(x); }
double arc_cosine(double x) { return std::acos(x); }

}  // namespace

std::uint32_t bi_fabs(Addr args) { return float_function<absolute>(args); }
std::uint32_t bi_sqrt(Addr args) { return float_function<square_root>(args); }
std::uint32_t bi_log(Addr args) { return float_function<logarithm>(args); }
std::uint32_t bi_exp(Addr args) { return float_function<exponential>(args); }
std::uint32_t bi_floor(Addr args) { return float_function<round_down>(args); }
std::uint32_t bi_ceil(Addr args) { return float_function<round_up>(args); }
std::uint32_t bi_sin(Addr args) { return float_function<sine>(args); }
std::uint32_t bi_cos(Addr args) { return float_function<cosine>(args); }
std::uint32_t bi_tan(Addr args) { return float_function<tangent>(args); }
std::uint32_t bi_asin(Addr args) { return float_function<arc_sine>(args); }
std::uint32_t bi_acos(Addr args) { return float_function<arc_cosine>(args); }

std::uint32_t bi_pow(Addr args) {
  return word(static_cast<float>(std::pow(static_cast<double>(farg(args, 0)), static_cast<double>(farg(args, 1)))));
}

std::uint32_t bi_atan(Addr args) {
  return word(static_cast<float>(std::atan2(static_cast<double>(farg(args, 0)), static_cast<double>(farg(args, 1)))));
}

std::uint32_t bi_ftoa(Addr args) {
  char text[64];
  double v = farg(args, 1);
  int n = std::snprintf(text, sizeof text, "%f", v);
  if (n < 0) return 0;
  if (static_cast<std::size_t>(n) >= sizeof text) {
    // Only huge magnitudes get here (a float has at most 39 integer digits).
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::snprintf(big.data(), big.size(), "%f", v);
    return write_bytes(uarg(args, 0), big.data(), static_cast<std::uint32_t>(n) + 1) ? 1 : 0;
  }
  return write_bytes(uarg(args, 0), text, static_cast<std::uint32_t>(n) + 1) ? 1 : 0;
}

std::uint32_t bi_perlin_init(Addr args) {
  perlin_init(iarg(args, 0), farg(args, 1));
  return 1;
}

std::uint32_t bi_perlin_noise(Addr args) {
  return word(perlin_noise(farg(args, 0), farg(args, 1), farg(args, 2)));
}

std::uint32_t bi_bezier(Addr args) {
  return word(bezier(farg(args, 0), farg(args, 1), farg(args, 2), farg(args, 3)));
}

std::uint32_t bi_neville(Addr args) {
  return word(neville(farg(args, 0), farg(args, 1), farg(args, 2), farg(args, 3)));
}

std::uint32_t bi_linear(Addr args) { return word(linear(farg(args, 0), farg(args, 1), farg(args, 2))); }

std::uint32_t bi_kf_setkey(Addr args) {
  Addr key = uarg(args, 0);
  if (key == kNullAddr || !valid_range(key, 8)) return 0;
  store32(key, uarg(args, 1));      // time
  store32(key + 4, uarg(args, 2));  // value
  return 1;
}

std::uint32_t bi_kf_calc(Addr args) {
  Addr keys = uarg(args, 0);
  std::int32_t count = iarg(args, 1);
  auto frames = load_keyframes(keys, count < 0 ? 0 : count);
  if (!frames) return 0;
  kf_calc(*frames);
  return store_keyframes(keys, *frames) ? 1 : 0;
}

std::uint32_t bi_kf_getindex(Addr args) {
  std::int32_t count = iarg(args, 1);
  auto frames = load_keyframes(uarg(args, 0), count < 0 ? 0 : count);
  if (!frames) return kMinusOne;
  return word(kf_getindex(*frames, farg(args, 2)));
}

std::uint32_t bi_kf_getkey(Addr args) {
  std::int32_t count = iarg(args, 1);
  if (count < 1) return word(0.0f);
  auto frames = load_keyframes(uarg(args, 0), count);
  if (!frames) return word(0.0f);
  return word(kf_getkey(*frames, farg(args, 2), iarg(args, 3)));
}

namespace {

std::optional<std::span<const std::uint8_t>> checksum_bytes(Addr args) {
  std::int32_t count = iarg(args, 1);
  if (count <= 0) return std::span<const std::uint8_t>();
  const std::uint8_t* p = span(uarg(args, 0), static_cast<std::uint32_t>(count));
  if (!p) return std::nullopt;
  return std::span<const std::uint8_t>(p, static_cast<std::size_t>(count));
}

}  // namespace

std::uint32_t bi_crc16(Addr args) {
  auto data = checksum_bytes(args);
  return data ? crc16(*data) : 0;
}

std::uint32_t bi_crc32(Addr args) {
  auto data = checksum_bytes(args);
  return data ? crc32(*data) : 0;
}

}  // namespace talven::lib
