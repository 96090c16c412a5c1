// Memory for machine code, never writable and executable at once.
//
// A translation's code space (NativeArena) is a list of 1 MiB pieces,
// at most 32 MiB for one translation (one program area on one thread).
// Blocks are appended one after the other at 16-byte steps.
//
// Where the system can map the same memory twice, a piece has a read+write
// view that blocks are copied into and a read+execute view they run from;
// no protection changes after that. Otherwise a piece is one view,
// mapped read+write; after a block has been copied in, the pages it covers
// are made read+execute (after the instruction cache has been told) before
// anything can run them. Pages past the last block stay read+write and
// hold no code yet. A block that starts inside a page already holding
// code makes that one page writable again for its copy alone, so one
// block costs at most two protection changes, never one per instruction.
//
// Making a page writable again is safe because a translation's code runs
// only on the thread that owns the translation, and that thread compiles
// only from the interpreter: machine code calls nothing (it leaves through
// the gate before every builtin call), so none of the piece's code runs
// while it is written. If a page cannot be made executable again, the
// arena reports itself broken; the caller then drops every block's code.
//
// The gate (entry and exit sequence shared by all threads) is published
// once in a page of its own and never written again.
//
// Stack walks: every block runs inside the frame the gate built (the gate
// jumps to it with its pushes done, and blocks touch the stack pointer
// never). Each region of code, the gate's page and every piece, gets the
// system's unwind records for that frame when it is mapped (where the
// system keeps such tables) and loses them before it is unmapped, so a
// fault inside machine code unwinds to the code that entered the gate.
// Every region is also listed (native_code_holds) for fault reports.
//
// All mapping, protection and unwind-table calls of machine code are the
// code_pages functions below, one file per system: native_memory_posix.cpp and
// native_memory_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talven::script {

// The frame all machine code runs in, as the gate builds it: the host
// registers it pushes, in order, each with the gate's code offset right
// after its push.
struct CodeFrame {
  struct Push {
    int reg;           // host register number
    std::uint8_t end;  // gate offset after the push
  };
  std::vector<Push> pushes;
  std::uint8_t prologue_bytes = 0;  // gate offset after the last push
};

struct NativeArena {
  static constexpr std::size_t kPieceBytes = 1u << 20;
  static constexpr std::size_t kLimitBytes = 32u << 20;
  static constexpr std::size_t kAlign = 16;

  // Pieces get unwind records for `frame` (the gate's frame by default).
  NativeArena();
  explicit NativeArena(const CodeFrame& frame) : frame_(frame) {}
  NativeArena(const NativeArena&) = delete;
  NativeArena& operator=(const NativeArena&) = delete;
  ~NativeArena();

  // Copies n bytes of finished code in and makes them executable: their
  // address, or null when the code is larger than a piece, the limit is
  // reached, or the system refused (see broken()).
  void* add(const std::uint8_t* code, std::size_t n);

  // Whether code added earlier may have lost its execute permission (a
  // page could not be protected again): nothing of the arena may run then.
  bool broken() const { return broken_; }
  std::size_t bytes_mapped() const { return pieces_.size() * kPieceBytes; }

 private:
  struct Piece {
    std::uint8_t* base;    // where the code runs
    std::uint8_t* write;   // the read+write view of the same memory, or null
    std::size_t used;      // bytes holding code (16-byte steps)
    std::size_t exec_end;  // pages below this offset are read+execute
  };
  std::vector<Piece> pieces_;
  CodeFrame frame_;
  bool broken_ = false;
};

// The system's part: the only mapping and protection calls of machine code.
namespace code_pages {

// Whether this system may run the generated code at all.
bool machine_code_allowed();

std::size_t page_bytes();

// Fresh read+write memory of `bytes` (a multiple of the page size), or null.
// Where the system keeps unwind tables, the mapping has room for the
// region's records besides (add_unwind_records).
std::uint8_t* map_writable(std::size_t bytes);

// Whole pages [p, p + bytes) become read+write or read+execute.
bool make_writable(std::uint8_t* p, std::size_t bytes);
bool make_executable(std::uint8_t* p, std::size_t bytes);

void unmap(std::uint8_t* p, std::size_t bytes);

// The same fresh memory of `bytes` twice: a read+write view to copy code
// into and a read+execute view to run it, so no protection ever changes.
// False where the system cannot (the caller then flips protections of one
// view).
bool map_twice(std::size_t bytes, std::uint8_t*& write_view, std::uint8_t*& exec_view);

// Written code reaches the instruction fetch of this thread.
void flush_instruction_cache(std::uint8_t* p, std::size_t n);

// Unwind records for the region [p, p + bytes): all of it runs inside
// `frame`, or (gate) it is the gate, whose first frame.prologue_bytes build
// the frame. True where the system needs no records. A system that keeps
// records has them in the room map_writable leaves (it offers no
// map_twice). Removed before the region is unmapped.
bool add_unwind_records(std::uint8_t* p, std::size_t bytes, const CodeFrame& frame, bool gate);
void remove_unwind_records(std::uint8_t* p, std::size_t bytes);

}  // namespace code_pages

namespace native {

// Maps pages for `n` bytes of gate code that builds `frame`, copies them in
// and makes them read+execute for good: their address, or null.
void* publish_sealed_code(const std::uint8_t* code, std::size_t n, const CodeFrame& frame);

// The frame of the published gate (no pushes when there is no gate).
const CodeFrame& gate_frame();

}  // namespace native

}  // namespace talven::script
