// The compiler's work block: name pool, macro argument area and symbol table.
//
// One block per compilation, reset at its start. The name pool holds every
// symbol name, macro bodies and the text of string literals; the argument
// area holds the arguments of the macro invocations being expanded; the
// table has 8192 16-byte symbols, slots 0..7167 for global names and
// 7168..8191 for the names of the function being compiled.
//
// Names hash over their bytes as signed chars (h = h * 7 ^ c). A stored name
// matches a looked-up name when its part before the first '.' equals the
// whole looked-up name, so a ".suffix" keeps an entry out of reach of
// ordinary lookups. Probing is linear within the part; a full part, a full
// pool and a full argument area are compile errors (thrown as CompileError).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace talven::script {

// A fatal compile error: carries the error number to the compilation's
// top level, which reports it and ends the compilation.
struct CompileError {
  int number;
};

namespace cerr {
enum CompileErrorNumber : int {
  kInternal = 0,
  kNoMemory = 1,
  kOpen = 2,
  kRead = 3,
  kDirective = 4,
  kIncludeName = 5,
  kIncludeDepth = 6,
  kMacroDepth = 7,
  kDeclaration = 8,
  kExpression = 9,
  kDivideByZero = 10,
  kNotConstant = 11,
  kSyntax = 12,
  kLvalue = 13,
  kType = 14,
  kUndefined = 15,
  kStringLine = 16,
  kQuote = 17,
  kGlobalsFull = 18,
  kLocalsFull = 19,
  kPoolFull = 20,
  kLineLength = 21,
  kNodesFull = 22,
  kProgramFull = 23,
  kEof = 24,
};
}  // namespace cerr
constexpr int kCompileErrorCount = 25;

[[noreturn]] inline void compile_fail(int number) { throw CompileError{number}; }

enum SymbolKind : std::int32_t {
  kSymFree = 0,
  kSymKeyword = 1,     // value: token
  kSymMacro = 2,       // value: body offset in the block, extra: parameter count
  kSymGlobalVar = 3,   // extra: type, value: absolute address (also static locals)
  kSymLocalVar = 4,    // extra: type, value: frame offset
  kSymFunction = 5,    // extra: return type, value: code label
  kSymTypedef = 6,     // extra: type
  kSymTag = 7,         // extra: structure type
  kSymMember = 8,      // extra: type, value: offset
  kSymLabel = 9,       // statement label defined in code; value: code label
  kSymLabelUsed = 10,  // statement label only used by goto so far; value: code label
};

struct Symbol {
  std::uint32_t name;  // offset of the NUL-terminated name in the block
  std::int32_t kind;
  std::int32_t extra;
  std::uint32_t value;
};
static_assert(sizeof(Symbol) == 16);

constexpr std::uint32_t kPoolSize = 262144;
constexpr std::uint32_t kArgAreaSize = 16384;
constexpr int kSymbolSlots = 8192;
constexpr int kGlobalSlots = 7168;
constexpr int kLocalSlots = 1024;

// Hash of a name over its bytes up to the first '.', as signed chars.
std::int32_t symbol_hash(std::string_view name);

class SymbolTable {
 public:
  SymbolTable();

  // Zero-fills the block and empties both parts.
  void reset();
  // Empties the local part.
  void clear_locals();

  // Slot of `name` in the global or local part, or -1.
  int find(std::string_view name, bool local) const;
  // Enters a name that find() did not find; returns its slot.
  int add(std::string_view name, bool local, std::int32_t kind, std::int32_t extra,
          std::uint32_t value);
  // Local part first, then the global part.
  int lookup(std::string_view name) const {
    int s = find(name, true);
    return s >= 0 ? s : find(name, false);
  }

  Symbol& at(int slot) { return symbols_[slot]; }
  const Symbol& at(int slot) const { return symbols_[slot]; }
  const char* name(int slot) const { return block_.get() + symbols_[slot].name; }
  static bool is_local_slot(int slot) { return slot >= kGlobalSlots; }

  // ---- name pool ----
  // Copies len bytes and a NUL; returns the offset. Error 20 when full.
  std::uint32_t pool_add(const char* data, std::size_t len);
  std::uint32_t pool_used() const { return pool_used_; }

  // ---- macro argument area ----
  std::uint32_t arg_pos() const { return arg_pos_; }
  void set_arg_pos(std::uint32_t pos) { arg_pos_ = pos; }
  // Copies len bytes and a NUL into the argument area; returns the offset in
  // the block. Error 20 when full.
  std::uint32_t arg_add(const char* data, std::size_t len);

  // Text at an offset of the block (pool or argument area); always
  // NUL-terminated within the block.
  const char* text(std::uint32_t offset) const { return block_.get() + offset; }

 private:
  // An index over each part, from a name's part before its first '.' to the
  // slot a probe of the table would find first for it (the earliest entered
  // of the names sharing that part: slots are never freed one by one, so
  // the earliest one always lies first on the probe sequence). Lookups cost
  // one well-spread hash instead of a walk along the table's clusters; the
  // table's own slots, and so the order of its entries, stay as they are.
  struct IndexEntry {
    std::uint32_t hash;
    std::int32_t slot;   // -1: empty
    std::uint32_t name;  // the stored name's offset in the block
    std::uint32_t part;  // length of its part before the first '.'
  };
  static constexpr std::uint32_t kGlobalIndexSize = 16384;  // powers of two, at
  static constexpr std::uint32_t kLocalIndexSize = 2048;    // most half full

  IndexEntry* index_for(bool local) const {
    return local ? local_index_.get() : global_index_.get();
  }
  // The index entry for a name's part, or the empty entry where it would go.
  IndexEntry& index_probe(std::string_view part, std::uint32_t hash, bool local) const;
  // The first free slot of the table's probe sequence for `name`. Throws
  // 18/19 when the part is full.
  int free_slot(std::string_view name, bool local) const;

  std::unique_ptr<char[]> block_;  // pool, argument area, guard byte
  std::unique_ptr<Symbol[]> symbols_;
  std::unique_ptr<IndexEntry[]> global_index_;
  std::unique_ptr<IndexEntry[]> local_index_;
  int global_count_ = 0;
  int local_count_ = 0;
  // Local entries in use: index position << 16 | slot - kGlobalSlots.
  std::vector<std::uint32_t> local_used_;
  std::uint32_t pool_used_ = 0;
  std::uint32_t arg_pos_ = kPoolSize;
};

}  // namespace talven::script
