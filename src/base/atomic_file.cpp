#include "base/atomic_file.h"

#include <cerrno>
#include <cstring>

#include "base/host_file.h"

namespace talven {

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool write_file_atomic(const std::string& path, std::string_view data, std::string* error) {
  host_file::SaveTemporary out;
  if (!out.create(path)) return fail(error, "cannot create a temporary file beside " + path);
  if (!out.write(data.data(), data.size())) {
    const int saved = errno;
    out.abandon();
    errno = saved;
    return fail(error, "cannot write " + path);
  }
  if (!out.commit()) return fail(error, "cannot replace " + path);
  return true;
}

bool read_file(const std::string& path, std::string& out) {
  const int handle = host_file::open_read(path);
  if (handle < 0) return false;
  out.clear();
  char buf[65536];
  for (;;) {
    const std::int64_t n = host_file::read(handle, buf, sizeof buf);
    if (n < 0) {
      host_file::close(handle);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  host_file::close(handle);
  return true;
}

}  // namespace talven
