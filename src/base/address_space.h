// The script address space.
//
// Scripts see 32-bit words; every word that is an address is an offset into
// one contiguous reservation of 4 GiB made once per process. Everything a
// script may address (program areas, stacks, the shared heap, malloc blocks,
// plane pixels, sprite records...) is allocated here, and every access from
// the interpreter or a builtin goes through the checked functions below.
//
//   - Address 0 is null and nothing below kLowLimit (64 KiB) is ever valid.
//   - Memory is committed from kLowLimit upwards as the allocator needs it;
//     addresses at or above limit() are invalid (the pages are not mapped).
//   - The limit only grows, so a range that was valid stays valid: a reader
//     may cache base() and limit() and re-read limit() when a check fails.
//
// The allocator keeps its bookkeeping in host memory, outside the space, so
// a script that scribbles over script memory can corrupt its own data but
// never the allocator. free() and realloc() of an address that is not the
// start of a live block are refused rather than trusted.
//
// Checked access never faults: functions return false / nullopt / nullptr
// and the caller (interpreter or builtin) turns that into its own error.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace talven {

using Addr = std::uint32_t;

static_assert(std::endian::native == std::endian::little,
              "script memory is little-endian and accessed with memcpy");

constexpr Addr kNullAddr = 0;
constexpr Addr kLowLimit = 0x10000;               // first valid address
constexpr std::uint64_t kSpaceTop = 0xFFFF0000u;  // nothing is handed out above

class AddressSpace {
 public:
  // The process-wide space, reserved on first use.
  static AddressSpace& instance();

  std::uint8_t* base() const { return base_; }
  // One past the highest valid address.
  std::uint64_t limit() const { return limit_.load(std::memory_order_acquire); }

  // True when [addr, addr+len) lies wholly inside committed script memory.
  // A zero-length range is valid at any address from kLowLimit to limit().
  bool valid(Addr addr, std::uint64_t len) const {
    return addr >= kLowLimit && addr + len <= limit();
  }

  // Host pointer for a checked range, or nullptr.
  std::uint8_t* span(Addr addr, std::uint64_t len) const {
    if (!valid(addr, len)) return nullptr;
    note_write(addr, len);
    return base_ + addr;
  }

  // Translated-code watch. The script interpreter widens the watched range
  // to cover the script addresses it has decoded into blocks. Every span
  // handed out over that range, and every block the allocator clears, moves
  // or frees over it, advances the code epoch. Spans are handed out before
  // their bytes are written, so an epoch unchanged across a builtin call
  // means the call wrote no translated code.
  void watch_code(Addr lo, Addr hi);
  std::uint32_t code_epoch() const { return code_epoch_.load(std::memory_order_acquire); }
  void note_write(Addr addr, std::uint64_t len) const {
    if (addr < watch_hi_.load(std::memory_order_relaxed) &&
        addr + len > watch_lo_.load(std::memory_order_relaxed))
      code_epoch_.fetch_add(1, std::memory_order_acq_rel);
  }
  // Script address of a host pointer inside the space, or 0.
  Addr address_of(const void* p) const;

  // Allocator. Blocks are 16-byte aligned; size 0 gives a minimal block.
  // Failures (out of space, bad address) return 0 / false.
  Addr alloc(std::uint32_t size);
  Addr zalloc(std::uint32_t size);  // zero-filled
  // realloc(0, n) allocates; realloc(a, 0) frees a and returns 0.
  // On failure the old block is left untouched and 0 is returned.
  Addr realloc(Addr addr, std::uint32_t size);
  bool free(Addr addr);
  // Usable size of a live block, or 0 when addr is not the start of one.
  std::uint32_t block_size(Addr addr) const;

  // Guard checking, for authors (DebugMode). Once enabled, every block
  // allocated gets a guard zone of at least 32 bytes on each side, freed
  // blocks wait in a quarantine before their memory is reused, and all free
  // memory counts as freed. guard_hit() tells whether a write of len bytes
  // at addr would touch a guard zone or freed memory; the interpreter and
  // the writing accessors below refuse such writes. Blocks allocated before
  // enabling keep no guards. It cannot be turned off again.
  void enable_guards();
  bool guards_enabled() const { return guards_.load(std::memory_order_relaxed); }
  bool guard_hit(Addr addr, std::uint64_t len) const;
  // What a refused write of len bytes at addr touched, naming the block and
  // the size it was allocated with.
  std::string describe_guard_hit(Addr addr, std::uint64_t len) const;

  struct Stats {
    std::uint64_t committed = 0;   // bytes mapped read-write
    std::uint64_t in_use = 0;      // bytes in live blocks
    std::uint64_t blocks = 0;      // number of live blocks
    std::uint64_t free_bytes = 0;  // committed bytes in free blocks
  };
  Stats stats() const;

  AddressSpace(const AddressSpace&) = delete;
  AddressSpace& operator=(const AddressSpace&) = delete;

 private:
  AddressSpace();
  ~AddressSpace();
  struct Heap;
  std::uint8_t* base_ = nullptr;
  std::atomic<std::uint64_t> limit_{kLowLimit};
  Heap* heap_ = nullptr;
  std::atomic<bool> guards_{false};
  std::atomic<std::uint64_t> watch_lo_{~std::uint64_t{0}};
  std::atomic<std::uint64_t> watch_hi_{0};
  mutable std::atomic<std::uint32_t> code_epoch_{0};
  std::uint8_t* shadow_ = nullptr;  // one byte per 16-byte granule
  void set_shadow(std::uint64_t from, std::uint64_t to, std::uint8_t value);
  void mark_block(Addr raw, std::uint64_t raw_size, Addr user, std::uint32_t size);
  Addr heap_alloc(std::uint64_t n, std::uint64_t* fresh_from = nullptr);
  Addr alloc_block(std::uint32_t size, std::uint64_t* fresh_from);
  void heap_free(Addr a, std::uint64_t n);
};

// A write refused by guard checking, kept until the trap dispatcher turns it
// into the run-time error of the builtin's caller.
struct GuardFault {
  Addr address = 0;
  std::string what;
};
void record_guard_fault(Addr addr, std::uint64_t len);
std::optional<GuardFault> take_guard_fault();

// Inline so that checked access compiles to a bounds test and a load.
inline AddressSpace& script_space() {
  static AddressSpace& space = AddressSpace::instance();
  return space;
}

// ---- checked access -------------------------------------------------------

inline bool valid_range(Addr addr, std::uint64_t len) { return script_space().valid(addr, len); }

inline std::uint8_t* span(Addr addr, std::uint64_t len) { return script_space().span(addr, len); }

template <typename T>
inline bool load(Addr addr, T& out) {
  const std::uint8_t* p = span(addr, sizeof(T));
  if (!p) return false;
  std::memcpy(&out, p, sizeof(T));
  return true;
}

// A span that is about to be written: as span(), and with guard checking
// on, nullptr (the fault recorded) when the range touches a guard zone or
// freed memory.
inline std::uint8_t* wspan(Addr addr, std::uint64_t len) {
  std::uint8_t* p = span(addr, len);
  if (p && script_space().guards_enabled() && script_space().guard_hit(addr, len)) [[unlikely]] {
    record_guard_fault(addr, len);
    return nullptr;
  }
  return p;
}

template <typename T>
inline bool store(Addr addr, T value) {
  std::uint8_t* p = wspan(addr, sizeof(T));
  if (!p) return false;
  std::memcpy(p, &value, sizeof(T));
  return true;
}

inline bool load8(Addr a, std::uint8_t& v) { return load(a, v); }
inline bool load16(Addr a, std::uint16_t& v) { return load(a, v); }
inline bool load32(Addr a, std::uint32_t& v) { return load(a, v); }
inline bool store8(Addr a, std::uint8_t v) { return store(a, v); }
inline bool store16(Addr a, std::uint16_t v) { return store(a, v); }
inline bool store32(Addr a, std::uint32_t v) { return store(a, v); }

inline std::optional<std::uint32_t> load32(Addr a) {
  std::uint32_t v;
  if (!load(a, v)) return std::nullopt;
  return v;
}

// A zero-terminated string at addr of at most max_len bytes before the
// terminator. Returns the bytes without the terminator, or nullopt when the
// address is invalid or no terminator lies within max_len bytes of valid
// memory.
std::optional<std::string_view> cstr(Addr addr, std::uint32_t max_len = 0xFFFFFFFFu);

// Copies into script memory; false (and nothing written) when the range is
// invalid.
bool write_bytes(Addr dst, const void* src, std::uint32_t len);
bool read_bytes(Addr src, void* dst, std::uint32_t len);
// Writes s and a terminator, truncating to fit capacity bytes in all
// (capacity includes the terminator); false when capacity is 0 or invalid.
bool write_cstr(Addr dst, std::string_view s, std::uint32_t capacity);

// Allocator shorthands on the process-wide space.
inline Addr script_alloc(std::uint32_t n) { return script_space().alloc(n); }
inline Addr script_zalloc(std::uint32_t n) { return script_space().zalloc(n); }
inline Addr script_realloc(Addr a, std::uint32_t n) { return script_space().realloc(a, n); }
inline bool script_free(Addr a) { return script_space().free(a); }

}  // namespace talven
