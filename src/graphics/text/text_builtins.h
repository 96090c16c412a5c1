// Script-facing font and text builtins: decode, call the text module, encode.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

// Longest string gtext reads (bytes before the terminator); a longer or
// unterminated string is refused like a null one.
constexpr std::uint32_t kMaxTextBytes = 1u << 20;
// gtextf formats into a buffer of this many bytes (terminator included).
constexpr std::uint32_t kTextFormatBuffer = 1024;

std::uint32_t bi_font_list(Addr args);
std::uint32_t bi_font_use(Addr args);
std::uint32_t bi_font_set(Addr args);
std::uint32_t bi_font_get(Addr args);
std::uint32_t bi_font_abc(Addr args);
std::uint32_t bi_font_kern(Addr args);
std::uint32_t bi_gtext(Addr args);
std::uint32_t bi_gtextf(Addr args);

// The calling thread's current font slot (slot 0 outside script threads
// unless font_use was called there).
std::uint8_t current_font();

}  // namespace talven::graphics
