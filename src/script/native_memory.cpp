// Memory for machine code: pieces, their cursor and the page protections.
#include "script/native_memory.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "script/native_code.h"

namespace talven::script {

namespace {

using namespace code_pages;

std::size_t page_floor(std::size_t off) { return off & ~(page_bytes() - 1); }
std::size_t page_ceil(std::size_t off) { return page_floor(off + page_bytes() - 1); }

// Every region machine code runs from: [first, second).
struct CodeRegions {
  std::mutex lock;
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> list;
};
CodeRegions& code_regions() {
  static CodeRegions* regions = new CodeRegions;  // fault reports may read it at exit
  return *regions;
}

// Records and lists a fresh region; false (nothing kept) when the system
// refused the records.
bool enlist(std::uint8_t* p, std::size_t bytes, const CodeFrame& frame, bool gate) {
  if (!add_unwind_records(p, bytes, frame, gate)) return false;
  CodeRegions& regions = code_regions();
  const auto lo = reinterpret_cast<std::uintptr_t>(p);
  std::lock_guard<std::mutex> hold(regions.lock);
  regions.list.emplace_back(lo, lo + bytes);
  return true;
}

void delist(std::uint8_t* p, std::size_t bytes) {
  CodeRegions& regions = code_regions();
  {
    std::lock_guard<std::mutex> hold(regions.lock);
    const auto lo = reinterpret_cast<std::uintptr_t>(p);
    std::erase_if(regions.list, [&](const auto& r) { return r.first == lo; });
  }
  remove_unwind_records(p, bytes);
}

}  // namespace

NativeArena::NativeArena() : frame_(native::gate_frame()) {}

NativeArena::~NativeArena() {
  for (const Piece& piece : pieces_) {
    delist(piece.base, kPieceBytes);
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
    if (!enlist(base, kPieceBytes, frame_, false)) {
      unmap(base, kPieceBytes);
      if (write) unmap(write, kPieceBytes);
      return nullptr;
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

void* publish_sealed_code(const std::uint8_t* code, std::size_t n, const CodeFrame& frame) {
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
  if (!enlist(p, bytes, frame, true)) {
    unmap(p, bytes);
    return nullptr;
  }
  return p;
}

}  // namespace native

std::optional<bool> native_code_holds(const void* pc) {
  CodeRegions& regions = code_regions();
  std::unique_lock<std::mutex> hold(regions.lock, std::try_to_lock);
  if (!hold.owns_lock()) return std::nullopt;
  const auto at = reinterpret_cast<std::uintptr_t>(pc);
  return std::any_of(regions.list.begin(), regions.list.end(),
                     [&](const auto& r) { return at >= r.first && at < r.second; });
}

}  // namespace talven::script
