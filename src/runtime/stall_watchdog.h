// Stall watchdog: a sleeping host thread that samples the script thread
// table once a second and reports, on standard error, every script thread
// whose observable state has not changed for a bound: a running thread whose
// program counter stands still, a sleeper whose wake time passed long ago, a
// thread left suspended, or builtin_lock held by someone for the whole bound.
// Each report names the slot's state, its context depth and the script place
// (file, line, function) of its program counter, with the places it was
// called from. Before each sample the threads are asked for their places
// (request_thread_places), so a thread that runs without a break is seen
// where it is, not where its run began.
//
// describe_script_threads() gives the same description of every live
// thread at once: what --timeout prints when it ends a run.
//
// Off unless asked for: TALVEN_STALL_SECONDS=N (N > 0) in the environment
// starts it. Meant for long unattended runs; it never stops a script.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/address_space.h"

namespace talven::runtime {

enum class SlotKind : std::uint8_t { kFree, kGated, kRunning, kSleeping, kSuspended, kFinishing };

// One slot as seen in one sample. `pc` is 0 when it could not be read;
// `frame` and `stack` (r6, r7) locate the callers.
struct SlotSample {
  SlotKind kind = SlotKind::kFree;
  int top = -1;
  Addr pc = 0;
  Addr frame = 0, stack = 0;
  std::int32_t overdue_ms = 0;  // sleepers: how long ago the wake time passed
};

// Decides, sample by sample, which slots have stood still for the bound.
// A slot counts as stuck when its kind, depth and pc stayed the same for at
// least the bound (a sleeper: when its wake time is overdue by the bound).
// Free, gated and finishing slots and sleepers not yet due never count.
// Each stall is reported once, until the slot moves again.
class StallTracker {
 public:
  explicit StallTracker(double bound_seconds) : bound_(bound_seconds) {}
  // Takes the samples of all slots at time `now` (seconds); returns the
  // slot numbers newly found stuck.
  std::vector<int> observe(const std::vector<SlotSample>& slots, double now);
  double still_for(int slot, double now) const;

 private:
  struct Seen {
    SlotSample sample;
    double since = 0;
    bool reported = false;
  };
  double bound_;
  std::vector<Seen> seen_;
};

const char* slot_kind_name(SlotKind kind);

// Reads the thread table. With `contexts` set (the caller holds
// builtin_lock) the pc of each top context is read too.
std::vector<SlotSample> sample_thread_table(bool contexts);

// The script place of a sample with its callers, innermost first:
// "at main.c(42) in worker, from main.c(9) in main"; inside a builtin
// "in sleep, called at main.c(42) in worker, ...". A line that is not known
// is left out rather than shown as 0; "" when the pc lies in no script.
std::string describe_place(const SlotSample& sample);

// "thread 3 stuck 12.0 s: running, depth 1, pc 0x...; at main.c(42) in worker"
std::string describe_stall(int slot, const SlotSample& sample, double seconds);
// "thread 3: running, depth 1, pc 0x...; at ..." (for the lock report).
std::string describe_slot(int slot, const SlotSample& sample);

// One describe_slot line per live script thread, after asking the threads
// for their places. builtin_lock is waited for up to `lock_wait_ms` (the
// main thread serves its calls meanwhile); without it the lines have no
// places. Any thread may call it.
std::vector<std::string> describe_script_threads(int lock_wait_ms);

// Starts the watchdog when TALVEN_STALL_SECONDS holds a positive number.
// It is stopped and joined at process exit.
void start_stall_watchdog_from_environment();

}  // namespace talven::runtime
