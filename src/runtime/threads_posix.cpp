// Script thread priority and the timer resolution on POSIX systems.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "runtime/threads_system.h"

namespace talven::runtime {

namespace {
constexpr int kScriptThreadNice = 2;
}  // namespace

// Linux applies a nice value to the one thread named by its id; other
// systems would renice the whole process, so they leave it alone.
void lower_thread_priority() {
#ifdef __linux__
  const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), current + kScriptThreadNice);
#endif
}

// Timed waits here already wake within a fraction of a millisecond.
void use_fine_timer() {}

}  // namespace talven::runtime
