// Machine code pages on POSIX systems: anonymous mappings and mprotect, and
// where memfd_create exists, one shared file mapped twice (write view and
// execute view). No unwind records: a fault in machine code ends the
// process with the system's own report, which needs no stack walk.
#include <sys/mman.h>
#include <unistd.h>

#include "script/native_memory.h"

namespace talven::script::code_pages {

// The lowering follows the calling convention of these systems.
bool machine_code_allowed() { return true; }

std::size_t page_bytes() {
  static const std::size_t bytes = [] {
    const long p = ::sysconf(_SC_PAGESIZE);
    return p > 0 ? static_cast<std::size_t>(p) : std::size_t{4096};
  }();
  return bytes;
}

std::uint8_t* map_writable(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

bool make_writable(std::uint8_t* p, std::size_t bytes) {
  return ::mprotect(p, bytes, PROT_READ | PROT_WRITE) == 0;
}
bool make_executable(std::uint8_t* p, std::size_t bytes) {
  return ::mprotect(p, bytes, PROT_READ | PROT_EXEC) == 0;
}

void unmap(std::uint8_t* p, std::size_t bytes) { ::munmap(p, bytes); }

bool map_twice(std::size_t bytes, std::uint8_t*& write_view, std::uint8_t*& exec_view) {
  const int fd = ::memfd_create("talven-code", MFD_CLOEXEC);
  if (fd < 0) return false;
  void* w = MAP_FAILED;
  void* x = MAP_FAILED;
  if (::ftruncate(fd, static_cast<off_t>(bytes)) == 0) {
    w = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (w != MAP_FAILED) x = ::mmap(nullptr, bytes, PROT_READ | PROT_EXEC, MAP_SHARED, fd, 0);
  }
  ::close(fd);
  if (x == MAP_FAILED) {
    if (w != MAP_FAILED) ::munmap(w, bytes);
    return false;
  }
  write_view = static_cast<std::uint8_t*>(w);
  exec_view = static_cast<std::uint8_t*>(x);
  return true;
}

// A no-op where the caches are coherent, as on x86-64.
void flush_instruction_cache(std::uint8_t* p, std::size_t n) {
  __builtin___clear_cache(reinterpret_cast<char*>(p), reinterpret_cast<char*>(p + n));
}

bool add_unwind_records(std::uint8_t*, std::size_t, const CodeFrame&, bool) { return true; }
void remove_unwind_records(std::uint8_t*, std::size_t) {}

}  // namespace talven::script::code_pages
