// Script address space pages on Windows: one MEM_RESERVE region committed
// piecewise with MEM_COMMIT. Freed runs are handed back with MEM_RESET,
// which keeps them committed and accessible (another thread may still read
// a stale pointer into them; that must not fault) while letting the system
// drop their contents instead of paging them out.
#include <windows.h>

#include "base/address_space_memory.h"

namespace talven::space_memory {

std::uint8_t* reserve_space(std::uint64_t bytes) {
  void* p = VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE, PAGE_NOACCESS);
  return static_cast<std::uint8_t*>(p);
}

bool commit_space(std::uint8_t* p, std::uint64_t bytes) {
  return VirtualAlloc(p, static_cast<SIZE_T>(bytes), MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void discard_space(std::uint8_t* p, std::uint64_t bytes) {
  VirtualAlloc(p, static_cast<SIZE_T>(bytes), MEM_RESET, PAGE_READWRITE);
}

std::uint8_t* map_zeroed(std::uint64_t bytes) {
  // Committed pages take no physical memory until they are touched.
  void* p =
      VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  return static_cast<std::uint8_t*>(p);
}

}  // namespace talven::space_memory
