// ini_seti, ini_sets, ini_geti, ini_gets: private-profile values in the
// game's files, or in config_path when the file argument is null. A file
// named without a folder is looked up from the current directory (the
// game's folder unless the game changed it). A null section or key in
// ini_gets lists the section names or the section's key names.
#include <fstream>
#include <string>
#include <vector>

#include "base/config.h"
#include "base/cp932.h"
#include "base/host_file.h"
#include "base/game_path.h"
#include "base/profile.h"
#include "lib/system/system_builtins.h"
#include "lib/system/system_paths.h"

namespace talven::lib {

namespace {

constexpr std::uint32_t kMaxName = 65535;  // sections, keys and values

enum class Access { kRead, kWrite };

// The host file of a file argument; nullopt when it cannot be used. A file
// that does not exist is fine for reading (every key then reads its default).
std::optional<std::string> profile_file(Addr file, Access access, const char* builtin) {
  if (file == kNullAddr) {
    const std::string& path = config().config_path;
    if (path.empty()) return std::nullopt;
    return path;
  }
  auto name = system::path_arg(file);
  if (!name || name->empty()) return std::nullopt;
  if (access == Access::kRead) {
    if (auto host = resolve_game_path(*name)) {
      if (!system::path_allowed(*host, builtin)) return std::nullopt;
      return host;
    }
  }
  return system::target_path(file, builtin);
}

std::optional<std::string> text_arg(Addr a) {
  if (a == kNullAddr) return std::nullopt;
  auto s = cstr(a, kMaxName);
  if (!s) return std::nullopt;
  return std::string(*s);
}

// Writes value (or, with a null value, removes the key; with a null key the
// whole section), as the platform's profile writer does.
bool write_value(Addr section_a, Addr key_a, const std::optional<std::string>& value,
                 bool value_given, Addr file_a, const char* builtin) {
  auto section = text_arg(section_a);
  if (!section) return false;
  std::optional<std::string> key;
  if (key_a != kNullAddr) {
    key = text_arg(key_a);
    if (!key) return false;
  }
  if (value_given && !value) return false;  // a wild text address
  // An untrusted game may not lift its own confinement for the next run.
  if (system::untrusted() && cp932::compare_nocase(*section, "System") == 0 &&
      (!key || cp932::compare_nocase(*key, "Untrusted") == 0)) {
    system::action_allowed(builtin, "System/Untrusted");
    return false;
  }
  auto file = profile_file(file_a, Access::kWrite, builtin);
  if (!file) return false;
  bool ok;
  if (!key) ok = profile::delete_section(*file, *section);
  else if (!value) ok = profile::delete_key(*file, *section, *key);
  else ok = profile::write_string(*file, *section, *key, *value);
  if (ok) invalidate_path_cache();
  return ok;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view v) {
  while (!v.empty() && blank(v.front())) v.remove_prefix(1);
  while (!v.empty() && blank(v.back())) v.remove_suffix(1);
  return v;
}

// The section names of a file (no section given) or the key names of a
// section, in file order, each name once (the first spelling kept).
std::vector<std::string> profile_names(const std::string& file,
                                       const std::optional<std::string>& section) {
  std::vector<std::string> names;
  std::ifstream in(host_file::fs_path(file), std::ios::binary);
  std::string line;
  bool inside = false;
  auto add = [&](std::string_view name) {
    for (const std::string& n : names)
      if (cp932::compare_nocase(n, name) == 0) return;
    names.emplace_back(name);
  };
  for (std::size_t count = 0; std::getline(in, line) && count < 1000000; ++count) {
    std::string_view t = trimmed(line);
    if (count == 0 && t.substr(0, 3) == "\xEF\xBB\xBF") t = trimmed(t.substr(3));
    if (t.empty() || t.front() == ';') continue;
    if (t.front() == '[') {
      std::size_t close = std::string_view::npos;
      for (std::size_t i = 1; i < t.size(); i = cp932::next(t, i))
        if (t[i] == ']' && cp932::char_len(t, i) == 1) {
          close = i;
          break;
        }
      if (close == std::string_view::npos) {
        inside = false;
        continue;
      }
      std::string_view name = trimmed(t.substr(1, close - 1));
      inside = section && cp932::compare_nocase(name, *section) == 0;
      if (!section) add(name);
      continue;
    }
    const std::size_t eq = t.find('=');
    if (section && inside && eq != std::string_view::npos) {
      std::string_view key = trimmed(t.substr(0, eq));
      if (!key.empty()) add(key);
    }
  }
  return names;
}

// Copies a name list (each name and a zero, then one more zero) as the
// platform does: when it does not fit, the list is cut, ends in two zeros,
// and size - 2 is returned.
std::uint32_t put_name_list(Addr buffer, std::uint32_t size,
                            const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list.append(n).push_back('\0');
  list.push_back('\0');
  if (list.size() <= size) {
    if (!write_bytes(buffer, list.data(), static_cast<std::uint32_t>(list.size()))) return 0;
    return static_cast<std::uint32_t>(list.size() - 1);
  }
  if (size < 2) {
    store8(buffer, 0);
    return 0;
  }
  list.resize(size);
  list[size - 1] = list[size - 2] = '\0';
  if (!write_bytes(buffer, list.data(), size)) return 0;
  return size - 2;
}

}  // namespace

bool bi_ini_seti(Addr section, Addr key, std::int32_t value, Addr file) {
  return write_value(section, key, std::to_string(value), true, file, "ini_seti");
}

bool bi_ini_sets(Addr section, Addr key, Addr text, Addr file) {
  std::optional<std::string> value;
  if (text != kNullAddr) value = text_arg(text);
  return write_value(section, key, value, text != kNullAddr, file, "ini_sets");
}

std::int32_t bi_ini_geti(Addr section_a, Addr key_a, std::int32_t fallback, Addr file_a) {
  auto section = text_arg(section_a);
  auto key = text_arg(key_a);
  if (!section || !key) return fallback;
  auto file = profile_file(file_a, Access::kRead, "ini_geti");
  if (!file) return fallback;
  return profile::get_int(*file, *section, *key, fallback);
}

std::uint32_t bi_ini_gets(Addr section_a, Addr key_a, Addr fallback_a, Addr buffer,
                          std::int32_t size, Addr file_a) {
  if (buffer == kNullAddr || size <= 0) return 0;
  // The default loses its trailing blanks, as the platform strips them.
  std::string fallback;
  if (Addr d = fallback_a; d != kNullAddr) {
    auto t = text_arg(d);
    if (!t) return 0;
    fallback = *t;
    while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t'))
      fallback.pop_back();
  }
  auto section = text_arg(section_a);
  auto key = text_arg(key_a);
  std::string value = fallback;
  const bool list = section_a == kNullAddr || key_a == kNullAddr;
  if (list) {
    // A null section lists the sections, a null key the section's keys.
    if (section_a != kNullAddr && !section) return 0;
    auto file = profile_file(file_a, Access::kRead, "ini_gets");
    std::vector<std::string> names;
    if (file) names = profile_names(*file, section_a == kNullAddr ? std::nullopt : section);
    return put_name_list(buffer, static_cast<std::uint32_t>(size), names);
  }
  if (section && key) {
    if (auto file = profile_file(file_a, Access::kRead, "ini_gets"))
      value = profile::get_string(*file, *section, *key, fallback);
  }
  const std::uint32_t n = static_cast<std::uint32_t>(
      std::min<std::size_t>(value.size(), static_cast<std::uint32_t>(size) - 1));
  if (!valid_range(buffer, n + 1)) return 0;
  write_cstr(buffer, value, n + 1);
  return n;
}

}  // namespace talven::lib
