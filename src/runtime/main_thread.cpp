#include "runtime/main_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace talven::runtime {

namespace {

struct Call {
  std::uint32_t message, wparam, lparam;
  std::int32_t result = 0;
  bool done = false;
};

std::mutex queue_mutex;
std::condition_variable done_cv;
std::deque<Call*> queue;
bool closed = false;
std::unordered_map<std::uint32_t, MainThreadHandler> handlers;
std::thread::id main_id;
void (*wake)() = nullptr;

std::int32_t run(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  MainThreadHandler h = nullptr;
  {
    std::lock_guard lock(queue_mutex);
    auto it = handlers.find(message);
    if (it != handlers.end()) h = it->second;
  }
  return h ? h(wparam, lparam) : 0;
}

}  // namespace

void set_main_thread_handler(std::uint32_t message, MainThreadHandler handler) {
  std::lock_guard lock(queue_mutex);
  if (handler) handlers[message] = handler;
  else handlers.erase(message);
}

void bind_main_thread() { main_id = std::this_thread::get_id(); }
bool on_main_thread() { return std::this_thread::get_id() == main_id; }
void set_main_thread_waker(void (*waker)()) { wake = waker; }

std::int32_t main_thread_call(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  if (on_main_thread()) return run(message, wparam, lparam);
  Call call{message, wparam, lparam};
  std::unique_lock lock(queue_mutex);
  if (closed) return 0;
  queue.push_back(&call);
  lock.unlock();
  if (wake) wake();
  lock.lock();
  done_cv.wait(lock, [&] { return call.done; });
  return call.result;
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
    std::int32_t r = run(call->message, call->wparam, call->lparam);
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
