#include "storage/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/atomic_file.h"

namespace talven::storage {

bool AtomicOutput::open(const std::string& path) {
  abandon();
  path_ = path;
  fd_ = create_save_temporary(path, temp_);
  return fd_ >= 0;
}

bool AtomicOutput::write(const void* data, std::size_t size) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicOutput::commit() {
  if (fd_ < 0) return false;
  struct stat old {};
  mode_t mode = ::stat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0;
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (ok && std::rename(temp_.c_str(), path_.c_str()) == 0) {
    temp_.clear();
    sync_directory_of(path_);
    return true;
  }
  int saved = errno;
  ::unlink(temp_.c_str());
  temp_.clear();
  errno = saved;
  return false;
}

void AtomicOutput::abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

}  // namespace talven::storage
