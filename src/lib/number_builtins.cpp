#include "lib/number_builtins.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>

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

std::int32_t bi_srand(std::uint32_t seed) {
  mt_seed(seed != 0 ? seed : runtime::tick_count());
  return 1;
}

std::int32_t bi_abs(std::int32_t n) {
  const std::uint32_t u = static_cast<std::uint32_t>(n);
  return static_cast<std::int32_t>(n < 0 ? 0u - u : u);
}

std::int32_t bi_sgn(std::int32_t n) { return n > 0 ? 1 : n < 0 ? -1 : 0; }

namespace {

// The C library's double-precision function, rounded to float.
template <double (*F)(double)>
float float_function(float x) {
  return static_cast<float>(F(static_cast<double>(x)));
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

float bi_fabs(float x) { return float_function<absolute>(x); }
float bi_sqrt(float x) { return float_function<square_root>(x); }
float bi_log(float x) { return float_function<logarithm>(x); }
float bi_exp(float x) { return float_function<exponential>(x); }
float bi_floor(float x) { return float_function<round_down>(x); }
float bi_ceil(float x) { return float_function<round_up>(x); }
float bi_sin(float x) { return float_function<sine>(x); }
float bi_cos(float x) { return float_function<cosine>(x); }
float bi_tan(float x) { return float_function<tangent>(x); }
float bi_asin(float x) { return float_function<arc_sine>(x); }
float bi_acos(float x) { return float_function<arc_cosine>(x); }

float bi_pow(float x, float y) {
  return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(y)));
}

float bi_atan(float y, float x) {
  return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

bool bi_ftoa(Addr buffer, float value) {
  char text[64];
  double v = value;
  int n = std::snprintf(text, sizeof text, "%f", v);
  if (n < 0) return false;
  if (static_cast<std::size_t>(n) >= sizeof text) {
    // Only huge magnitudes get here (a float has at most 39 integer digits).
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::snprintf(big.data(), big.size(), "%f", v);
    return write_bytes(buffer, big.data(), static_cast<std::uint32_t>(n) + 1);
  }
  return write_bytes(buffer, text, static_cast<std::uint32_t>(n) + 1);
}

std::int32_t bi_perlin_init(std::int32_t octaves, float persistence) {
  perlin_init(octaves, persistence);
  return 1;
}

bool bi_kf_setkey(Addr key, std::uint32_t time, std::uint32_t value) {
  if (key == kNullAddr || !valid_range(key, 8)) return false;
  store32(key, time);
  store32(key + 4, value);
  return true;
}

bool bi_kf_calc(Addr keys, std::int32_t count) {
  auto frames = load_keyframes(keys, count < 0 ? 0 : count);
  if (!frames) return false;
  kf_calc(*frames);
  return store_keyframes(keys, *frames);
}

std::int32_t bi_kf_getindex(Addr keys, std::int32_t count, float x) {
  auto frames = load_keyframes(keys, count < 0 ? 0 : count);
  if (!frames) return -1;
  return kf_getindex(*frames, x);
}

float bi_kf_getkey(Addr keys, std::int32_t count, float x, std::int32_t mode) {
  if (count < 1) return 0.0f;
  auto frames = load_keyframes(keys, count);
  if (!frames) return 0.0f;
  return kf_getkey(*frames, x, mode);
}

namespace {

// The bytes a checksum covers: none for a count of 0 or less.
std::optional<std::span<const std::uint8_t>> checksum_bytes(Addr data, std::int32_t count) {
  if (count <= 0) return std::span<const std::uint8_t>();
  const std::uint8_t* p = span(data, static_cast<std::uint32_t>(count));
  if (!p) return std::nullopt;
  return std::span<const std::uint8_t>(p, static_cast<std::size_t>(count));
}

}  // namespace

std::uint32_t bi_crc16(Addr data, std::int32_t count) {
  auto bytes = checksum_bytes(data, count);
  return bytes ? crc16(*bytes) : 0;
}

std::uint32_t bi_crc32(Addr data, std::int32_t count) {
  auto bytes = checksum_bytes(data, count);
  return bytes ? crc32(*bytes) : 0;
}

}  // namespace talven::lib
