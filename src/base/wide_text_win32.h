// UTF-8 <-> UTF-16 for the Windows (W) calls, and host paths as those calls
// take them. Text inside the runtime is UTF-8 (host paths too, with '/');
// the W functions take UTF-16. Included only by *_win32.cpp files.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace talven {

// Invalid UTF-8 becomes U+FFFD, as MultiByteToWideChar makes it.
inline std::wstring wide_from_utf8(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

inline std::string utf8_from_wide(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                          nullptr, nullptr);
  return out;
}

// The UTF-16 name the W functions take for a host path: each '/'-separated
// part read as UTF-8 when it is valid UTF-8, else as CP932; '\\?\' put in
// front of a long absolute path (host_file_win32.cpp).
std::wstring host_path_wide(const std::string& path);

// A host path the W functions gave back, as the runtime writes host paths:
// UTF-8 with '/' separators.
std::string host_path_utf8(std::wstring_view path);

}  // namespace talven
