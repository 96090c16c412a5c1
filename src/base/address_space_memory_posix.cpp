// Script address space pages on POSIX systems: one PROT_NONE mapping with
// no swap reservation, opened up by mprotect as the allocator grows.
#include <sys/mman.h>

#include "base/address_space_memory.h"

namespace talven::space_memory {

std::uint8_t* reserve_space(std::uint64_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

bool commit_space(std::uint8_t* p, std::uint64_t bytes) {
  return mprotect(p, bytes, PROT_READ | PROT_WRITE) == 0;
}

void discard_space(std::uint8_t* p, std::uint64_t bytes) { madvise(p, bytes, MADV_DONTNEED); }

std::uint8_t* map_zeroed(std::uint64_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

}  // namespace talven::space_memory
