// Memory for machine code: pieces, their cursor and the page protections.
#include "script/native_memory.h"

#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace talven::script {

namespace {

// ---- the system's part (the only mapping and protection calls) -------------

std::size_t page_bytes() {
  static const std::size_t bytes = [] {
    const long p = ::sysconf(_SC_PAGESIZE);
    return p > 0 ? static_cast<std::size_t>(p) : std::size_t{4096};
  }();
  return bytes;
}

// Fresh read+write memory of `bytes` (a multiple of the page size), or null.
std::uint8_t* map_writable(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

// Whole pages [p, p + bytes) become read+write or read+execute.
bool make_writable(std::uint8_t* p, std::size_t bytes) {
  return ::mprotect(p, bytes, PROT_READ | PROT_WRITE) == 0;
}
bool make_executable(std::uint8_t* p, std::size_t bytes) {
  return ::mprotect(p, bytes, PROT_READ | PROT_EXEC) == 0;
}

void unmap(std::uint8_t* p, std::size_t bytes) { ::munmap(p, bytes); }

// The same fresh memory of `bytes` twice: a read+write view to copy code
// into and a read+execute view to run it, so no protection ever changes.
// False where the system has no anonymous shared files (the caller then
// flips protections of one view).
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

// ---- on top of it -------------------------------------------------------------

std::size_t page_floor(std::size_t off) { return off & ~(page_bytes() - 1); }
std::size_t page_ceil(std::size_t off) { return page_floor(off + page_bytes() - 1); }

// Written code reaches the instruction fetch of this thread (a no-op where
// the caches are coherent, as on x86-64).
void flush_instruction_cache(std::uint8_t* p, std::size_t n) {
  __builtin___clear_cache(reinterpret_cast<char*>(p), reinterpret_cast<char*>(p + n));
}

}  // namespace

NativeArena::~NativeArena() {
  for (const Piece& piece : pieces_) {
    unmap(piece.base, kPieceBytes);
    if (piece.write) unmap(piece.write, kPieceBytes);
  }
}

void* NativeArena::add(const std::uint8_t* code, std::size_t n) {
  if (broken_ || n == 0 || n > kPieceBytes) return nullptr;
  if (pieces_.empty() || kPieceBytes - pieces_.back().used < n) {
    if (bytes_mapped() + kPieceBytes > kLimitBytes) return nullptr;
    std::uint8_t* write = nullptr;
    std::uint8_t* base = nullptr;
    if (!map_twice(kPieceBytes, write, base)) {
      write = nullptr;
      base = map_writable(kPieceBytes);
      if (!base) return nullptr;
    }
    pieces_.push_back(Piece{base, write, 0, 0});
  }
  Piece& piece = pieces_.back();
  const std::size_t at = piece.used;
  if (piece.write) {
    std::memcpy(piece.write + at, code, n);
    flush_instruction_cache(piece.base + at, n);
    piece.used = (at + n + kAlign - 1) & ~(kAlign - 1);
    return piece.base + at;
  }
  const std::size_t first_page = page_floor(at);
  // The page the block starts in may hold the end of the block before it.
  if (first_page < piece.exec_end &&
      !make_writable(piece.base + first_page, piece.exec_end - first_page))
    return nullptr;  // nothing changed: the earlier code is still executable
  std::memcpy(piece.base + at, code, n);
  flush_instruction_cache(piece.base + at, n);
  const std::size_t end_page = page_ceil(at + n);
  if (!make_executable(piece.base + first_page, end_page - first_page)) {
    broken_ = true;
    return nullptr;
  }
  piece.exec_end = end_page;
  piece.used = (at + n + kAlign - 1) & ~(kAlign - 1);  // at most kPieceBytes
  return piece.base + at;
}

namespace native {

void* publish_sealed_code(const std::uint8_t* code, std::size_t n) {
  if (n == 0) return nullptr;
  const std::size_t bytes = page_ceil(n);
  std::uint8_t* p = map_writable(bytes);
  if (!p) return nullptr;
  std::memcpy(p, code, n);
  flush_instruction_cache(p, n);
  if (!make_executable(p, bytes)) {
    unmap(p, bytes);
    return nullptr;
  }
  return p;
}

}  // namespace native

}  // namespace talven::script
