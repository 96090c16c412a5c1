// Character classes of the script lexer (code page 932 source text).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace talven::script {

enum CharClass : std::uint8_t {
  kClassSpace = 0x01,  // space, tab, line feed, carriage return
  kClassDigit = 0x02,
  kClassHex = 0x04,
  kClassLower = 0x08,
  kClassUpper = 0x10,
  kClassIdentStart = 0x20,  // letters and '_'
  kClassLead = 0x80,        // first byte of a two-byte character
};

struct CharClassTable {
  std::uint8_t c[256];
  constexpr CharClassTable() : c() {
    for (unsigned char space : {' ', '\t', '\n', '\r'}) c[space] = kClassSpace;
    for (int i = '0'; i <= '9'; ++i) c[i] = kClassDigit | kClassHex;
    for (int i = 'A'; i <= 'F'; ++i) c[i] |= kClassHex;
    for (int i = 'a'; i <= 'f'; ++i) c[i] |= kClassHex;
    for (int i = 'a'; i <= 'z'; ++i) c[i] |= kClassLower | kClassIdentStart;
    for (int i = 'A'; i <= 'Z'; ++i) c[i] |= kClassUpper | kClassIdentStart;
    c[static_cast<unsigned char>('_')] = kClassIdentStart;
    for (int i = 0x81; i <= 0x9F; ++i) c[i] = kClassLead;
    for (int i = 0xE0; i <= 0xFC; ++i) c[i] = kClassLead;
  }
};

inline constexpr CharClassTable kCharClass{};

constexpr bool char_is(unsigned ch, std::uint8_t cls) {
  return ch < 256 && (kCharClass.c[ch] & cls) != 0;
}
constexpr bool is_space_char(unsigned ch) { return char_is(ch, kClassSpace); }
constexpr bool is_digit_char(unsigned ch) { return char_is(ch, kClassDigit); }
constexpr bool is_hex_char(unsigned ch) { return char_is(ch, kClassHex); }
constexpr bool is_lead_byte(unsigned ch) { return char_is(ch, kClassLead); }
constexpr bool is_ident_start(unsigned ch) { return char_is(ch, kClassIdentStart | kClassLead); }
constexpr bool is_ident_char(unsigned ch) {
  return char_is(ch, kClassIdentStart | kClassDigit | kClassLead);
}

}  // namespace talven::script
