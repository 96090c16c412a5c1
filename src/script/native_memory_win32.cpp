// Machine code pages on Windows: VirtualAlloc read+write, VirtualProtect to
// read+execute, FlushInstructionCache after every copy. Each piece is one
// view whose protections flip (no double mapping).
#include <windows.h>

#include "script/native_memory.h"

namespace talven::script::code_pages {

// Windows runs the interpreter only: the x86-64 lowering follows the
// System V calling convention (argument and callee-saved registers differ
// on Windows) and publishes no unwind information, so an exception or a
// stack walk through generated code would find nothing to unwind with.
bool machine_code_allowed() { return false; }

std::size_t page_bytes() {
  static const std::size_t bytes = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize ? static_cast<std::size_t>(info.dwPageSize) : std::size_t{4096};
  }();
  return bytes;
}

std::uint8_t* map_writable(std::size_t bytes) {
  return static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

bool make_writable(std::uint8_t* p, std::size_t bytes) {
  DWORD old = 0;
  return VirtualProtect(p, bytes, PAGE_READWRITE, &old) != 0;
}
bool make_executable(std::uint8_t* p, std::size_t bytes) {
  DWORD old = 0;
  return VirtualProtect(p, bytes, PAGE_EXECUTE_READ, &old) != 0;
}

void unmap(std::uint8_t* p, std::size_t) { VirtualFree(p, 0, MEM_RELEASE); }

bool map_twice(std::size_t, std::uint8_t*&, std::uint8_t*&) { return false; }

void flush_instruction_cache(std::uint8_t* p, std::size_t n) {
  FlushInstructionCache(GetCurrentProcess(), p, n);
}

}  // namespace talven::script::code_pages
