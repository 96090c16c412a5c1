// Script-facing font and text builtins: read and write the records their
// arguments point to, call the text module.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::graphics {

// Longest string gtext reads (bytes before the terminator); a longer or
// unterminated string is refused like a null one.
constexpr std::uint32_t kMaxTextBytes = 1u << 20;
// gtextf formats into a buffer of this many bytes (terminator included).
constexpr std::uint32_t kTextFormatBuffer = 1024;

// Typed handlers (runtime/bind.h). font_list writes up to `capacity`
// 32-byte face names at `names` and answers how many; the font queries
// write their answer to `out`.
std::uint32_t bi_font_list(Addr names, std::int32_t capacity);
bool bi_font_use(std::uint32_t font);
bool bi_font_set(std::int32_t slot, Addr desc);
bool bi_font_get(std::int32_t slot, Addr out);
bool bi_font_abc(std::int32_t slot, std::uint32_t code, Addr out);
bool bi_font_kern(std::int32_t slot, std::uint32_t pair, Addr out);
std::int32_t bi_gtext(std::int32_t plane, std::int32_t x, std::int32_t y, std::uint32_t colour,
                      Addr text);
// Raw form: variadic (plane, x, y, colour, format, format arguments...).
std::uint32_t bi_gtextf(Addr args);

// The calling thread's current font slot (slot 0 outside script threads
// unless font_use was called there).
std::uint8_t current_font();

}  // namespace talven::graphics
