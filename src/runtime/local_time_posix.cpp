// Local time on POSIX systems: the reentrant localtime_r.
#include "runtime/local_time.h"

namespace talven::runtime {

bool local_time(std::time_t t, std::tm& out) { return localtime_r(&t, &out) != nullptr; }

}  // namespace talven::runtime
