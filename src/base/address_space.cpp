// Reservation, commit and the allocator of the script address space.
//
// The allocator is best fit over free extents kept in two ordered sets (by
// address for coalescing, by size for the fit), with live blocks in a hash
// map. All of it lives in host memory. Script programs allocate rarely
// compared with how often they access memory, so clarity and robustness win
// over a few nanoseconds here; access itself is the inline path in the header.
#include "base/address_space.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "base/address_space_memory.h"

namespace talven {

namespace {

constexpr std::uint64_t kReserve = std::uint64_t{1} << 32;
constexpr std::uint64_t kCommitStep = 1u << 20;  // grow in 1 MiB steps
constexpr std::uint64_t kAlign = 16;
constexpr std::uint64_t kReleaseAbove = 256u << 10;  // give large free runs back to the OS
constexpr std::uint64_t kPage = 4096;

std::uint64_t round_up(std::uint64_t n, std::uint64_t a) { return (n + a - 1) / a * a; }

// Guard checking: one shadow byte per 16-byte granule. 0: writable;
// 1..15: only the first that many bytes are writable (a block's last
// granule); kShadowGuard: a guard zone; kShadowFreed: freed or never
// allocated.
constexpr std::uint64_t kGranule = 16;
constexpr std::uint8_t kShadowGuard = 0x40;
constexpr std::uint8_t kShadowFreed = 0x80;
constexpr std::uint64_t kGuardBytes = 32;              // before each block, and at least this after
constexpr std::uint64_t kQuarantineBytes = 16u << 20;  // freed blocks held back from reuse
constexpr std::size_t kQuarantineBlocks = 4096;

std::uint8_t shadow_at(const std::uint8_t* shadow, std::uint64_t granule) {
  return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(shadow[granule]))
      .load(std::memory_order_relaxed);
}

}  // namespace

struct AddressSpace::Heap {
  mutable std::mutex mutex;
  std::map<Addr, std::uint64_t> free_by_addr;             // start -> size
  std::set<std::pair<std::uint64_t, Addr>> free_by_size;  // (size, start)
  std::unordered_map<Addr, std::uint32_t> live;           // start -> rounded size
  std::uint64_t in_use = 0;
  std::uint64_t top = kLowLimit;  // end of committed memory

  // Blocks allocated with guards, by the start of their whole extent
  // (guards included); freed ones stay here while in the quarantine.
  struct Guarded {
    Addr user;
    std::uint32_t size;  // as allocated
    std::uint64_t extent;
    bool freed;
  };
  std::map<Addr, Guarded> guarded;
  std::deque<Addr> quarantine;
  std::uint64_t quarantine_bytes = 0;

  // The guarded block whose user address is a, or nullptr.
  Guarded* guarded_user(Addr a) {
    if (a < kGuardBytes) return nullptr;
    auto it = guarded.find(static_cast<Addr>(a - kGuardBytes));
    return it != guarded.end() && it->second.user == a ? &it->second : nullptr;
  }

  void add_free(Addr a, std::uint64_t n) {
    free_by_addr.emplace(a, n);
    free_by_size.emplace(n, a);
  }
  void remove_free(std::map<Addr, std::uint64_t>::iterator it) {
    free_by_size.erase({it->second, it->first});
    free_by_addr.erase(it);
  }
  // Inserts a free extent, merging with its neighbours; returns the merged extent.
  std::pair<Addr, std::uint64_t> release(Addr a, std::uint64_t n) {
    auto next = free_by_addr.lower_bound(a);
    if (next != free_by_addr.end() && a + n == next->first) {
      n += next->second;
      remove_free(next);
    }
    auto it = free_by_addr.lower_bound(a);
    if (it != free_by_addr.begin()) {
      auto prev = std::prev(it);
      if (prev->first + prev->second == a) {
        a = prev->first;
        n += prev->second;
        remove_free(prev);
      }
    }
    add_free(a, n);
    return {a, n};
  }
};

AddressSpace& AddressSpace::instance() {
  static AddressSpace space;
  return space;
}

AddressSpace::AddressSpace() {
  std::uint8_t* p = space_memory::reserve_space(kReserve);
  if (!p) {
    std::fprintf(stderr, "talven: cannot reserve the 4 GiB script address space\n");
    std::abort();
  }
  base_ = p;
  heap_ = new Heap;
}

AddressSpace::~AddressSpace() {
  // The space lives for the whole process; unmapping at exit would only race
  // with threads that are still being torn down.
  delete heap_;
  heap_ = nullptr;
}

Addr AddressSpace::address_of(const void* p) const {
  auto* q = static_cast<const std::uint8_t*>(p);
  if (q < base_ + kLowLimit || q >= base_ + limit()) return 0;
  return static_cast<Addr>(q - base_);
}

// Takes n bytes (a multiple of kAlign) from the free extents, committing
// more memory when none fits; 0 when the space is full. Under the heap lock.
// *fresh_from (when given) is where memory committed by this very call
// starts: no one can have written there yet, so it is still zero.
Addr AddressSpace::heap_alloc(std::uint64_t n, std::uint64_t* fresh_from) {
  Heap& h = *heap_;
  if (fresh_from) *fresh_from = kReserve;
  auto fit = h.free_by_size.lower_bound({n, 0});
  if (fit == h.free_by_size.end()) {
    // Grow the committed region; a free extent at the top is extended.
    std::uint64_t tail = 0;
    if (!h.free_by_addr.empty()) {
      auto last = std::prev(h.free_by_addr.end());
      if (last->first + last->second == h.top) tail = last->second;
    }
    std::uint64_t grow = round_up(n - tail, kCommitStep);
    if (h.top + grow > kSpaceTop) {
      grow = round_up(n - tail, kPage);
      if (h.top + grow > kSpaceTop) return 0;
    }
    if (!space_memory::commit_space(base_ + h.top, grow)) return 0;
    Addr start = static_cast<Addr>(h.top);
    if (fresh_from) *fresh_from = h.top;
    if (shadow_) set_shadow(start, h.top + grow, kShadowFreed);
    h.top += grow;
    limit_.store(h.top, std::memory_order_release);
    h.release(start, grow);
    fit = h.free_by_size.lower_bound({n, 0});
    if (fit == h.free_by_size.end()) return 0;
  }
  auto [fsize, fstart] = *fit;
  h.remove_free(h.free_by_addr.find(fstart));
  if (fsize > n) h.add_free(static_cast<Addr>(fstart + n), fsize - n);
  h.live.emplace(fstart, static_cast<std::uint32_t>(n));
  h.in_use += n;
  return fstart;
}

// Returns a live extent to the free extents. Under the heap lock.
void AddressSpace::heap_free(Addr addr, std::uint64_t n) {
  Heap& h = *heap_;
  h.live.erase(addr);
  h.in_use -= n;
  if (shadow_) set_shadow(addr, addr + n, kShadowFreed);
  auto [start, len] = h.release(addr, n);
  if (len >= kReleaseAbove) {
    std::uint64_t from = round_up(start, kPage);
    std::uint64_t to = (start + len) / kPage * kPage;
    if (to > from) space_memory::discard_space(base_ + from, to - from);
  }
}

Addr AddressSpace::alloc(std::uint32_t size) { return alloc_block(size, nullptr); }

Addr AddressSpace::alloc_block(std::uint32_t size, std::uint64_t* fresh_from) {
  std::lock_guard lock(heap_->mutex);
  if (!shadow_) return heap_alloc(round_up(std::max<std::uint64_t>(size, 1), kAlign), fresh_from);
  const std::uint64_t extent = round_up(size, kAlign) + 2 * kGuardBytes;
  const Addr raw = heap_alloc(extent, fresh_from);
  if (!raw) return 0;
  const Addr user = static_cast<Addr>(raw + kGuardBytes);
  heap_->guarded[raw] = Heap::Guarded{user, size, extent, false};
  mark_block(raw, extent, user, size);
  return user;
}

void AddressSpace::set_shadow(std::uint64_t from, std::uint64_t to, std::uint8_t value) {
  for (std::uint64_t g = from / kGranule; g < (to + kGranule - 1) / kGranule; ++g)
    std::atomic_ref<std::uint8_t>(shadow_[g]).store(value, std::memory_order_relaxed);
}

void AddressSpace::mark_block(Addr raw, std::uint64_t extent, Addr user, std::uint32_t size) {
  set_shadow(raw, user, kShadowGuard);
  const std::uint64_t whole = user + std::uint64_t{size} / kGranule * kGranule;
  set_shadow(user, whole, 0);
  std::uint64_t rest = whole;
  if (size % kGranule) {
    std::atomic_ref<std::uint8_t>(shadow_[whole / kGranule])
        .store(static_cast<std::uint8_t>(size % kGranule), std::memory_order_relaxed);
    rest += kGranule;
  }
  set_shadow(rest, raw + extent, kShadowGuard);
}

void AddressSpace::enable_guards() {
  std::lock_guard lock(heap_->mutex);
  if (shadow_) return;
  std::uint8_t* p = space_memory::map_zeroed(kReserve / kGranule);
  if (!p) return;  // no checking rather than no game
  shadow_ = p;
  for (auto& [a, n] : heap_->free_by_addr) set_shadow(a, a + n, kShadowFreed);
  guards_.store(true, std::memory_order_release);
}

bool AddressSpace::guard_hit(Addr addr, std::uint64_t len) const {
  if (!shadow_ || len == 0) return false;
  const std::uint64_t end = std::uint64_t{addr} + len;
  for (std::uint64_t g = addr / kGranule; g * kGranule < end; ++g) {
    const std::uint8_t v = shadow_at(shadow_, g);
    if (v == 0) continue;
    if (v >= kGranule) return true;
    // Partly writable: the last byte written in this granule must be below v.
    const std::uint64_t last = std::min(end, (g + 1) * kGranule) - 1 - g * kGranule;
    if (last >= v) return true;
  }
  return false;
}

std::string AddressSpace::describe_guard_hit(Addr addr, std::uint64_t len) const {
  // The first byte of the write that is not writable.
  std::uint64_t b = addr;
  for (const std::uint64_t end = std::uint64_t{addr} + len; b < end; ++b) {
    const std::uint8_t v = shadow_ ? shadow_at(shadow_, b / kGranule) : 0;
    if (v != 0 && (v >= kGranule || b % kGranule >= v)) break;
  }
  std::lock_guard lock(heap_->mutex);
  auto it = heap_->guarded.upper_bound(static_cast<Addr>(std::min<std::uint64_t>(b, 0xFFFFFFFFu)));
  char text[160];
  if (it != heap_->guarded.begin()) {
    const Heap::Guarded& g = std::prev(it)->second;
    if (b < std::prev(it)->first + g.extent) {
      const std::int64_t offset = std::int64_t(b) - std::int64_t(g.user);
      const char* what = g.freed      ? "a write into a freed block"
                         : offset < 0 ? "a write before the start of a block"
                                      : "a write past the end of a block";
      std::snprintf(text, sizeof text,
                    "%s of %" PRIu32 " bytes at 0x%08" PRIX32 " (at offset %" PRId64 ")", what,
                    g.size, g.user, offset);
      return text;
    }
  }
  std::snprintf(text, sizeof text,
                "a write into freed memory at 0x%08" PRIX64 " that no block holds", b);
  return text;
}
void AddressSpace::watch_code(Addr lo, Addr hi) {
  std::uint64_t cur = watch_lo_.load(std::memory_order_relaxed);
  while (lo < cur && !watch_lo_.compare_exchange_weak(cur, lo, std::memory_order_relaxed)) {
  }
  cur = watch_hi_.load(std::memory_order_relaxed);
  while (hi > cur && !watch_hi_.compare_exchange_weak(cur, hi, std::memory_order_relaxed)) {
  }
}

Addr AddressSpace::zalloc(std::uint32_t size) {
  // Only the part below freshly committed memory needs clearing; the rest
  // is zero and stays unmapped until it is first touched.
  std::uint64_t fresh = kReserve;
  Addr a = alloc_block(size, &fresh);
  if (a) {
    note_write(a, size);
    std::memset(base_ + a, 0, std::min<std::uint64_t>(size, fresh > a ? fresh - a : 0));
  }
  return a;
}

bool AddressSpace::free(Addr addr) {
  if (addr == 0) return false;
  std::lock_guard lock(heap_->mutex);
  Heap& h = *heap_;
  if (shadow_) {
    if (Heap::Guarded* g = h.guarded_user(addr)) {
      // Into the quarantine, poisoned; the oldest blocks leave it for reuse.
      if (g->freed) return false;
      g->freed = true;
      const Addr raw = static_cast<Addr>(addr - kGuardBytes);
      note_write(raw, g->extent);
      set_shadow(raw, raw + g->extent, kShadowFreed);
      h.quarantine.push_back(raw);
      h.quarantine_bytes += g->extent;
      while (h.quarantine_bytes > kQuarantineBytes || h.quarantine.size() > kQuarantineBlocks) {
        const Addr old = h.quarantine.front();
        h.quarantine.pop_front();
        auto q = h.guarded.find(old);
        h.quarantine_bytes -= q->second.extent;
        const std::uint64_t n = q->second.extent;
        h.guarded.erase(q);
        heap_free(old, n);
      }
      return true;
    }
    if (h.guarded.count(addr)) return false;  // inside a guard zone, not a block's start
  }
  auto it = h.live.find(addr);
  if (it == h.live.end()) return false;
  note_write(addr, it->second);  // freed memory may be cleared
  heap_free(addr, it->second);
  return true;
}

Addr AddressSpace::realloc(Addr addr, std::uint32_t size) {
  if (addr == 0) return alloc(size);
  if (size == 0) {
    free(addr);
    return 0;
  }
  std::uint64_t n = round_up(size, kAlign);
  std::uint32_t old;
  {
    std::lock_guard lock(heap_->mutex);
    Heap& h = *heap_;
    if (shadow_) {
      // With guards a block always moves, so a stale pointer to the old
      // one is caught.
      if (Heap::Guarded* g = h.guarded_user(addr)) {
        if (g->freed) return 0;
        old = g->size;
      } else if (h.guarded.count(addr)) {
        return 0;
      } else {
        auto it = h.live.find(addr);
        if (it == h.live.end()) return 0;
        old = it->second;
      }
      n = 0;  // never in place
    }
    auto it = h.live.find(addr);
    if (n && it == h.live.end()) return 0;
    if (n) old = it->second;
    if (n && n <= old) {  // shrink in place
      if (n < old) {
        it->second = static_cast<std::uint32_t>(n);
        h.in_use -= old - n;
        h.release(static_cast<Addr>(addr + n), old - n);
      }
      return addr;
    }
    auto next = n ? h.free_by_addr.find(static_cast<Addr>(addr + old)) : h.free_by_addr.end();
    if (next != h.free_by_addr.end() && old + next->second >= n) {  // grow in place
      std::uint64_t spare = old + next->second - n;
      h.remove_free(next);
      if (spare) h.add_free(static_cast<Addr>(addr + n), spare);
      it->second = static_cast<std::uint32_t>(n);
      h.in_use += n - old;
      return addr;
    }
  }
  Addr fresh = alloc(size);
  if (!fresh) return 0;
  note_write(fresh, std::min(old, size));
  std::memcpy(base_ + fresh, base_ + addr, std::min(old, size));
  free(addr);
  return fresh;
}

std::uint32_t AddressSpace::block_size(Addr addr) const {
  std::lock_guard lock(heap_->mutex);
  if (shadow_) {
    if (const Heap::Guarded* g = heap_->guarded_user(addr)) return g->freed ? 0 : g->size;
    if (heap_->guarded.count(addr)) return 0;
  }
  auto it = heap_->live.find(addr);
  return it == heap_->live.end() ? 0 : it->second;
}

AddressSpace::Stats AddressSpace::stats() const {
  std::lock_guard lock(heap_->mutex);
  Stats s;
  s.committed = heap_->top - kLowLimit;
  s.in_use = heap_->in_use - heap_->quarantine_bytes;
  s.blocks = heap_->live.size() - heap_->quarantine.size();
  for (auto& [a, n] : heap_->free_by_addr) s.free_bytes += n;
  return s;
}

namespace {
std::mutex g_fault_mutex;
std::optional<GuardFault> g_fault;
}  // namespace

void record_guard_fault(Addr addr, std::uint64_t len) {
  std::string what = script_space().describe_guard_hit(addr, len);
  std::lock_guard lock(g_fault_mutex);
  if (!g_fault) g_fault = GuardFault{addr, std::move(what)};
}

std::optional<GuardFault> take_guard_fault() {
  std::lock_guard lock(g_fault_mutex);
  std::optional<GuardFault> f = std::move(g_fault);
  g_fault.reset();
  return f;
}

std::optional<std::string_view> cstr(Addr addr, std::uint32_t max_len) {
  AddressSpace& s = script_space();
  if (addr < kLowLimit) return std::nullopt;
  std::uint64_t lim = s.limit();
  if (addr >= lim) return std::nullopt;
  std::uint64_t avail = std::min<std::uint64_t>(lim - addr, std::uint64_t{max_len} + 1);
  const char* p = reinterpret_cast<const char*>(s.base() + addr);
  const void* z = std::memchr(p, 0, avail);
  if (!z) return std::nullopt;
  return std::string_view(p, static_cast<const char*>(z) - p);
}

bool write_bytes(Addr dst, const void* src, std::uint32_t len) {
  std::uint8_t* p = wspan(dst, len);
  if (!p) return false;
  if (len) std::memmove(p, src, len);
  return true;
}

bool read_bytes(Addr src, void* dst, std::uint32_t len) {
  const std::uint8_t* p = span(src, len);
  if (!p) return false;
  if (len) std::memmove(dst, p, len);
  return true;
}

bool write_cstr(Addr dst, std::string_view s, std::uint32_t capacity) {
  if (capacity == 0) return false;
  std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(s.size(), capacity - 1));
  std::uint8_t* p = wspan(dst, std::uint64_t{n} + 1);
  if (!p) return false;
  std::memcpy(p, s.data(), n);
  p[n] = 0;
  return true;
}

}  // namespace talven
