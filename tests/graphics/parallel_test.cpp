// The pool behind the parallel row loops: every block runs exactly once,
// loop after loop, and a worker that wakes late never takes a block of the
// next loop (which once left a caller waiting for ever).
#include "graphics/kernels/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace talven::graphics {
namespace {

TEST(ParallelPool, EveryBlockOfEveryLoopRunsOnce) {
  std::atomic<bool> finished{false};
  // A lost block would leave the loop below waiting for ever: fail instead.
  std::thread([&finished] {
    for (int i = 0; i < 600 && !finished; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!finished) {
      std::fprintf(stderr, "the pool lost a block: a loop never finished\n");
      std::_Exit(1);
    }
  }).detach();

  struct Job {
    std::vector<std::atomic<int>> runs;
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> elsewhere{0};
    int work = 0;
    explicit Job(int n) : runs(std::size_t(n)) {}
  };
  int by_workers = 0;
  for (int loop = 0; loop < 20000; ++loop) {
    const int blocks = 1 + loop % 7;
    Job job(blocks);
    job.work = (loop % 3) * 400;  // some loops long enough for the workers to join
    const bool ran = run_parallel_blocks(
        blocks,
        [](void* context, int b) {
          Job& j = *static_cast<Job*>(context);
          volatile int sink = 0;
          for (int i = 0; i < j.work; ++i) sink = sink + i;
          j.runs[std::size_t(b)]++;
          if (std::this_thread::get_id() != j.caller) j.elsewhere++;
        },
        &job);
    if (!ran) continue;  // one core: no workers, nothing to check
    for (int b = 0; b < blocks; ++b)
      ASSERT_EQ(job.runs[std::size_t(b)].load(), 1) << "loop " << loop << " block " << b;
    by_workers += job.elsewhere;
  }
  finished = true;
  if (parallel_width() > 1) {
    EXPECT_GT(by_workers, 0) << "the workers never took a block";
  }
}

}  // namespace
}  // namespace talven::graphics
