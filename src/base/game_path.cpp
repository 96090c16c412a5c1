// Game path resolution: Windows-style CP932 names to host paths.
//
// Each component is looked up in its directory in three steps: the UTF-8
// conversion of the name as an exact entry, the raw bytes as an exact entry
// (games unpacked without name conversion), then a case-insensitive match
// over the directory listing. The exact steps are one lstat each and never
// go stale; only the case-insensitive step uses the listing cache.
//
// Listings are cached per absolute host directory and revalidated by the
// directory's device, inode and modification time. A directory whose
// modification time is within two seconds of the moment it was listed is not
// trusted (file systems stamp times coarsely, so a change in the same tick
// would not show), and is listed again on its next use.
//
// "." and ".." are applied to the path as written, as Windows does. A drive
// prefix ("C:") has no meaning on the host: "C:\x\y" is taken as the host
// path "/x/y" and "C:x" as relative to the current directory, so a game that
// stores host paths it was given finds them again, and a real Windows
// location simply does not exist.
#include "base/game_path.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/cp932.h"

namespace talven {

namespace {

constexpr std::size_t kMaxCachedDirs = 512;
constexpr std::time_t kRacySeconds = 2;

struct Listing {
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  bool trusted = false;                                 // old enough to reuse
  std::vector<std::string> names;                       // sorted by bytes
  std::unordered_map<std::string, std::size_t> folded;  // fold key -> index in names
};

std::mutex g_cache_mutex;
std::unordered_map<std::string, std::shared_ptr<const Listing>> g_cache;

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::shared_ptr<const Listing> read_listing(const std::string& dir, const struct stat& st) {
  DIR* d = opendir(dir.c_str());
  if (!d) return nullptr;
  auto listing = std::make_shared<Listing>();
  listing->dev = st.st_dev;
  listing->ino = st.st_ino;
  listing->mtime = st.st_mtim;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  listing->trusted = now.tv_sec - st.st_mtim.tv_sec >= kRacySeconds;
  while (dirent* e = readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    listing->names.emplace_back(name);
  }
  closedir(d);
  std::sort(listing->names.begin(), listing->names.end());
  // Keys from the name read as CP932 bytes and from its conversion out of
  // UTF-8; the first name in byte order wins a shared key.
  for (std::size_t i = 0; i < listing->names.size(); ++i) {
    const std::string& name = listing->names[i];
    listing->folded.emplace(cp932::fold_nocase(name), i);
    if (cp932::is_valid_utf8(name)) {
      if (auto as_cp932 = cp932::from_utf8(name); as_cp932 && *as_cp932 != name)
        listing->folded.emplace(cp932::fold_nocase(*as_cp932), i);
    }
  }
  return listing;
}

void forget(const std::string& dir) {
  std::lock_guard lock(g_cache_mutex);
  g_cache.erase(dir);
}

std::shared_ptr<const Listing> get_listing(const std::string& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  {
    std::lock_guard lock(g_cache_mutex);
    auto it = g_cache.find(dir);
    if (it != g_cache.end()) {
      const Listing& l = *it->second;
      if (l.trusted && l.dev == st.st_dev && l.ino == st.st_ino && same_time(l.mtime, st.st_mtim))
        return it->second;
    }
  }
  auto listing = read_listing(dir, st);
  if (!listing) return nullptr;
  std::lock_guard lock(g_cache_mutex);
  if (g_cache.size() >= kMaxCachedDirs && !g_cache.count(dir)) g_cache.clear();
  g_cache[dir] = listing;
  return listing;
}

std::string join(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (out.empty() || out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

std::string parent_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

bool entry_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entry of dir that the CP932 name stands for.
std::optional<std::string> match_entry(const std::string& dir, std::string_view name) {
  auto utf8 = cp932::to_utf8(name);
  if (utf8 && entry_exists(join(dir, *utf8))) return utf8;
  if ((!utf8 || *utf8 != name) && entry_exists(join(dir, name))) return std::string(name);
  std::string key = cp932::fold_nocase(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto listing = get_listing(dir);
    if (!listing) return std::nullopt;
    auto it = listing->folded.find(key);
    if (it == listing->folded.end()) return std::nullopt;
    const std::string& found = listing->names[it->second];
    if (entry_exists(join(dir, found))) return found;
    forget(dir);  // removed since it was listed: list again
  }
  return std::nullopt;
}

struct ParsedPath {
  bool valid = false;
  bool drive = false;         // had an "X:" prefix
  bool absolute = false;      // starts at the host root
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
    p.drive = true;
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

std::optional<std::string> current_dir() {
  std::string cwd(4096, '\0');
  while (!getcwd(cwd.data(), cwd.size())) {
    if (errno != ERANGE || cwd.size() > (1u << 20)) return std::nullopt;
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(cwd.find('\0'));
  return cwd;
}

// Where the walk starts; nullopt for a bare drive root ("C:\"), which has
// no counterpart on the host.
std::optional<std::string> base_dir(const ParsedPath& p) {
  if (p.drive && p.absolute && p.parts.empty()) return std::nullopt;
  if (p.absolute) return std::string("/");
  return current_dir();
}

std::string normalise_dir(const std::string& host_dir) {
  std::string dir = host_dir;
  if (dir.empty() || dir[0] != '/') {
    if (auto cwd = current_dir()) dir = dir.empty() ? *cwd : join(*cwd, dir);
  }
  for (;;) {  // "dir/", "dir/." and "dir/./" all name "dir"
    if (dir.size() > 1 && dir.back() == '/') {
      dir.pop_back();
    } else if (dir.size() > 2 && dir.compare(dir.size() - 2, 2, "/.") == 0) {
      dir.resize(dir.size() - 2);
    } else {
      break;
    }
  }
  if (dir.empty() || dir == "/.") dir.assign(1, '/');
  return dir;
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
  // A Windows drive location is only taken when its folder exists here and
  // is not the host's root, where "C:\file" would otherwise land.
  if (p.drive && p.absolute) {
    std::string folder = parent_of(*cur);
    if (folder == "/" || !is_directory(folder)) return {};
  }
  return *cur;
}

void invalidate_path_cache() {
  std::lock_guard lock(g_cache_mutex);
  g_cache.clear();
}

void invalidate_path_cache(const std::string& host_dir) {
  std::string dir = normalise_dir(host_dir);
  std::lock_guard lock(g_cache_mutex);
  g_cache.erase(dir);
}

}  // namespace talven
