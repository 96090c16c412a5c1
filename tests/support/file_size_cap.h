// A cap on the size of the files this process writes, for tests that need
// a write to fail part-way as on a full disk. POSIX systems have it as the
// RLIMIT_FSIZE resource limit (with SIGXFSZ ignored, so a write past the
// cap fails instead of ending the process); elsewhere the cap is not
// available and the tests that need it skip.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace talven::test {

class FileSizeCap {
 public:
  // Caps new writes at `bytes`; active() tells whether it took effect.
  explicit FileSizeCap([[maybe_unused]] std::uint64_t bytes) {
#ifndef _WIN32
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
    rlimit small = saved_;
    small.rlim_cur = static_cast<rlim_t>(bytes);
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    active_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    if (!active_) ::signal(SIGXFSZ, old_handler_);
#endif
  }
  FileSizeCap(const FileSizeCap&) = delete;
  FileSizeCap& operator=(const FileSizeCap&) = delete;
  ~FileSizeCap() { lift(); }

  bool active() const { return active_; }

  // Puts the previous limit back; later writes are not capped.
  void lift() {
    if (!active_) return;
#ifndef _WIN32
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, old_handler_);
#endif
    active_ = false;
  }

 private:
  bool active_ = false;
#ifndef _WIN32
  rlimit saved_{};
  void (*old_handler_)(int) = SIG_DFL;
#endif
};

}  // namespace talven::test
