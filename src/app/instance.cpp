#include "app/instance.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "base/host_file.h"

namespace talven {

std::string instance_name(const std::string& program_path) {
  std::error_code ec;
  std::string path = host_file::from_fs_path(
      std::filesystem::absolute(host_file::fs_path(program_path), ec).lexically_normal());
  if (ec) path = program_path;
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : path) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return std::string("TALVEN_GAMES_MUTEX:") + hex;
}

}  // namespace talven
