// Source encodings: telling UTF-8 sources from CP932 ones and converting
// the UTF-8 ones to CP932 for the compiler.
#include "script/source_encoding.h"

#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "base/cp932.h"

namespace talven::script {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One UTF-8 character at s[i]: its length (0 when the bytes there are not a
// well-formed character: a stray continuation byte, an overlong form, a
// surrogate, a value above U+10FFFF, a cut-off sequence).
std::size_t utf8_char(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t c = b(i);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  std::size_t n;
  char32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Japanese text and the punctuation, symbols and full-width forms that go
// with it: what a UTF-8 game script holds beyond ASCII. Every one of them
// takes three bytes, which CP932 text almost never forms by chance.
bool japanese_or_common(char32_t cp) {
  return (cp >= 0x2000 && cp <= 0x2BFF) || (cp >= 0x3000 && cp <= 0x30FF) ||
         (cp >= 0x3400 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFF00 && cp <= 0xFFEF);
}

struct Utf8Scan {
  bool valid = true;
  bool multibyte = false;
  bool all_japanese = true;   // every multi-byte character is japanese_or_common
  std::size_t first_bad = 0;  // when not valid
};

Utf8Scan scan_utf8(std::string_view s) {
  Utf8Scan r;
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    std::size_t n = utf8_char(s, i, cp);
    if (n == 0) {
      r.valid = false;
      r.first_bad = i;
      return r;
    }
    if (n > 1) {
      r.multibyte = true;
      if (!japanese_or_common(cp)) r.all_japanese = false;
    }
    i += n;
  }
  return r;
}

bool is_trail(std::uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

// Where CP932 reading first fails: a byte that starts no character, a lead
// byte without its trail, or a pair with no character assigned. npos when
// the whole text is CP932.
std::size_t first_non_cp932(std::string_view s) {
  if (cp932::to_utf8(s)) return std::string_view::npos;
  for (std::size_t i = 0; i < s.size();) {
    const std::uint8_t c = static_cast<std::uint8_t>(s[i]);
    if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
      ++i;
      continue;
    }
    if (!cp932::is_lead(c) || i + 1 >= s.size() || !is_trail(static_cast<std::uint8_t>(s[i + 1])) ||
        !cp932::to_utf8(s.substr(i, 2)))
      return i;
    i += 2;
  }
  return std::string_view::npos;
}

// Whether any byte needs a look at all (ASCII files are the same either way).
bool has_high_bytes(std::string_view s) {
  for (char c : s)
    if (static_cast<std::uint8_t>(c) >= 0x80) return true;
  return false;
}

// The 1-based line of byte `at` and the offset where that line starts.
int line_of(std::string_view s, std::size_t at, std::size_t& line_start) {
  int line = 1;
  line_start = 0;
  for (std::size_t i = 0; i < at && i < s.size(); ++i) {
    if (s[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return line;
}

std::string line_text(std::string_view s, std::size_t line_start) {
  std::size_t end = s.find('\n', line_start);
  std::string text(s.substr(line_start, end == std::string_view::npos ? end : end - line_start));
  std::erase(text, '\r');
  return text;
}

// The place of a problem at byte `at` of a UTF-8 text: the line in CP932
// (unconvertible characters as '?') and the marker's byte index in it.
void place_in_utf8(std::string_view s, std::size_t at, SourceDecoding& d) {
  std::size_t start = 0;
  d.line = line_of(s, at, start);
  std::string line = line_text(s, start);
  std::size_t prefix = std::min(at - start, line.size());
  std::string before = cp932::from_utf8_lossy(std::string_view(line).substr(0, prefix));
  d.column = before.size();
  d.source_line = before + cp932::from_utf8_lossy(std::string_view(line).substr(prefix));
}

std::string code_point_name(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

// UTF-8 to CP932, keeping track of where comments are so that a character
// CP932 lacks can be dropped there. The states follow the lexer: "//" to
// the line end, nested "/* */", and quoted literals (with backslash
// escapes) in which comment marks mean nothing.
bool convert_utf8(std::string_view s, std::string& out, SourceDecoding& d) {
  enum State { kCode, kLineComment, kBlockComment, kString, kChar };
  State state = kCode;
  int depth = 0;
  std::unordered_map<char32_t, std::string> cache;
  out.clear();
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const char next = i + 1 < s.size() ? s[i + 1] : '\0';
    if (static_cast<std::uint8_t>(c) < 0x80) {
      std::size_t take = 1;
      switch (state) {
        case kCode:
          if (c == '/' && next == '/') {
            state = kLineComment;
            take = 2;
          } else if (c == '/' && next == '*') {
            state = kBlockComment;
            depth = 1;
            take = 2;
          } else if (c == '"') {
            state = kString;
          } else if (c == '\'') {
            state = kChar;
          }
          break;
        case kLineComment:
          if (c == '\n') state = kCode;
          break;
        case kBlockComment:
          if (c == '/' && next == '*') {
            ++depth;
            take = 2;
          } else if (c == '*' && next == '/') {
            if (--depth == 0) state = kCode;
            take = 2;
          }
          break;
        case kString:
        case kChar:
          // An escaped ASCII character is taken with its backslash; an
          // escaped multi-byte one goes through the conversion below.
          if (c == '\\' && static_cast<std::uint8_t>(next) < 0x80 && next != '\0') take = 2;
          else if (c == '\n' || c == (state == kString ? '"' : '\'')) state = kCode;
          break;
      }
      out.append(s.substr(i, take));
      i += take;
      continue;
    }
    char32_t cp = 0;
    const std::size_t n = utf8_char(s, i, cp);
    auto [it, fresh] = cache.try_emplace(cp);
    if (fresh) {
      if (std::optional<std::string> mapped = cp932::from_utf8(s.substr(i, n)))
        it->second = *mapped;
    }
    if (!it->second.empty()) {
      out += it->second;
    } else if (state == kLineComment || state == kBlockComment) {
      out += '?';
    } else {
      place_in_utf8(s, i, d);
      d.reason = "the character '" + std::string(s.substr(i, n)) + "' (" + code_point_name(cp) +
                 ") has no CP932 form";
      return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

std::optional<SourceEncoding> parse_source_encoding(std::string_view value) {
  const std::string v = cp932::lower(value);
  if (v.empty() || v == "auto") return SourceEncoding::kAuto;
  if (v == "utf8" || v == "utf-8") return SourceEncoding::kUtf8;
  if (v == "cp932" || v == "sjis" || v == "shift_jis" || v == "shift-jis")
    return SourceEncoding::kCp932;
  return std::nullopt;
}

SourceDecoding decode_source(std::string& text, SourceEncoding mode) {
  SourceDecoding d;
  const bool bom = text.starts_with(kByteOrderMark);
  std::string_view body(text);
  if (bom) body.remove_prefix(kByteOrderMark.size());
  if (!bom && (mode == SourceEncoding::kCp932 || !has_high_bytes(body))) return d;

  const Utf8Scan utf8 = scan_utf8(body);
  bool as_utf8 = bom || mode == SourceEncoding::kUtf8;
  if (as_utf8 && !utf8.valid) {
    std::size_t start = 0;
    d.outcome = SourceDecoding::kFailed;
    d.line = line_of(body, utf8.first_bad, start);
    // The line as far as it is UTF-8, then its bytes as they are.
    std::string line(body.substr(start, body.find('\n', start) - start));
    std::erase(line, '\r');
    std::size_t prefix = std::min(utf8.first_bad - start, line.size());
    std::string before = cp932::from_utf8_lossy(std::string_view(line).substr(0, prefix));
    d.column = before.size();
    d.source_line = before + line.substr(prefix);
    d.reason = std::string("not valid UTF-8 (") +
               (bom ? "the file starts with a UTF-8 byte order mark" : "SourceEncoding is utf8") +
               ")";
    return d;
  }
  if (!as_utf8) {
    // auto without a mark.
    const std::size_t bad = first_non_cp932(body);
    if (!utf8.valid || !utf8.multibyte) {
      if (bad != std::string_view::npos) {
        std::size_t start = 0;
        d.outcome = SourceDecoding::kNeither;
        d.line = line_of(body, bad, start);
        d.source_line = line_text(body, start);
        d.column = std::min(bad - start, d.source_line.size());
        d.reason = "neither valid UTF-8 nor CP932 text; read as CP932 bytes as they stand";
      }
      return d;
    }
    as_utf8 = bad != std::string_view::npos || utf8.all_japanese;
    if (!as_utf8) return d;
  }

  std::string out;
  if (!convert_utf8(body, out, d)) {
    d.outcome = SourceDecoding::kFailed;
    return d;
  }
  text = std::move(out);
  d.outcome = SourceDecoding::kConverted;
  return d;
}

}  // namespace talven::script
