// Reservation, commit and the allocator of the script address space.
//
// The allocator is best fit over free extents kept in two ordered sets (by
// address for coalescing, by size for the fit), with live blocks in a hash
// map. All of it lives in host memory. Script programs allocate rarely
// compared with how often they access memory, so clarity and robustness win
// over a few nanoseconds here; access itself is the inline path in the header.
#include "base/address_space.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

namespace talven {

namespace {

constexpr std::uint64_t kReserve = std::uint64_t{1} << 32;
constexpr std::uint64_t kCommitStep = 1u << 20;   // grow in 1 MiB steps
constexpr std::uint64_t kAlign = 16;
constexpr std::uint64_t kReleaseAbove = 256u << 10;  // give large free runs back to the OS
constexpr std::uint64_t kPage = 4096;

std::uint64_t round_up(std::uint64_t n, std::uint64_t a) { return (n + a - 1) / a * a; }

}  // namespace

struct AddressSpace::Heap {
  mutable std::mutex mutex;
  std::map<Addr, std::uint64_t> free_by_addr;             // start -> size
  std::set<std::pair<std::uint64_t, Addr>> free_by_size;  // (size, start)
  std::unordered_map<Addr, std::uint32_t> live;           // start -> rounded size
  std::uint64_t in_use = 0;
  std::uint64_t top = kLowLimit;  // end of committed memory

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
  void* p = mmap(nullptr, kReserve, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) {
    std::fprintf(stderr, "talven: cannot reserve the 4 GiB script address space\n");
    std::abort();
  }
  base_ = static_cast<std::uint8_t*>(p);
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

Addr AddressSpace::alloc(std::uint32_t size) {
  std::uint64_t n = round_up(std::max<std::uint64_t>(size, 1), kAlign);
  std::lock_guard lock(heap_->mutex);
  Heap& h = *heap_;
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
    if (mprotect(base_ + h.top, grow, PROT_READ | PROT_WRITE) != 0) return 0;
    Addr start = static_cast<Addr>(h.top);
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

Addr AddressSpace::zalloc(std::uint32_t size) {
  Addr a = alloc(size);
  if (a) std::memset(base_ + a, 0, size);
  return a;
}

bool AddressSpace::free(Addr addr) {
  if (addr == 0) return false;
  std::lock_guard lock(heap_->mutex);
  Heap& h = *heap_;
  auto it = h.live.find(addr);
  if (it == h.live.end()) return false;
  std::uint64_t n = it->second;
  h.live.erase(it);
  h.in_use -= n;
  auto [start, len] = h.release(addr, n);
  if (len >= kReleaseAbove) {
    std::uint64_t from = round_up(start, kPage);
    std::uint64_t to = (start + len) / kPage * kPage;
    if (to > from) madvise(base_ + from, to - from, MADV_DONTNEED);
  }
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
    auto it = h.live.find(addr);
    if (it == h.live.end()) return 0;
    old = it->second;
    if (n <= old) {  // shrink in place
      if (n < old) {
        it->second = static_cast<std::uint32_t>(n);
        h.in_use -= old - n;
        h.release(static_cast<Addr>(addr + n), old - n);
      }
      return addr;
    }
    auto next = h.free_by_addr.find(static_cast<Addr>(addr + old));
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
  std::memcpy(base_ + fresh, base_ + addr, old);
  free(addr);
  return fresh;
}

std::uint32_t AddressSpace::block_size(Addr addr) const {
  std::lock_guard lock(heap_->mutex);
  auto it = heap_->live.find(addr);
  return it == heap_->live.end() ? 0 : it->second;
}

AddressSpace::Stats AddressSpace::stats() const {
  std::lock_guard lock(heap_->mutex);
  Stats s;
  s.committed = heap_->top - kLowLimit;
  s.in_use = heap_->in_use;
  s.blocks = heap_->live.size();
  for (auto& [a, n] : heap_->free_by_addr) s.free_bytes += n;
  return s;
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
  std::uint8_t* p = span(dst, len);
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
  std::uint8_t* p = span(dst, std::uint64_t{n} + 1);
  if (!p) return false;
  std::memcpy(p, s.data(), n);
  p[n] = 0;
  return true;
}

}  // namespace talven
