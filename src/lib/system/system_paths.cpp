#include "lib/system/system_paths.h"

#include <filesystem>
#include <system_error>

#include "base/config.h"
#include "base/cp932.h"
#include "base/game_path.h"
#include "base/messages.h"

namespace talven::lib::system {

namespace fs = std::filesystem;

namespace {

bool g_untrusted = false;

std::string canonical_dir(const std::string& path) {
  if (path.empty()) return {};
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) return {};
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool inside(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  if (root == "/") return true;
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                          path[root.size()] == '/');
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

void set_untrusted(bool on) { g_untrusted = on; }
bool untrusted() { return g_untrusted; }

bool path_allowed(const std::string& host_path, const char* builtin) {
  if (!g_untrusted) return true;
  const Config& c = config();
  std::string path = canonical_dir(host_path);
  std::string save_dir =
      c.config_path.empty() ? std::string() : fs::path(c.config_path).parent_path().string();
  if (!path.empty() &&
      (inside(path, canonical_dir(c.module_dir)) || inside(path, canonical_dir(save_dir))))
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
  host = fs::absolute(host, ec).string();
  if (ec || !path_allowed(host, builtin)) return std::nullopt;
  return host;
}

}  // namespace talven::lib::system
