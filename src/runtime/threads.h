// Script threads: the 32-slot thread table, each slot a host thread running
// a stack of script contexts slice by slice, and the flow and thread
// builtins (jump, call, exit, setjmp, longjmp, thd_*, sleep).
//
// Slot fields that thread procedures read between slices without a lock are
// atomics. Builtins change slots under builtin_lock; the main thread changes
// suspend counts when the application is paused, hence the atomics too.
//
// "Start suspended" is a gate the new thread waits on before its first
// slice, not an operating-system suspension.
//
// The host (main window or headless runner) plugs in through ThreadHost:
// whether the application is active, how to ask the program to close, and
// what to do while the main thread waits for script threads to end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>

#include "base/address_space.h"
#include "script/vm.h"

namespace talven::runtime {

using script::VmContext;

constexpr int kMaxThreads = 32;
constexpr int kMaxContextDepth = 32;
constexpr std::int32_t kMinThreadStack = 1024;

struct ThreadSlot {
  std::thread thread;              // joinable while the slot is taken
  std::atomic<bool> ended{false};  // the thread procedure has returned
  std::atomic<int> running{0};     // 0 asks the thread to leave its loop
  std::atomic<int> suspend_count{0};
  std::atomic<std::uint32_t> wake_time{0};  // tick to sleep until; 0 = awake
  std::atomic<bool> yield_asked{false};     // sleep(0): give the processor away once
  // Set by an observer that wants the thread's place: the thread hands its
  // registers and pc back to its context at the end of the running slice
  // and clears the flag (at once when it is not running script code).
  std::atomic<bool> place_asked{false};
  VmContext* contexts[kMaxContextDepth] = {};
  std::atomic<int> top{-1};
  // Start gate: a thread created suspended waits here until released.
  std::mutex gate_mutex;
  std::condition_variable gate_cv;
  bool gate_open = true;
  // Per-thread state of other families.
  std::uint8_t font = 0;
  Addr strtok_next = 0;  // strtok's position in script memory
};

extern ThreadSlot thread_table[kMaxThreads];

struct ThreadHost {
  bool (*app_active)() = nullptr;           // false: threads yield 1 ms per slice
  void (*request_close)() = nullptr;        // `exit` was called: close the program
  void (*serve_while_waiting)() = nullptr;  // main thread: serve queued calls
  void (*thread_ended)(int slot, std::uint32_t result) = nullptr;  // a thread finished
  // The last running thread is about to free its contexts (under builtin_lock).
  void (*last_thread_ending)() = nullptr;
};
void set_thread_host(const ThreadHost& host);

// Loads and compiles a ".c" script into a new context (null on failure;
// compile errors are reported by the compiler). A program size of 0 is
// measured first.
VmContext* load_script(std::string_view name, std::int32_t program_size, std::int32_t stack_size);

// Starts a thread on the context in the lowest free slot: its number, or -1
// (the caller then still owns the context).
int start_script_thread(VmContext* context, bool start_suspended);
// Opens the start gate of a thread created suspended.
void release_script_thread(int n);

// Asks thread n to stop and waits for it to end: 1, or 0 when there is no
// such thread or the scripts are stopping. A thread ending itself returns 1
// at once and stops after its current slice. Called with builtin_lock held
// (it is released while waiting).
int stop_script_thread(int n);

// Sets vm_stop_flag, waits for every thread (serving main-thread calls
// meanwhile), empties the table and clears the flag again.
void stop_all_script_threads();

// Zeroes every slot and clears vm_stop_flag (at runtime start).
void reset_thread_table();

// Number of script threads started and not yet ended (a thread waiting at
// its start gate counts).
int running_script_threads();

// Suspend counts as the thd_ builtins change them: the new count, 0, or -1.
int suspend_script_thread(int n);
int resume_script_thread(int n);

// The thread number of the context being served (under builtin_lock), or -1.
int calling_thread();

// Asks every taken slot for its place (ThreadSlot::place_asked) and waits
// up to `at_most_ms` until all threads that can answer have. Afterwards
// each context's pc and registers are those of a moment since the call
// (a thread inside a builtin handed them over when it made the call).
void request_thread_places(int at_most_ms);

// Builtin handlers of the flow and thread family (typed: runtime/bind.h).
bool bi_jump(Addr script_name);
bool bi_call(Addr script_name);
std::int32_t bi_exit();
std::int32_t bi_setjmp(Addr buffer);
std::uint32_t bi_longjmp(Addr buffer, std::uint32_t value);
std::int32_t bi_thd_begin(Addr function, std::uint32_t argument, std::uint32_t suspended,
                          std::int32_t stack);
inline constexpr auto& bi_thd_end = stop_script_thread;
inline constexpr auto& bi_thd_suspend = suspend_script_thread;
inline constexpr auto& bi_thd_resume = resume_script_thread;
bool bi_sleep(std::int32_t ms);

}  // namespace talven::runtime
