// Code page 932 character stepping, case rules and conversions.
//
// Case mapping folds ASCII and the full-width Latin letters only. Some
// platforms' tables fold more double-byte letters (Greek, Cyrillic); the rule
// here is the one archive directories are sorted by, and a wider fold would
// change their order and make bisection miss entries.
//
// Conversions use glibc iconv. Its handles are not thread-safe, so each
// thread keeps its own pair, opened on first use.
#include "base/cp932.h"

#include <iconv.h>

#include <cerrno>

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
// (overlong forms, surrogates and values above U+10FFFF are invalid).
std::size_t utf8_seq_len(std::string_view s, std::size_t i) {
  std::uint8_t b = byte_at(s, i);
  if (b < 0x80) return 1;
  std::size_t len;
  std::uint32_t cp;
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

// One iconv handle, owned.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

iconv_t to_utf8_handle() {
  thread_local Iconv cd("UTF-8", "CP932");
  return cd.ok() ? cd.get() : nullptr;
}

iconv_t from_utf8_handle() {
  thread_local Iconv cd("CP932", "UTF-8");
  return cd.ok() ? cd.get() : nullptr;
}

// Converts input with cd. On a sequence that does not convert, skip(input,
// offset) gives the number of bytes to replace with '?' (lossy), or the
// conversion fails when skip is null.
std::optional<std::string> convert(iconv_t cd, std::string_view input,
                                   std::size_t (*skip)(std::string_view, std::size_t)) {
  std::string out;
  if (input.empty()) return out;
  if (!cd) return std::nullopt;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  out.resize(input.size() * 3 + 16);
  std::size_t used = 0;
  char* in = const_cast<char*>(input.data());
  std::size_t in_left = input.size();
  for (;;) {
    char* o = out.data() + used;
    std::size_t o_left = out.size() - used;
    std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
    used = static_cast<std::size_t>(o - out.data());
    if (r != static_cast<std::size_t>(-1)) break;  // all input taken
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    if ((errno != EILSEQ && errno != EINVAL) || !skip) return std::nullopt;
    std::size_t at = input.size() - in_left;
    std::size_t n = skip(input, at);
    if (n == 0 || n > in_left) n = 1;
    if (used == out.size()) out.resize(out.size() * 2);
    out[used++] = '?';
    in += n;
    in_left -= n;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (in_left == 0) break;
  }
  out.resize(used);
  return out;
}

std::size_t skip_cp932(std::string_view s, std::size_t i) {
  if (is_lead(byte_at(s, i)) && i + 1 < s.size() && is_trail(byte_at(s, i + 1))) return 2;
  return 1;
}

std::size_t skip_utf8(std::string_view s, std::size_t i) {
  std::size_t n = utf8_seq_len(s, i);
  return n ? n : 1;
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

std::optional<std::string> to_utf8(std::string_view cp932) {
  return convert(to_utf8_handle(), cp932, nullptr);
}

std::optional<std::string> from_utf8(std::string_view utf8) {
  return convert(from_utf8_handle(), utf8, nullptr);
}

std::string to_utf8_lossy(std::string_view cp932) {
  if (auto r = convert(to_utf8_handle(), cp932, skip_cp932)) return *r;
  // No converter at all: keep ASCII.
  std::string out(cp932);
  for (char& c : out)
    if (static_cast<std::uint8_t>(c) >= 0x80) c = '?';
  return out;
}

std::string from_utf8_lossy(std::string_view utf8) {
  if (auto r = convert(from_utf8_handle(), utf8, skip_utf8)) return *r;
  std::string out(utf8);
  for (char& c : out)
    if (static_cast<std::uint8_t>(c) >= 0x80) c = '?';
  return out;
}

bool is_valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = utf8_seq_len(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace talven::cp932
