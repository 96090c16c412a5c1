// The compiler's symbol table, name pool and macro argument area.
#include "script/symbols.h"

#include <algorithm>
#include <cstring>

namespace talven::script {

namespace {

// One guard byte after the argument area keeps every text NUL-terminated.
constexpr std::uint32_t kBlockSize = kPoolSize + kArgAreaSize + 1;

// The index key of a stored name or a looked-up name: its bytes up to the
// first '.' (or the end).
std::string_view name_part(std::string_view name) {
  std::size_t dot = name.find('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

// FNV-1a: spreads names that differ only in their last characters.
std::uint32_t index_hash(std::string_view part) {
  std::uint32_t h = 2166136261u;
  for (char c : part) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

// The hash of a looked-up name, or false when the name holds a '.' or a NUL
// (such a name never equals a stored name's part).
bool lookup_hash(std::string_view name, std::uint32_t& hash) {
  std::uint32_t h = 2166136261u;
  for (char c : name) {
    if (c == '.' || c == 0) return false;
    h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  hash = h;
  return true;
}

// Names are short: a plain loop beats a call of memcmp.
bool same_bytes(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

std::int32_t symbol_hash(std::string_view name) {
  std::uint32_t h = 0;
  for (char c : name) {
    if (c == '.') break;
    h = (h * 7u) ^
        static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
  }
  return static_cast<std::int32_t>(h);
}

SymbolTable::SymbolTable()
    : block_(new char[kBlockSize]),
      symbols_(new Symbol[kSymbolSlots]),
      global_index_(new IndexEntry[kGlobalIndexSize]),
      local_index_(new IndexEntry[kLocalIndexSize]) {
  reset();
}

void SymbolTable::reset() {
  std::memset(block_.get(), 0, kBlockSize);
  std::memset(symbols_.get(), 0, sizeof(Symbol) * kSymbolSlots);
  std::fill_n(global_index_.get(), kGlobalIndexSize, IndexEntry{0, -1, 0, 0});
  std::fill_n(local_index_.get(), kLocalIndexSize, IndexEntry{0, -1, 0, 0});
  global_count_ = 0;
  local_count_ = 0;
  local_used_.clear();
  pool_used_ = 0;
  arg_pos_ = kPoolSize;
}

void SymbolTable::clear_locals() {
  // Only the slots and index entries the last function filled.
  for (std::uint32_t u : local_used_) {
    symbols_[kGlobalSlots + (u & 0xFFFFu)] = Symbol{};
    local_index_[u >> 16] = IndexEntry{0, -1, 0, 0};
  }
  local_used_.clear();
  local_count_ = 0;
}

SymbolTable::IndexEntry& SymbolTable::index_probe(std::string_view part, std::uint32_t hash,
                                                  bool local) const {
  IndexEntry* index = index_for(local);
  const std::uint32_t mask = (local ? kLocalIndexSize : kGlobalIndexSize) - 1;
  for (std::uint32_t i = hash & mask;; i = (i + 1) & mask) {
    IndexEntry& e = index[i];
    if (e.slot < 0) return e;
    if (e.hash == hash && e.part == part.size() &&
        same_bytes(block_.get() + e.name, part.data(), part.size()))
      return e;
  }
}

int SymbolTable::free_slot(std::string_view name, bool local) const {
  if ((local ? local_count_ : global_count_) >= (local ? kLocalSlots : kGlobalSlots))
    compile_fail(local ? cerr::kLocalsFull : cerr::kGlobalsFull);
  std::uint32_t h = static_cast<std::uint32_t>(symbol_hash(name));
  const int base = local ? kGlobalSlots : 0;
  const int count = local ? kLocalSlots : kGlobalSlots;
  int slot = local ? base + static_cast<int>(h & 1023u) : static_cast<int>(h % kGlobalSlots);
  while (symbols_[slot].kind != kSymFree) slot = slot + 1 == base + count ? base : slot + 1;
  return slot;
}

int SymbolTable::find(std::string_view name, bool local) const {
  std::uint32_t hash;
  if (lookup_hash(name, hash)) {
    IndexEntry& e = index_probe(name, hash, local);
    if (e.slot >= 0) return e.slot;
  }
  // A probe of a full part finds no free slot to stop at.
  if ((local ? local_count_ : global_count_) >= (local ? kLocalSlots : kGlobalSlots))
    compile_fail(local ? cerr::kLocalsFull : cerr::kGlobalsFull);
  return -1;
}

int SymbolTable::add(std::string_view name, bool local, std::int32_t kind, std::int32_t extra,
                     std::uint32_t value) {
  if (find(name, local) >= 0) compile_fail(cerr::kInternal);
  int slot = free_slot(name, local);
  std::uint32_t offset = pool_add(name.data(), name.size());
  symbols_[slot] = Symbol{offset, kind, extra, value};
  ++(local ? local_count_ : global_count_);
  // The index keys the name as stored: up to its first '.' or NUL.
  std::string_view part = name_part(block_.get() + offset);
  std::uint32_t hash = index_hash(part);
  IndexEntry& e = index_probe(part, hash, local);
  if (e.slot < 0) e = IndexEntry{hash, slot, offset, static_cast<std::uint32_t>(part.size())};
  if (local)
    local_used_.push_back(static_cast<std::uint32_t>(&e - local_index_.get()) << 16 |
                          static_cast<std::uint32_t>(slot - kGlobalSlots));
  return slot;
}

std::uint32_t SymbolTable::pool_add(const char* data, std::size_t len) {
  if (len >= kPoolSize || pool_used_ + len + 1 > kPoolSize) compile_fail(cerr::kPoolFull);
  std::uint32_t offset = pool_used_;
  std::memcpy(block_.get() + offset, data, len);
  block_[offset + len] = 0;
  pool_used_ += static_cast<std::uint32_t>(len + 1);
  return offset;
}

std::uint32_t SymbolTable::arg_add(const char* data, std::size_t len) {
  if (len >= kArgAreaSize || arg_pos_ + len + 1 > kPoolSize + kArgAreaSize)
    compile_fail(cerr::kPoolFull);
  std::uint32_t offset = arg_pos_;
  std::memcpy(block_.get() + offset, data, len);
  block_[offset + len] = 0;
  arg_pos_ += static_cast<std::uint32_t>(len + 1);
  return offset;
}

}  // namespace talven::script
