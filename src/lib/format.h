// The printf-style formatter of sprintf and log_out, over 32-bit argument
// words as scripts pass them.
//
// Integers take one word (%d %i %u %x %X %o %c; h, l and ll size prefixes are
// accepted and ignored: every argument is one word), %s takes the script
// address of a zero-terminated string, and the floating conversions
// (%f %e %E %g %G) take one word holding a 32-bit float, since scripts push
// floats as single words. %p prints a word as eight hexadecimal digits; %n
// is not supported (printed as is) since it would write through an argument.
// A bad string address prints "(null)".
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
