// The system's part of script threads: one file per platform
// (threads_posix.cpp, threads_win32.cpp).
#pragma once

namespace talven::runtime {

// Script threads run below the main thread's priority, so a busy script
// cannot starve the window and the devices it serves. Called by each
// script thread on itself as it starts; where the system refuses, the
// thread keeps the normal priority.
void lower_thread_priority();

}  // namespace talven::runtime
