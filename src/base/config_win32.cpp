// The player's documents folder on Windows: the known Documents folder of
// the current user, as a UTF-8 host path with '/' separators.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "base/config.h"

namespace talven {

std::string documents_dir() {
  PWSTR wide = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &wide))) {
    const int length = static_cast<int>(wcslen(wide));
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      out.assign(static_cast<std::size_t>(n), '\0');
      WideCharToMultiByte(CP_UTF8, 0, wide, length, out.data(), n, nullptr, nullptr);
    }
  }
  CoTaskMemFree(wide);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace talven
