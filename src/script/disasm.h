// The disassembler: program images back to readable instructions, one per
// line with its address. Used by tests and by the disassembly tool.
//
// Line format:  "0001002A  04 01 05 00 00 00   movl r1, 5"
// Operands are written destination first. Absolute addresses and jump
// targets are hex, immediates and frame displacements signed decimal
// ("[r6-8]"). Bytes that are no instruction (an opcode above 91, a register
// nibble above 7, an instruction cut off by the end of the range) print as
// "db" lines so the listing never stops early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/address_space.h"

namespace talven::script {

struct DisasmLine {
  Addr address = 0;
  std::size_t length = 0;  // bytes consumed (at least 1)
  std::string text;        // mnemonic and operands
  bool valid = false;      // false for "db" lines
};

// Decodes one instruction at code[0..size), which lives at `address`.
DisasmLine disassemble_one(const std::uint8_t* code, std::size_t size, Addr address);

// Lists code[0..size) as if it lived at `origin`.
std::string disassemble(const std::uint8_t* code, std::size_t size, Addr origin);

// Lists [address, address + size) of script memory; "" when the range is not
// valid script memory.
std::string disassemble_range(Addr address, std::uint32_t size);

}  // namespace talven::script
