// The file search, folder and file builtins over the host file system.
// Every name is a game path (system_paths.h); results follow the platform's
// conventions: nonzero on success, -1 for find_first and file_getattr
// failures.
#include <string>
#include <vector>

#include "base/game_path.h"
#include "lib/system/file_search.h"
#include "lib/system/folders.h"
#include "lib/system/host_files.h"
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
  auto cwd = current_host_folder();
  if (!cwd) return 0;
  return put_folder(buffer, windows_path(*cwd));
}

bool bi_dir_setcur(Addr path) {
  auto host = existing_path(path, "dir_setcur");
  return host && set_current_host_folder(*host);
}

bool bi_dir_create(Addr path) {
  auto host = target_path(path, "dir_create");
  if (!host || !make_host_folder(*host)) return false;
  changed(*host);
  return true;
}

bool bi_dir_delete(Addr path) {
  auto host = existing_path(path, "dir_delete");
  if (!host || !remove_host_folder(*host)) return false;
  changed(*host);
  return true;
}

// ---- files ---------------------------------------------------------------------

bool bi_file_copy(Addr from_path, Addr to_path, std::uint32_t fail_if_exists_word) {
  auto from = existing_path(from_path, "file_copy");
  auto to = target_path(to_path, "file_copy");
  if (!from || !to) return false;
  const bool fail_if_exists = fail_if_exists_word != 0;
  HostFile existing;
  if (host_file(*to, existing)) {
    // An existing read-only file or a folder is never replaced.
    if (fail_if_exists || existing.directory || !existing.writable) return false;
  }
  if (!copy_host_file(*from, *to, !fail_if_exists)) return false;
  changed(*to);
  return true;
}

bool bi_file_move(Addr from_path, Addr to_path) {
  auto from = existing_path(from_path, "file_move");
  auto to = target_path(to_path, "file_move");
  if (!from || !to || host_name_exists(*to)) return false;
  if (!move_host_file(*from, *to)) return false;
  changed(*from);
  changed(*to);
  return true;
}

bool bi_file_delete(Addr path) {
  auto host = existing_path(path, "file_delete");
  HostFile f;
  // Folders and read-only files are not deleted.
  if (!host || !host_file(*host, f) || f.directory || !f.writable) return false;
  if (!remove_host_file(*host)) return false;
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
  HostFile f;
  if (!host || !host_file(*host, f)) return runtime::kMinusOne;
  return attributes_of(base_of(*host), f);
}

bool bi_file_setattr(Addr path, std::uint32_t attributes) {
  auto host = existing_path(path, "file_setattr");
  // Only the read-only bit has a meaning here; hidden follows the name.
  return host && set_host_read_only(*host, (attributes & kAttrReadOnly) != 0);
}

bool bi_file_gettime(Addr path, Addr created_record, Addr accessed_record, Addr written_record) {
  auto host = existing_path(path, "file_gettime");
  const Addr records[3] = {created_record, accessed_record, written_record};
  if (!host || !time_records_ok(records)) return false;
  HostTime times[3];
  if (!host_file_times(*host, times)) return false;
  for (unsigned i = 0; i < 3; ++i) {
    if (records[i] == kNullAddr) continue;
    SystemTime t{};
    if (!local_system_time(times[i].seconds, times[i].nanoseconds, t))
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
  HostTime times[3];
  for (unsigned i = 0; i < 3; ++i) {
    if (records[i] == kNullAddr) continue;
    SystemTime t;
    if (!read_system_time(records[i], t) ||
        !moment_of_local_time(t, times[i].seconds, times[i].nanoseconds))
      return false;
  }
  auto given = [&](unsigned i) { return records[i] == kNullAddr ? nullptr : &times[i]; };
  return set_host_file_times(*host, given(0), given(1), given(2));
}

}  // namespace talven::lib
