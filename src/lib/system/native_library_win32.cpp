// Native libraries through LoadLibraryW. Only 64-bit DLLs load into this
// process; a DLL built for another CPU (most often a 32-bit one) is named
// in a message instead of failing silently. Loading never shows the
// system's error boxes.
#include <ffi.h>
#include <windows.h>

#include <fstream>

#include "base/messages.h"
#include "lib/system/native_library.h"
#include "base/wide_text_win32.h"

namespace talven::lib::system {

namespace {

// The machine a DLL file is built for, from its header.
std::optional<std::uint16_t> file_machine(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::uint8_t head[4096];
  DWORD got = 0;
  const BOOL ok = ::ReadFile(h, head, sizeof head, &got, nullptr);
  ::CloseHandle(h);
  if (!ok) return std::nullopt;
  return pe_machine(head, got);
}

std::wstring module_file(const std::wstring& name) {
  // A bare name is where the system's search finds it.
  if (name.find_first_of(L"\\/") != std::wstring::npos) return name;
  wchar_t found[MAX_PATH];
  const DWORD n = ::SearchPathW(nullptr, name.c_str(), L".dll", MAX_PATH, found, nullptr);
  return n > 0 && n < MAX_PATH ? std::wstring(found, n) : std::wstring();
}

}  // namespace

std::vector<std::string> library_file_names(const std::string& file) { return {file}; }

void* open_native_library(const std::string& path) {
  const std::wstring w = host_path_wide(path);
  DWORD previous = 0;
  ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  HMODULE m = ::LoadLibraryW(w.c_str());
  const DWORD error = m ? 0 : ::GetLastError();
  ::SetThreadErrorMode(previous, nullptr);
  if (!m && error == ERROR_BAD_EXE_FORMAT) {
    const std::wstring file = module_file(w);
    auto machine = file.empty() ? std::nullopt : file_machine(file);
    if (machine && *machine == kMachineI386)
      report_message(1, "32ビットの DLL は読み込めません (64ビットの DLL が必要です)。- %s",
                     path.c_str());
    else report_message(1, "この DLL は 64ビットの Windows 用ではありません。- %s", path.c_str());
  }
  return reinterpret_cast<void*>(m);
}

void* native_library_symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void close_native_library(void* library) { ::FreeLibrary(static_cast<HMODULE>(library)); }

// DLLs follow the Microsoft x64 convention; libffi's GCC default differs
// from it in how long double travels.
int native_call_abi() { return FFI_WIN64; }

}  // namespace talven::lib::system
