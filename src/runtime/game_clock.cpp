#include "runtime/game_clock.h"
#include "runtime/local_time.h"

#include <array>
#include <ctime>
#include <atomic>
#include <chrono>
#include <mutex>

namespace talven::runtime {

namespace {

std::atomic<TickSource> source{nullptr};

// The clock is changed by script threads (under the builtin lock) and by the
// main thread when the application is paused, so it has a lock of its own.
std::mutex clock_mutex;
std::uint32_t offset = 0;
std::int32_t pause_nesting = 0;
std::uint32_t pause_start = 0;
std::array<std::uint32_t, 256> counters{};

std::uint32_t fps_window_start = 0;
std::int32_t fps_calls = 0;
std::int32_t fps_last = 0;

std::uint32_t now() {
  TickSource s = source.load(std::memory_order_relaxed);
  return s ? s() : tick_count();
}

std::uint32_t clock_locked() { return pause_nesting > 0 ? pause_start - offset : now() - offset; }

}  // namespace

std::uint32_t tick_count() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void set_tick_source(TickSource s) { source.store(s, std::memory_order_relaxed); }

void init_game_clock() {
  std::lock_guard lock(clock_mutex);
  offset = 0;
  pause_nesting = 0;
  pause_start = 0;
  counters.fill(0);
  fps_window_start = 0;
  fps_calls = 0;
  fps_last = 0;
}

std::uint32_t game_clock() {
  std::lock_guard lock(clock_mutex);
  return clock_locked();
}

int pause_game_clock(bool pause) {
  std::lock_guard lock(clock_mutex);
  if (pause) {
    if (pause_nesting++ == 0) pause_start = now();
    return 1;
  }
  if (pause_nesting <= 0) return 0;
  if (--pause_nesting == 0) offset += now() - pause_start;
  return 1;
}

std::int32_t getcount(std::int32_t counter) {
  if (counter < 0 || counter > 255) return 0;
  std::lock_guard lock(clock_mutex);
  return static_cast<std::int32_t>(clock_locked() - counters[counter]);
}

std::int32_t setcount(std::int32_t counter, std::int32_t value) {
  if (counter < 0 || counter > 255) return 0;
  std::lock_guard lock(clock_mutex);
  counters[counter] = clock_locked() - static_cast<std::uint32_t>(value);
  return 1;
}

std::int32_t fps() {
  std::lock_guard lock(clock_mutex);
  std::uint32_t t = now();
  // Signed difference: the window logic survives the tick count wrapping.
  if (static_cast<std::int32_t>(t - fps_window_start) < 1000) {
    ++fps_calls;
    return fps_last;
  }
  fps_last = fps_calls;
  fps_window_start = t;
  fps_calls = 0;
  return fps_last;
}

bool bi_gettime(Addr record) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  local_time(t, local);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::uint16_t fields[8] = {static_cast<std::uint16_t>(local.tm_year + 1900),
                                   static_cast<std::uint16_t>(local.tm_mon + 1),
                                   static_cast<std::uint16_t>(local.tm_wday),
                                   static_cast<std::uint16_t>(local.tm_mday),
                                   static_cast<std::uint16_t>(local.tm_hour),
                                   static_cast<std::uint16_t>(local.tm_min),
                                   static_cast<std::uint16_t>(local.tm_sec),
                                   static_cast<std::uint16_t>(ms)};
  // A bad record address fails without writing.
  return write_bytes(record, fields, sizeof fields);
}

}  // namespace talven::runtime
