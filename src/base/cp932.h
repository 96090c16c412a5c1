// Code page 932 (Shift_JIS) text: the runtime's text encoding.
//
// Everything inside the runtime is CP932 bytes; conversion to UTF-8 happens
// only at the edges (file names, window titles, terminal output). The case
// rules here are the ones the runtime uses everywhere it compares names:
// archive directories, INI sections and keys, string builtins.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talven::cp932 {

// 0x81..0x9F and 0xE0..0xFC start a two-byte character.
constexpr bool is_lead(std::uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Length in bytes (1 or 2) of the character starting at s[i]; a lead byte at
// the very end of the text (no trail byte, or a zero trail) counts as 1.
std::size_t char_len(std::string_view s, std::size_t i);
// Index of the next character after the one at s[i].
inline std::size_t next(std::string_view s, std::size_t i) { return i + char_len(s, i); }
// Index of the character that contains byte i (scanning from the start).
std::size_t char_start(std::string_view s, std::size_t i);
// Number of characters.
std::size_t count_chars(std::string_view s);

// Case mapping as the Japanese code page maps it: ASCII letters, and the
// full-width Latin letters (0x8260..0x8279 upper, 0x8281..0x829A lower).
// Characters are given as a code: one byte, or lead*256 + trail. Other
// double-byte letters (Greek, Cyrillic) and half-width katakana are left as
// they are, so names using them must match exactly.
std::uint16_t to_upper(std::uint16_t code);
std::uint16_t to_lower(std::uint16_t code);
std::string upper(std::string_view s);
std::string lower(std::string_view s);

// Case-insensitive comparison (<0, 0, >0): single-byte capitals are folded to
// small letters; double-byte characters are upper-cased and compared as
// 16-bit values with the lead byte high; a single-byte character compares as
// its byte value against a double-byte code; a prefix sorts first.
int compare_nocase(std::string_view a, std::string_view b);

// The same with single-byte small letters folded to capitals instead (the
// rule of the string builtins' case-insensitive comparison): it differs from
// compare_nocase only for the characters between 'Z' and 'a' ([ \ ] ^ _ `),
// which sort after the letters here and before them there.
int compare_nocase_upper(std::string_view a, std::string_view b);

// Case-sensitive multibyte comparison: characters compare by code (one byte,
// or lead*256 + trail, so every double-byte character sorts after every
// single-byte one); a prefix sorts first.
int compare(std::string_view a, std::string_view b);

// The character code at s[i]: one byte, or lead*256 + trail.
std::uint16_t code_at(std::string_view s, std::size_t i);

// A key for hashing and equality under compare_nocase: fold_nocase(a) ==
// fold_nocase(b) exactly when compare_nocase(a, b) == 0.
std::string fold_nocase(std::string_view s);

// Conversions to and from UTF-8, alike on every platform. nullopt when the
// input does not convert.
std::optional<std::string> to_utf8(std::string_view cp932);
std::optional<std::string> from_utf8(std::string_view utf8);
// Lossy forms for display: unconvertible bytes become '?'.
std::string to_utf8_lossy(std::string_view cp932);
std::string from_utf8_lossy(std::string_view utf8);
// Valid UTF-8 check (used to tell our own UTF-8 texts from CP932 ones).
bool is_valid_utf8(std::string_view s);

}  // namespace talven::cp932
