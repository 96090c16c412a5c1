// The host file system over POSIX calls. Creation times come from statx
// where the file system keeps them; folders are made with mode 0777 (less
// the umask) and copies keep the source's mode.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "lib/system/host_files.h"

namespace talven::lib::system {

namespace {

HostTime time_of(const timespec& t) {
  return {static_cast<std::int64_t>(t.tv_sec), static_cast<std::int64_t>(t.tv_nsec)};
}

timespec timespec_of(const HostTime& t) {
  return {static_cast<time_t>(t.seconds), static_cast<long>(t.nanoseconds)};
}

void fill(const struct stat& st, HostFile& out) {
  out.directory = S_ISDIR(st.st_mode);
  out.writable = (st.st_mode & S_IWUSR) != 0;
  out.hidden = false;
  out.size = out.directory ? 0 : static_cast<std::uint64_t>(st.st_size);
  out.written = time_of(st.st_mtim);
  out.accessed = time_of(st.st_atim);
  out.created = out.written;
}

}  // namespace

bool host_file(const std::string& host, HostFile& out) {
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return false;
  fill(st, out);
  return true;
}

bool host_name_exists(const std::string& host) {
  struct stat st;
  return ::lstat(host.c_str(), &st) == 0;
}

bool host_program_file(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

bool list_host_folder(const std::string& folder,
                      const std::function<bool(const std::string& host_name)>& wanted,
                      std::vector<std::pair<std::string, HostFile>>& out) {
  out.clear();
  struct stat dst;
  if (::stat(folder.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return false;
  DIR* d = opendir(folder.c_str());
  if (!d) return false;
  const bool root = folder == "/";
  std::string prefix = folder;
  if (prefix.back() != '/') prefix += '/';
  while (dirent* e = readdir(d)) {
    std::string host_name = e->d_name;
    if (root && (host_name == "." || host_name == "..")) continue;
    if (!wanted(host_name)) continue;
    struct stat st;
    const std::string full = prefix + host_name;
    // A link that leads nowhere is listed as itself.
    if (::stat(full.c_str(), &st) != 0 && ::lstat(full.c_str(), &st) != 0) continue;
    HostFile f;
    fill(st, f);
    struct statx sx;
    if (::statx(AT_FDCWD, full.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
      f.created = {static_cast<std::int64_t>(sx.stx_btime.tv_sec),
                   static_cast<std::int64_t>(sx.stx_btime.tv_nsec)};
    out.emplace_back(std::move(host_name), f);
  }
  closedir(d);
  return true;
}

std::optional<std::string> current_host_folder() {
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  if (ec || cwd.empty()) return std::nullopt;
  return cwd;
}

bool set_current_host_folder(const std::string& host) { return ::chdir(host.c_str()) == 0; }

bool make_host_folder(const std::string& host) { return ::mkdir(host.c_str(), 0777) == 0; }

bool remove_host_folder(const std::string& host) { return ::rmdir(host.c_str()) == 0; }

bool remove_host_file(const std::string& host) { return ::unlink(host.c_str()) == 0; }

// The copy goes through a temporary file beside `to`, renamed (replace) or
// linked (no replace, which fails when `to` exists) into place.
bool copy_host_file(const std::string& from, const std::string& to, bool replace) {
  struct stat st;
  if (::stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
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

bool move_host_file(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EXDEV || !copy_host_file(from, to, false)) return false;
  if (::unlink(from.c_str()) != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

// Only the owner's write permission carries the read-only mark.
bool set_host_read_only(const std::string& host, bool read_only) {
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (read_only) mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else mode |= S_IWUSR;
  return ::chmod(host.c_str(), mode) == 0;
}

bool host_file_times(const std::string& host, HostTime times[3]) {
  struct stat st;
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  timespec created = st.st_mtim;
  struct statx sx;
  if (ok && ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    created = {static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)};
  ::close(fd);
  if (!ok) return false;
  times[0] = time_of(created);
  times[1] = time_of(st.st_atim);
  times[2] = time_of(st.st_mtim);
  return true;
}

// The creation time cannot be set here; it is accepted and left.
bool set_host_file_times(const std::string& host, const HostTime*, const HostTime* accessed,
                         const HostTime* written) {
  timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  if (accessed) times[0] = timespec_of(*accessed);
  if (written) times[1] = timespec_of(*written);
  const int fd = ::open(host.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::futimens(fd, times) == 0;
  ::close(fd);
  return ok;
}

bool host_local_time(std::int64_t seconds, std::tm& out) {
  std::time_t t = static_cast<std::time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}

}  // namespace talven::lib::system
