// The file search, folder and file builtins over the host file system.
// Every name is a game path (system_paths.h); results follow the platform's
// conventions: nonzero on success, -1 for find_first and file_getattr
// failures.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/game_path.h"
#include "lib/system/file_search.h"
#include "lib/system/folders.h"
#include "lib/system/system_builtins.h"
#include "lib/system/system_paths.h"
#include "runtime/bind.h"

namespace talven::lib {

using namespace system;

namespace {

std::string parent_of(const std::string& host) {
  std::size_t slash = host.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : host.substr(0, slash);
}

std::string base_of(const std::string& host) {
  std::size_t slash = host.rfind('/');
  return slash == std::string::npos ? host : host.substr(slash + 1);
}

bool stat_of(const std::string& host, struct stat& st) { return ::stat(host.c_str(), &st) == 0; }

bool exists(const std::string& host) {
  struct stat st;
  return ::lstat(host.c_str(), &st) == 0;
}

void changed(const std::string& host) { invalidate_path_cache(parent_of(host)); }

// Writes `path` (Windows form) with a trailing separator into a 260-byte
// buffer; its length, or 0 when it is too long or does not fit.
std::uint32_t put_folder(Addr buffer, std::optional<std::string> path) {
  if (!path || path->size() >= kMaxPath) return 0;
  if (path->empty() || path->back() != '\\') path->push_back('\\');
  const std::uint32_t n = static_cast<std::uint32_t>(path->size());
  if (!write_cstr(buffer, *path, n + 1)) return 0;
  return n;
}

// Copies a regular file to `to` through a temporary file beside it, keeping
// the mode and the times. With `replace` false an existing `to` is kept and
// the copy fails, even when it appears meanwhile.
bool copy_file(const std::string& from, const std::string& to, bool replace) {
  struct stat st;
  if (!stat_of(from, st) || !S_ISREG(st.st_mode)) return false;
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::string temp = to + ".tlvXXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int out = ::mkstemp(name.data());
  if (out < 0) {
    ::close(in);
    return false;
  }
  temp = name.data();
  bool ok = true;
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ok = ok && ::fchmod(out, st.st_mode & 07777) == 0 && ::futimens(out, times) == 0;
  ok = ::close(out) == 0 && ok;
  if (ok) {
    if (replace) ok = ::rename(temp.c_str(), to.c_str()) == 0;
    else ok = ::link(temp.c_str(), to.c_str()) == 0;
  }
  ::unlink(temp.c_str());
  return ok;
}

bool read_system_time(Addr a, SystemTime& t) {
  std::uint16_t v[8];
  if (!read_bytes(a, v, sizeof v)) return false;
  t = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
  return true;
}

bool write_system_time(Addr a, const SystemTime& t) {
  const std::uint16_t v[8] = {t.year, t.month,  t.day_of_week, t.day,
                              t.hour, t.minute, t.second,      t.milliseconds};
  return write_bytes(a, v, sizeof v);
}

// The three time records of file_gettime / file_settime; false when one is
// given but cannot hold a record.
bool time_records_ok(const Addr records[3]) {
  for (unsigned i = 0; i < 3; ++i)
    if (records[i] != kNullAddr && !valid_range(records[i], kSystemTimeSize)) return false;
  return true;
}

}  // namespace

// ---- file search -------------------------------------------------------------

std::int32_t bi_find_first(Addr pattern_a, Addr record) {
  auto pattern = path_arg(pattern_a);
  if (!pattern || !valid_range(record, kFindDataSize)) return -1;
  std::vector<FoundEntry> entries;
  if (!find_entries(*pattern, entries, "find_first") || entries.empty()) return -1;
  const std::int32_t handle = open_search(std::move(entries));
  if (handle < 0) return -1;
  write_find_data(record, *next_found(handle));
  return handle;
}

bool bi_find_next(std::int32_t handle, Addr record) {
  if (!valid_range(record, kFindDataSize)) return false;
  const FoundEntry* e = next_found(handle);
  if (!e) return false;
  write_find_data(record, *e);
  return true;
}

bool bi_find_close(std::int32_t handle) { return close_search(handle); }

// ---- folders -------------------------------------------------------------------

std::uint32_t bi_dir_getpath(std::int32_t folder, Addr buffer) {
  if (buffer == kNullAddr || !store8(buffer, 0)) return 0;
  auto host = special_folder(folder);
  if (!host) return 0;
  return put_folder(buffer, windows_path(*host));
}

std::uint32_t bi_dir_getcur(Addr buffer) {
  if (buffer == kNullAddr) return 0;
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  if (ec || cwd.empty()) return 0;
  return put_folder(buffer, windows_path(cwd));
}

bool bi_dir_setcur(Addr path) {
  auto host = existing_path(path, "dir_setcur");
  return host && ::chdir(host->c_str()) == 0;
}

bool bi_dir_create(Addr path) {
  auto host = target_path(path, "dir_create");
  if (!host || ::mkdir(host->c_str(), 0777) != 0) return false;
  changed(*host);
  return true;
}

bool bi_dir_delete(Addr path) {
  auto host = existing_path(path, "dir_delete");
  if (!host || ::rmdir(host->c_str()) != 0) return false;
  changed(*host);
  return true;
}

// ---- files ---------------------------------------------------------------------

bool bi_file_copy(Addr from_path, Addr to_path, std::uint32_t fail_if_exists_word) {
  auto from = existing_path(from_path, "file_copy");
  auto to = target_path(to_path, "file_copy");
  if (!from || !to) return false;
  const bool fail_if_exists = fail_if_exists_word != 0;
  struct stat st;
  if (stat_of(*to, st)) {
    // An existing read-only file or a folder is never replaced.
    if (fail_if_exists || S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)) return false;
  }
  if (!copy_file(*from, *to, !fail_if_exists)) return false;
  changed(*to);
  return true;
}

bool bi_file_move(Addr from_path, Addr to_path) {
  auto from = existing_path(from_path, "file_move");
  auto to = target_path(to_path, "file_move");
  if (!from || !to || exists(*to)) return false;
  if (::renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str(), RENAME_NOREPLACE) != 0) {
    // Across file systems a file is copied and the original removed.
    if (errno != EXDEV || !copy_file(*from, *to, false)) return false;
    if (::unlink(from->c_str()) != 0) {
      ::unlink(to->c_str());
      return false;
    }
  }
  changed(*from);
  changed(*to);
  return true;
}

bool bi_file_delete(Addr path) {
  auto host = existing_path(path, "file_delete");
  struct stat st;
  // Folders and read-only files are not deleted.
  if (!host || !stat_of(*host, st) || S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)) return false;
  if (::unlink(host->c_str()) != 0) return false;
  changed(*host);
  return true;
}

std::uint32_t bi_file_size(Addr path) {
  auto pattern = path_arg(path);
  std::vector<FoundEntry> entries;
  if (!pattern || !find_entries(*pattern, entries, "file_size") || entries.empty()) return 0;
  return static_cast<std::uint32_t>(entries.front().size);
}

bool bi_file_check(Addr path) {
  auto pattern = path_arg(path);
  std::vector<FoundEntry> entries;
  return pattern && find_entries(*pattern, entries, "file_check") && !entries.empty();
}

std::uint32_t bi_file_getattr(Addr path) {
  auto host = existing_path(path, "file_getattr");
  struct stat st;
  if (!host || !stat_of(*host, st)) return runtime::kMinusOne;
  return attributes_of(base_of(*host), st);
}

bool bi_file_setattr(Addr path, std::uint32_t attributes) {
  auto host = existing_path(path, "file_setattr");
  struct stat st;
  if (!host || !stat_of(*host, st)) return false;
  // Only the read-only bit has a meaning here; hidden follows the name.
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else mode |= S_IWUSR;
  return ::chmod(host->c_str(), mode) == 0;
}

bool bi_file_gettime(Addr path, Addr created_record, Addr accessed_record, Addr written_record) {
  auto host = existing_path(path, "file_gettime");
  const Addr records[3] = {created_record, accessed_record, written_record};
  if (!host || !time_records_ok(records)) return false;
  struct stat st;
  const int fd = ::open(host->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  timespec created = st.st_mtim;
  struct statx sx;
  if (ok && ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    created = {static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)};
  ::close(fd);
  if (!ok) return false;
  const timespec times[3] = {created, st.st_atim, st.st_mtim};
  for (unsigned i = 0; i < 3; ++i) {
    if (records[i] == kNullAddr) continue;
    SystemTime t{};
    if (!local_system_time(times[i].tv_sec, times[i].tv_nsec, t))
      t = SystemTime{1601, 1, 1, 1, 0, 0, 0, 0};
    write_system_time(records[i], t);
  }
  return true;
}

bool bi_file_settime(Addr path, Addr created_record, Addr accessed_record, Addr written_record) {
  auto host = existing_path(path, "file_settime");
  const Addr records[3] = {created_record, accessed_record, written_record};
  if (!host || !time_records_ok(records)) return false;
  // Every given record must name a real local time before anything is set.
  timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  for (unsigned i = 0; i < 3; ++i) {
    if (records[i] == kNullAddr) continue;
    SystemTime t;
    std::int64_t s, ns;
    if (!read_system_time(records[i], t) || !moment_of_local_time(t, s, ns)) return false;
    if (i > 0) times[i - 1] = {static_cast<time_t>(s), static_cast<long>(ns)};
    // The creation time cannot be set on this platform; it is accepted and left.
  }
  const int fd = ::open(host->c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::futimens(fd, times) == 0;
  ::close(fd);
  return ok;
}

}  // namespace talven::lib
