// Host paths as tests compare them. On Windows, folders match names without
// regard to case (full-width Latin letters included) and '\' separates as
// well as '/', so a path the runtime finds there keeps the spelling it was
// asked for rather than the one on disk; tests compare such paths by a key
// that folds what the host folds. Also: names the tests write are UTF-8,
// which the narrow std::filesystem::path constructor reads in the ANSI code
// page on Windows, so names beyond ASCII go through utf8_path.
#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace talven::test {

// Whether the host's folders match names without regard to case (and
// whether '\\' separates), and whether a name may be any bytes (rather than
// Unicode text).
#ifdef _WIN32
inline constexpr bool kHostFoldsCase = true;
inline constexpr bool kHostNamesAreBytes = false;
#else
inline constexpr bool kHostFoldsCase = false;
inline constexpr bool kHostNamesAreBytes = true;
#endif

// The key two host paths naming the same entry share: the path itself where
// names match exactly; otherwise with '\' as '/' and ASCII and full-width
// Latin capitals lower-cased.
inline std::string host_path_key(std::string path) {
  if (!kHostFoldsCase) return path;
  for (std::string::size_type i = 0; i < path.size(); ++i) {
    char& c = path[i];
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // U+FF21..U+FF3A (EF BC A1..BA) fold to U+FF41..U+FF5A (EF BD 81..9A).
    if (static_cast<unsigned char>(c) == 0xEF && i + 2 < path.size() &&
        static_cast<unsigned char>(path[i + 1]) == 0xBC &&
        static_cast<unsigned char>(path[i + 2]) >= 0xA1 &&
        static_cast<unsigned char>(path[i + 2]) <= 0xBA) {
      path[i + 1] = static_cast<char>(0xBD);
      path[i + 2] = static_cast<char>(static_cast<unsigned char>(path[i + 2]) - 0xA1 + 0x81);
      i += 2;
    }
  }
  return path;
}

inline std::optional<std::string> host_path_key(const std::optional<std::string>& path) {
  if (!path) return std::nullopt;
  return host_path_key(*path);
}

// A host path from UTF-8 text; on POSIX systems the bytes as they are (a
// name there may be any bytes, CP932 included). Text that is not UTF-8 is
// taken in the narrow form.
inline std::filesystem::path utf8_path(const std::string& text) {
#ifdef _WIN32
  try {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
  } catch (const std::exception&) {
    return std::filesystem::path(text);
  }
#else
  return std::filesystem::path(text);
#endif
}

}  // namespace talven::test
