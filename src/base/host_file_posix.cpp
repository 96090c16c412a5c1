// Host files on POSIX systems: descriptors opened close-on-exec, pread for
// reads by offset, flock on save temporaries, fsync of the data and of the
// folder around the rename that replaces a saved file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/host_file.h"

namespace talven::host_file {

namespace {

void fill(const struct stat& st, Info& out) {
  out.regular = S_ISREG(st.st_mode);
  out.directory = S_ISDIR(st.st_mode);
  out.link = S_ISLNK(st.st_mode);
  out.size = static_cast<std::uint64_t>(st.st_size);
  out.device = static_cast<std::uint64_t>(st.st_dev);
  out.file_id = static_cast<std::uint64_t>(st.st_ino);
  out.modified_sec = st.st_mtim.tv_sec;
  out.modified_nsec = st.st_mtim.tv_nsec;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Flushes the directory holding `path`, so that a rename into it survives
// a power loss.
void sync_directory_of(const std::string& path) {
  int fd = ::open(parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

int open_read(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

void close(int handle) {
  if (handle >= 0) ::close(handle);
}

std::int64_t read(int handle, void* buffer, std::size_t n) {
  for (;;) {
    ssize_t got = ::read(handle, buffer, n);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

std::int64_t read_at(int handle, void* buffer, std::size_t n, std::uint64_t offset) {
  for (;;) {
    ssize_t got = ::pread(handle, buffer, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

std::int64_t seek(int handle, std::int64_t offset, int whence) {
  return ::lseek(handle, static_cast<off_t>(offset), whence);
}

bool write_all(int handle, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::write(handle, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

int open_spool() {
  std::FILE* spool = std::tmpfile();
  if (!spool) return -1;
  int copy = ::fcntl(::fileno(spool), F_DUPFD_CLOEXEC, 0);
  std::fclose(spool);  // the copy keeps the unnamed file alive
  return copy;
}

void advise_sequential(int handle) { ::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL); }

bool info_of(int handle, Info& out) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return false;
  fill(st, out);
  return true;
}

bool info_of_path(const std::string& path, Info& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  fill(st, out);
  return true;
}

bool info_of_entry(const std::string& path, Info& out) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  fill(st, out);
  return true;
}

std::optional<std::string> current_dir() {
  std::string cwd(4096, '\0');
  while (!::getcwd(cwd.data(), cwd.size())) {
    if (errno != ERANGE || cwd.size() > (1u << 20)) return std::nullopt;
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(cwd.find('\0'));
  return cwd;
}

std::filesystem::path fs_path(const std::string& path) { return path; }
std::string from_fs_path(const std::filesystem::path& path) { return path.string(); }
std::FILE* open_stdio(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::optional<std::string> running_program() { return real_path("/proc/self/exe"); }

std::optional<std::vector<std::string>> list_directory(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return std::nullopt;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  ::closedir(d);
  return names;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::optional<std::string> real_path(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string out = real;
  std::free(real);
  return out;
}

bool writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool SaveTemporary::create(const std::string& target) {
  abandon();
  remove_stale_temporaries(target);
  target_ = target;
  temp_ = target + ".tmpXXXXXX";
  handle_ = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (handle_ < 0) {
    temp_.clear();
    return false;
  }
  ::flock(handle_, LOCK_EX);  // held until the file is closed or its owner dies
  return true;
}

bool SaveTemporary::commit() {
  if (handle_ < 0) return false;
  struct stat old {};
  mode_t mode = ::stat(target_.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  bool ok = ::fchmod(handle_, mode) == 0 && ::fsync(handle_) == 0;
  int saved = errno;
  if (::close(handle_) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  handle_ = -1;
  if (ok && std::rename(temp_.c_str(), target_.c_str()) == 0) {
    temp_.clear();
    sync_directory_of(target_);
    return true;
  }
  if (ok) saved = errno;
  ::unlink(temp_.c_str());
  temp_.clear();
  errno = saved;
  return false;
}

void SaveTemporary::abandon() {
  if (handle_ >= 0) {
    ::close(handle_);
    handle_ = -1;
  }
  if (!temp_.empty()) {
    int saved = errno;
    ::unlink(temp_.c_str());
    errno = saved;
    temp_.clear();
  }
}

void remove_stale_temporaries(const std::string& target) {
  const std::string dir = parent_of(target);
  const std::size_t slash = target.rfind('/');
  const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (!is_temporary_of(e->d_name, name)) continue;
    const std::string candidate = dir + "/" + e->d_name;
    int fd = ::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlink(candidate.c_str());
    ::close(fd);
  }
  ::closedir(d);
}

}  // namespace talven::host_file
