// Machine code pages on Windows: VirtualAlloc read+write, VirtualProtect to
// read+execute, FlushInstructionCache after every copy. Each piece is one
// view whose protections flip (no double mapping).
//
// Unwind records: every mapping has one page more than asked for, after
// the code, holding the region's function table (one entry covering the
// whole region) and its unwind information; the entry's addresses count
// from the region's start, as the table's base. The page is made read-only
// once written, and the table is registered with the system until the
// region is unmapped.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "script/native_memory.h"

namespace talven::script::code_pages {

bool machine_code_allowed() { return true; }

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
      VirtualAlloc(nullptr, bytes + page_bytes(), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
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

#if defined(__x86_64__)

namespace {

constexpr std::uint8_t kUnwindVersion = 1;
constexpr std::uint8_t kPushNonvolatile = 0;  // UWOP_PUSH_NONVOL
constexpr std::size_t kMaxCodes = 16;

// The record page: the region's one function entry, then its unwind
// information (4-byte aligned, as the system reads it).
struct Records {
  RUNTIME_FUNCTION function;
  std::uint8_t version_flags;
  std::uint8_t prologue_bytes;
  std::uint8_t code_count;
  std::uint8_t frame_register;
  std::uint8_t codes[2 * kMaxCodes];  // (offset, op | info << 4), last push first
};
static_assert(offsetof(Records, version_flags) % 4 == 0);

Records* records_of(std::uint8_t* p, std::size_t bytes) {
  return reinterpret_cast<Records*>(p + bytes);
}

}  // namespace

// The gate's codes carry the offset after each push, so a walk from inside
// its prologue undoes only the pushes made. A piece has no prologue: its
// codes all say offset 0, so every push is undone wherever a block stopped.
bool add_unwind_records(std::uint8_t* p, std::size_t bytes, const CodeFrame& frame, bool gate) {
  if (frame.pushes.size() > kMaxCodes || bytes > 0xFFFFFFFFu - sizeof(Records)) return false;
  Records* r = records_of(p, bytes);
  std::memset(r, 0, sizeof(Records));
  r->function.BeginAddress = 0;
  r->function.EndAddress = static_cast<DWORD>(bytes);
  r->function.UnwindData = static_cast<DWORD>(bytes + offsetof(Records, version_flags));
  r->version_flags = kUnwindVersion;
  r->prologue_bytes = gate ? frame.prologue_bytes : 0;
  r->code_count = static_cast<std::uint8_t>(frame.pushes.size());
  std::size_t c = 0;
  for (std::size_t k = frame.pushes.size(); k-- > 0;) {
    const CodeFrame::Push& push = frame.pushes[k];
    r->codes[c++] = gate ? push.end : 0;
    r->codes[c++] = static_cast<std::uint8_t>(kPushNonvolatile | (push.reg << 4));
  }
  DWORD old = 0;
  if (!VirtualProtect(r, page_bytes(), PAGE_READONLY, &old)) return false;
  return RtlAddFunctionTable(&r->function, 1, reinterpret_cast<DWORD64>(p)) != FALSE;
}

void remove_unwind_records(std::uint8_t* p, std::size_t bytes) {
  RtlDeleteFunctionTable(&records_of(p, bytes)->function);
}

#else

// Machine code is made for x86-64 only: nothing here runs inside a frame.
bool add_unwind_records(std::uint8_t*, std::size_t, const CodeFrame&, bool) { return true; }
void remove_unwind_records(std::uint8_t*, std::size_t) {}

#endif

}  // namespace talven::script::code_pages
