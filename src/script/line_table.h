// Line tables: where the code of a program image came from.
//
// A compilation into a real program area registers one table for the area:
// the source files it read, the file and line of every run of code, and the
// start of every function (builtin stubs marked). The tables live in host
// memory beside the images, so images stay byte for byte what the compiler
// writes. vm_free() forgets the table when the area goes; a new registration
// for the same area replaces the old one.
//
// find_code_place() names the file, line and function of a code address;
// describe_call_chain() walks the frames of a stopped context (each frame
// word at r6 holds the caller's r6, the word above it the return address)
// and gives the "at FILE(LINE) in FUNCTION" lines of run-time errors.
// Every read of script memory here is checked, so a corrupt stack only
// shortens the chain.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_space.h"

namespace talven::script {

struct VmContext;

struct CodeLine {
  std::uint32_t offset = 0;  // first code byte, from the area's start
  int file = 0;              // index into LineTable::files
  int line = 0;
};

struct CodeFunction {
  std::uint32_t offset = 0;
  std::string name;      // UTF-8
  bool builtin = false;  // a `trap n; ret` stub
};

struct LineTable {
  Addr program = 0;
  std::uint32_t code_size = 0;
  std::vector<std::string> files;       // UTF-8 paths as opened
  std::vector<CodeLine> lines;          // by offset
  std::vector<CodeFunction> functions;  // by offset
};

void register_line_table(LineTable table);
void forget_line_table(Addr program);
std::size_t line_table_count();
// A copy of the table registered for the area at `program`, if any.
std::optional<LineTable> line_table_of(Addr program);

struct CodePlace {
  std::string file;
  int line = 0;
  std::string function;
  bool builtin = false;
  bool at_entry = false;  // the function's first instruction (no frame yet)
};

// The place of the instruction that holds `address`; none outside every
// registered image's code.
std::optional<CodePlace> find_code_place(Addr address);

// The places of a context stopped at `pc` (an address just past the
// instruction that stopped it), innermost first, at most `max_frames`.
std::vector<CodePlace> call_chain(const VmContext& context, Addr pc, int max_frames = 8);

// "  at FILE(LINE) in FUNCTION\n" for each place; "" when none is known.
std::string describe_call_chain(const std::vector<CodePlace>& chain);

// The terminal form of a run-time error: "talven: MESSAGE [run-time error:
// GLOSS]" and the call chain of the context (none for a null context).
std::string runtime_error_report(std::string_view message, std::string_view gloss,
                                 const VmContext* context, Addr pc);

}  // namespace talven::script
