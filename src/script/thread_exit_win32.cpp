// The end of a thread on Windows: one fiber-local slot for the process,
// holding each thread's list of calls; the system calls the slot's
// callback with that list as the thread ends.
#include <windows.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "script/thread_exit.h"

namespace talven::script {

namespace {

using ExitCalls = std::vector<std::pair<void (*)(void*), void*>>;

void WINAPI run_exit_calls(void* data) {
  auto* calls = static_cast<ExitCalls*>(data);
  if (!calls) return;
  while (!calls->empty()) {
    const auto [fn, arg] = calls->back();
    calls->pop_back();
    fn(arg);
  }
  delete calls;
}

DWORD exit_slot() {
  static const DWORD slot = FlsAlloc(run_exit_calls);
  return slot;
}

}  // namespace

void at_thread_exit(void (*fn)(void*), void* arg) {
  const DWORD slot = exit_slot();
  if (slot == FLS_OUT_OF_INDEXES) return;  // the memory stays until the process ends
  auto* calls = static_cast<ExitCalls*>(FlsGetValue(slot));
  if (!calls) {
    calls = new ExitCalls;
    if (!FlsSetValue(slot, calls)) {
      delete calls;
      return;
    }
  }
  calls->emplace_back(fn, arg);
}

}  // namespace talven::script
