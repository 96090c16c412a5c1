// Builtin handlers of the debug output family.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::lib {

std::uint32_t bi_log_out(Addr args);    // 1 when the debug output exists, else 0
std::uint32_t bi_log_clear(Addr args);  // likewise

}  // namespace talven::lib
