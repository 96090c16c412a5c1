// Game path resolution, the part every platform shares: splitting a
// Windows-style CP932 path into its components and walking them from where
// the path starts. How a component is found in its folder, where a walk
// starts and what a drive prefix means belong to the platform
// (game_path_posix.cpp, game_path_win32.cpp, behind game_path_host.h).
//
// "." and ".." are applied to the path as written, as Windows does.
#include "base/game_path.h"

#include <vector>

#include "base/cp932.h"
#include "base/game_path_host.h"
#include "base/host_file.h"

namespace talven {

namespace game_path_host {

bool entry_exists(const std::string& path) {
  host_file::Info st;
  return host_file::info_of_entry(path, st);
}

bool is_directory(const std::string& path) {
  host_file::Info st;
  return host_file::info_of_path(path, st) && st.directory;
}

}  // namespace game_path_host

using namespace game_path_host;

namespace {

struct ParsedPath {
  bool valid = false;
  char drive = 0;             // the letter of an "X:" prefix, or 0
  bool absolute = false;      // starts at the root
  bool trailing_sep = false;  // ends in a separator: names a directory
  std::vector<std::string_view> parts;
};

// Splits at '\' and '/' that are characters of their own: a '\' that is the
// trail byte of a double-byte character belongs to that character.
ParsedPath parse(std::string_view path) {
  ParsedPath p;
  if (path.empty() || path.find('\0') != std::string_view::npos) return p;
  p.valid = true;
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    p.drive = path[0];
    path.remove_prefix(2);
  }
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); i = cp932::next(path, i)) {
    bool sep = cp932::char_len(path, i) == 1 && (path[i] == '\\' || path[i] == '/');
    if (!sep) continue;
    if (i == 0) p.absolute = true;
    if (i > start) p.parts.push_back(path.substr(start, i - start));
    start = i + 1;
  }
  if (start < path.size()) p.parts.push_back(path.substr(start));
  p.trailing_sep = !path.empty() && start == path.size() && !p.parts.empty();
  return p;
}

std::optional<std::string> base_dir(const ParsedPath& p) {
  return start_dir(p.drive, p.absolute, p.parts.empty());
}

}  // namespace

std::optional<std::string> resolve_game_path(std::string_view game_path) {
  ParsedPath p = parse(game_path);
  if (!p.valid) return std::nullopt;
  auto cur = base_dir(p);
  if (!cur) return std::nullopt;
  for (std::string_view part : p.parts) {
    if (part == ".") continue;
    if (part == "..") {
      *cur = parent_of(*cur);
      continue;
    }
    auto name = match_entry(*cur, part);
    if (!name) return std::nullopt;
    *cur = join(*cur, *name);
  }
  if (p.parts.empty() || p.trailing_sep) {
    if (!is_directory(*cur)) return std::nullopt;
  } else if (!entry_exists(*cur)) {
    return std::nullopt;  // "." or ".." walked to a directory that is gone
  }
  return cur;
}

std::string host_path_for_write(std::string_view game_path) {
  ParsedPath p = parse(game_path);
  if (!p.valid) return {};
  auto cur = base_dir(p);
  if (!cur) return {};
  for (std::string_view part : p.parts) {
    if (part == ".") continue;
    if (part == "..") {
      *cur = parent_of(*cur);
      continue;
    }
    if (auto name = match_entry(*cur, part)) {
      *cur = join(*cur, *name);
      continue;
    }
    auto utf8 = cp932::to_utf8(part);
    *cur = join(*cur, utf8 ? *utf8 : std::string(part));
  }
  if (p.drive && p.absolute && !drive_folder_writable(parent_of(*cur))) return {};
  return *cur;
}

}  // namespace talven
