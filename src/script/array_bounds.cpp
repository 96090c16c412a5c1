#include "script/array_bounds.h"

#include <atomic>
#include <cinttypes>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "base/messages.h"

namespace talven::script {

namespace {

struct Entry {
  Addr program;
  ArrayStore store;
};

std::shared_mutex g_stores_mutex;
// By the absolute address just past each recorded store instruction.
std::unordered_map<Addr, Entry> g_stores;
// Lets a guard-checked store skip the lock while nothing is recorded.
std::atomic<std::size_t> g_store_count{0};

void forget_locked(Addr program) {
  std::erase_if(g_stores, [&](const auto& kv) { return kv.second.program == program; });
}

}  // namespace

void register_array_stores(Addr program, std::vector<ArrayStore> stores) {
  std::unique_lock lock(g_stores_mutex);
  forget_locked(program);
  for (ArrayStore& s : stores) {
    const Addr end = program + s.end_offset;
    g_stores[end] = Entry{program, std::move(s)};
  }
  g_store_count.store(g_stores.size(), std::memory_order_release);
}

void forget_array_stores(Addr program) {
  std::unique_lock lock(g_stores_mutex);
  forget_locked(program);
  g_store_count.store(g_stores.size(), std::memory_order_release);
}

std::size_t array_store_count() { return g_store_count.load(std::memory_order_acquire); }

std::optional<std::string> array_store_fault(Addr end_pc, Addr addr, std::uint32_t len,
                                             Addr frame) {
  if (g_store_count.load(std::memory_order_acquire) == 0) return std::nullopt;
  std::shared_lock lock(g_stores_mutex);
  const auto it = g_stores.find(end_pc);
  if (it == g_stores.end()) return std::nullopt;
  const ArrayStore& s = it->second.store;
  const Addr start = s.local ? frame + s.start : s.start;
  // Offsets wrap: a write before the start is a huge unsigned offset.
  const std::uint32_t offset = addr - start;
  if (static_cast<std::uint64_t>(offset) + len <= s.size) return std::nullopt;
  const bool before = static_cast<std::int32_t>(offset) < 0;
  return format_message("a write %s array '%s' (%" PRIu32 " bytes) at 0x%08X (at offset %" PRId32
                        ")",
                        before ? "before the start of" : "past the end of", s.name.c_str(), s.size,
                        addr, static_cast<std::int32_t>(offset));
}

}  // namespace talven::script
