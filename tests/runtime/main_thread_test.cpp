#include "runtime/main_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace talven::runtime {
namespace {

std::int32_t add_args(std::uint32_t w, std::uint32_t l) { return static_cast<std::int32_t>(w + l); }

std::thread::id served_on;
std::int32_t record_thread(std::uint32_t, std::uint32_t) {
  served_on = std::this_thread::get_id();
  return 1;
}

TEST(MainThreadCalls, ScriptThreadsWaitForTheMainThreadToServe) {
  bind_main_thread();
  open_main_thread_calls();
  set_main_thread_handler(1167, add_args);
  set_main_thread_handler(1168, record_thread);
  EXPECT_EQ(main_thread_call(1167, 2, 3), 5);  // on the main thread: served at once

  std::atomic<int> finished{0};
  std::vector<std::thread> callers;
  std::vector<std::int32_t> results(8, -1);
  for (int i = 0; i < 8; ++i) {
    callers.emplace_back([i, &results, &finished] {
      results[i] = main_thread_call(1167, static_cast<std::uint32_t>(i), 100);
      finished++;
    });
  }
  std::thread other([] { main_thread_call(1168, 0, 0); });
  while (finished.load() < 8) serve_main_thread_calls();
  while (served_on == std::thread::id()) serve_main_thread_calls();
  for (auto& t : callers) t.join();
  other.join();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(results[i], 100 + i);
  EXPECT_EQ(served_on, std::this_thread::get_id());

  EXPECT_EQ(main_thread_call(9999, 1, 1), 0);  // no serving function

  // After closing, waiting callers are released with 0.
  std::atomic<std::int32_t> late{-1};
  std::thread waiter([&] { late = main_thread_call(1167, 1, 1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  close_main_thread_calls();
  waiter.join();
  EXPECT_EQ(late.load(), 0);
  open_main_thread_calls();
  set_main_thread_handler(1167, nullptr);
  set_main_thread_handler(1168, nullptr);
}

}  // namespace
}  // namespace talven::runtime
