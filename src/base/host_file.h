// Host files: the system calls behind every file the runtime opens, one
// implementation per platform (host_file_posix.cpp, host_file_win32.cpp).
//
// Host paths are UTF-8 strings (a name that is not valid UTF-8 is taken as
// CP932 bytes, as unpacked game data may hold), with '/' as separator; the
// Windows side also takes '\' and drive prefixes, converts names to UTF-16
// and gives long absolute paths the \\?\ form. Handles are small
// non-negative integers on every platform, -1 meaning none. Failures leave
// an errno value (ENOENT, EACCES, ENOSPC, ...) for messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talven::host_file {

struct Info {
  bool regular = false;
  bool directory = false;
  bool link = false;  // only from info_of_entry(); links are followed otherwise
  std::uint64_t size = 0;
  // Together these name one version of one file: the device and file number
  // and the last modification time (seconds and nanoseconds).
  std::uint64_t device = 0;
  std::uint64_t file_id = 0;
  std::int64_t modified_sec = 0;
  std::int64_t modified_nsec = 0;
};

// Opens an existing file for reading; -1 on failure. Other processes may
// still read, write, rename or delete it while it is open.
int open_read(const std::string& path);
void close(int handle);
// Reads up to n bytes at the handle's position: the count, 0 at the end,
// -1 on an error (interrupted calls are retried).
std::int64_t read(int handle, void* buffer, std::size_t n);
// Reads up to n bytes at `offset`, as read(). A handle is read either by
// offset or by position, never both: the position after read_at() is
// unspecified.
std::int64_t read_at(int handle, void* buffer, std::size_t n, std::uint64_t offset);
// Reads exactly n bytes at offset (retrying short reads); false on an
// error or the end of the file first.
bool read_exact_at(int handle, void* buffer, std::size_t n, std::uint64_t offset);
// Moves the position (whence: SEEK_SET, SEEK_CUR, SEEK_END): the new
// position, or -1.
std::int64_t seek(int handle, std::int64_t offset, int whence);
// Writes all n bytes at the handle's position (standard output is handle
// 1); false on an error or a full disk.
bool write_all(int handle, const void* data, std::size_t n);
// A fresh unnamed read+write temporary file, gone when closed; -1 on
// failure.
int open_spool();
// Tells the system the file will be read from start to end.
void advise_sequential(int handle);

bool info_of(int handle, Info& out);
// Follows links; false when the path names nothing.
bool info_of_path(const std::string& path, Info& out);
// Does not follow a final link (link is set for one).
bool info_of_entry(const std::string& path, Info& out);
// The current directory as a host path.
std::optional<std::string> current_dir();
// A host path as std::filesystem takes it, and back. A std::string given to
// std::filesystem (or to fopen and the file streams) directly is read in
// the system's narrow code page on Windows; these read host paths the way
// this layer does, and fs_path() results open wide on every platform.
std::filesystem::path fs_path(const std::string& path);
std::string from_fs_path(const std::filesystem::path& path);
// fopen() for a host path; nullptr (errno set) on failure.
std::FILE* open_stdio(const std::string& path, const char* mode);
// The host path of the running talven executable itself (links resolved);
// nullopt when the system cannot tell.
std::optional<std::string> running_program();
// The names in a directory, without "." and ".."; nullopt when it cannot be
// listed.
std::optional<std::vector<std::string>> list_directory(const std::string& dir);
bool remove_file(const std::string& path);
// The file a link points to, resolved fully; nullopt when it cannot be.
std::optional<std::string> real_path(const std::string& path);
// Whether the current user may write the existing file.
bool writable(const std::string& path);

// A temporary file beside a target that replaces the target atomically on
// commit(): NAME.tmpXXXXXX in the target's folder. The temporary is locked
// while it is written, so one whose lock can be taken was left by a save
// that died; those are removed when the next save of the same target
// starts. Destroying an uncommitted one removes it.
class SaveTemporary {
 public:
  SaveTemporary() = default;
  SaveTemporary(const SaveTemporary&) = delete;
  SaveTemporary& operator=(const SaveTemporary&) = delete;
  ~SaveTemporary() { abandon(); }

  // Creates the temporary for `target`; false (errno set) on failure.
  bool create(const std::string& target);
  // Appends all bytes; false on a write error or a full disk.
  bool write(const void* data, std::size_t size);
  // Flushes the data to disk, gives it the permissions of the file it
  // replaces (new files get read+write for the owner, read for others),
  // replaces the target and flushes the folder. Closed either way; false
  // (errno set) with the target untouched on failure.
  bool commit();
  // Drops the temporary; the target is untouched.
  void abandon();

  bool is_open() const { return handle_ >= 0; }
  const std::string& temporary_path() const { return temp_; }

 private:
  int handle_ = -1;
  std::string target_;
  std::string temp_;
};

// Removes temporaries of saves to `target` that died (see SaveTemporary).
void remove_stale_temporaries(const std::string& target);

// Whether `entry` is a temporary name of the file named `name`: NAME.tmp
// followed by six letters or digits.
bool is_temporary_of(const std::string& entry, const std::string& name);

}  // namespace talven::host_file
