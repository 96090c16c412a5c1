#include "base/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace talven {

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// NAME.tmp followed by the six characters mkstemp puts in.
bool is_temporary_of(const std::string& entry, const std::string& name) {
  if (entry.size() != name.size() + 10 || entry.compare(0, name.size(), name) != 0) return false;
  if (entry.compare(name.size(), 4, ".tmp") != 0) return false;
  for (std::size_t i = name.size() + 4; i < entry.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(entry[i]))) return false;
  return true;
}

}  // namespace

int create_save_temporary(const std::string& path, std::string& temp) {
  remove_stale_temporaries(path);
  temp = path + ".tmpXXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    temp.clear();
    return -1;
  }
  ::flock(fd, LOCK_EX);  // held until the file is closed or its owner dies
  return fd;
}

void remove_stale_temporaries(const std::string& path) {
  const std::string dir = parent_of(path);
  const std::string name =
      path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
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

bool sync_directory_of(const std::string& path) {
  int fd = ::open(parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool write_file_atomic(const std::string& path, std::string_view data, std::string* error) {
  std::string tmp;
  int fd = create_save_temporary(path, tmp);
  if (fd < 0) return fail(error, "cannot create a temporary file beside " + path);
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      errno = saved;
      return fail(error, "cannot write " + path);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  // Keep the permissions of the file being replaced; new files get 0644.
  struct stat old {};
  mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::fsync(fd) != 0 || ::fchmod(fd, mode) != 0) {
    int saved = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    errno = saved;
    return fail(error, "cannot flush " + path);
  }
  if (::close(fd) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    return fail(error, "cannot close " + path);
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    return fail(error, "cannot replace " + path);
  }
  sync_directory_of(path);
  return true;
}

bool read_file(const std::string& path, std::string& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace talven
