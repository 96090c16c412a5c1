#include "lib/string_builtins.h"

#include <algorithm>
#include <bitset>
#include <cstdlib>
#include <cstring>

#include "base/cp932.h"
#include "lib/format.h"
#include "lib/memory_builtins.h"
#include "lib/numbers.h"
#include "runtime/bind.h"
#include "runtime/threads.h"
#include "runtime/trap.h"

namespace talven::lib {

namespace {

// The characters of a set text (single bytes and lead*256+trail codes), so
// that span and search functions stay linear however long both texts are.
class CodeSet {
 public:
  explicit CodeSet(std::string_view set) {
    for (std::size_t j = 0; j < set.size(); j = cp932::next(set, j))
      codes_.set(cp932::code_at(set, j));
  }
  bool has(std::uint16_t code) const { return codes_.test(code); }

 private:
  std::bitset<65536> codes_;
};

// Writes text and its terminator; false (nothing written) when it does not fit.
bool put_text(Addr dst, std::string_view text) {
  std::uint8_t* p = wspan(dst, std::uint64_t{text.size()} + 1);
  if (!p) return false;
  std::memmove(p, text.data(), text.size());
  p[text.size()] = 0;
  return true;
}

Addr heap_copy(std::string_view text) {
  if (text.size() >= 0xFFFFFFFFu) return kNullAddr;
  Addr block = script_alloc(static_cast<std::uint32_t>(text.size() + 1));
  if (block != kNullAddr) put_text(block, text);
  return block;
}

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

struct ParsedInteger {
  bool negative = false;
  std::uint64_t magnitude = 0;  // saturates at 2^32
  std::size_t consumed = 0;
};

// The common part of strtol and strtoul: blanks, sign, base prefix, digits.
ParsedInteger parse_integer(std::string_view s, int base) {
  ParsedInteger r;
  if (base != 0 && (base < 2 || base > 36)) return r;
  std::size_t i = 0;
  while (i < s.size() && is_c_space(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if ((base == 0 || base == 16) && i + 1 < s.size() && s[i] == '0' &&
      (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    if (i + 2 < s.size() && digit_value(s[i + 2]) < 16) {
      i += 2;
      base = 16;
    } else {
      // "0x" with no hexadecimal digit: the number is the "0".
      r.negative = negative;
      r.consumed = i + 1;
      return r;
    }
  }
  if (base == 0) base = (i < s.size() && s[i] == '0') ? 8 : 10;
  std::size_t start = i;
  std::uint64_t magnitude = 0;
  while (i < s.size()) {
    int d = digit_value(s[i]);
    if (d >= base) break;
    magnitude = std::min<std::uint64_t>(magnitude * base + d, 0x100000000ull);
    ++i;
  }
  if (i == start) return r;
  r.negative = negative;
  r.magnitude = magnitude;
  r.consumed = i;
  return r;
}

// strtok's position: per script thread, and one for callers outside threads.
Addr& strtok_position() {
  static Addr outside_threads = 0;
  int t = runtime::calling_thread();
  return t >= 0 ? runtime::thread_table[t].strtok_next : outside_threads;
}

// Converts a found offset into a script address or 0.
std::uint32_t address_or_null(Addr base, std::optional<std::size_t> at) {
  return at ? base + static_cast<std::uint32_t>(*at) : 0;
}

std::int32_t compare_result(int r) { return r < 0 ? -1 : r > 0 ? 1 : 0; }

}  // namespace

// ---- multibyte text operations -------------------------------------------------

std::size_t mbs_span(std::string_view s, std::string_view set) {
  const CodeSet codes(set);
  std::size_t i = 0;
  while (i < s.size() && codes.has(cp932::code_at(s, i))) i = cp932::next(s, i);
  return i;
}

std::size_t mbs_cspan(std::string_view s, std::string_view set) {
  const CodeSet codes(set);
  std::size_t i = 0;
  while (i < s.size() && !codes.has(cp932::code_at(s, i))) i = cp932::next(s, i);
  return i;
}

std::optional<std::size_t> mbs_find_char(std::string_view s, std::uint32_t code) {
  if (code == 0) return s.size();
  for (std::size_t i = 0; i < s.size(); i = cp932::next(s, i)) {
    if (cp932::code_at(s, i) == code) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> mbs_find(std::string_view s, std::string_view t) {
  if (t.empty()) return 0;
  for (std::size_t i = 0; i < s.size(); i = cp932::next(s, i)) {
    if (s.substr(i, t.size()) == t) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> mbs_find_any(std::string_view s, std::string_view set) {
  std::size_t i = mbs_cspan(s, set);
  if (i < s.size()) return i;
  return std::nullopt;
}

std::string mbs_copy_head(std::string_view src, std::size_t n) {
  auto at = [&](std::size_t i) -> char { return i < src.size() ? src[i] : '\0'; };
  std::string out;
  std::size_t i = 0, left = n;
  while (left > 0) {
    --left;
    char c = at(i++);
    out += c;
    if (cp932::is_lead(static_cast<std::uint8_t>(c))) {
      if (left == 0) {
        out.back() = '\0';  // no room for the trail byte
        break;
      }
      --left;
      char trail = at(i++);
      out += trail;
      if (trail == '\0') {
        out[out.size() - 2] = '\0';  // a lead byte without a trail byte
        break;
      }
    } else if (c == '\0') {
      break;
    }
  }
  return out;
}

PathParts split_path(std::string_view path) {
  constexpr std::size_t kMaxDir = 255, kMaxName = 255, kMaxExt = 255;
  PathParts parts;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = std::string(path.substr(0, 2));
    path.remove_prefix(2);
  }
  std::size_t after_slash = 0;
  std::optional<std::size_t> dot;
  for (std::size_t i = 0; i < path.size(); i = cp932::next(path, i)) {
    if (cp932::char_len(path, i) != 1) continue;
    if (path[i] == '\\' || path[i] == '/') after_slash = i + 1;
    else if (path[i] == '.') dot = i;
  }
  parts.dir = std::string(path.substr(0, std::min(after_slash, kMaxDir)));
  std::string_view rest = path.substr(after_slash);
  if (dot && *dot >= after_slash) {
    std::size_t d = *dot - after_slash;
    parts.name = std::string(rest.substr(0, std::min(d, kMaxName)));
    parts.ext = std::string(rest.substr(d, kMaxExt));
  } else {
    parts.name = std::string(rest.substr(0, kMaxName));
  }
  return parts;
}

std::string make_path(std::string_view drive, std::string_view dir, std::string_view name,
                      std::string_view ext) {
  std::string out;
  if (!drive.empty()) {
    out += drive[0];
    out += ':';
  }
  if (!dir.empty()) {
    out += dir;
    std::size_t last = cp932::char_start(dir, dir.size() - 1);
    bool separator = cp932::char_len(dir, last) == 1 && (dir[last] == '\\' || dir[last] == '/');
    if (!separator) out += '\\';
  }
  out += name;
  if (!ext.empty()) {
    if (ext[0] != '.') out += '.';
    out += ext;
  }
  return out;
}

std::int32_t parse_long(std::string_view s, int base, std::size_t& consumed) {
  ParsedInteger p = parse_integer(s, base);
  consumed = p.consumed;
  if (p.negative) {
    if (p.magnitude > 0x80000000ull) return INT32_MIN;
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(p.magnitude));
  }
  if (p.magnitude > 0x7FFFFFFFull) return INT32_MAX;
  return static_cast<std::int32_t>(p.magnitude);
}

std::uint32_t parse_ulong(std::string_view s, int base, std::size_t& consumed) {
  ParsedInteger p = parse_integer(s, base);
  consumed = p.consumed;
  if (p.magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  std::uint32_t m = static_cast<std::uint32_t>(p.magnitude);
  return p.negative ? 0u - m : m;
}

float parse_float(std::string_view s, std::size_t& consumed) {
  std::string text(s);
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  consumed = static_cast<std::size_t>(end - text.c_str());
  return static_cast<float>(v);
}

std::optional<std::string_view> script_text_upto(Addr addr, std::uint32_t max) {
  AddressSpace& s = script_space();
  std::uint64_t lim = s.limit();
  if (addr < kLowLimit || addr >= lim) return std::nullopt;
  std::uint64_t avail = std::min<std::uint64_t>(lim - addr, max);
  const char* p = reinterpret_cast<const char*>(s.base() + addr);
  if (const void* z = std::memchr(p, 0, avail))
    return std::string_view(p, static_cast<const char*>(z) - p);
  if (avail == max) return std::string_view(p, avail);
  return std::nullopt;
}

// ---- handlers ------------------------------------------------------------------

std::uint32_t bi_strlen(Addr text) {
  auto s = cstr(text);
  return s ? static_cast<std::uint32_t>(s->size()) : 0;
}

std::uint32_t bi_strclen(Addr text) {
  auto s = cstr(text);
  return s ? static_cast<std::uint32_t>(cp932::count_chars(*s)) : 0;
}

Addr bi_strcpy(Addr dst, Addr src_text) {
  auto src = cstr(src_text);
  return src && put_text(dst, *src) ? dst : 0;
}

Addr bi_strncpy(Addr dst, Addr src_text, std::uint32_t n) {
  auto src = script_text_upto(src_text, n);
  if (!src) return 0;
  std::uint8_t* d = wspan(dst, n);
  if (!d) return 0;
  std::string head = mbs_copy_head(*src, n);
  std::memcpy(d, head.data(), head.size());
  std::memset(d + head.size(), 0, n - head.size());
  return dst;
}

Addr bi_strcat(Addr dst, Addr src_text) {
  auto d = cstr(dst);
  auto src = cstr(src_text);
  if (!d || !src) return 0;
  // put_text moves the bytes, so the source may lie inside the destination.
  return put_text(dst + static_cast<std::uint32_t>(d->size()), *src) ? dst : 0;
}

std::int32_t bi_strcmp(Addr a_text, Addr b_text) {
  auto a = cstr(a_text);
  auto b = cstr(b_text);
  if (!a || !b) return static_cast<std::int32_t>(kCompareError);
  return compare_result(cp932::compare(*a, *b));
}

std::int32_t bi_strcmpi(Addr a_text, Addr b_text) {
  auto a = cstr(a_text);
  auto b = cstr(b_text);
  if (!a || !b) return static_cast<std::int32_t>(kCompareError);
  return compare_result(cp932::compare_nocase_upper(*a, *b));
}

namespace {

Addr change_case(Addr addr, std::uint16_t (*map)(std::uint16_t)) {
  auto s = cstr(addr);
  if (!s) return 0;
  std::uint8_t* p = wspan(addr, s->size());
  for (std::size_t i = 0; i < s->size();) {
    std::size_t len = cp932::char_len(*s, i);
    std::uint16_t code = map(cp932::code_at(*s, i));
    if (len == 2) {
      p[i] = static_cast<std::uint8_t>(code >> 8);
      p[i + 1] = static_cast<std::uint8_t>(code);
    } else {
      p[i] = static_cast<std::uint8_t>(code);
    }
    i += len;
  }
  return addr;
}

}  // namespace

Addr bi_strlwr(Addr text) { return change_case(text, cp932::to_lower); }
Addr bi_strupr(Addr text) { return change_case(text, cp932::to_upper); }

Addr bi_strchr(Addr addr, std::uint32_t code) {
  auto s = cstr(addr);
  if (!s) return 0;
  return address_or_null(addr, mbs_find_char(*s, code));
}

Addr bi_strtok(Addr start, Addr set_text) {
  Addr& position = strtok_position();
  if (start != kNullAddr) position = start;
  if (position == kNullAddr) return 0;
  auto text = cstr(position);
  auto set = cstr(set_text);
  if (!text || !set) {
    position = 0;
    return 0;
  }
  std::size_t begin = mbs_span(*text, *set);
  if (begin >= text->size()) {
    position = 0;
    return 0;
  }
  Addr token = position + static_cast<std::uint32_t>(begin);
  std::size_t end = begin + mbs_cspan(text->substr(begin), *set);
  if (end >= text->size()) {
    position = 0;
  } else {
    std::size_t len = cp932::char_len(*text, end);
    std::uint8_t* p = wspan(position + static_cast<std::uint32_t>(end), len);
    std::memset(p, 0, len);
    position += static_cast<std::uint32_t>(end + len);
  }
  return token;
}

std::uint32_t bi_strcspn(Addr text, Addr set_text) {
  auto s = cstr(text);
  auto set = cstr(set_text);
  return s && set ? static_cast<std::uint32_t>(mbs_cspan(*s, *set)) : 0;
}

std::uint32_t bi_strspn(Addr text, Addr set_text) {
  auto s = cstr(text);
  auto set = cstr(set_text);
  return s && set ? static_cast<std::uint32_t>(mbs_span(*s, *set)) : 0;
}

Addr bi_strstr(Addr addr, Addr sought) {
  auto s = cstr(addr);
  auto t = cstr(sought);
  if (!s || !t) return 0;
  return address_or_null(addr, mbs_find(*s, *t));
}

Addr bi_strpbrk(Addr addr, Addr set_text) {
  auto s = cstr(addr);
  auto set = cstr(set_text);
  if (!s || !set) return 0;
  return address_or_null(addr, mbs_find_any(*s, *set));
}

Addr bi_strdup(Addr text) {
  auto s = cstr(text);
  return s ? heap_copy(std::string(*s)) : 0;
}

Addr bi_strndup(Addr text, std::uint32_t max) {
  auto s = script_text_upto(text, max);
  return s ? heap_copy(std::string(*s)) : 0;
}

namespace {

// The end word of strtol/strtoul/strtof: written when its address is given.
bool store_end(Addr end_word, Addr s, std::size_t consumed) {
  if (end_word == kNullAddr) return true;
  return store32(end_word, s + static_cast<std::uint32_t>(consumed));
}

bool end_word_ok(Addr end_word) { return end_word == kNullAddr || valid_range(end_word, 4); }

// strtol/strtoul/strtof: the number at addr (0 for a bad text or end word)
// and, when asked for, the address where it ended.
template <class T, class Parse>
T parse_text(Addr addr, Addr end, Parse parse) {
  auto s = cstr(addr);
  if (!s || !end_word_ok(end)) return T{};
  std::size_t consumed = 0;
  const T v = parse(*s, consumed);
  store_end(end, addr, consumed);
  return v;
}

}  // namespace

std::int32_t bi_strtol(Addr addr, Addr end, std::int32_t base) {
  return parse_text<std::int32_t>(
      addr, end, [base](std::string_view s, std::size_t& n) { return parse_long(s, base, n); });
}

std::uint32_t bi_strtoul(Addr addr, Addr end, std::int32_t base) {
  return parse_text<std::uint32_t>(
      addr, end, [base](std::string_view s, std::size_t& n) { return parse_ulong(s, base, n); });
}

float bi_strtof(Addr addr, Addr end) { return parse_text<float>(addr, end, parse_float); }

std::uint32_t bi_sprintf(Addr args) {
  Addr buffer = runtime::uarg(args, 0);
  auto format = cstr(runtime::uarg(args, 1));
  if (!format) return runtime::kMinusOne;
  // Arguments are read no further than the top of the caller's stack.
  const runtime::VmContext* c = runtime::current_context;
  Addr first = args + 8;
  Addr limit = c ? c->stack + c->stack_size : first;
  std::string text = format_script_args(std::string(*format), first, limit);
  if (!put_text(buffer, text)) return runtime::kMinusOne;
  return static_cast<std::uint32_t>(text.size());
}

bool bi_splitpath(Addr path_text, Addr drive, Addr dir, Addr name, Addr ext) {
  auto path = cstr(path_text);
  if (!path) return false;
  PathParts parts = split_path(*path);
  const std::string* texts[4] = {&parts.drive, &parts.dir, &parts.name, &parts.ext};
  const Addr outs[4] = {drive, dir, name, ext};
  for (unsigned i = 0; i < 4; ++i)
    if (outs[i] != kNullAddr && !valid_range(outs[i], texts[i]->size() + 1)) return false;
  for (unsigned i = 0; i < 4; ++i)
    if (outs[i] != kNullAddr) put_text(outs[i], *texts[i]);
  return true;
}

bool bi_makepath(Addr path, Addr drive, Addr dir, Addr name, Addr ext) {
  std::string_view parts[4];
  const Addr ins[4] = {drive, dir, name, ext};
  for (unsigned i = 0; i < 4; ++i) {
    if (ins[i] == kNullAddr) continue;
    auto s = cstr(ins[i]);
    if (!s) return false;
    parts[i] = *s;
  }
  return put_text(path, make_path(parts[0], parts[1], parts[2], parts[3]));
}

std::uint32_t bi_hash32(Addr text) {
  auto s = cstr(text);
  return s ? hash32(*s) : 0;
}

}  // namespace talven::lib
