// Numbers for scripts: table trigonometry on a 2048-step circle, the
// process-wide Mersenne Twister, value noise, interpolation and keyframe
// curves, string hashing and checksums.
//
// These are plain functions over host values; the builtin handlers decode
// argument words (integers, float bit patterns, script addresses) and call
// them. Everything here runs under the builtin lock, so the generator and
// noise settings need no lock of their own.
//
// Float results follow the runtime's rounding points: an operation is done in
// double precision and rounded to float where a value is stored, so results
// are the same on every host.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace talven::lib {

// ---- tables --------------------------------------------------------------
// The noise table, drawn from the generator at its fixed start (runtime
// start calls this before seeding the generator from the clock). The sine
// and arc-tangent tables are the pixel kernels' (graphics/kernels/tables.h).
void init_number_tables();

std::int32_t tsin(std::int32_t angle);  // 16.16, angle in 1/2048 turn
std::int32_t tcos(std::int32_t angle);
std::int32_t tatan(std::int32_t x, std::int32_t y);  // 0..2047

// ---- random generator ------------------------------------------------------
void mt_seed(std::uint32_t seed);
std::uint32_t mt_next();  // full 32-bit output (self-seeds with 4357)
std::int32_t rand31();    // next output AND 0x7FFFFFFF
float random_unit();      // (next AND 0x7FFFFFFF) * 2^-31 as float

// ---- interpolation ---------------------------------------------------------
float linear(float a, float b, float t);
float bezier(float a, float b, float c, float t);
float neville(float a, float b, float c, float t);

// A keyframe as scripts store it (16 bytes).
struct KeyFrame {
  float time;
  float value;
  float coef;
  float work;
};
static_assert(sizeof(KeyFrame) == 16);

void kf_calc(std::span<KeyFrame> keys);
std::int32_t kf_getindex(std::span<const KeyFrame> keys, float x);
float kf_getkey(std::span<const KeyFrame> keys, float x, std::int32_t mode);

// ---- noise -------------------------------------------------------------------
// perlin_init counts at most this many octaves.
constexpr std::int32_t kMaxNoiseOctaves = 64;
void perlin_init(std::int32_t octaves, float persistence);
float perlin_noise(float x, float y, float z);

// ---- hashing and checksums ------------------------------------------------
std::uint32_t hash32(std::string_view s);
std::uint32_t crc16(std::span<const std::uint8_t> data);  // 0xFFFF0000 | crc
std::uint32_t crc32(std::span<const std::uint8_t> data);

// ---- rectangles (left, top, right, bottom; right and bottom exclusive) ----
struct Rect {
  std::int32_t left, top, right, bottom;
  bool empty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect&) const = default;
};
static_assert(sizeof(Rect) == 16);

// Overlap of a and b; false (and all zeros) when they do not overlap.
bool rect_intersect(const Rect& a, const Rect& b, Rect& out);
// Bounding rectangle, ignoring empty inputs; false (all zeros) when both are empty.
bool rect_union(const Rect& a, const Rect& b, Rect& out);
bool rect_contains(const Rect& r, std::int32_t x, std::int32_t y);

}  // namespace talven::lib
