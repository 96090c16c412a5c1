// The host file system as the system builtins see it: file records, folder
// listings and the file and folder operations of the disk builtins. One
// implementation per platform (host_files_posix.cpp, host_files_win32.cpp);
// everything above it works on these records only.
//
// Host paths are the game-path layer's host paths. Times are moments since
// 1970-01-01 UTC; a creation time the host does not keep is the last write.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talven::lib::system {

struct HostTime {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
};

struct HostFile {
  bool directory = false;
  bool writable = true;  // false for read-only files
  bool hidden = false;   // the host's own hidden mark (names starting '.' are hidden anyway)
  std::uint64_t size = 0;
  HostTime created, accessed, written;
};

// The record of a file or folder, links followed. False when it is missing.
bool host_file(const std::string& host, HostFile& out);
// True when the name exists, even as a link that leads nowhere.
bool host_name_exists(const std::string& host);
// A regular file the host can start as a program.
bool host_program_file(const std::string& host);

// The entries of a folder that `wanted` accepts by their host names (UTF-8
// where the host's names are text), with their records; "." and ".." are
// offered except at the root. Only accepted entries are looked at further.
// False when the folder cannot be read.
bool list_host_folder(const std::string& folder,
                      const std::function<bool(const std::string& host_name)>& wanted,
                      std::vector<std::pair<std::string, HostFile>>& out);

// The current folder, or nullopt when it cannot be named.
std::optional<std::string> current_host_folder();
bool set_current_host_folder(const std::string& host);

bool make_host_folder(const std::string& host);
bool remove_host_folder(const std::string& host);  // empty folders only
bool remove_host_file(const std::string& host);

// Copies a regular file with its permissions and times. With `replace`
// false an existing `to` is kept and the copy fails, even when it appears
// while copying.
bool copy_host_file(const std::string& from, const std::string& to, bool replace);
// Moves a file or folder to a name that does not exist; across file systems
// a file is copied and the original removed.
bool move_host_file(const std::string& from, const std::string& to);

bool set_host_read_only(const std::string& host, bool read_only);
// Creation, last access and last write times of a file (not a folder).
bool host_file_times(const std::string& host, HostTime times[3]);
// Sets the given times (null ones are left); a host that cannot set the
// creation time leaves it and still succeeds.
bool set_host_file_times(const std::string& host, const HostTime* created, const HostTime* accessed,
                         const HostTime* written);

// The local calendar time of a moment (thread-safe); false when the host
// cannot express it.
bool host_local_time(std::int64_t seconds, std::tm& out);

}  // namespace talven::lib::system
