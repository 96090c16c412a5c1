#include "runtime/stall_watchdog.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "runtime/game_clock.h"
#include "runtime/main_thread.h"
#include "runtime/threads.h"
#include "runtime/trap.h"
#include "script/line_table.h"
#include "script/opcodes.h"

namespace talven::runtime {

namespace {

bool same_place(const SlotSample& a, const SlotSample& b) {
  return a.kind == b.kind && a.top == b.top && a.pc == b.pc;
}

bool can_stall(const SlotSample& s) {
  return s.kind == SlotKind::kRunning || s.kind == SlotKind::kSuspended ||
         s.kind == SlotKind::kSleeping;
}

}  // namespace

std::vector<int> StallTracker::observe(const std::vector<SlotSample>& slots, double now) {
  std::vector<int> stuck;
  if (seen_.size() < slots.size()) seen_.resize(slots.size());
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const SlotSample& s = slots[i];
    Seen& seen = seen_[i];
    // A sleeper's wake time does not move while it sleeps; what matters is
    // whether it woke when due.
    const bool moved = s.kind == SlotKind::kSleeping
                           ? seen.sample.kind != SlotKind::kSleeping || seen.sample.top != s.top ||
                                 s.overdue_ms <= 0
                           : !same_place(seen.sample, s);
    if (moved || !can_stall(s)) {
      seen.sample = s;
      seen.since = now;
      seen.reported = false;
      continue;
    }
    seen.sample = s;
    const double still = s.kind == SlotKind::kSleeping ? s.overdue_ms / 1000.0 : now - seen.since;
    if (!seen.reported && still >= bound_) {
      seen.reported = true;
      stuck.push_back(static_cast<int>(i));
    }
  }
  return stuck;
}

double StallTracker::still_for(int slot, double now) const {
  if (slot < 0 || static_cast<std::size_t>(slot) >= seen_.size()) return 0;
  const Seen& s = seen_[static_cast<std::size_t>(slot)];
  if (s.sample.kind == SlotKind::kSleeping) return s.sample.overdue_ms / 1000.0;
  return now - s.since;
}

const char* slot_kind_name(SlotKind kind) {
  switch (kind) {
    case SlotKind::kFree: return "free";
    case SlotKind::kGated: return "waiting at its start gate";
    case SlotKind::kRunning: return "running";
    case SlotKind::kSleeping: return "sleeping";
    case SlotKind::kSuspended: return "suspended";
    case SlotKind::kFinishing: return "finishing";
  }
  return "?";
}

std::vector<SlotSample> sample_thread_table(bool contexts) {
  std::vector<SlotSample> out(kMaxThreads);
  const std::uint32_t now = tick_count();
  for (int n = 0; n < kMaxThreads; ++n) {
    ThreadSlot& s = thread_table[n];
    SlotSample& o = out[static_cast<std::size_t>(n)];
    o.top = s.top.load();
    if (o.top < 0 || s.ended.load()) continue;  // free
    {
      std::lock_guard lock(s.gate_mutex);
      if (!s.gate_open) {
        o.kind = SlotKind::kGated;
        continue;
      }
    }
    if (s.running.load() == 0) {
      o.kind = SlotKind::kFinishing;
      continue;
    }
    const std::uint32_t wake = s.wake_time.load();
    if (wake != 0) {
      o.kind = SlotKind::kSleeping;
      o.overdue_ms = static_cast<std::int32_t>(now - wake);
    } else if (s.suspend_count.load() > 0) {
      o.kind = SlotKind::kSuspended;
    } else {
      o.kind = SlotKind::kRunning;
    }
    // Contexts are pushed and freed only under builtin_lock, which the
    // caller holds; the pc itself moves on the script thread, so it is read
    // as a relaxed atomic.
    if (contexts && o.top < kMaxContextDepth && s.contexts[o.top]) {
      VmContext& c = *s.contexts[o.top];
      o.pc = std::atomic_ref<Addr>(c.pc).load(std::memory_order_relaxed);
      o.frame =
          std::atomic_ref<std::uint32_t>(c.r[script::kRegFrame]).load(std::memory_order_relaxed);
      o.stack =
          std::atomic_ref<std::uint32_t>(c.r[script::kRegStack]).load(std::memory_order_relaxed);
    }
  }
  return out;
}

namespace {

std::string place_text(const script::CodePlace& p) {
  std::string text = p.file.empty() ? std::string("?") : p.file;
  if (p.line > 0) text += "(" + std::to_string(p.line) + ")";
  if (!p.function.empty()) text += " in " + p.function;
  return text;
}

constexpr int kCallersShown = 4;

}  // namespace

std::string describe_place(const SlotSample& sample) {
  if (sample.pc == 0) return {};
  std::optional<script::CodePlace> here = script::find_code_place(sample.pc);
  if (!here) return {};
  VmContext at{};
  at.pc = sample.pc;
  at.r[script::kRegFrame] = sample.frame;
  at.r[script::kRegStack] = sample.stack;
  std::string text;
  std::vector<script::CodePlace> chain;
  if (here->builtin) {
    // Stopped inside a builtin: pc is past its trap, in the builtin's stub,
    // and the places that matter are the call's.
    text = "in " + here->function;
    chain = script::call_chain(at, sample.pc, kCallersShown);
    for (std::size_t i = 0; i < chain.size(); ++i)
      text += (i == 0 ? ", called at " : ", from ") + place_text(chain[i]);
    return text;
  }
  // pc is the next instruction: the chain is asked for the place of an
  // address inside it.
  chain = script::call_chain(at, sample.pc + 1, kCallersShown);
  if (chain.empty()) chain.push_back(*here);
  for (std::size_t i = 0; i < chain.size(); ++i)
    text += (i == 0 ? "at " : ", from ") + place_text(chain[i]);
  return text;
}

namespace {

std::string slot_text(const char* head, const SlotSample& sample) {
  std::string text = head;
  if (sample.pc != 0) {
    char pc[32];
    std::snprintf(pc, sizeof pc, ", pc 0x%08x", sample.pc);
    text += pc;
    if (std::string place = describe_place(sample); !place.empty()) text += "; " + place;
  }
  return text;
}

}  // namespace

std::string describe_stall(int slot, const SlotSample& sample, double seconds) {
  char head[160];
  std::snprintf(head, sizeof head, "thread %d stuck %.1f s: %s, depth %d", slot, seconds,
                slot_kind_name(sample.kind), sample.top + 1);
  return slot_text(head, sample);
}

std::string describe_slot(int slot, const SlotSample& sample) {
  char head[160];
  std::snprintf(head, sizeof head, "thread %d: %s, depth %d", slot, slot_kind_name(sample.kind),
                sample.top + 1);
  return slot_text(head, sample);
}

std::vector<std::string> describe_script_threads(int lock_wait_ms) {
  request_thread_places(100);
  // A script thread that holds builtin_lock may be waiting for the main
  // thread: when that is us, its calls are served while the lock is awaited.
  bool locked = false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(lock_wait_ms);
  while (!(locked = builtin_lock.try_lock()) && std::chrono::steady_clock::now() < until) {
    if (is_main_thread()) serve_main_thread_calls();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::vector<SlotSample> slots = sample_thread_table(locked);
  if (locked) builtin_lock.unlock();
  std::vector<std::string> lines;
  for (int n = 0; n < kMaxThreads; ++n) {
    const SlotSample& s = slots[static_cast<std::size_t>(n)];
    if (s.kind != SlotKind::kFree) lines.push_back(describe_slot(n, s));
  }
  return lines;
}

namespace {

struct Watchdog {
  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;
  std::thread thread;
};

Watchdog& watchdog() {
  static Watchdog* w = new Watchdog;  // outlives every static destructor
  return *w;
}

// Sleeps up to `d`; false once the watchdog is asked to stop.
bool pause_for(std::chrono::milliseconds d) {
  Watchdog& w = watchdog();
  std::unique_lock lock(w.mutex);
  return !w.cv.wait_for(lock, d, [&] { return w.stop; });
}

void watch(double bound) {
  StallTracker tracker(bound);
  const auto start = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  double lock_wait_since = -1;
  bool lock_reported = false;
  while (pause_for(std::chrono::milliseconds(1000))) {
    request_thread_places(50);
    // Take builtin_lock if it comes free within a short while; a lock held
    // for the whole bound is a stall of its own.
    bool locked = false;
    for (int i = 0; i < 50 && !locked; ++i) {
      locked = builtin_lock.try_lock();
      if (!locked && !pause_for(std::chrono::milliseconds(10))) return;
    }
    std::vector<SlotSample> slots = sample_thread_table(locked);
    std::vector<std::string> lines;
    const double now = seconds();
    // Without the lock there is no pc to compare: such samples only serve
    // the report of the lock itself.
    if (locked) {
      for (int n : tracker.observe(slots, now)) {
        lines.push_back(
            describe_stall(n, slots[static_cast<std::size_t>(n)], tracker.still_for(n, now)));
      }
    }
    if (locked) {
      builtin_lock.unlock();
      lock_wait_since = -1;
      lock_reported = false;
    } else {
      if (lock_wait_since < 0) lock_wait_since = now;
      if (!lock_reported && now - lock_wait_since >= bound) {
        lock_reported = true;
        char text[96];
        std::snprintf(text, sizeof text, "builtin_lock held for %.1f s", now - lock_wait_since);
        lines.push_back(text);
        for (int n = 0; n < kMaxThreads; ++n) {
          const SlotSample& s = slots[static_cast<std::size_t>(n)];
          if (s.kind != SlotKind::kFree) lines.push_back(describe_slot(n, s));
        }
      }
    }
    for (const std::string& l : lines) std::fprintf(stderr, "talven: watchdog: %s\n", l.c_str());
    if (!lines.empty()) std::fflush(stderr);
  }
}

void stop_watchdog() {
  Watchdog& w = watchdog();
  {
    std::lock_guard lock(w.mutex);
    w.stop = true;
  }
  w.cv.notify_all();
  if (w.thread.joinable()) w.thread.join();
}

}  // namespace

void start_stall_watchdog_from_environment() {
  const char* value = std::getenv("TALVEN_STALL_SECONDS");
  if (!value) return;
  char* end = nullptr;
  const double bound = std::strtod(value, &end);
  if (end == value || !(bound > 0) || bound > 86400) return;
  Watchdog& w = watchdog();
  if (w.thread.joinable()) return;
  w.thread = std::thread(watch, bound);
  // Registered after the thread table was built, so it runs before the
  // table is destroyed.
  std::atexit(stop_watchdog);
}

}  // namespace talven::runtime
