#include "runtime/main_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "base/messages.h"
#include "runtime/threads_system.h"

namespace talven::runtime {

namespace {

struct Call {
  MainThreadFunction fn;
  const std::uint32_t* words;
  // The builtin call the caller serves: messages the operation reports on
  // the main thread name it, as if reported by the caller.
  const BuiltinCallSite* site = nullptr;
  std::uint32_t result = 0;
  bool done = false;
};

std::mutex queue_mutex;
std::condition_variable done_cv;
std::deque<Call*> queue;
bool closed = true;
std::unordered_map<std::uint32_t, MainThreadHandler> handlers;
std::thread::id main_id;
void (*wake)() = nullptr;

// A numbered message as an operation: words are {message, wparam, lparam}.
std::uint32_t serve_message(const std::uint32_t* words) {
  MainThreadHandler h = nullptr;
  {
    std::lock_guard lock(queue_mutex);
    auto it = handlers.find(words[0]);
    if (it != handlers.end()) h = it->second;
  }
  return h ? static_cast<std::uint32_t>(h(words[1], words[2])) : 0;
}

}  // namespace

void set_main_thread_handler(std::uint32_t message, MainThreadHandler handler) {
  std::lock_guard lock(queue_mutex);
  if (handler) handlers[message] = handler;
  else handlers.erase(message);
}

void bind_main_thread() {
  main_id = std::this_thread::get_id();
  use_fine_timer();
}
bool is_main_thread() { return std::this_thread::get_id() == main_id; }
void set_main_thread_waker(void (*waker)()) { wake = waker; }

std::uint32_t run_on_main_thread(MainThreadFunction fn, const std::uint32_t* words) {
  std::unique_lock lock(queue_mutex);
  if (closed) return 0;
  if (is_main_thread()) {
    lock.unlock();
    return fn(words);
  }
  Call call{fn, words, current_builtin_call()};
  queue.push_back(&call);
  lock.unlock();
  if (wake) wake();
  lock.lock();
  done_cv.wait(lock, [&] { return call.done; });
  return call.result;
}

std::int32_t main_thread_call(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  const std::uint32_t words[3] = {message, wparam, lparam};
  return static_cast<std::int32_t>(run_on_main_thread(serve_message, words));
}

int serve_main_thread_calls() {
  int served = 0;
  for (;;) {
    Call* call;
    {
      std::lock_guard lock(queue_mutex);
      if (queue.empty()) return served;
      call = queue.front();
      queue.pop_front();
    }
    std::uint32_t r;
    {
      BuiltinCallScope scope(call->site);
      r = call->fn(call->words);
    }
    {
      std::lock_guard lock(queue_mutex);
      call->result = r;
      call->done = true;
    }
    done_cv.notify_all();
    ++served;
  }
}

void close_main_thread_calls() {
  std::lock_guard lock(queue_mutex);
  closed = true;
  for (Call* call : queue) call->done = true;  // answer 0
  queue.clear();
  done_cv.notify_all();
}

void open_main_thread_calls() {
  std::lock_guard lock(queue_mutex);
  closed = false;
}

}  // namespace talven::runtime
