// Game path resolution on Windows. Folders match names case-insensitively
// themselves, so a component is found by asking for it: first as its UTF-8
// conversion (the form host paths take), then as the raw bytes, which the
// file layer reads as CP932. An entry found is named as the folder spells
// it, so that a file written over an existing one keeps its name. No
// listing is cached, so there is nothing to invalidate. A drive prefix means that drive; a path
// rooted without one starts at the root of the current folder's drive.
#include <cctype>

#include "base/wide_text_win32.h"

#include "base/cp932.h"
#include "base/game_path.h"
#include "base/game_path_host.h"
#include "base/host_file.h"

namespace talven {

namespace game_path_host {

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// The length of the root at the start of a host path: 3 for "X:/", the
// server and share for "//server/share/", else 0.
std::size_t root_length(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && is_separator(path[2])) return 3;
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    std::size_t server_end = path.find_first_of("/\\", 2);
    if (server_end == std::string::npos) return path.size();
    std::size_t share_end = path.find_first_of("/\\", server_end + 1);
    return share_end == std::string::npos ? path.size() : share_end + 1;
  }
  return 0;
}

std::string drive_root(char drive) {
  std::string root(1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive))));
  root += ":/";
  return root;
}

}  // namespace

std::optional<std::string> start_dir(char drive, bool absolute, bool) {
  if (drive && absolute) return drive_root(drive);
  auto cwd = host_file::current_dir();
  if (!cwd) return std::nullopt;
  const std::size_t root = root_length(*cwd);
  if (absolute) {
    if (!root) return std::nullopt;
    return cwd->substr(0, root);
  }
  // "X:name" is relative to the current folder when that is on drive X,
  // and to the drive's root otherwise.
  if (drive && !(root == 3 && std::toupper(static_cast<unsigned char>((*cwd)[0])) ==
                                  std::toupper(static_cast<unsigned char>(drive))))
    return drive_root(drive);
  return cwd;
}

std::string join(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (out.empty() || !is_separator(out.back())) out.push_back('/');
  out.append(name);
  return out;
}

std::string parent_of(const std::string& path) {
  const std::size_t root = root_length(path);
  std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos || slash < root) return root ? path.substr(0, root) : path;
  if (slash + 1 == root) return path.substr(0, root);
  return path.substr(0, slash);
}

namespace {

// The name of entry `name` of folder `dir` as the folder spells it, when
// the entry exists. Names with wildcard characters (which no entry can
// have) are only checked for.
std::optional<std::string> stored_name(const std::string& dir, const std::string& name) {
  const std::string path = join(dir, name);
  if (name.find_first_of("*?") != std::string::npos)
    return entry_exists(path) ? std::optional<std::string>(name) : std::nullopt;
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileExW(host_path_wide(path).c_str(), FindExInfoBasic, &found,
                                FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  ::FindClose(h);
  std::string stored = utf8_from_wide(found.cFileName);
  // A name the folder holds under another form (a short name, a trailing
  // dot) is kept as asked for.
  if (stored.size() != name.size()) return name;
  return stored;
}

}  // namespace

std::optional<std::string> match_entry(const std::string& dir, std::string_view name) {
  auto utf8 = cp932::to_utf8(name);
  if (utf8)
    if (auto stored = stored_name(dir, *utf8)) return stored;
  if (!utf8 || *utf8 != name) return stored_name(dir, std::string(name));
  return std::nullopt;
}

bool drive_folder_writable(const std::string& folder) { return is_directory(folder); }

}  // namespace game_path_host

void invalidate_path_cache() {}

void invalidate_path_cache(const std::string&) {}

}  // namespace talven
