// The builtin table: the 327 functions scripts reach through `trap n`.
//
// The numbering is fixed by the game script headers (the n-th #trap line
// declares builtin n - 1), so the table is kept in trap-number order, one
// line per builtin, in builtin_table.cpp. A handler receives the script
// address of the argument block (first argument lowest, one 32-bit word
// each) and returns one word: an integer, float bits or a script address.
//
// Most rows name a typed handler through runtime/bind.h, which gives the
// row its argument count; raw rows give handler and count themselves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/address_space.h"

namespace talven::runtime {

using BuiltinHandler = std::uint32_t (*)(Addr args);

// A handler with its argument count, as runtime/bind.h makes them.
struct BuiltinBinding {
  BuiltinHandler handler;
  std::int32_t argc;
};

struct BuiltinEntry {
  std::int32_t ends_slice;  // 1: the calling thread's slice ends after the call
  const char* name;         // for the argument-count messages
  BuiltinHandler handler;
  std::int32_t argc;  // argument words; -1 variadic (never checked)

  constexpr BuiltinEntry(std::int32_t ends_slice, const char* name, BuiltinHandler handler,
                         std::int32_t argc)
      : ends_slice(ends_slice), name(name), handler(handler), argc(argc) {}
  constexpr BuiltinEntry(std::int32_t ends_slice, const char* name, BuiltinBinding bound)
      : ends_slice(ends_slice), name(name), handler(bound.handler), argc(bound.argc) {}
};

constexpr std::size_t kBuiltinCount = 327;

// Defined with the builtin families (src/lib/builtin_table.cpp), above the
// runtime layer, since it names handlers of every family.
extern const BuiltinEntry builtin_table[kBuiltinCount];

// Trap number of a builtin by name, or -1.
int builtin_number(const char* name);

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
