// The builtin table: the 327 functions scripts reach through `trap n`.
//
// The numbering is fixed by the game script headers (the n-th #trap line
// declares builtin n - 1), so the table is kept in trap-number order, one
// line per builtin, in builtin_table.cpp. A handler receives the script
// address of the argument block (first argument lowest, one 32-bit word
// each) and returns one word: an integer, float bits or a script address.
//
// Handlers of families that are not built yet answer with the family's
// failure value (the not_built* handlers below); each family replaces its
// lines when it lands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/address_space.h"

namespace talven::runtime {

using BuiltinHandler = std::uint32_t (*)(Addr args);

struct BuiltinEntry {
  std::int32_t ends_slice;  // 1: the calling thread's slice ends after the call
  const char* name;         // for the argument-count messages
  BuiltinHandler handler;
  std::int32_t argc;        // argument words; -1 variadic (never checked)
};

constexpr std::size_t kBuiltinCount = 327;

// Defined with the builtin families (src/lib/builtin_table.cpp), above the
// runtime layer, since it names handlers of every family.
extern const BuiltinEntry builtin_table[kBuiltinCount];

// Trap number of a builtin by name, or -1.
int builtin_number(const char* name);

// Stand-ins for families not built yet: they do nothing and return the
// result the family gives when it cannot act.
std::uint32_t not_built(Addr args);        // 0
std::uint32_t not_built_minus1(Addr args); // -1
std::uint32_t not_built_minus2(Addr args); // -2 (clipboard cannot be opened)
std::uint32_t not_built_one(Addr args);    // 1 (midi_pause with nothing playing)

// Reads argument word i of a block (0 when the word is out of reach; the
// handler's own checks on the value then fail cleanly).
inline std::uint32_t arg_word(Addr args, unsigned i) {
  std::uint32_t v = 0;
  load32(args + 4 * i, v);
  return v;
}

// Reads the first n argument words at once; false (nothing read) when the
// block is out of reach.
inline bool read_arg_words(Addr args, unsigned n, std::uint32_t* out) {
  return read_bytes(args, out, 4u * n);
}

}  // namespace talven::runtime
