#include "lib/system/file_search.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <optional>

#include "base/cp932.h"
#include "base/game_path.h"
#include "lib/system/host_files.h"
#include "lib/system/system_paths.h"

namespace talven::lib::system {

namespace {

enum class Tok : std::uint8_t { kChar, kStar, kDosStar, kQm, kDosDot };

struct Token {
  Tok kind;
  std::uint16_t code;
};

// Names and patterns hold fewer than kMaxPath bytes (longer ones never
// match), so their characters fit these arrays.
struct Codes {
  std::array<std::uint16_t, kMaxPath> code;
  std::size_t size = 0;
};

void fold_codes(std::string_view s, Codes& out) {
  out.size = 0;
  for (std::size_t i = 0; i < s.size() && out.size < out.code.size();) {
    const auto b = static_cast<std::uint8_t>(s[i]);
    if (cp932::is_lead(b) && i + 1 < s.size() && s[i + 1] != '\0') {
      out.code[out.size++] =
          cp932::to_upper(static_cast<std::uint16_t>(b << 8 | static_cast<std::uint8_t>(s[i + 1])));
      i += 2;
    } else {
      out.code[out.size++] = b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b;
      ++i;
    }
  }
}

struct Tokens {
  std::array<Token, kMaxPath> token;
  std::size_t size = 0;
};

void tokens_of(std::string_view pattern, Tokens& out) {
  Codes codes;
  fold_codes(pattern, codes);
  out.size = 0;
  for (std::size_t i = 0; i < codes.size; ++i) {
    const std::uint16_t c = codes.code[i];
    const std::uint16_t next = i + 1 < codes.size ? codes.code[i + 1] : 0;
    Token t{Tok::kChar, c};
    if (c == '?') t = {Tok::kQm, 0};
    else if (c == '*') t = {next == '.' ? Tok::kDosStar : Tok::kStar, 0};
    else if (c == '.' && (next == '?' || next == '*' || next == 0)) t = {Tok::kDosDot, 0};
    out.token[out.size++] = t;
  }
}

constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970

struct Search {
  std::vector<FoundEntry> entries;
  std::size_t next = 0;
};
std::array<std::optional<Search>, 256> g_searches;

bool bad_short_char(char c) {
  return c == ' ' || c == '+' || c == ',' || c == ';' || c == '=' || c == '[' || c == ']';
}

// Up to `limit` bytes of a name part, cleaned for an 8.3 name.
std::string short_part(std::string_view part, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < part.size(); i = cp932::next(part, i)) {
    const std::size_t len = cp932::char_len(part, i);
    if (out.size() + len > limit) break;
    if (len == 2) {
      out.append(part.substr(i, 2));
      continue;
    }
    char c = part[i];
    if (c == ' ' || c == '.') continue;
    if (bad_short_char(c)) c = '_';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out.push_back(c);
  }
  return out;
}

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name) {
  if (pattern.size() >= kMaxPath || name.size() >= kMaxPath) return false;
  Tokens p;
  Codes s;
  tokens_of(pattern, p);
  fold_codes(name, s);
  const std::size_t T = p.size, n = s.size;
  std::ptrdiff_t last_dot = -1;
  for (std::size_t j = 0; j < n; ++j)
    if (s.code[j] == '.') last_dot = static_cast<std::ptrdiff_t>(j);

  // Rows of the table "tokens i.. match characters j..", from the last
  // token back: `next` is row i + 1, `row` is row i.
  std::array<std::uint8_t, kMaxPath + 1> rows[2];
  std::uint8_t* next = rows[0].data();
  std::uint8_t* row = rows[1].data();
  for (std::size_t j = 0; j <= n; ++j) next[j] = j == n;
  for (std::size_t i = T; i-- > 0;) {
    const Token& t = p.token[i];
    for (std::size_t j = n + 1; j-- > 0;) {
      const bool more = j < n;
      const std::uint16_t c = more ? s.code[j] : 0;
      bool r = false;
      switch (t.kind) {
        case Tok::kChar: r = more && c == t.code && next[j + 1]; break;
        case Tok::kStar: r = next[j] || (more && row[j + 1]); break;
        case Tok::kDosStar:
          r = next[j] || (more && static_cast<std::ptrdiff_t>(j) != last_dot && row[j + 1]);
          break;
        case Tok::kQm:
          r = (more && c != '.' && next[j + 1]) || ((!more || c == '.') && next[j]);
          break;
        case Tok::kDosDot: r = (more && c == '.' && next[j + 1]) || (!more && next[j]); break;
      }
      row[j] = r;
    }
    std::swap(row, next);
  }
  return next[0] != 0;
}

std::string short_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return {};
  const std::size_t dot = name.rfind('.');
  const bool one_dot = dot == std::string_view::npos || name.find('.') == dot;
  std::string_view base = dot == std::string_view::npos ? name : name.substr(0, dot);
  std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  bool valid = one_dot && !base.empty() && base.size() <= 8 && ext.size() <= 3 &&
               (dot == std::string_view::npos || !ext.empty());
  for (std::size_t i = 0; valid && i < name.size(); i = cp932::next(name, i))
    if (cp932::char_len(name, i) == 1 && bad_short_char(name[i])) valid = false;
  if (valid) return {};
  std::string b = short_part(base, 6);
  if (b.empty()) b = short_part(name, 6);
  std::string e = dot == std::string_view::npos ? std::string() : short_part(ext, 3);
  std::string out = b + "~1";
  if (!e.empty()) out += "." + e;
  return out;
}

std::uint32_t attributes_of(std::string_view name, const HostFile& file) {
  std::uint32_t a = 0;
  if (!file.writable) a |= kAttrReadOnly;
  if (file.hidden || (!name.empty() && name[0] == '.' && name != "." && name != ".."))
    a |= kAttrHidden;
  a |= file.directory ? kAttrDirectory : kAttrArchive;
  return a;
}

std::uint64_t filetime_from_unix(std::int64_t seconds, std::int64_t nanoseconds) {
  if (seconds < -kEpochDifference) return 0;
  return static_cast<std::uint64_t>(seconds + kEpochDifference) * 10000000u +
         static_cast<std::uint64_t>(nanoseconds / 100);
}

void unix_from_filetime(std::uint64_t filetime, std::int64_t& seconds, std::int64_t& nanoseconds) {
  seconds = static_cast<std::int64_t>(filetime / 10000000u) - kEpochDifference;
  nanoseconds = static_cast<std::int64_t>(filetime % 10000000u) * 100;
}

bool local_system_time(std::int64_t seconds, std::int64_t nanoseconds, SystemTime& out) {
  std::tm tm{};
  if (!host_local_time(seconds, tm)) return false;
  const int year = tm.tm_year + 1900;
  if (year < 1601 || year > 30827) return false;
  out.year = static_cast<std::uint16_t>(year);
  out.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
  out.day_of_week = static_cast<std::uint16_t>(tm.tm_wday);
  out.day = static_cast<std::uint16_t>(tm.tm_mday);
  out.hour = static_cast<std::uint16_t>(tm.tm_hour);
  out.minute = static_cast<std::uint16_t>(tm.tm_min);
  out.second = static_cast<std::uint16_t>(std::min(tm.tm_sec, 59));
  out.milliseconds = static_cast<std::uint16_t>(nanoseconds / 1000000);
  return true;
}

bool moment_of_local_time(const SystemTime& t, std::int64_t& seconds, std::int64_t& nanoseconds) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12) return false;
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  const int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
  if (t.day < 1 || t.day > days || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.milliseconds > 999)
    return false;
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  seconds = static_cast<std::int64_t>(std::mktime(&tm));
  nanoseconds = static_cast<std::int64_t>(t.milliseconds) * 1000000;
  return true;
}

bool find_entries(std::string_view pattern, std::vector<FoundEntry>& out, const char* builtin) {
  out.clear();
  // Split at the last separator (a trail byte is never one).
  std::size_t cut = 0;
  for (std::size_t i = 0; i < pattern.size(); i = cp932::next(pattern, i))
    if (cp932::char_len(pattern, i) == 1 && (pattern[i] == '\\' || pattern[i] == '/')) cut = i + 1;
  std::string_view folder = pattern.substr(0, cut);
  std::string_view name_pattern = pattern.substr(cut);
  if (name_pattern.empty()) return false;
  std::optional<std::string> dir =
      resolve_game_path(folder.empty() ? std::string_view(".") : folder);
  if (!dir) return false;
  HostFile folder_file;
  if (!host_file(*dir, folder_file) || !folder_file.directory) return false;
  if (!path_allowed(*dir, builtin)) return false;

  // Names are matched in CP932; a host name that is not text, or has no
  // CP932 form, is matched as its bytes.
  auto script_name = [](const std::string& host_name) {
    if (cp932::is_valid_utf8(host_name)) {
      if (auto converted = cp932::from_utf8(host_name)) return *converted;
    }
    return host_name;
  };
  std::vector<std::pair<std::string, HostFile>> listing;
  auto wanted = [&](const std::string& host_name) {
    const std::string name = script_name(host_name);
    return name.size() < kMaxPath && wildcard_match(name_pattern, name);
  };
  if (!list_host_folder(*dir, wanted, listing)) return false;
  for (const auto& [host_name, file] : listing) {
    const std::string name = script_name(host_name);
    FoundEntry f;
    f.name = name;
    f.alt_name = short_name(name);
    f.attributes = attributes_of(name, file);
    f.size = file.size;
    f.created = filetime_from_unix(file.created.seconds, file.created.nanoseconds);
    f.accessed = filetime_from_unix(file.accessed.seconds, file.accessed.nanoseconds);
    f.written = filetime_from_unix(file.written.seconds, file.written.nanoseconds);
    out.push_back(std::move(f));
  }
  auto rank = [](const FoundEntry& e) { return e.name == "." ? 0 : e.name == ".." ? 1 : 2; };
  std::sort(out.begin(), out.end(), [&](const FoundEntry& a, const FoundEntry& b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    int c = cp932::compare_nocase(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
  return true;
}

bool write_find_data(Addr record, const FoundEntry& e) {
  std::uint8_t* p = wspan(record, kFindDataSize);
  if (!p) return false;
  std::uint8_t buf[kFindDataSize] = {};
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(buf + at, &v, 4); };
  put32(0, e.attributes);
  const std::uint64_t times[3] = {e.created, e.accessed, e.written};
  for (int i = 0; i < 3; ++i) {
    put32(4 + 8 * i, static_cast<std::uint32_t>(times[i]));
    put32(8 + 8 * i, static_cast<std::uint32_t>(times[i] >> 32));
  }
  put32(28, static_cast<std::uint32_t>(e.size >> 32));
  put32(32, static_cast<std::uint32_t>(e.size));
  std::memcpy(buf + 44, e.name.data(), std::min<std::size_t>(e.name.size(), 259));
  std::memcpy(buf + 304, e.alt_name.data(), std::min<std::size_t>(e.alt_name.size(), 13));
  std::memcpy(p, buf, kFindDataSize);
  return true;
}

std::int32_t open_search(std::vector<FoundEntry> entries) {
  for (std::size_t i = 0; i < g_searches.size(); ++i) {
    if (!g_searches[i]) {
      g_searches[i] = Search{std::move(entries), 0};
      return static_cast<std::int32_t>(i + 1);
    }
  }
  return -1;
}

const FoundEntry* next_found(std::int32_t handle) {
  if (handle < 1 || handle > static_cast<std::int32_t>(g_searches.size())) return nullptr;
  std::optional<Search>& s = g_searches[static_cast<std::size_t>(handle - 1)];
  if (!s || s->next >= s->entries.size()) return nullptr;
  return &s->entries[s->next++];
}

bool close_search(std::int32_t handle) {
  if (handle < 1 || handle > static_cast<std::int32_t>(g_searches.size())) return false;
  std::optional<Search>& s = g_searches[static_cast<std::size_t>(handle - 1)];
  if (!s) return false;
  s.reset();
  return true;
}

void close_all_searches() {
  for (auto& s : g_searches) s.reset();
}

}  // namespace talven::lib::system
