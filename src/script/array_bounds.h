// Array bounds of compiled stores, for guard checking (DebugMode).
//
// When the compiler emits a store whose address it computed from the base
// of a declared array (buf[i] = v, pts[i].x = v, ++buf[i], buf[i] += v, and
// constant indexes like buf[4] = v, which fold into a store to a fixed
// address or frame slot), it records the store here: where the store
// instruction ends, and the array's name, start and size. A global array's
// start is its address; a local array's start is a displacement from the
// frame register of the function holding the store. The tables live in host
// memory beside the images, like the line tables, so images stay byte for
// byte what the compiler writes; vm_free() forgets an area's table with its
// line table.
//
// Pointer arithmetic from an array's base may only reach the array's own
// bytes, so a recorded store that writes any byte outside [start, start +
// size) is an overrun of that array. With guard checking on the interpreter
// asks array_store_fault() about every store it guard-checks; without it
// nothing here is consulted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/address_space.h"

namespace talven::script {

struct ArrayStore {
  std::uint32_t end_offset = 0;  // just past the store instruction, from the area's start
  bool local = false;            // start is a displacement from the frame register
  std::uint32_t start = 0;       // address, or displacement (two's complement)
  std::uint32_t size = 0;        // bytes
  std::string name;              // UTF-8
};

// Replaces the stores recorded for the area at `program`.
void register_array_stores(Addr program, std::vector<ArrayStore> stores);
void forget_array_stores(Addr program);
std::size_t array_store_count();

// For a write of len bytes at addr by the store instruction that ends at
// end_pc, run with frame register `frame`: what it overran, as
// "a write past the end of array 'buf' (16 bytes) at 0x... (at offset 16)",
// or nullopt when the store is not recorded or stays inside its array.
std::optional<std::string> array_store_fault(Addr end_pc, Addr addr, std::uint32_t len, Addr frame);

}  // namespace talven::script
