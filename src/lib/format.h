// The printf-style formatter of sprintf and log_out, over 32-bit argument
// words as scripts pass them.
//
// Conversions read words the way a C library of a 32-bit machine reads its
// stack: every integer conversion takes one word, cut to the size its length
// modifier names (`hh` char, `h` short; none, `l`, `I32`, `I`, `z`, `t` and
// `L` 32 bits), except `ll`, `I64`, `j` and `q`, which take two words (low
// word first) as one 64-bit integer. %s takes the script address of a
// zero-terminated string; `l`/`w` with %s and %c, and %S and %C, take
// 16-bit characters (a string address, or the low half of the word) and
// write them as CP932. The floating conversions (%f %F %e %E %g %G %a %A)
// take one word holding a 32-bit float whatever their length modifier, since
// scripts push floats as single words. %p prints a word as eight hexadecimal
// digits; %n is not supported (printed as is) since it would write through
// an argument. A bad string address prints "(null)". Widths and precisions
// above 9999 are taken as 9999.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/address_space.h"

namespace talven::lib {

// Supplies argument words in order; returns false when no more words may be
// read (the formatter then uses 0).
using WordSource = std::function<bool(std::uint32_t& word)>;

std::string format_words(std::string_view format, const WordSource& next_word);

// Arguments from script memory: words at args, args + 4, ... while they
// stay below `limit` (exclusive; the caller's stack top), so a format that
// asks for more arguments than were passed reads nothing outside the stack.
std::string format_script_args(std::string_view format, Addr args, Addr limit);

}  // namespace talven::lib
