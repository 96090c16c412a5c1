// UTF-8 <-> UTF-16 for the Windows calls of the system builtins. Host paths
// and program arguments are UTF-8 inside the runtime; the W functions take
// UTF-16. Included only by *_win32.cpp files.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace talven::lib::system {

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

}  // namespace talven::lib::system
