// Special folders on Windows: the folder codes are the shell's own folder
// numbers, answered by SHGetFolderPathW. The same codes as elsewhere name a
// folder; the three base folders (26, 28, 32) are created when missing.
#include <windows.h>
#include <shlobj.h>

#include "lib/system/folders.h"
#include "base/wide_text_win32.h"

namespace talven::lib::system {

std::optional<std::string> special_folder(int code) {
  bool create = false;
  switch (code) {
    case 0:
    case 16:
    case 5:
    case 12:
    case 13:
    case 14:
    case 39:
    case 21:
    case 40:
    case 2:
    case 7:
    case 20:
    case 35:
    case 36:
    case 37:
    case 41:
    case 38:
    case 42:
    case 43: break;
    case 26:
    case 28:
    case 32: create = true; break;
    default: return std::nullopt;
  }
  wchar_t path[MAX_PATH];
  const int flags = code | (create ? CSIDL_FLAG_CREATE : 0);
  if (FAILED(::SHGetFolderPathW(nullptr, flags, nullptr, SHGFP_TYPE_CURRENT, path)))
    return std::nullopt;
  std::wstring w(path);
  while (w.size() > 3 && (w.back() == L'\\' || w.back() == L'/')) w.pop_back();
  const DWORD a = ::GetFileAttributesW(w.c_str());
  if (w.empty() || a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return utf8_from_wide(w);
}

}  // namespace talven::lib::system
