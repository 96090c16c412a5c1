// The host file system over the Windows W calls. Names are UTF-16 on the
// host and UTF-8 here; the read-only and hidden marks are the files' own
// attributes, and creation times are real (and settable).
#include <windows.h>

#include <cwchar>

#include "lib/system/host_files.h"
#include "base/wide_text_win32.h"

namespace talven::lib::system {

namespace {

// FILETIME counts 100 ns ticks from 1601-01-01; HostTime from 1970-01-01.
constexpr std::int64_t kEpochTicks = 116444736000000000LL;

HostTime time_of(const FILETIME& t) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                t.dwLowDateTime) -
      kEpochTicks;
  std::int64_t seconds = ticks / 10000000, rest = ticks % 10000000;
  if (rest < 0) rest += 10000000, --seconds;
  return {seconds, rest * 100};
}

FILETIME filetime_of(const HostTime& t) {
  std::int64_t ticks = t.seconds * 10000000 + t.nanoseconds / 100 + kEpochTicks;
  if (ticks < 0) ticks = 0;
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks));
  f.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return f;
}

void fill(DWORD attributes, DWORD size_high, DWORD size_low, const FILETIME& created,
          const FILETIME& accessed, const FILETIME& written, HostFile& out) {
  out.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.writable = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  out.hidden = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  out.size = out.directory ? 0 : (static_cast<std::uint64_t>(size_high) << 32) | size_low;
  out.created = time_of(created);
  out.accessed = time_of(accessed);
  out.written = time_of(written);
}

bool ends_with_nocase(const std::wstring& s, const wchar_t* tail) {
  const std::size_t n = std::wcslen(tail);
  return s.size() >= n && ::_wcsicmp(s.c_str() + s.size() - n, tail) == 0;
}

// Opens a file or folder for its attributes and times without following
// the sharing of other programs in its way.
HANDLE open_for(const std::string& host, DWORD access) {
  return ::CreateFileW(host_path_wide(host).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool host_file(const std::string& host, HostFile& out) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!::GetFileAttributesExW(host_path_wide(host).c_str(), GetFileExInfoStandard, &d))
    return false;
  fill(d.dwFileAttributes, d.nFileSizeHigh, d.nFileSizeLow, d.ftCreationTime, d.ftLastAccessTime,
       d.ftLastWriteTime, out);
  return true;
}

bool host_name_exists(const std::string& host) {
  return ::GetFileAttributesW(host_path_wide(host).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Windows starts .exe and .com files directly; everything else opens through
// its file association.
bool host_program_file(const std::string& host) {
  const std::wstring w = host_path_wide(host);
  const DWORD a = ::GetFileAttributesW(w.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) &&
         (ends_with_nocase(w, L".exe") || ends_with_nocase(w, L".com"));
}

bool list_host_folder(const std::string& folder,
                      const std::function<bool(const std::string& host_name)>& wanted,
                      std::vector<std::pair<std::string, HostFile>>& out) {
  out.clear();
  std::wstring pattern = host_path_wide(folder);
  if (pattern.empty()) return false;
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW d;
  HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &d, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = utf8_from_wide(d.cFileName);
    if (!wanted(name)) continue;
    HostFile f;
    fill(d.dwFileAttributes, d.nFileSizeHigh, d.nFileSizeLow, d.ftCreationTime, d.ftLastAccessTime,
         d.ftLastWriteTime, f);
    out.emplace_back(std::move(name), f);
  } while (::FindNextFileW(h, &d));
  ::FindClose(h);
  return true;
}

std::optional<std::string> current_host_folder() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return std::nullopt;
  std::wstring w(n, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(n, w.data());
  if (got == 0 || got >= n) return std::nullopt;
  w.resize(got);
  return utf8_from_wide(w);
}

bool set_current_host_folder(const std::string& host) {
  return ::SetCurrentDirectoryW(host_path_wide(host).c_str()) != 0;
}

bool make_host_folder(const std::string& host) {
  return ::CreateDirectoryW(host_path_wide(host).c_str(), nullptr) != 0;
}

bool remove_host_folder(const std::string& host) {
  return ::RemoveDirectoryW(host_path_wide(host).c_str()) != 0;
}

bool remove_host_file(const std::string& host) {
  return ::DeleteFileW(host_path_wide(host).c_str()) != 0;
}

// CopyFileW keeps the attributes and the last write time, and with
// fail-if-exists refuses a target that exists at the moment of creation.
bool copy_host_file(const std::string& from, const std::string& to, bool replace) {
  HostFile f;
  if (!host_file(from, f) || f.directory) return false;
  return ::CopyFileW(host_path_wide(from).c_str(), host_path_wide(to).c_str(), replace ? 0 : 1) !=
         0;
}

// Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced;
// MOVEFILE_COPY_ALLOWED copies and deletes across volumes.
bool move_host_file(const std::string& from, const std::string& to) {
  return ::MoveFileExW(host_path_wide(from).c_str(), host_path_wide(to).c_str(),
                       MOVEFILE_COPY_ALLOWED) != 0;
}

bool set_host_read_only(const std::string& host, bool read_only) {
  const std::wstring w = host_path_wide(host);
  DWORD a = ::GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if (read_only) a |= FILE_ATTRIBUTE_READONLY;
  else a &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return ::SetFileAttributesW(w.c_str(), a) != 0;
}

bool host_file_times(const std::string& host, HostTime times[3]) {
  HANDLE h = open_for(host, FILE_READ_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = ::GetFileInformationByHandle(h, &info) != 0 &&
                  !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  ::CloseHandle(h);
  if (!ok) return false;
  times[0] = time_of(info.ftCreationTime);
  times[1] = time_of(info.ftLastAccessTime);
  times[2] = time_of(info.ftLastWriteTime);
  return true;
}

bool set_host_file_times(const std::string& host, const HostTime* created, const HostTime* accessed,
                         const HostTime* written) {
  HANDLE h = open_for(host, FILE_WRITE_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME t[3];
  if (created) t[0] = filetime_of(*created);
  if (accessed) t[1] = filetime_of(*accessed);
  if (written) t[2] = filetime_of(*written);
  const bool ok = ::SetFileTime(h, created ? &t[0] : nullptr, accessed ? &t[1] : nullptr,
                                written ? &t[2] : nullptr) != 0;
  ::CloseHandle(h);
  return ok;
}

bool host_local_time(std::int64_t seconds, std::tm& out) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  return ::localtime_s(&out, &t) == 0;
}

}  // namespace talven::lib::system
