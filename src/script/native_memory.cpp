// Memory for machine code: pieces, their cursor and the page protections.
#include "script/native_memory.h"

#include <cstring>

namespace talven::script {

namespace {

using namespace code_pages;

std::size_t page_floor(std::size_t off) { return off & ~(page_bytes() - 1); }
std::size_t page_ceil(std::size_t off) { return page_floor(off + page_bytes() - 1); }

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
