// Decoding and encoding of builtin argument words for the core builtins:
// integers, float bit patterns and script addresses, one 32-bit word each.
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/builtins.h"

namespace talven::lib {

inline std::uint32_t uarg(Addr args, unsigned i) { return runtime::arg_word(args, i); }
inline std::int32_t iarg(Addr args, unsigned i) {
  return static_cast<std::int32_t>(runtime::arg_word(args, i));
}
inline float farg(Addr args, unsigned i) { return std::bit_cast<float>(runtime::arg_word(args, i)); }

inline std::uint32_t word(std::int32_t v) { return static_cast<std::uint32_t>(v); }
inline std::uint32_t word(float v) { return std::bit_cast<std::uint32_t>(v); }
inline std::uint32_t word(bool v) { return v ? 1u : 0u; }

constexpr std::uint32_t kMinusOne = 0xFFFFFFFFu;

}  // namespace talven::lib
