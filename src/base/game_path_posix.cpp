// Game path resolution on POSIX hosts: case-sensitive folders of UTF-8 names.
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
#include <algorithm>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/cp932.h"
#include "base/game_path.h"
#include "base/game_path_host.h"
#include "base/host_file.h"

namespace talven {

namespace game_path_host {

namespace {

constexpr std::size_t kMaxCachedDirs = 512;
constexpr std::time_t kRacySeconds = 2;

struct Listing {
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::int64_t mtime_sec = 0;
  std::int64_t mtime_nsec = 0;
  bool trusted = false;                                 // old enough to reuse
  std::vector<std::string> names;                       // sorted by bytes
  std::unordered_map<std::string, std::size_t> folded;  // fold key -> index in names
};

std::mutex g_cache_mutex;
std::unordered_map<std::string, std::shared_ptr<const Listing>> g_cache;

std::shared_ptr<const Listing> read_listing(const std::string& dir, const host_file::Info& st) {
  auto names = host_file::list_directory(dir);
  if (!names) return nullptr;
  auto listing = std::make_shared<Listing>();
  listing->dev = st.device;
  listing->ino = st.file_id;
  listing->mtime_sec = st.modified_sec;
  listing->mtime_nsec = st.modified_nsec;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  listing->trusted = now.tv_sec - st.modified_sec >= kRacySeconds;
  listing->names = std::move(*names);
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
  host_file::Info st;
  if (!host_file::info_of_path(dir, st) || !st.directory) return nullptr;
  {
    std::lock_guard lock(g_cache_mutex);
    auto it = g_cache.find(dir);
    if (it != g_cache.end()) {
      const Listing& l = *it->second;
      if (l.trusted && l.dev == st.device && l.ino == st.file_id &&
          l.mtime_sec == st.modified_sec && l.mtime_nsec == st.modified_nsec)
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

}  // namespace

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

// A drive prefix has no meaning here: the walk starts at the host root or
// in the current folder, and a bare drive root names nothing.
std::optional<std::string> start_dir(char drive, bool absolute, bool bare) {
  if (drive && absolute && bare) return std::nullopt;
  if (absolute) return std::string("/");
  return host_file::current_dir();
}

// A drive location is only taken when its folder exists here and is not the
// host's root, where "C:\file" would otherwise land.
bool drive_folder_writable(const std::string& folder) {
  return folder != "/" && is_directory(folder);
}

namespace {

std::string normalise_dir(const std::string& host_dir) {
  std::string dir = host_dir;
  if (dir.empty() || dir[0] != '/') {
    if (auto cwd = host_file::current_dir()) dir = dir.empty() ? *cwd : join(*cwd, dir);
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

}  // namespace game_path_host

void invalidate_path_cache() {
  std::lock_guard lock(game_path_host::g_cache_mutex);
  game_path_host::g_cache.clear();
}

void invalidate_path_cache(const std::string& host_dir) {
  std::string dir = game_path_host::normalise_dir(host_dir);
  std::lock_guard lock(game_path_host::g_cache_mutex);
  game_path_host::g_cache.erase(dir);
}

}  // namespace talven
