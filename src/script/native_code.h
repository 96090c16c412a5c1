// Machine code for pre-decoded blocks: the contract with the interpreter.
//
// A block whose instructions the host CPU's code generator handles is
// compiled once into host machine code that keeps the eight script
// registers in host registers. The code does exactly what the interpreter
// does for the same instructions, with one rule for everything unusual:
// before an instruction could fail, finish the context, or write into
// translated code, the code stops at that instruction with the state as it
// was before it, and the interpreter runs it from the image. So errors,
// their pcs and their messages are the interpreter's own.
//
// Every memory access is tested against the script address space's
// committed limit (frame slots once per block, by the rule of
// script/frame_window.h), so machine code never reaches outside script
// memory. Blocks are entered only while their stamp equals the
// translation's stamp, and each entry takes the block's instructions from
// the slice budget, so slices end where they end in the interpreter.
// Blocks jump to each other directly through the successor links the
// interpreter keeps (data the code reads; code is never patched).
//
// Entry and exit: native_run() enters through the gate, a shared sequence
// that saves the host's registers, loads the script registers from the
// NativeState and jumps to the block; the code leaves by jumping to
// NativeState::exit_code, which stores the registers back and returns. The
// interpreter then goes on as NativeState::exit says. Machine code calls
// nothing: builtin calls and everything else the interpreter does happen
// after the code has left.
//
// The code lives in memory that is never writable and executable at once
// (script/native_memory.h). What a CPU's code generator must provide is
// stated in script/native_backend.h; x86-64 has one (native_x64.cpp).
// Guard checking (DebugMode) and hosts without a code generator run the
// interpreter only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace talven::script {

struct Block;
struct Translation;

// What the interpreter hands to machine code and gets back. Field offsets
// are used by the generated code.
struct NativeState {
  std::uint32_t r[8];                 // the script registers
  std::uint64_t hi;                   // limit - kLowLimit: an access [a, a+n) is
  std::uint64_t hi1, hi2, hi4, hi24;  // inside when (a - kLowLimit) + n <= hi
  std::uint32_t budget = 0;           // instructions left in the slice
  std::uint32_t stamp = 0;            // the translation's stamp
  std::uint32_t code_lo = 0;          // translated bytes: a store into
  std::uint32_t code_span = 0;        //   [code_lo, code_lo + code_span) stops
  std::uint32_t stack = 0;            // the context's stack
  std::uint32_t stack_size = 0;
  std::uint32_t stack_room4 = 0;        // stack_size - 3: a push fits below it
  std::uint32_t pc = 0;                 // out: where execution goes on
  std::uint32_t exit = 0;               // out: NativeExit
  Block* blk = nullptr;                 // out: the block the code left
  std::uint8_t* base = nullptr;         // host address of script address 0
  const void* exit_code = nullptr;      // the shared exit sequence
  std::uint8_t zf = 0, lf = 0, bf = 0;  // the flags
};

enum NativeExit : std::uint32_t {
  kNativeTaken = 1,     // pc = the jump or call target of blk
  kNativeFall = 2,      // pc = the instruction after blk
  kNativeReturn = 3,    // pc = the return address popped by blk's ret
  kNativeEnter = 4,     // blk is to be entered by the interpreter (stale stamp or short budget)
  kNativeStep = 5,      // run the instruction at pc from the image (budget already given back)
  kNativeStepAll = 6,   // run the rest of the slice from the image, from pc
  kNativeTrapCall = 7,  // blk ends in a builtin call: its last op is to run
};

// Whether machine code can be made on this host (and was not switched off).
bool native_available();
// Switches machine code on or off (on by default where available); the
// tests compare the two.
void set_native_enabled(bool on);

// Compiles block `b` of translation `t` from the bytes the block was made
// from: its entry point, or null when the block cannot be decoded again or
// the translation's code space is full. Call it only from the interpreter
// of the thread that owns `t` (never while machine code runs).
void* native_compile(Translation& t, Block& b);

// Blocks compiled into machine code since the process started.
std::size_t native_blocks_made();

// Runs machine code from `entry` until it leaves; st->exit says why.
void native_run(NativeState* st, void* entry);

// Whether host address `pc` lies in machine code made here (the gate or a
// translation's code space); nullopt when that cannot be told without
// waiting (the list is being changed), as from a fault report.
std::optional<bool> native_code_holds(const void* pc);

// Code space of one translation (script/native_memory.h).
struct NativeArena;
void native_arena_free(NativeArena* arena);

}  // namespace talven::script
