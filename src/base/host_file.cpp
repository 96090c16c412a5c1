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

}  // namespace talven::host_file
