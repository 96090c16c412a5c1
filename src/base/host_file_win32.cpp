// Host files on Windows: the W functions on UTF-16 names, handles carried
// as C runtime descriptors (_open_osfhandle), reads by offset through
// OVERLAPPED, and saves replaced with ReplaceFileW (which keeps the
// target's attributes and security) or, for a new target,
// MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), both
// after FlushFileBuffers. A save temporary is opened with no sharing at
// all, which is its lock: a temporary that can be deleted has no writer.
//
// Names: a host path that is valid UTF-8 is converted from UTF-8, any other
// from CP932 (code page 932), as game data unpacked without conversion
// holds raw CP932 names. '/' becomes '\'. An absolute path longer than
// MAX_PATH is made full and given the \\?\ (or \\?\UNC\) form, which lifts
// the length limit.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "base/cp932.h"
#include "base/host_file.h"
#include "base/wide_text_win32.h"

namespace talven::host_file {

namespace {

void set_errno_from(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: errno = EACCES; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: errno = ENOMEM; break;
    case ERROR_FILENAME_EXCED_RANGE: errno = ENAMETOOLONG; break;
    case ERROR_DIRECTORY: errno = ENOTDIR; break;
    default: errno = EIO; break;
  }
}

void set_errno_from_last() { set_errno_from(GetLastError()); }

std::wstring widen_part(std::string_view bytes) {
  if (bytes.empty()) return {};
  const UINT page = cp932::is_valid_utf8(bytes) ? CP_UTF8 : 932;
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(page, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(page, 0, bytes.data(), size, out.data(), n);
  return out;
}

// Each '/'-separated part is converted on its own, so a raw CP932 name
// inside a UTF-8 folder path converts correctly. '/' is never a byte of a
// CP932 double-byte character ('\\' can be, so it does not split).
std::wstring widen(const std::string& bytes) {
  std::wstring out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = bytes.find('/', start);
    out += widen_part(std::string_view(bytes).substr(start, slash - start));
    if (slash == std::string::npos) return out;
    out.push_back(L'\\');
    start = slash + 1;
  }
}

// host_path_wide: the UTF-16 name the W functions take for a host path.
std::wstring system_name(const std::string& path) {
  std::wstring w = widen(path);
  if (w.size() < MAX_PATH || w.rfind(L"\\\\?\\", 0) == 0) return w;
  const bool drive_absolute = w.size() >= 3 && w[1] == L':' && w[2] == L'\\';
  const bool unc = w.rfind(L"\\\\", 0) == 0;
  if (!drive_absolute && !unc) return w;
  // The \\?\ form is taken literally: "." and ".." must be gone first.
  const DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return w;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return w;
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

HANDLE system_handle(int handle) { return reinterpret_cast<HANDLE>(_get_osfhandle(handle)); }

// 100 ns steps since 1601 to seconds and nanoseconds since 1970.
void set_time(const FILETIME& t, Info& out) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
  constexpr std::int64_t kEpochTicks = 116444736000000000LL;
  const std::int64_t since = ticks - kEpochTicks;
  std::int64_t sec = since / 10000000;
  std::int64_t rest = since % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --sec;
  }
  out.modified_sec = sec;
  out.modified_nsec = rest * 100;
}

bool fill(HANDLE h, Info& out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    set_errno_from_last();
    return false;
  }
  const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.directory = directory;
  out.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  out.regular = !directory && GetFileType(h) == FILE_TYPE_DISK;
  out.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  out.device = info.dwVolumeSerialNumber;
  out.file_id = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  set_time(info.ftLastWriteTime, out);
  return true;
}

bool info_with_flags(const std::string& path, DWORD flags, Info& out) {
  // No access rights are needed to read attributes, and the open shares
  // everything, so it never gets in another program's way.
  HANDLE h = CreateFileW(system_name(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last();
    return false;
  }
  const bool ok = fill(h, out);
  CloseHandle(h);
  if (ok && !(flags & FILE_FLAG_OPEN_REPARSE_POINT)) out.link = false;
  return ok;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return path.substr(slash == std::string::npos ? 0 : slash + 1);
}

// Six letters and digits for a temporary name: the time, the process and a
// counter, so concurrent saves in one process or several differ.
std::string temporary_suffix(unsigned attempt) {
  static std::atomic<std::uint64_t> counter{0};
  static constexpr char kDigits[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::uint64_t seed =
      GetTickCount64() * 0x9E3779B97F4A7C15ull ^ (std::uint64_t{GetCurrentProcessId()} << 20) ^
      counter.fetch_add(1, std::memory_order_relaxed) * 0xBF58476D1CE4E5B9ull ^ attempt;
  std::string out;
  for (int i = 0; i < 6; ++i) {
    seed ^= seed >> 29;
    seed *= 0x94D049BB133111EBull;
    out.push_back(kDigits[(seed >> 32) % 62]);
  }
  return out;
}

}  // namespace

int open_read(const std::string& path) {
  HANDLE h = CreateFileW(system_name(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last();
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
  }
  return fd;
}

void close(int handle) {
  if (handle >= 0) _close(handle);  // closes the system handle too
}

std::int64_t read(int handle, void* buffer, std::size_t n) {
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
  DWORD got = 0;
  if (!ReadFile(system_handle(handle), buffer, want, &got, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    set_errno_from(error);
    return -1;
  }
  return got;
}

std::int64_t read_at(int handle, void* buffer, std::size_t n, std::uint64_t offset) {
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(system_handle(handle), buffer, want, &got, &at)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    set_errno_from(error);
    return -1;
  }
  return got;
}

std::int64_t seek(int handle, std::int64_t offset, int whence) {
  const DWORD method = whence == SEEK_CUR   ? FILE_CURRENT
                       : whence == SEEK_END ? FILE_END
                                            : FILE_BEGIN;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER result;
  if (!SetFilePointerEx(system_handle(handle), distance, &result, method)) {
    set_errno_from_last();
    return -1;
  }
  return result.QuadPart;
}

bool write_all(int handle, const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    DWORD put = 0;
    if (!WriteFile(system_handle(handle), p, want, &put, nullptr)) {
      set_errno_from_last();
      return false;
    }
    if (put == 0) {
      errno = ENOSPC;
      return false;
    }
    p += put;
    n -= put;
  }
  return true;
}

// In the user's temporary folder, deleted by the system when closed.
int open_spool() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH) return -1;
  wchar_t name[MAX_PATH + 1];
  if (!GetTempFileNameW(folder, L"tvn", 0, name)) return -1;
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last();
    DeleteFileW(name);
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
  if (fd < 0) CloseHandle(h);
  return fd;
}

// The system's read-ahead already follows sequential reads.
void advise_sequential(int) {}

bool info_of(int handle, Info& out) {
  const bool ok = fill(system_handle(handle), out);
  out.link = false;
  return ok;
}

bool info_of_path(const std::string& path, Info& out) { return info_with_flags(path, 0, out); }

bool info_of_entry(const std::string& path, Info& out) {
  return info_with_flags(path, FILE_FLAG_OPEN_REPARSE_POINT, out);
}

std::optional<std::string> current_dir() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return std::nullopt;
  std::wstring w(n, L'\0');
  const DWORD got = GetCurrentDirectoryW(n, w.data());
  if (got == 0 || got >= n) return std::nullopt;
  return host_path_utf8(std::wstring_view(w.data(), got));
}

std::filesystem::path fs_path(const std::string& path) {
  return std::filesystem::path(widen(path));
}
std::string from_fs_path(const std::filesystem::path& path) {
  return host_path_utf8(path.native());
}
std::FILE* open_stdio(const std::string& path, const char* mode) {
  const std::string m = mode;
  return _wfopen(system_name(path).c_str(), std::wstring(m.begin(), m.end()).c_str());
}

std::optional<std::string> running_program() {
  std::wstring w(MAX_PATH, L'\0');
  for (;;) {
    const DWORD got = GetModuleFileNameW(nullptr, w.data(), static_cast<DWORD>(w.size()));
    if (got == 0) return std::nullopt;
    if (got < w.size()) return host_path_utf8(std::wstring_view(w.data(), got));
    if (w.size() >= 32768) return std::nullopt;  // the longest path Windows has
    w.resize(w.size() * 2);
  }
}

std::optional<std::vector<std::string>> list_directory(const std::string& dir) {
  std::wstring pattern = system_name(dir);
  if (!pattern.empty() && pattern.back() != L'\\') pattern.push_back(L'\\');
  pattern.push_back(L'*');
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return std::vector<std::string>{};
    set_errno_from(error);
    return std::nullopt;
  }
  std::vector<std::string> names;
  do {
    const std::wstring_view name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    names.push_back(utf8_from_wide(std::wstring_view(name.data(), name.size())));
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

bool remove_file(const std::string& path) {
  if (DeleteFileW(system_name(path).c_str())) return true;
  set_errno_from_last();
  return false;
}

std::optional<std::string> real_path(const std::string& path) {
  HANDLE h = CreateFileW(system_name(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::wstring w(MAX_PATH, L'\0');
  DWORD got = GetFinalPathNameByHandleW(h, w.data(), static_cast<DWORD>(w.size()), 0);
  if (got >= w.size()) {
    w.resize(got + 1);
    got = GetFinalPathNameByHandleW(h, w.data(), static_cast<DWORD>(w.size()), 0);
  }
  CloseHandle(h);
  if (got == 0 || got >= w.size()) return std::nullopt;
  w.resize(got);
  if (w.rfind(L"\\\\?\\UNC\\", 0) == 0) w = L"\\\\" + w.substr(8);
  else if (w.rfind(L"\\\\?\\", 0) == 0) w = w.substr(4);
  return host_path_utf8(w);
}

bool writable(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(system_name(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

bool SaveTemporary::create(const std::string& target) {
  abandon();
  remove_stale_temporaries(target);
  target_ = target;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string name = target + ".tmp" + temporary_suffix(attempt);
    HANDLE h = CreateFileW(system_name(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      set_errno_from(error);
      return false;
    }
    handle_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (handle_ < 0) {
      CloseHandle(h);
      DeleteFileW(system_name(name).c_str());
      errno = EMFILE;
      return false;
    }
    temp_ = std::move(name);
    return true;
  }
  errno = EEXIST;
  return false;
}

bool SaveTemporary::commit() {
  if (handle_ < 0) return false;
  bool ok = FlushFileBuffers(system_handle(handle_)) != 0;
  DWORD error = ok ? 0 : GetLastError();
  _close(handle_);
  handle_ = -1;
  if (ok) {
    const std::wstring from = system_name(temp_);
    const std::wstring to = system_name(target_);
    // ReplaceFileW keeps the old file's attributes and security; a target
    // that does not exist yet is simply moved into place. A folder is never
    // replaced by the file (not every system's ReplaceFileW refuses it).
    const DWORD target_attributes = GetFileAttributesW(to.c_str());
    if (target_attributes != INVALID_FILE_ATTRIBUTES &&
        (target_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ok = false;
      error = ERROR_ACCESS_DENIED;
    } else {
      ok = ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr) != 0;
      if (!ok) error = GetLastError();
    }
    if (!ok && error == ERROR_FILE_NOT_FOUND) {
      ok = MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
      if (!ok) error = GetLastError();
    }
  }
  if (ok) {
    temp_.clear();
    return true;
  }
  DeleteFileW(system_name(temp_).c_str());
  temp_.clear();
  set_errno_from(error);
  return false;
}

void SaveTemporary::abandon() {
  if (handle_ >= 0) {
    _close(handle_);
    handle_ = -1;
  }
  if (!temp_.empty()) {
    const int saved = errno;
    DeleteFileW(system_name(temp_).c_str());
    errno = saved;
    temp_.clear();
  }
}

void remove_stale_temporaries(const std::string& target) {
  const std::string dir = parent_of(target);
  const std::string name = name_of(target);
  auto entries = list_directory(dir);
  if (!entries) return;
  for (const std::string& entry : *entries) {
    if (!is_temporary_of(entry, name)) continue;
    // A live save holds its temporary open without sharing: deleting it
    // fails with a sharing violation, and only dead saves' files go.
    const std::wstring candidate = system_name(dir + "/" + entry);
    const DWORD attributes = GetFileAttributesW(candidate.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
      continue;
    DeleteFileW(candidate.c_str());
  }
}

}  // namespace talven::host_file

namespace talven {

std::wstring host_path_wide(const std::string& path) { return host_file::system_name(path); }

std::string host_path_utf8(std::wstring_view path) {
  std::string out = utf8_from_wide(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace talven
