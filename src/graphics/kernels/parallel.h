// Row-parallel loops of the kernels: the rows are cut into one contiguous
// block per processor and the blocks run on a small pool of our own worker
// threads, the calling thread taking a share. Workers that have nothing to
// do sleep on a condition variable (they never spin), so a busy machine
// loses nothing to them. The loop runs on the calling thread alone when
// MultiThreading is 0, when the work is small, or when the pool is already
// busy with another loop (nested or concurrent loops never wait for it).
#pragma once

#include <cstdint>

namespace talven::graphics {

// Below this many pixels waking the workers costs more than it saves
// (a 32x32 sprite is drawn about fifty times faster on one thread).
constexpr std::int64_t kParallelPixels = 32 * 1024;

bool multithreading();

// Runs block(context, b) for every b in [0, count) on the pool and the
// calling thread; returns when all have run. False (nothing run) when the
// pool is busy or has no workers.
bool run_parallel_blocks(int count, void (*block)(void* context, int b), void* context);

// The number of blocks a parallel loop is cut into (workers + 1).
int parallel_width();

// `row_pixels` is the work of one iteration in pixels; callers whose
// iterations are large blocks pass kParallelPixels so they always split.
template <typename Body>
void for_rows(int y0, int y1, std::int64_t row_pixels, Body&& body) {
  const int rows = y1 - y0;
  if (multithreading() && rows > 1 && std::int64_t(rows) * row_pixels >= kParallelPixels) {
    const int blocks = rows < parallel_width() ? rows : parallel_width();
    struct Job {
      Body* body;
      int y0, rows, blocks;
    } job{&body, y0, rows, blocks};
    auto run_block = [](void* context, int b) {
      Job& j = *static_cast<Job*>(context);
      const int from = j.y0 + int(std::int64_t(j.rows) * b / j.blocks);
      const int to = j.y0 + int(std::int64_t(j.rows) * (b + 1) / j.blocks);
      for (int y = from; y < to; ++y) (*j.body)(y);
    };
    if (run_parallel_blocks(blocks, run_block, &job)) return;
  }
  for (int y = y0; y < y1; ++y) body(y);
}

}  // namespace talven::graphics
