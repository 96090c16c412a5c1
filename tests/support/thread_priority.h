// The scheduling priority of the calling thread, on one scale for every
// platform: a larger number is a more favoured thread. On Linux it is the
// thread's nice value negated; on Windows, GetThreadPriority.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace talven::test {

inline int current_thread_priority() {
#ifdef _WIN32
  return ::GetThreadPriority(::GetCurrentThread());
#else
  return -::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
#endif
}

}  // namespace talven::test
