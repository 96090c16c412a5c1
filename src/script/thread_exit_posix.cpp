// The end of a thread on POSIX systems: one thread_local list whose
// destructor makes the calls (destructors of thread_local objects are
// reliable here).
#include <utility>
#include <vector>

#include "script/thread_exit.h"

namespace talven::script {

namespace {

struct ExitCalls {
  std::vector<std::pair<void (*)(void*), void*>> calls;
  ~ExitCalls() {
    while (!calls.empty()) {
      const auto [fn, arg] = calls.back();
      calls.pop_back();
      fn(arg);
    }
  }
};

}  // namespace

void at_thread_exit(void (*fn)(void*), void* arg) {
  thread_local ExitCalls exit_calls;
  exit_calls.calls.emplace_back(fn, arg);
}

}  // namespace talven::script
