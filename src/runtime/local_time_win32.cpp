// Local time on Windows: the C runtime's localtime_s.
#include "runtime/local_time.h"

namespace talven::runtime {

bool local_time(std::time_t t, std::tm& out) { return ::localtime_s(&out, &t) == 0; }

}  // namespace talven::runtime
