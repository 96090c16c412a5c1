// Script thread priority and the timer resolution on Windows.
#include <windows.h>
// after windows.h, which it needs
#include <timeapi.h>

#include <mutex>

#include "runtime/threads_system.h"

namespace talven::runtime {

// One step below normal, the counterpart of the small nice value used
// elsewhere.
void lower_thread_priority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

// The system timer ticks every 15.6 ms unless a process asks for 1 ms, which
// it keeps for the rest of the run (the system drops it at exit).
void use_fine_timer() {
  static std::once_flag once;
  std::call_once(once, [] { timeBeginPeriod(1); });
}

}  // namespace talven::runtime
