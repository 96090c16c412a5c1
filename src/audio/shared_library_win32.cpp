// DLLs on Windows: LoadLibraryW on the UTF-16 form of the run-time name.
// Library names are ASCII, so each byte widens to one UTF-16 unit. Loader
// error boxes are turned off for the call: a missing DLL is reported as a
// device that cannot start, not as a dialog the player must dismiss.
#include <windows.h>

#include <string>

#include "audio/shared_library_system.h"

namespace talven::audio::library_system {

void* open(const char* name, std::string* why) {
  std::wstring wide;
  for (const char* p = name; *p; ++p) wide.push_back(static_cast<wchar_t>(*p & 0xFF));
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  HMODULE h = LoadLibraryW(wide.c_str());
  const DWORD error = h ? 0 : GetLastError();
  SetThreadErrorMode(old_mode, nullptr);
  if (!h && why)
    *why = std::string("cannot load ") + name + " (error " + std::to_string(error) + ")";
  return reinterpret_cast<void*>(h);
}

void* find(void* library, const char* function) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), function));
}

}  // namespace talven::audio::library_system
