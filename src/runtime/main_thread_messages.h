// The main-thread messages addressed by number rather than through a typed
// handler: each is served by the module named beside it, and scripts or
// tests reach it by this number (runtime/main_thread.h main_thread_call).
#pragma once

#include <cstdint>

namespace talven::runtime {

// Served by the application: writes seven words at wparam (the stop flag's
// and app_active's addresses, instance and window handles, Width, Height,
// Depth) and answers 0.
constexpr std::uint32_t kMsgQuery = 1234;

}  // namespace talven::runtime
