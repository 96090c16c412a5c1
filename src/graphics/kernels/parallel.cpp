#include "graphics/kernels/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace talven::graphics {
namespace {

// The worker pool. One loop at a time owns it (`busy`); a loop hands out
// blocks through an atomic counter that the workers and the caller share,
// and the caller sleeps until the last block is done and every worker that
// took up the loop has let go of it (so none can touch the caller's job
// once it has returned).
class Pool {
 public:
  Pool() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = std::min(cores, 64u) - 1;
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
  }
  ~Pool() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_cv_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  int width() const { return int(threads_.size()) + 1; }

  bool run(int count, void (*block)(void*, int), void* context) {
    if (threads_.empty() || count <= 0) return false;
    std::unique_lock busy(busy_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    {
      std::lock_guard lock(mutex_);
      block_ = block;
      context_ = context;
      count_ = count;
      next_.store(0, std::memory_order_relaxed);
      left_ = count;
      ++generation_;
    }
    wake_cv_.notify_all();
    int done = claim_and_run(block, context, count);
    std::unique_lock lock(mutex_);
    left_ -= done;
    done_cv_.wait(lock, [this] { return left_ == 0 && active_ == 0; });
    // A worker that wakes late finds no job rather than this finished one.
    count_ = 0;
    context_ = nullptr;
    return true;
  }

 private:
  int claim_and_run(void (*block)(void*, int), void* context, int count) {
    int done = 0;
    for (int b; (b = next_.fetch_add(1, std::memory_order_relaxed)) < count; ++done)
      block(context, b);
    return done;
  }

  void work() {
    std::uint64_t seen = 0;
    for (;;) {
      void (*block)(void*, int);
      void* context;
      int count;
      {
        std::unique_lock lock(mutex_);
        wake_cv_.wait(lock, [&] { return quit_ || generation_ != seen; });
        if (quit_) return;
        seen = generation_;
        // A loop that has already finished: its caller may start the next
        // one at any moment, and a claim now would take a block of that one.
        if (count_ == 0) continue;
        block = block_;
        context = context_;
        count = count_;
        ++active_;
      }
      int done = claim_and_run(block, context, count);
      std::lock_guard lock(mutex_);
      left_ -= done;
      --active_;
      if (left_ == 0 && active_ == 0) done_cv_.notify_one();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex busy_;   // held by the loop that owns the pool
  std::mutex mutex_;  // guards the job fields below
  std::condition_variable wake_cv_, done_cv_;
  bool quit_ = false;
  std::uint64_t generation_ = 0;
  void (*block_)(void*, int) = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
  int left_ = 0;    // blocks not yet done
  int active_ = 0;  // workers between taking up the loop and letting go
  std::atomic<int> next_{0};
};

Pool& pool() {
  static Pool p;
  return p;
}

}  // namespace

bool run_parallel_blocks(int count, void (*block)(void*, int), void* context) {
  return pool().run(count, block, context);
}

int parallel_width() { return pool().width(); }

}  // namespace talven::graphics
