// Work left for the end of the calling thread (one file per platform:
// thread_exit_posix.cpp, thread_exit_win32.cpp).
//
// What a thread owns for its whole life (its translations and their
// machine code) is freed through at_thread_exit rather than by a
// thread_local object's destructor: the Windows build's C++ run-time runs
// those destructors on storage it has already released once a thread has
// more than one of them, so a thread's owned memory is freed twice or read
// after it was freed. Windows runs the callbacks from fiber-local storage,
// whose callbacks the system makes as the thread ends; elsewhere one
// thread_local list's destructor runs them.
#pragma once

namespace talven::script {

// Calls fn(arg) when the calling thread ends, after the callbacks
// registered later (last in, first out). Threads that end with the process
// may not get their calls.
void at_thread_exit(void (*fn)(void*), void* arg);

}  // namespace talven::script
