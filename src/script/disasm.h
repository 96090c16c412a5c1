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

// Lists the code of the program area at `program` (its first `size` bytes)
// with what its line table knows (script/line_table.h): a line
// "; function NAME" or "; builtin NAME" before the first instruction of each
// function, "; FILE(LINE)" beside the first instruction of each source line
// ("; line LINE" while the file stays the same),
// and "; NAME" beside an instruction whose operand is a function's address
// (calls, function pointers). Instruction lines keep the plain form in
// front, so listings compare with disassemble_range()'s by their first
// columns. Without a table it is disassemble_range().
std::string disassemble_with_names(Addr program, std::uint32_t size);

}  // namespace talven::script
