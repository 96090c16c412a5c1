// The player's documents folder on Windows: the known Documents folder of
// the current user, as a UTF-8 host path with '/' separators.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "base/config.h"
#include "base/wide_text_win32.h"

namespace talven {

std::string documents_dir() {
  PWSTR wide = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &wide))) {
    out = host_path_utf8(wide);
  }
  CoTaskMemFree(wide);
  return out;
}

}  // namespace talven
