// Programs started with CreateProcessW (never through a shell) in their own
// process group, their handles let go at once so nothing waits for them;
// documents and addresses open through ShellExecuteW.
#include <windows.h>
#include <shellapi.h>

#include "lib/system/process.h"
#include "base/wide_text_win32.h"

namespace talven::lib::system {

bool spawn_program(const std::string& program, const std::vector<std::string>& argv) {
  if (program.empty() || argv.empty()) return false;
  // A bare name is searched for the way CreateProcessW searches its command
  // line's first word (the program's folder, the current folder, the
  // system folders, then PATH, ".exe" added when the name has no extension).
  const bool path_search = program.find_first_of("\\/") == std::string::npos;
  std::vector<std::string> words = argv;
  words[0] = program;
  std::wstring line = wide_from_utf8(join_command_line(words));
  std::wstring application = path_search ? std::wstring() : wide_from_utf8(program);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const BOOL ok = ::CreateProcessW(
      path_search ? nullptr : application.c_str(), line.data(), nullptr, nullptr, FALSE,
      CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si, &pi);
  if (!ok) return false;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

void open_document(const std::string& target) {
  const std::wstring w = wide_from_utf8(target);
  ::ShellExecuteW(nullptr, L"open", w.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace talven::lib::system
