// Holding a file the way a save that is still writing holds its temporary
// (see host_file::SaveTemporary): an exclusive flock() on POSIX systems, on
// Windows the file open with no sharing at all. Tests use it to stand in
// for a live save in another process.
#pragma once

#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <filesystem>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace talven::test {

class HeldSaveLock {
 public:
  // Opens and locks the existing file at `path`; held() tells whether it worked.
  explicit HeldSaveLock(const std::string& path) {
#ifdef _WIN32
    handle_ = ::CreateFileW(std::filesystem::path(path).wstring().c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) handle_ = nullptr;
#else
    fd_ = ::open(path.c_str(), O_RDONLY);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) release();
#endif
  }
  HeldSaveLock(const HeldSaveLock&) = delete;
  HeldSaveLock& operator=(const HeldSaveLock&) = delete;
  ~HeldSaveLock() { release(); }

  bool held() const {
#ifdef _WIN32
    return handle_ != nullptr;
#else
    return fd_ >= 0;
#endif
  }

  void release() {
#ifdef _WIN32
    if (handle_) ::CloseHandle(handle_);
    handle_ = nullptr;
#else
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
#endif
  }

 private:
#ifdef _WIN32
  HANDLE handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace talven::test
