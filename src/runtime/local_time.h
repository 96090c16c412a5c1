// The local calendar time of a moment, from the host's time zone rules
// (one file per platform: local_time_posix.cpp, local_time_win32.cpp).
#pragma once

#include <ctime>

namespace talven::runtime {

// Fills `out` with the local time of `t`; false when the host cannot.
bool local_time(std::time_t t, std::tm& out);

}  // namespace talven::runtime
