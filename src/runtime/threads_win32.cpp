// Script thread priority on Windows.
#include <windows.h>

#include "runtime/threads_system.h"

namespace talven::runtime {

// One step below normal, the counterpart of the small nice value used
// elsewhere.
void lower_thread_priority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace talven::runtime
