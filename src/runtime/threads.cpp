#include "runtime/threads.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "base/cp932.h"
#include "base/config.h"
#include "runtime/threads_system.h"
#include "runtime/builtins.h"
#include "runtime/game_clock.h"
#include "runtime/trap.h"
#include "script/compiler.h"
#include "script/opcodes.h"

namespace talven::runtime {

using script::vm_stop_flag;

ThreadSlot thread_table[kMaxThreads];

namespace {

ThreadHost host;
std::atomic<int> running_threads{0};

bool app_is_active() { return host.app_active ? host.app_active() : true; }

// The end of a slice: other threads get the processor (a yield only when
// another script thread is running or the script asked with sleep(0), since
// the system call costs as much as a slice of work), or the thread rests
// 1 ms while the application is inactive.
void yield_slice(ThreadSlot& s) {
  const bool asked = s.yield_asked.exchange(false);
  if (!app_is_active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  else if (asked || running_threads.load(std::memory_order_relaxed) > 1) std::this_thread::yield();
}

// The script thread slot of the calling thread (null on other threads).
thread_local ThreadSlot* current_slot = nullptr;

// Whether the thread loop below would at once run another slice of
// `context`: the only running script thread, awake, not suspended, not asked
// to leave, with the application active (else it rests between slices).
bool next_slice_at_once(const VmContext* context) {
  const ThreadSlot* s = current_slot;
  if (!s || running_threads.load(std::memory_order_relaxed) > 1) return false;
  if (!s->running.load(std::memory_order_relaxed) ||
      s->place_asked.load(std::memory_order_relaxed) ||
      s->suspend_count.load(std::memory_order_relaxed) > 0 ||
      s->wake_time.load(std::memory_order_relaxed) != 0)
    return false;
  const int top = s->top.load(std::memory_order_relaxed);
  return top >= 0 && s->contexts[top] == context && app_is_active();
}

// A suspended or sleeping thread waits on its slot's condition variable:
// resume, end and stop wake it; the bound re-checks the stop flag, which is
// set without a notification.
constexpr std::chrono::milliseconds kRestBound{20};

void rest(ThreadSlot& s, std::chrono::milliseconds at_most) {
  std::unique_lock lock(s.gate_mutex);
  s.gate_cv.wait_for(lock, std::min(at_most, kRestBound));
}

void wake(ThreadSlot& s) {
  { std::lock_guard lock(s.gate_mutex); }
  s.gate_cv.notify_all();
}

bool slot_taken(int n) { return n >= 0 && n < kMaxThreads && thread_table[n].thread.joinable(); }

void open_gate(ThreadSlot& s) {
  {
    std::lock_guard lock(s.gate_mutex);
    s.gate_open = true;
  }
  s.gate_cv.notify_all();
}

void free_contexts(ThreadSlot& s) {
  for (int top = s.top.load(); top >= 0; --top) {
    script::vm_free(s.contexts[top]);
    s.contexts[top] = nullptr;
  }
  s.top.store(-1);
}

// Joins a finished thread and frees its slot (the slot keeps its contexts
// freed by the thread itself).
void reap(ThreadSlot& s) {
  if (s.thread.joinable()) s.thread.join();
  s.ended.store(false);
}

void script_thread_main(int n) {
  ThreadSlot& s = thread_table[n];
  current_slot = &s;
  script::vm_set_slice_hook(&next_slice_at_once);
  lower_thread_priority();
  {
    std::unique_lock lock(s.gate_mutex);
    s.gate_cv.wait(lock, [&] { return s.gate_open; });
  }
  std::uint32_t result = 0;
  if (s.top.load() >= 0 && s.contexts[s.top.load()]) {
    std::this_thread::yield();
    while (!vm_stop_flag.is_set() && s.running.load()) {
      // Between slices the context holds the thread's registers and pc.
      if (s.place_asked.load(std::memory_order_relaxed)) s.place_asked.store(false);
      int top = s.top.load();
      VmContext* c = s.contexts[top];
      if (c->state == script::kVmRunning) {
        std::uint32_t wake = s.wake_time.load();
        if (wake != 0) {
          const std::int32_t left = static_cast<std::int32_t>(wake - tick_count());
          if (left > 0) {
            rest(s, std::chrono::milliseconds(left));
            continue;
          }
          s.wake_time.store(0);
        }
        if (s.suspend_count.load() > 0) {
          rest(s, kRestBound);
          continue;
        }
        script::vm_run(c);
        yield_slice(s);
      } else if (c->state == script::kVmFinished) {
        if (top == 0) {
          result = c->r[script::kRegResult];
          break;
        }
        // A called script ended: its r0 becomes the result of the caller's call.
        std::uint32_t r0 = c->r[script::kRegResult];
        std::lock_guard lock(builtin_lock);
        script::vm_free(c);
        s.contexts[top] = nullptr;
        s.contexts[top - 1]->r[script::kRegResult] = r0;
        s.top.store(top - 1);
      } else {
        // `exit` (or a stop that came without the flag): close the program.
        config().Confirmation = 0;
        vm_stop_flag.set();
        if (host.request_close) host.request_close();
        break;
      }
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  {
    // The count changes under the lock, so exactly one thread sees itself
    // as the last; it runs the host's hook while script memory is still
    // allocated (the save-data block may live in its program area).
    std::lock_guard lock(builtin_lock);
    if (running_threads.load() == 1 && host.last_thread_ending) host.last_thread_ending();
    free_contexts(s);
    s.ended.store(true);
    running_threads.fetch_sub(1);
  }
  if (host.thread_ended) host.thread_ended(n, result);
}

}  // namespace

void set_thread_host(const ThreadHost& h) { host = h; }

VmContext* load_script(std::string_view name, std::int32_t program_size, std::int32_t stack_size) {
  // Only ".c" sources are scripts; the last '.' is found character by
  // character so that a trail byte is never taken for one.
  std::size_t dot = std::string_view::npos;
  for (std::size_t i = 0; i < name.size(); i = cp932::next(name, i)) {
    if (name[i] == '.') dot = i;
  }
  if (dot == std::string_view::npos || cp932::compare_nocase(name.substr(dot), ".c") != 0)
    return nullptr;
  // Script names are at most 259 bytes; a longer one is refused rather than
  // cut into another name.
  if (name.size() > 259) return nullptr;
  if (program_size == 0) {
    // The compilation into the area repeats the measuring pass's messages:
    // they are shown once, by whichever pass ends the load.
    script::CompileOptions measure;
    measure.show_messages = false;
    script::CompileResult r = script::compile_script(name, 0, 0, measure);
    if (!r.ok) {
      script::show_compile_messages(r);
      return nullptr;
    }
    std::uint64_t total = std::uint64_t{r.code_size} + r.data_size;
    if (total > 0x7FFFFFFF) return nullptr;
    program_size = static_cast<std::int32_t>(total);
  }
  VmContext* c = script::vm_create(program_size, stack_size);
  if (!c) return nullptr;
  script::CompileResult r = script::compile_script(name, c->program, c->program_size);
  if (!r.ok) {
    script::vm_free(c);
    return nullptr;
  }
  return c;
}

int running_script_threads() { return running_threads.load(); }

int start_script_thread(VmContext* context, bool start_suspended) {
  if (vm_stop_flag.is_set() || !context) return -1;
  for (ThreadSlot& s : thread_table) {
    if (s.thread.joinable() && s.ended.load()) reap(s);
  }
  for (int n = 0; n < kMaxThreads; ++n) {
    ThreadSlot& s = thread_table[n];
    if (s.thread.joinable()) continue;
    context->thread_slot = static_cast<std::uint32_t>(n);
    s.contexts[0] = context;
    s.top.store(0);
    s.running.store(1);
    s.suspend_count.store(0);
    s.wake_time.store(0);  // a new thread never inherits the slot's last sleep
    s.place_asked.store(false);
    s.ended.store(false);
    {
      std::lock_guard lock(s.gate_mutex);
      s.gate_open = !start_suspended;
    }
    running_threads.fetch_add(1);
    try {
      s.thread = std::thread(script_thread_main, n);
    } catch (...) {
      running_threads.fetch_sub(1);
      s.contexts[0] = nullptr;
      s.top.store(-1);
      s.running.store(0);
      return -1;
    }
    return n;
  }
  return -1;
}

void release_script_thread(int n) {
  if (n >= 0 && n < kMaxThreads) open_gate(thread_table[n]);
}

int calling_thread() {
  if (!current_context) return -1;
  std::uint32_t n = current_context->thread_slot;
  return n < kMaxThreads ? static_cast<int>(n) : -1;
}

void request_thread_places(int at_most_ms) {
  for (ThreadSlot& s : thread_table) {
    if (s.top.load() >= 0 && !s.ended.load()) s.place_asked.store(true);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(at_most_ms);
  for (;;) {
    // A thread at its start gate or inside a builtin does not answer; its
    // context already holds its place.
    bool waiting = false;
    for (ThreadSlot& s : thread_table) {
      if (!s.place_asked.load() || s.ended.load() || s.running.load() == 0) continue;
      std::unique_lock gate(s.gate_mutex, std::try_to_lock);
      if (gate.owns_lock() && !s.gate_open) continue;
      waiting = true;
    }
    if (!waiting || std::chrono::steady_clock::now() >= until) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int stop_script_thread(int n) {
  if (vm_stop_flag.is_set() || !slot_taken(n)) return 0;
  ThreadSlot& s = thread_table[n];
  s.running.store(0);
  open_gate(s);
  if (n == calling_thread() && s.thread.get_id() == std::this_thread::get_id()) {
    // Ending oneself: the thread leaves its loop after this slice; it is
    // reaped when its slot is next needed.
    return 1;
  }
  // Called from a builtin, so builtin_lock is held. Waiting with it would
  // deadlock against a target that is itself waiting to call a builtin, so
  // it is let go meanwhile; current_context is ours again afterwards.
  VmContext* caller = current_context;
  builtin_lock.unlock();
  s.thread.join();
  builtin_lock.lock();
  current_context = caller;
  s.ended.store(false);
  return 1;
}

void stop_all_script_threads() {
  vm_stop_flag.set();
  for (ThreadSlot& s : thread_table) wake(s);
  std::vector<int> collected;
  for (int n = 0; n < kMaxThreads; ++n) {
    if (thread_table[n].thread.joinable()) {
      open_gate(thread_table[n]);
      collected.push_back(n);
    }
  }
  // Script threads may be waiting on a main-thread call: keep serving them.
  for (;;) {
    bool all_ended = true;
    for (int n : collected) all_ended = all_ended && thread_table[n].ended.load();
    if (all_ended) break;
    if (host.serve_while_waiting) host.serve_while_waiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int n : collected) reap(thread_table[n]);
  reset_thread_table();
}

void reset_thread_table() {
  for (ThreadSlot& s : thread_table) {
    if (s.thread.joinable()) s.thread.join();
    for (VmContext*& c : s.contexts) c = nullptr;
    s.top.store(-1);
    s.running.store(0);
    s.suspend_count.store(0);
    s.wake_time.store(0);
    s.place_asked.store(false);
    s.ended.store(false);
    s.gate_open = true;
    s.font = 0;
    s.strtok_next = 0;
  }
  vm_stop_flag.clear();
}

int suspend_script_thread(int n) {
  if (vm_stop_flag.is_set() || !slot_taken(n)) return -1;
  return thread_table[n].suspend_count.fetch_add(1) + 1;
}

int resume_script_thread(int n) {
  if (vm_stop_flag.is_set() || !slot_taken(n)) return -1;
  std::atomic<int>& count = thread_table[n].suspend_count;
  int c = count.load();
  while (c > 0 && !count.compare_exchange_weak(c, c - 1)) {
  }
  if (c == 1) wake(thread_table[n]);
  return c > 0 ? c - 1 : 0;
}

// ---- flow builtins -----------------------------------------------------------

namespace {

// A script name argument; empty (no such script) for a bad address.
std::string_view script_name_at(Addr a) {
  auto s = cstr(a, 4096);
  return s ? *s : std::string_view();
}

}  // namespace

bool bi_jump(Addr script_name) {
  int t = calling_thread();
  VmContext* fresh =
      load_script(script_name_at(script_name), config().ProgramSize, config().StackSize);
  if (!fresh) return false;
  if (vm_stop_flag.is_set() || !slot_taken(t)) {
    script::vm_free(fresh);
    return false;
  }
  ThreadSlot& s = thread_table[t];
  int top = s.top.load();
  fresh->thread_slot = static_cast<std::uint32_t>(t);
  script::vm_free(s.contexts[top]);
  s.contexts[top] = fresh;
  current_context = fresh;
  return true;
}

bool bi_call(Addr script_name) {
  int t = calling_thread();
  VmContext* fresh =
      load_script(script_name_at(script_name), config().ProgramSize, config().StackSize);
  if (!fresh) return false;
  if (vm_stop_flag.is_set() || !slot_taken(t) ||
      thread_table[t].top.load() >= kMaxContextDepth - 1) {
    script::vm_free(fresh);
    return false;
  }
  ThreadSlot& s = thread_table[t];
  int top = s.top.load();
  fresh->thread_slot = static_cast<std::uint32_t>(t);
  s.contexts[top + 1] = fresh;
  s.top.store(top + 1);
  return true;
}

std::int32_t bi_exit() {
  if (current_context) current_context->state = script::kVmError;
  return 0;
}

std::int32_t bi_setjmp(Addr buffer) {
  VmContext* c = current_context;
  int t = calling_thread();
  if (!c || t < 0) return 0;
  VmContext copy = *c;
  std::uint32_t return_address = 0;
  if (!load32(c->r[script::kRegStack], return_address)) return 0;
  copy.pc = return_address;
  copy.r[script::kRegResult] = static_cast<std::uint32_t>(thread_table[t].top.load());
  copy.r[script::kRegStack] = c->r[script::kRegStack] + 4;
  if (!write_bytes(buffer, &copy, sizeof copy)) return 0;
  return 0;
}

std::uint32_t bi_longjmp(Addr buffer, std::uint32_t value) {
  VmContext* c = current_context;
  int t = calling_thread();
  VmContext buf;
  if (!c || t < 0 || !read_bytes(buffer, &buf, sizeof buf)) return 0;
  ThreadSlot& s = thread_table[t];
  const int top = s.top.load();
  const std::uint32_t level = buf.r[script::kRegResult];
  if (buf.thread_slot != static_cast<std::uint32_t>(t) || level > static_cast<std::uint32_t>(top))
    return 0;
  VmContext* target = s.contexts[level];
  // The buffer must describe a live frame of that very context. The sizes and
  // the user-count address are compared too: a forged buffer must not be
  // able to change what vm_free later releases.
  if (!target || target->program != buf.program || target->stack != buf.stack ||
      target->program_users != buf.program_users || target->program_size != buf.program_size ||
      target->stack_size != buf.stack_size ||
      target->r[script::kRegStack] > buf.r[script::kRegStack]) {
    return 0;
  }
  if (value == 0) value = 1;
  for (int k = top; k > static_cast<int>(level); --k) {
    script::vm_free(s.contexts[k]);
    s.contexts[k] = nullptr;
  }
  s.top.store(static_cast<int>(level));
  buf.state = script::kVmRunning;
  *target = buf;
  current_context = target;
  return value;
}

std::int32_t bi_thd_begin(Addr function, std::uint32_t argument, std::uint32_t suspended,
                          std::int32_t stack) {
  VmContext* c = current_context;
  if (!c) return -1;
  if (stack <= 0) stack = 0;
  else if (stack < kMinThreadStack) stack = kMinThreadStack;
  VmContext* fresh = script::vm_clone(c, stack);
  if (!fresh) return -1;
  Addr sp = fresh->r[script::kRegStack] - 8;
  if (!store32(sp, 0xFFFFFFFFu) || !store32(sp + 4, argument)) {
    script::vm_free(fresh);
    return -1;
  }
  fresh->r[script::kRegStack] = sp;
  fresh->pc = function;
  int n = start_script_thread(fresh, true);
  if (n < 0) {
    script::vm_free(fresh);
    return -1;
  }
  thread_table[n].suspend_count.store(suspended != 0 ? 1 : 0);
  thread_table[n].font = 0;
  release_script_thread(n);
  return n;
}

bool bi_sleep(std::int32_t ms) {
  int t = calling_thread();
  if (vm_stop_flag.is_set() || !slot_taken(t)) return false;
  if (ms > 0) {
    std::uint32_t wake = tick_count() + static_cast<std::uint32_t>(ms);
    thread_table[t].wake_time.store(wake == 0 ? 1 : wake);
  } else {
    thread_table[t].yield_asked.store(true);
  }
  return true;
}

}  // namespace talven::runtime
