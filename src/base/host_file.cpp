// The parts of the host file layer that every platform shares.
#include <cctype>

#include "base/host_file.h"

namespace talven::host_file {

// NAME.tmp followed by the six characters the temporary's creation puts in.
bool is_temporary_of(const std::string& entry, const std::string& name) {
  if (entry.size() != name.size() + 10 || entry.compare(0, name.size(), name) != 0) return false;
  if (entry.compare(name.size(), 4, ".tmp") != 0) return false;
  for (std::size_t i = name.size() + 4; i < entry.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(entry[i]))) return false;
  return true;
}

bool read_exact_at(int handle, void* buffer, std::size_t n, std::uint64_t offset) {
  char* p = static_cast<char*>(buffer);
  while (n > 0) {
    const std::int64_t got = read_at(handle, p, n, offset);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

bool SaveTemporary::write(const void* data, std::size_t size) {
  return handle_ >= 0 && write_all(handle_, data, size);
}

}  // namespace talven::host_file
