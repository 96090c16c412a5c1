#include "lib/system/system_paths.h"

#include <filesystem>
#include <system_error>

#include "base/config.h"
#include "base/cp932.h"
#include "base/game_path.h"
#include "base/host_file.h"
#include "base/messages.h"

namespace talven::lib::system {

namespace fs = std::filesystem;

namespace {

bool g_untrusted = false;

std::string canonical_dir(const std::string& path) {
  if (path.empty()) return {};
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(host_file::fs_path(path), ec), ec);
  if (ec) return {};
  return host_file::from_fs_path(p);
}

// A path in the form path_inside compares: Windows paths with '/' only,
// lower-case ASCII letters and no long-path prefix; trailing separators
// dropped except a file system's root ("/", "c:/").
std::string comparable_path(std::string_view path, PathRules rules) {
  std::string s(path);
  if (rules == PathRules::kWindows) {
    for (char& c : s) {
      if (c == '\\') c = '/';
      else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (s.rfind("//?/unc/", 0) == 0) s = "//" + s.substr(8);
    else if (s.rfind("//?/", 0) == 0) s.erase(0, 4);
  }
  const bool drive_root = rules == PathRules::kWindows && s.size() == 3 && s[1] == ':';
  while (s.size() > 1 && s.back() == '/' && !drive_root) s.pop_back();
  return s;
}

}  // namespace

std::optional<std::string> path_arg(Addr address) {
  if (address == kNullAddr) return std::nullopt;
  auto text = cstr(address, kMaxPath - 1);
  if (!text) return std::nullopt;
  return std::string(*text);
}

std::optional<std::string> windows_path(const std::string& host_path) {
  auto text = cp932::from_utf8(host_path);
  if (!text) return std::nullopt;
  // '/' never occurs as a trail byte, so a byte-wise replacement is safe.
  for (char& c : *text)
    if (c == '/') c = '\\';
  return text;
}

bool path_inside(std::string_view path, std::string_view root, PathRules rules) {
  const std::string p = comparable_path(path, rules);
  const std::string r = comparable_path(root, rules);
  if (r.empty() || p.empty()) return false;
  if (p == r) return true;
  if (p.size() <= r.size() || p.compare(0, r.size(), r) != 0) return false;
  return r.back() == '/' || p[r.size()] == '/';  // a root already ends in its separator
}

void set_untrusted(bool on) { g_untrusted = on; }
bool untrusted() { return g_untrusted; }

bool path_allowed(const std::string& host_path, const char* builtin) {
  if (!g_untrusted) return true;
  const Config& c = config();
  std::string path = canonical_dir(host_path);
  std::string save_dir =
      c.config_path.empty()
          ? std::string()
          : host_file::from_fs_path(host_file::fs_path(c.config_path).parent_path());
  if (!path.empty() && (path_inside(path, canonical_dir(c.module_dir), host_path_rules()) ||
                        path_inside(path, canonical_dir(save_dir), host_path_rules())))
    return true;
  report_message(2, "このゲームには許可されていない操作です。- %s (%s)", builtin,
                 host_path.c_str());
  return false;
}

bool action_allowed(const char* builtin, std::string_view what) {
  if (!g_untrusted) return true;
  std::string shown(what);
  report_message(2, "このゲームには許可されていない操作です。- %s (%s)", builtin, shown.c_str());
  return false;
}

std::optional<std::string> existing_path(Addr address, const char* builtin) {
  auto name = path_arg(address);
  if (!name || name->empty()) return std::nullopt;
  auto host = resolve_game_path(*name);
  if (!host || !path_allowed(*host, builtin)) return std::nullopt;
  return host;
}

std::optional<std::string> target_path(Addr address, const char* builtin) {
  auto name = path_arg(address);
  if (!name || name->empty()) return std::nullopt;
  std::string host = host_path_for_write(*name);
  if (host.empty()) return std::nullopt;
  std::error_code ec;
  host = host_file::from_fs_path(fs::absolute(host_file::fs_path(host), ec));
  if (ec || !path_allowed(host, builtin)) return std::nullopt;
  return host;
}

}  // namespace talven::lib::system
