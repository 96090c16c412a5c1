// Between the CPU-neutral part of machine code and a CPU's code generator.
//
// The neutral part (native_code.cpp) decides what is compiled and keeps
// the books: it decodes a block's instructions again from the copy the
// block keeps (BlockPlan), marks the builtin call the block may end in,
// finds the frame window, records the stops, places finished code in the
// translation's code space (native_memory.h), publishes the gate, and
// owns the on/off switch and the count of blocks made.
//
// What a new CPU provides, in a file native_<cpu>.cpp compiled only on
// that CPU (its whole body inside #if on the CPU's predefined macro, and
// the same test added to TALVEN_NATIVE_CPU below):
//
//   bool cpu_build_gate(std::vector<std::uint8_t>& code, std::size_t& exit_at,
//                       CodeFrame& frame)
//     The entry, called as void(NativeState* st, const void* block_code)
//     under the host's C calling convention: save the callee-saved
//     registers the code uses, keep st in one, load the base of script
//     memory (st->base) and the eight script registers (st->r), jump to
//     block_code. At exit_at the exit: store the script registers back to
//     st->r, restore, return. The code leaves through st->exit_code.
//     `frame` says what the entry pushed, for the unwind records of the
//     gate and of every block (blocks never move the stack pointer).
//   bool cpu_lower_block(const BlockPlan& plan, std::vector<std::uint8_t>& code)
//     The block's code, position independent (branches inside the block
//     relative; everything else by absolute address or through the state),
//     so the neutral part can copy it anywhere. False: the block stays
//     interpreted.
//
// Register assignment: each script register lives in one host register
// for the whole run (x86-64: r8..r15, so r6 = r14 and r7 = r15); the
// state pointer, the base of script memory and scratch registers are
// others the gate sets up.
//
// Rules the code keeps (the interpreter's results depend on them):
//  - Entry: the block's stamp, read from the Block (BlockOffsets), equals
//    st->stamp, else leave with kNativeEnter, pc = the block's start. Then
//    plan.count is taken from st->budget; if it was short, give it back and
//    leave with kNativeEnter. Then the frame window (plan.window_*) is
//    tested against st->hi; outside: give back, leave with kNativeStepAll,
//    pc = the block's start.
//  - Stop at the faulting instruction: before an instruction could fail
//    (an access outside script memory, the stack rule, a zero divisor,
//    ret to kReturnFinish, a call through 0) or store into translated code
//    ([st->code_lo, st->code_lo + st->code_span)), the code jumps to that
//    instruction's stop (StopTable): the budget of the instructions not
//    run is given back, pc = the instruction's address, exit kNativeStep.
//    Nothing is written before the instruction's checks have passed, so
//    registers, flags and memory are as they were before it.
//  - Slice accounting: a block's instructions are taken from the budget
//    once, on entry; stops give back what did not run, so every slice ends
//    after the same instruction as in the interpreter.
//  - Flags: zf/lf/bf in the state as the interpreter sets them (a compare
//    and the jump right after it may keep them in host flags).
//  - Leaving: to the successor's code through Block::taken / Block::fall
//    and Block::native (read when leaving, never patched into the code;
//    the successor makes its own entry checks), else to the interpreter
//    with kNativeTaken / kNativeFall / kNativeReturn and the pc.
//  - Code epoch: host writes into script code advance the address space's
//    code epoch, which the interpreter turns into a new translation stamp
//    between runs; the code relies on the stamp check at each block entry
//    and on stopping before its own stores into translated code.
//  - Instruction cache: native_memory.cpp flushes what it copies in, and
//    code is executable only after that; the code generator does nothing.
//  - Instructions: one lowering per opcode of TALVEN_OPCODES, named
//    lower_<NAME>, through a table built from that list, so a new opcode
//    does not compile until every CPU lowers it or it joins
//    TALVEN_NATIVE_INTERPRETED. The code stops at an interpreted
//    instruction (the interpreter runs it), and its block's code ends there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/address_space.h"
#include "script/native_memory.h"
#include "script/vm_translate.h"

#if defined(__x86_64__)
#define TALVEN_NATIVE_CPU 1
#else
#define TALVEN_NATIVE_CPU 0
#endif

namespace talven::script::native {

// The instructions machine code leaves to the interpreter: a builtin
// called without a wrapper, and the C library's fmod.
#define TALVEN_NATIVE_INTERPRETED(X) X(TRAP) X(FMOD)

// An instruction of a block with its place there.
struct BlockInsn : Insn {
  Addr pc = 0;             // its address
  Addr next = 0;           // the address after it
  unsigned index = 0;      // instructions of the block before it
  bool followed = false;   // a jump the block follows (no code)
  bool trap_call = false;  // a builtin call the interpreter makes
  bool in_window = false;  // a frame-slot access inside the block's window
};

// A block as the code generator sees it.
struct BlockPlan {
  Block* block = nullptr;
  Addr start = 0;
  Addr end = 0;             // where the block runs on when it does not jump
  std::uint32_t count = 0;  // instructions taken from the budget on entry
  std::vector<BlockInsn> insns;
  // The frame window [r6 + window_lo, r6 + window_lo + window_len), with
  // r6 as at entry, checked on entry (window_len 0: no window).
  std::int32_t window_lo = 0;
  std::uint32_t window_len = 0;
};

// Decodes block `b` into `plan`: false when the bytes no longer decode into
// the block's instructions.
bool plan_block(Block& b, BlockPlan& plan);

// Offsets of the Block fields the code reads.
struct BlockOffsets {
  std::int32_t start, stamp, taken, fall, native;
};
const BlockOffsets& block_offsets();

// Where code stops for the interpreter: one stop per instruction, reached
// by any number of jumps (positions in the code buffer, patched by the
// code generator when it writes the stop).
class StopTable {
 public:
  struct Stop {
    Addr pc;                  // the instruction the interpreter runs
    std::uint32_t give_back;  // its budget and that of the instructions after it
    std::vector<std::size_t> jumps;
  };

  void add(const BlockInsn& i, std::uint32_t block_count, std::size_t jump) {
    if (stops_.empty() || stops_.back().pc != i.pc)
      stops_.push_back(Stop{i.pc, block_count - i.index, {}});
    stops_.back().jumps.push_back(jump);
  }
  const std::vector<Stop>& stops() const { return stops_; }

 private:
  std::vector<Stop> stops_;
};

// ---- provided by the CPU's code generator (see above) -------------------------

bool cpu_build_gate(std::vector<std::uint8_t>& code, std::size_t& exit_at, CodeFrame& frame);
bool cpu_lower_block(const BlockPlan& plan, std::vector<std::uint8_t>& code);

}  // namespace talven::script::native
