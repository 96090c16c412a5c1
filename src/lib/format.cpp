#include "lib/format.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/cp932.h"

namespace talven::lib {
namespace {

constexpr int kMaxField = 9999;
constexpr std::uint32_t kMaxWideChars = 1u << 20;

// How many bits an integer conversion keeps, or which text width %c/%s use.
enum class Size { Default, Char, Short, Long64, Narrow, Wide };

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// 16-bit characters (surrogate pairs joined, lone halves as U+FFFD) to CP932.
std::string wide_to_cp932(const std::vector<std::uint16_t>& units) {
  std::string utf8;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (u >= 0xD800 && u < 0xE000) {
      u = 0xFFFD;
    }
    append_utf8(utf8, u);
  }
  return cp932::from_utf8_lossy(utf8);
}

std::optional<std::string> wide_string_at(Addr addr) {
  std::vector<std::uint16_t> units;
  for (std::uint32_t n = 0; n < kMaxWideChars; ++n) {
    std::uint16_t u = 0;
    if (!load16(addr + 2 * n, u)) return std::nullopt;
    if (u == 0) break;
    units.push_back(u);
  }
  return wide_to_cp932(units);
}

// snprintf into a string of any length.
template <typename T>
void append_printf(std::string& out, const std::string& conversion, T value) {
  char buf[256];
  int n = std::snprintf(buf, sizeof buf, conversion.c_str(), value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof buf) {
    out.append(buf, static_cast<std::size_t>(n));
    return;
  }
  std::string tmp(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(tmp.data(), tmp.size(), conversion.c_str(), value);
  out.append(tmp.data(), static_cast<std::size_t>(n));
}

// A number as a conversion without flags, width or precision writes it:
// its digits in `base`, after a '-' when negative.
template <typename T>
void append_digits(std::string& out, T value, int base, bool upper) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, base);
  if (upper)
    std::transform(buf, r.ptr, buf,
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
  out.append(buf, r.ptr);
}

}  // namespace

std::string format_words(std::string_view format, const WordSource& next_word) {
  auto word = [&]() -> std::uint32_t {
    std::uint32_t w = 0;
    if (!next_word(w)) return 0;
    return w;
  };
  std::string out;
  out.reserve(format.size() + 64);
  std::size_t i = 0;
  auto peek = [&](std::string_view s) { return format.substr(i, s.size()) == s; };
  while (i < format.size()) {
    if (format[i] != '%') {
      std::size_t next = format.find('%', i);
      if (next == std::string_view::npos) next = format.size();
      out.append(format.substr(i, next - i));
      i = next;
      continue;
    }
    std::size_t start = i++;
    std::string conversion = "%";
    while (i < format.size() &&
           std::string_view("-+ #0").find(format[i]) != std::string_view::npos) {
      conversion += format[i++];
    }
    // A width or precision: digits, or '*' taking a word. Returns false for
    // a negative precision from '*', which means none.
    auto number = [&](bool precision) {
      if (i < format.size() && format[i] == '*') {
        ++i;
        std::int64_t v = static_cast<std::int32_t>(word());
        if (precision && v < 0) return false;
        if (v < 0) {
          conversion += '-';
          v = -v;
        }
        conversion += std::to_string(std::min<std::int64_t>(v, kMaxField));
        return true;
      }
      std::size_t digits_start = i;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
      std::string_view digits = format.substr(digits_start, i - digits_start);
      while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
      if (digits.size() > 4) digits = "9999";
      conversion += digits;
      return true;
    };
    number(false);
    if (i < format.size() && format[i] == '.') {
      conversion += '.';
      ++i;
      if (!number(true)) conversion.pop_back();
    }
    Size size = Size::Default;
    if (peek("I64")) {
      size = Size::Long64;
      i += 3;
    } else if (peek("I32")) {
      i += 3;
    } else if (peek("hh")) {
      size = Size::Char;
      i += 2;
    } else if (peek("ll")) {
      size = Size::Long64;
      i += 2;
    } else if (i < format.size()) {
      switch (format[i]) {
        case 'h':
          size = Size::Short;
          ++i;
          break;
        case 'l':
        case 'w':
          size = Size::Wide;
          ++i;
          break;  // wide for %c/%s, 32 bits otherwise
        case 'j':
        case 'q':
          size = Size::Long64;
          ++i;
          break;
        case 'I':
        case 'z':
        case 't':
        case 'L': ++i; break;
        default: break;
      }
    }
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    char conv = format[i++];
    switch (conv) {
      case 'd':
      case 'i': {
        std::int64_t v;
        switch (size) {
          case Size::Char: v = static_cast<std::int8_t>(word()); break;
          case Size::Short: v = static_cast<std::int16_t>(word()); break;
          case Size::Long64: {
            std::uint64_t lo = word();
            v = static_cast<std::int64_t>(lo | (std::uint64_t{word()} << 32));
            break;
          }
          default: v = static_cast<std::int32_t>(word()); break;
        }
        if (conversion.size() == 1) {
          append_digits(out, v, 10, false);  // no flags, width or precision
        } else {
          conversion += PRId64;
          append_printf(out, conversion, v);
        }
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        std::uint64_t v;
        switch (size) {
          case Size::Char: v = static_cast<std::uint8_t>(word()); break;
          case Size::Short: v = static_cast<std::uint16_t>(word()); break;
          case Size::Long64: {
            std::uint64_t lo = word();
            v = lo | (std::uint64_t{word()} << 32);
            break;
          }
          default: v = word(); break;
        }
        if (conversion.size() == 1) {
          append_digits(out, v, conv == 'u' ? 10 : conv == 'o' ? 8 : 16, conv == 'X');
        } else {
          conversion += conv == 'u' ? PRIu64 : conv == 'o' ? PRIo64 : conv == 'x' ? PRIx64 : PRIX64;
          append_printf(out, conversion, v);
        }
        break;
      }
      case 'c':
      case 'C': {
        std::uint32_t w = word();
        std::string text;
        if ((conv == 'C' && size != Size::Short) || size == Size::Wide) {
          text = wide_to_cp932({static_cast<std::uint16_t>(w)});
        } else {
          text.assign(1, static_cast<char>(w & 0xFF));
        }
        // A NUL character still counts as one byte of output.
        conversion += 's';
        std::string padded;
        append_printf(padded, conversion, text.empty() || text[0] == '\0' ? "\x01" : text.c_str());
        if (!text.empty() && text[0] == '\0')
          std::replace(padded.begin(), padded.end(), '\x01', '\0');
        out += padded;
        break;
      }
      case 's':
      case 'S': {
        Addr a = word();
        std::optional<std::string> text;
        if ((conv == 'S' && size != Size::Short) || size == Size::Wide) {
          text = wide_string_at(a);
        } else if (auto s = cstr(a)) {
          text = std::string(*s);
        }
        conversion += 's';
        append_printf(out, conversion, text ? text->c_str() : "(null)");
        break;
      }
      case 'p': append_printf(out, "%08X", static_cast<unsigned>(word())); break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        conversion += conv;
        append_printf(out, conversion, static_cast<double>(std::bit_cast<float>(word())));
        break;
      case '%': out += '%'; break;
      default: out.append(format.substr(start, i - start)); break;
    }
  }
  return out;
}

std::string format_script_args(std::string_view format, Addr args, Addr limit) {
  Addr next = args;
  return format_words(format, [&](std::uint32_t& w) {
    if (std::uint64_t{next} + 4 > limit || !load32(next, w)) return false;
    next += 4;
    return true;
  });
}

}  // namespace talven::lib
