// Fault reports on POSIX systems: the system ends a faulting process with
// its own report (the signal's name from the shell, a core dump where
// enabled), so nothing is installed.
#include "runtime/fault_report.h"

namespace talven::runtime {

void install_fault_report() {}

}  // namespace talven::runtime
