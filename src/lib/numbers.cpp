#include "lib/numbers.h"

#include <array>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/random.h"
#include "graphics/kernels/tables.h"

namespace talven::lib {

namespace {

// ---- tables ------------------------------------------------------------------
std::array<float, 4096> noise_table;
bool tables_built = false;

std::int32_t noise_octaves = 4;
float noise_persistence = 0.5f;

}  // namespace

// The generator itself lives in base/random so that the filters share it.
void mt_seed(std::uint32_t seed) { talven::mt_seed(seed); }
std::uint32_t mt_next() { return talven::mt_next(); }

std::int32_t rand31() { return static_cast<std::int32_t>(mt_next() & 0x7FFFFFFFu); }

float random_unit() {
  return static_cast<float>(static_cast<double>(mt_next() & 0x7FFFFFFFu) * 0x1p-31);
}

void init_number_tables() {
  // Drawn from the generator at its self-seed so every run has the same noise,
  // then the generator is left for the caller to seed from the clock.
  mt_unseed();
  for (int i = 0; i < 4095; ++i) {
    noise_table[i] = static_cast<float>(static_cast<double>(mt_next() & 0x7FFFFFFFu) * 0x1p-31);
  }
  noise_table[4095] = 0.0f;
  noise_octaves = 4;
  noise_persistence = 0.5f;
  tables_built = true;
}

static void ensure_tables() {
  if (!tables_built) init_number_tables();
}

// The sine and arc-tangent tables are the kernels' own, built once and
// shared by graphics and these builtins.
std::int32_t tsin(std::int32_t angle) {
  return graphics::kernel_tables().sine[static_cast<std::uint32_t>(angle) & 2047];
}

std::int32_t tcos(std::int32_t angle) {
  return graphics::kernel_tables().sine[(static_cast<std::uint32_t>(angle) + 512) & 2047];
}

std::int32_t tatan(std::int32_t x, std::int32_t y) {
  const auto& atan_table = graphics::kernel_tables().arc;
  if (x == 0 && y == 0) return 0;
  // Magnitudes in 64 bits: the table index stays in 0..256 for every input.
  std::int64_t ax = std::abs(static_cast<std::int64_t>(x));
  std::int64_t ay = std::abs(static_cast<std::int64_t>(y));
  std::int32_t d = ax < ay ? 512 - atan_table[ax * 256 / ay] : atan_table[ay * 256 / ax];
  std::int32_t e = x > 0 ? d : 1024 - d;
  return (y <= 0 ? -e : e) & 2047;
}

float linear(float a, float b, float t) {
  return static_cast<float>(a + (static_cast<double>(b) - a) * t);
}

float bezier(float a, float b, float c, float t) {
  double u = 1.0 - t;
  return static_cast<float>(u * u * a + 2.0 * t * u * b + static_cast<double>(t) * t * c);
}

float neville(float a, float b, float c, float t) {
  float u = static_cast<float>(2.0 * t);
  float p01 = static_cast<float>(b + (static_cast<double>(b) - a) * (u - 1.0));
  float p12 = static_cast<float>(c + (static_cast<double>(c) - b) * (u - 2.0));
  return static_cast<float>(p12 + (u - 2.0) * (static_cast<double>(p12) - p01) * 0.5);
}

void kf_calc(std::span<KeyFrame> keys) {
  const std::size_t n = keys.size();
  for (std::size_t k = 0; k < n; ++k) {
    keys[k].work = keys[k].value;
    for (std::size_t j = k; j-- > 0;) {
      float num = static_cast<float>(static_cast<double>(keys[j + 1].work) - keys[j].work);
      float den = static_cast<float>(static_cast<double>(keys[k].time) - keys[j].time);
      keys[j].work = num / den;
    }
    keys[k].coef = keys[0].work;
  }
}

std::int32_t kf_getindex(std::span<const KeyFrame> keys, float x) {
  std::int32_t lo = 0, hi = static_cast<std::int32_t>(keys.size()) - 2;
  while (lo <= hi) {
    std::int32_t mid = lo + (hi - lo) / 2;
    if (x < keys[mid].time) hi = mid - 1;
    else if (x >= keys[mid + 1].time) lo = mid + 1;
    else return mid;
  }
  return -1;
}

float kf_getkey(std::span<const KeyFrame> keys, float x, std::int32_t mode) {
  const std::int32_t n = static_cast<std::int32_t>(keys.size());
  if (n < 1) return 0.0f;
  if (x <= keys[0].time) return keys[0].value;
  if (x >= keys[n - 1].time) return keys[n - 1].value;
  std::int32_t i = kf_getindex(keys, x);
  if (i < 0) return 0.0f;
  if (i + 1 >= n) return keys[n - 1].value;
  const float v0 = keys[i].value, v1 = keys[i + 1].value;
  float t = v0 == v1 ? 0.0f
                     : static_cast<float>((static_cast<double>(x) - keys[i].time) /
                                          (static_cast<double>(keys[i + 1].time) - keys[i].time));
  const double d = static_cast<double>(v1) - v0;
  switch (mode) {
    case 0: return v0;
    case 1: return static_cast<float>(v0 + d * t);
    case 2: return static_cast<float>(v0 + d * t * t);
    case 3: {
      float s = static_cast<float>(std::sqrt(static_cast<double>(t)));
      return static_cast<float>(v0 + d * s);
    }
    case 4: {
      float r = keys[n - 1].coef;
      for (std::int32_t k = n - 2; k >= 0; --k) {
        r = static_cast<float>((static_cast<double>(x) - keys[k].time) * r + keys[k].coef);
      }
      return r;
    }
    case 5: return neville(v0, v1, v1, t);
    case 6: return neville(v0, v0, v1, t);
    case 7: return bezier(v0, v1, v1, t);
    case 8: return bezier(v0, v0, v1, t);
    case 9: {
      auto time = [&](std::int32_t k) { return static_cast<double>(keys[k].time); };
      auto value = [&](std::int32_t k) { return static_cast<double>(keys[k].value); };
      double m1 = d, m0 = d;
      if (i + 2 < n) {
        m1 = static_cast<float>((time(i + 1) - time(i)) / (time(i + 2) - time(i))) *
             (value(i + 2) - v0);
      }
      if (i - 1 >= 0) {
        m0 = static_cast<float>((time(i + 1) - time(i)) / (time(i + 1) - time(i - 1))) *
             (v1 - value(i - 1));
      }
      float t2 = static_cast<float>(static_cast<double>(t) * t);
      float t3 = static_cast<float>(static_cast<double>(t2) * t);
      float h01 = static_cast<float>(3.0 * t2 - 2.0 * t3);
      float h11 = static_cast<float>(static_cast<double>(t3) - t2);
      float h00 = static_cast<float>(1.0 - h01);
      float h10 = static_cast<float>(static_cast<double>(t) + h11 - t2);
      return static_cast<float>(static_cast<double>(h00) * v0 + static_cast<double>(h01) * v1 +
                                h10 * m0 + h11 * m1);
    }
    default: return 0.0f;
  }
}

void perlin_init(std::int32_t octaves, float persistence) {
  // A float coordinate has no detail left after 24 doublings of its
  // fraction and 12 of its lattice index; later octaves only add the same
  // lattice value again, so the count is capped where that is long past.
  if (octaves > 0) noise_octaves = std::min(octaves, kMaxNoiseOctaves);
  if (persistence > 0) noise_persistence = persistence;
}

float perlin_noise(float x, float y, float z) {
  ensure_tables();
  if (noise_octaves < 1) return 0.0f;
  x = std::fabs(x);
  y = std::fabs(y);
  z = std::fabs(z);
  // Only the integer parts modulo 4096 reach the lattice index, so they are
  // kept reduced; that also keeps huge or non-finite coordinates (whose
  // conversion to an integer would be undefined) harmless.
  auto split = [](float v, std::int64_t& i, float& f) {
    if (!std::isfinite(v)) {
      i = 0;
      f = v - v;  // NaN, as the arithmetic would give
      return;
    }
    double t = std::trunc(static_cast<double>(v));
    i = static_cast<std::int64_t>(std::fmod(t, 4096.0));
    f = v - static_cast<float>(t);
  };
  std::int64_t ix, iy, iz;
  float fx, fy, fz;
  split(x, ix, fx);
  split(y, iy, fy);
  split(z, iz, fz);
  float w = 0.5f, sum = 0.0f;
  auto weight = [](float f) {
    float c = static_cast<float>(
        std::cos(static_cast<double>(static_cast<float>(std::numbers::pi_v<float> * f))));
    return (1.0f - c) / 2.0f;
  };
  auto at = [](std::int64_t i) { return noise_table[static_cast<std::uint64_t>(i) & 4095]; };
  auto lerp = [](float a, float b, float s) { return a + (b - a) * s; };
  for (std::int32_t o = 0; o < noise_octaves; ++o) {
    std::int64_t base = (256 * iz + 16 * iy + ix) & 4095;
    float sx = weight(fx), sy = weight(fy), sz = weight(fz);
    float x00 = lerp(at(base + 0), at(base + 1), sx);
    float x10 = lerp(at(base + 16), at(base + 17), sx);
    float x01 = lerp(at(base + 256), at(base + 257), sx);
    float x11 = lerp(at(base + 272), at(base + 273), sx);
    float y0 = lerp(x00, x10, sy);
    float y1 = lerp(x01, x11, sy);
    sum += lerp(y0, y1, sz) * w;
    w *= noise_persistence;
    auto twice = [](float& f, std::int64_t& i) {
      f *= 2.0f;
      i = (i * 2) & 4095;
      if (f >= 1.0f) {
        f -= 1.0f;
        i += 1;
      }
    };
    twice(fx, ix);
    twice(fy, iy);
    twice(fz, iz);
  }
  return sum;
}

std::uint32_t hash32(std::string_view s) {
  constexpr std::uint32_t kMod = 65521;
  std::uint32_t a = 0, b = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t chunk = std::min<std::size_t>(5552, s.size() - i);
    for (std::size_t k = 0; k < chunk; ++k) {
      a += static_cast<std::uint8_t>(s[i + k]);
      b += a;
    }
    a %= kMod;
    b %= kMod;
    i += chunk;
  }
  return (b << 16) + a;
}

std::uint32_t crc16(std::span<const std::uint8_t> data) {
  static const auto table = [] {
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 8;
      for (int bit = 0; bit < 8; ++bit) r = (r & 0x8000) ? ((r << 1) ^ 0x1021) : (r << 1);
      t[i] = static_cast<std::uint16_t>(r);
    }
    return t;
  }();
  std::uint32_t reg = 0xFFFF;
  for (std::uint8_t byte : data) reg = ((reg << 8) ^ table[((reg >> 8) ^ byte) & 0xFF]) & 0xFFFF;
  return 0xFFFF0000u | (~reg & 0xFFFF);
}

std::uint32_t crc32(std::span<const std::uint8_t> data) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 24;
      for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? ((r << 1) ^ 0x04C11DB7u) : (r << 1);
      t[i] = r;
    }
    return t;
  }();
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::uint8_t byte : data) reg = (reg << 8) ^ table[((reg >> 24) ^ byte) & 0xFF];
  return ~reg;
}

bool rect_intersect(const Rect& a, const Rect& b, Rect& out) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.empty()) {
    out = Rect{0, 0, 0, 0};
    return false;
  }
  out = r;
  return true;
}

bool rect_union(const Rect& a, const Rect& b, Rect& out) {
  if (a.empty() && b.empty()) {
    out = Rect{0, 0, 0, 0};
    return false;
  }
  if (a.empty()) {
    out = b;
  } else if (b.empty()) {
    out = a;
  } else {
    out = Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
               std::max(a.bottom, b.bottom)};
  }
  return true;
}

bool rect_contains(const Rect& r, std::int32_t x, std::int32_t y) {
  return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
}

}  // namespace talven::lib
