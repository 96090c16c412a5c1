// Row-parallel loops of the kernels: one static block of rows per thread,
// on the calling thread alone when MultiThreading is 0 or the work is small.
#pragma once

#include <cstdint>

namespace talven::graphics {

// Below this many pixels starting the thread team costs more than it saves
// (a 32x32 sprite is drawn about fifty times faster on one thread).
constexpr std::int64_t kParallelPixels = 32 * 1024;

// `row_pixels` is the work of one iteration in pixels; callers whose
// iterations are large blocks pass kParallelPixels so they always split.
template <typename Body>
void for_rows(int y0, int y1, std::int64_t row_pixels, Body&& body) {
  const bool parallel =
      multithreading() && y1 - y0 > 1 && std::int64_t(y1 - y0) * row_pixels >= kParallelPixels;
#pragma omp parallel for schedule(static) if (parallel)
  for (int y = y0; y < y1; ++y) body(y);
}

}  // namespace talven::graphics
