// Code page 932 character stepping, case rules and conversions.
//
// Case mapping folds ASCII and the full-width Latin letters only. Some
// platforms' tables fold more double-byte letters (Greek, Cyrillic); the rule
// here is the one archive directories are sorted by, and a wider fold would
// change their order and make bisection miss entries.
//
// Conversions to and from UTF-8 use the tables in cp932_table.inc, which
// scripts/make-cp932-table reads off the C library's CP932 converter, so
// every platform converts alike and no converter library is needed. Where
// several codes share one character (the NEC and IBM duplicates), the table
// holds the single code the conversion from Unicode writes.
#include "base/cp932.h"

namespace talven::cp932 {

namespace {

constexpr std::uint16_t kFullUpperFirst = 0x8260;  // Ａ
constexpr std::uint16_t kFullUpperLast = 0x8279;   // Ｚ
constexpr std::uint16_t kFullLowerFirst = 0x8281;  // ａ
constexpr std::uint16_t kFullLowerLast = 0x829A;   // ｚ
constexpr std::uint16_t kFullCaseDiff = kFullLowerFirst - kFullUpperFirst;

std::uint8_t byte_at(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

bool is_trail(std::uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

void put_code(std::string& out, std::uint16_t code, std::size_t len) {
  if (len == 2) out.push_back(static_cast<char>(code >> 8));
  out.push_back(static_cast<char>(code & 0xFF));
}

std::uint16_t ascii_lower(std::uint16_t c) { return (c >= 'A' && c <= 'Z') ? c + 0x20 : c; }
std::uint16_t ascii_upper(std::uint16_t c) { return (c >= 'a' && c <= 'z') ? c - 0x20 : c; }

// Walks both texts one character at a time; fold maps (code, length) to the
// value that is compared.
template <typename Fold>
int compare_with(std::string_view a, std::string_view b, Fold fold) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    std::size_t la = char_len(a, i), lb = char_len(b, j);
    std::uint16_t ca = fold(code_at(a, i), la), cb = fold(code_at(b, j), lb);
    if (ca != cb) return ca < cb ? -1 : 1;
    i += la;
    j += lb;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF are invalid); its
// code point goes to cp.
std::size_t utf8_decode(std::string_view s, std::size_t i, char32_t& cp) {
  std::uint8_t b = byte_at(s, i);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  std::size_t len;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    std::uint8_t c = byte_at(s, i + k);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
  if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  return len;
}

std::size_t utf8_seq_len(std::string_view s, std::size_t i) {
  char32_t cp;
  return utf8_decode(s, i, cp);
}

// Writes a BMP code point as UTF-8 at out (every CP932 character is in the
// BMP) and returns the position after it.
char* put_utf8(char* out, char32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

#include "base/cp932_table.inc"

// The code point of the CP932 character at s[i] and its length in bytes, or
// length 0 when the bytes there are no character: a byte that is neither a
// character nor a lead byte, a lead byte at the end, or a pair the code page
// does not assign.
std::size_t cp932_decode(std::string_view s, std::size_t i, char32_t& cp) {
  std::uint8_t b = byte_at(s, i);
  if (kSingleByte[b] != kNoChar) {
    cp = kSingleByte[b];
    return 1;
  }
  std::uint8_t row = kLeadRow[b];
  if (row == kNotLead || i + 1 >= s.size()) return 0;
  std::uint8_t t = byte_at(s, i + 1);
  if (t < kTrailFirst || t > kTrailLast) return 0;
  cp = kDoubleByte[row][t - kTrailFirst];
  return cp ? 2 : 0;
}

// The CP932 code of a code point (one byte, or lead * 256 + trail), or
// nullopt when the code page has no form for it.
std::optional<std::uint16_t> cp932_encode(char32_t cp) {
  if (cp == 0) return 0;
  if (cp > 0xFFFF) return std::nullopt;
  std::uint8_t page = kPageOf[cp >> 8];
  if (page == kNoPage) return std::nullopt;
  std::uint16_t code = kToCode[page][cp & 0xFF];
  if (code == 0) return std::nullopt;
  return code;
}

// Each sequence that does not convert becomes one '?' (lossy) or fails the
// whole conversion. The lossy form skips a lead byte with its trail when the
// trail is in the trail range, and one byte otherwise. ASCII maps to itself.
std::optional<std::string> convert_to_utf8(std::string_view in, bool lossy) {
  // One byte gives at most three (a half-width katakana), two bytes at most
  // three.
  std::string out(in.size() * 3, '\0');
  char* o = out.data();
  for (std::size_t i = 0; i < in.size();) {
    if (byte_at(in, i) < 0x80) {
      *o++ = in[i++];
      continue;
    }
    char32_t cp;
    if (std::size_t n = cp932_decode(in, i, cp)) {
      o = put_utf8(o, cp);
      i += n;
      continue;
    }
    if (!lossy) return std::nullopt;
    *o++ = '?';
    bool pair = is_lead(byte_at(in, i)) && i + 1 < in.size() && is_trail(byte_at(in, i + 1));
    i += pair ? 2 : 1;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

// Invalid UTF-8 and characters without a CP932 form do not convert; the
// lossy form skips a whole valid sequence, or one byte of an invalid one.
// The language tag characters convert to nothing. ASCII maps to itself.
std::optional<std::string> convert_from_utf8(std::string_view in, bool lossy) {
  // A sequence of n bytes gives at most n: two-byte codes come from
  // sequences of two or more bytes.
  std::string out(in.size(), '\0');
  char* o = out.data();
  for (std::size_t i = 0; i < in.size();) {
    if (byte_at(in, i) < 0x80) {
      *o++ = in[i++];
      continue;
    }
    char32_t cp;
    std::size_t n = utf8_decode(in, i, cp);
    if (n) {
      if (cp >= kDroppedFirst && cp <= kDroppedLast) {
        i += n;
        continue;
      }
      if (auto code = cp932_encode(cp)) {
        if (*code > 0xFF) *o++ = static_cast<char>(*code >> 8);
        *o++ = static_cast<char>(*code & 0xFF);
        i += n;
        continue;
      }
    }
    if (!lossy) return std::nullopt;
    *o++ = '?';
    i += n ? n : 1;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

}  // namespace

std::size_t char_len(std::string_view s, std::size_t i) {
  if (i + 1 < s.size() && is_lead(byte_at(s, i)) && s[i + 1] != 0) return 2;
  return 1;
}

std::size_t char_start(std::string_view s, std::size_t i) {
  std::size_t at = 0;
  while (at < s.size()) {
    std::size_t n = next(s, at);
    if (n > i) break;
    at = n;
  }
  return at;
}

std::size_t count_chars(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i = next(s, i)) ++n;
  return n;
}

std::uint16_t code_at(std::string_view s, std::size_t i) {
  if (i >= s.size()) return 0;
  if (char_len(s, i) == 2)
    return static_cast<std::uint16_t>(byte_at(s, i) << 8 | byte_at(s, i + 1));
  return byte_at(s, i);
}

std::uint16_t to_upper(std::uint16_t code) {
  if (code < 0x100) return ascii_upper(code);
  if (code >= kFullLowerFirst && code <= kFullLowerLast) return code - kFullCaseDiff;
  return code;
}

std::uint16_t to_lower(std::uint16_t code) {
  if (code < 0x100) return ascii_lower(code);
  if (code >= kFullUpperFirst && code <= kFullUpperLast) return code + kFullCaseDiff;
  return code;
}

std::string upper(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); i = next(s, i))
    put_code(out, to_upper(code_at(s, i)), char_len(s, i));
  return out;
}

std::string lower(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); i = next(s, i))
    put_code(out, to_lower(code_at(s, i)), char_len(s, i));
  return out;
}

int compare_nocase(std::string_view a, std::string_view b) {
  return compare_with(a, b, [](std::uint16_t c, std::size_t len) {
    return len == 1 ? ascii_lower(c) : to_upper(c);
  });
}

int compare_nocase_upper(std::string_view a, std::string_view b) {
  return compare_with(a, b, [](std::uint16_t c, std::size_t) { return to_upper(c); });
}

int compare(std::string_view a, std::string_view b) {
  return compare_with(a, b, [](std::uint16_t c, std::size_t) { return c; });
}

std::string fold_nocase(std::string_view s) {
  // Folding never moves a character between the single- and double-byte
  // ranges, so the folded text splits into the same characters.
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); i = next(s, i)) {
    std::size_t len = char_len(s, i);
    std::uint16_t c = code_at(s, i);
    put_code(out, len == 1 ? ascii_lower(c) : to_upper(c), len);
  }
  return out;
}

std::optional<std::string> to_utf8(std::string_view cp932) { return convert_to_utf8(cp932, false); }

std::optional<std::string> from_utf8(std::string_view utf8) {
  return convert_from_utf8(utf8, false);
}

std::string to_utf8_lossy(std::string_view cp932) { return *convert_to_utf8(cp932, true); }

std::string from_utf8_lossy(std::string_view utf8) { return *convert_from_utf8(utf8, true); }

bool is_valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = utf8_seq_len(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace talven::cp932
