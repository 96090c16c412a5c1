// Row-parallel loops of the kernels: one static block of rows per thread,
// on the calling thread alone when MultiThreading is 0.
#pragma once

namespace talven::graphics {

template <typename Body>
void for_rows(int y0, int y1, Body&& body) {
  const bool parallel = multithreading() && y1 - y0 > 1;
#pragma omp parallel for schedule(static) if (parallel)
  for (int y = y0; y < y1; ++y) body(y);
}

}  // namespace talven::graphics
