// Builtin handlers of the debug output family.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::lib {

// Variadic (a format and its arguments): the raw block.
std::uint32_t bi_log_out(Addr args);  // 1 when the debug output exists, else 0
bool bi_log_clear();                  // likewise

}  // namespace talven::lib
