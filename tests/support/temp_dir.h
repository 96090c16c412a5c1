// Scratch folders for tests: a fresh folder with a random name under the
// system's temporary directory, made with std::filesystem alone so it works
// wherever the standard library does.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace talven::test {

// Makes a new, empty folder named `prefix` followed by a random suffix under
// the temporary directory and returns its path, or an empty path when none
// could be made. A name that already exists is never taken over:
// create_directory reports whether this call made the folder.
inline std::filesystem::path make_temp_dir(const std::string& prefix) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return {};
  // The clock is mixed in because some standard libraries have answered a
  // fixed sequence from random_device.
  static thread_local std::mt19937_64 rng(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(rng()));
    fs::path dir = base / (prefix + suffix);
    if (fs::create_directory(dir, ec)) return dir;
    if (ec) return {};
  }
  return {};
}

}  // namespace talven::test
