// The compiler's symbol table, name pool and macro argument area.
#include "script/symbols.h"

#include <cstring>

namespace talven::script {

namespace {

// One guard byte after the argument area keeps every text NUL-terminated.
constexpr std::uint32_t kBlockSize = kPoolSize + kArgAreaSize + 1;

// The stored name's part before its first '.' equals the whole of `name`.
bool name_matches(const char* stored, std::string_view name) {
  std::size_t n = name.size();
  for (std::size_t i = 0; i < n; ++i)
    if (stored[i] != name[i] || stored[i] == 0 || stored[i] == '.') return false;
  return stored[n] == 0 || stored[n] == '.';
}

}  // namespace

std::int32_t symbol_hash(std::string_view name) {
  std::uint32_t h = 0;
  for (char c : name) {
    if (c == '.') break;
    h = (h * 7u) ^ static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
  }
  return static_cast<std::int32_t>(h);
}

SymbolTable::SymbolTable()
    : block_(new char[kBlockSize]), symbols_(new Symbol[kSymbolSlots]) {
  reset();
}

void SymbolTable::reset() {
  std::memset(block_.get(), 0, kBlockSize);
  std::memset(symbols_.get(), 0, sizeof(Symbol) * kSymbolSlots);
  pool_used_ = 0;
  arg_pos_ = kPoolSize;
}

void SymbolTable::clear_locals() {
  std::memset(symbols_.get() + kGlobalSlots, 0, sizeof(Symbol) * kLocalSlots);
}

int SymbolTable::probe(std::string_view name, bool local, bool& found) const {
  std::uint32_t h = static_cast<std::uint32_t>(symbol_hash(name));
  int first, base, count;
  if (local) {
    base = kGlobalSlots;
    count = kLocalSlots;
    first = base + static_cast<int>(h & 1023u);
  } else {
    base = 0;
    count = kGlobalSlots;
    first = static_cast<int>(h % kGlobalSlots);
  }
  int slot = first;
  for (;;) {
    const Symbol& s = symbols_[slot];
    if (s.kind == kSymFree) {
      found = false;
      return slot;
    }
    if (name_matches(block_.get() + s.name, name)) {
      found = true;
      return slot;
    }
    slot = slot + 1 == base + count ? base : slot + 1;
    if (slot == first) compile_fail(local ? cerr::kLocalsFull : cerr::kGlobalsFull);
  }
}

int SymbolTable::find(std::string_view name, bool local) const {
  bool found;
  int slot = probe(name, local, found);
  return found ? slot : -1;
}

int SymbolTable::add(std::string_view name, bool local, std::int32_t kind, std::int32_t extra,
                     std::uint32_t value) {
  bool found;
  int slot = probe(name, local, found);
  if (found) compile_fail(cerr::kInternal);
  std::uint32_t offset = pool_add(name.data(), name.size());
  symbols_[slot] = Symbol{offset, kind, extra, value};
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
