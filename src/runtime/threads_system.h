// The system's part of script threads and timed waits: one file per platform
// (threads_posix.cpp, threads_win32.cpp).
#pragma once

namespace talven::runtime {

// Script threads run below the main thread's priority, so a busy script
// cannot starve the window and the devices it serves. Called by each
// script thread on itself as it starts; where the system refuses, the
// thread keeps the normal priority.
void lower_thread_priority();

// Timed waits (frame pacing, wait builtins, sleeping threads) wake within
// about a millisecond of their deadline. Called once as the runtime
// starts; where the system's timer is coarse it is made fine for the run.
void use_fine_timer();

}  // namespace talven::runtime
