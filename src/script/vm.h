// The script interpreter and the script context.
//
// A VmContext is one running script: eight registers, three condition flags,
// a program counter, a program area (code and data, shared by the contexts
// cloned from one compiled script) and a private stack. Program areas and
// stacks live in the script address space; every address in a context is a
// 32-bit script address. The record itself is host memory: scripts never see
// its address (setjmp/longjmp copy its 64 bytes to and from script memory),
// and keeping it out of reach means a stray store cannot move a script's
// stack bounds.
//
// vm_run() runs one slice of at most 255 instructions. Builtins are reached
// through the `trap` instruction, which calls the handler installed with
// vm_set_trap_handler() (the runtime's trap dispatcher).
//
// Every memory access of the interpreter (instruction fetch included) is
// checked against the address space; a bad address is a run-time error like
// the others, with the message "Invalid address error - 0x%08X" naming the
// address: level 1, state 2, vm_stop_flag set. No script can crash the
// process. Integer division of -2^31 by -1 wraps (quotient -2^31,
// remainder 0), and a float with no 32-bit integer converts to 0x80000000.
//
// Where the instruction set lives: one list, TALVEN_OPCODES in
// script/opcodes.h (opcode numbers, mnemonics, operand forms, registers
// read, how the disassembler writes the operands). The interpreter
// (vm.cpp) has exactly one handler per instruction, exec_OP_<NAME>, used
// both when code runs as pre-decoded blocks (script/vm_translate.h) and
// when one instruction is decoded from the image and run on its own. Machine
// code for blocks (script/native_code.h) has one lowering per instruction
// and CPU. Adding an instruction takes:
//   1. a row at the end of TALVEN_OPCODES: the Opcode enum, kOpInfo, the
//      decoder, the disassembler and every table below are made from it;
//   2. its handler exec_OP_<NAME> in vm.cpp (the handler tables are built
//      from the list, so the interpreter does not compile without it);
//   3. for each CPU with machine code, its lowering lower_<NAME> in
//      native_<cpu>.cpp, or the name in TALVEN_NATIVE_INTERPRETED
//      (script/native_backend.h) to leave it to the interpreter (those
//      tables are built from the list too).
// An instruction that can change pc also goes into ends_block()
// (vm_translate.cpp) and, if conditional, into jump_taken() (opcodes.h);
// the code generator emits it where it should.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/address_space.h"

namespace talven::script {

enum VmState : std::uint8_t {
  kVmRunning = 0,
  kVmFinished = 1,
  kVmError = 2,  // stopped by a run-time error, a bad builtin call or exit
};

struct VmContext {
  std::uint32_t thread_slot;  // script thread slot running the context
  std::uint8_t state;         // VmState
  std::uint8_t zero_flag;
  std::uint8_t less_flag;      // signed (float for fsub)
  std::uint8_t below_flag;     // unsigned
  Addr pc;                     // next instruction
  Addr program_users;          // 32-bit count of contexts sharing the program
  Addr program;                // base of the program area
  Addr stack;                  // lowest address of the stack area
  std::uint32_t program_size;  // bytes, without the user count word
  std::uint32_t stack_size;    // bytes
  std::uint32_t r[8];          // r0 result, r6 frame, r7 stack pointer
};

static_assert(sizeof(VmContext) == 64);
static_assert(offsetof(VmContext, thread_slot) == 0);
static_assert(offsetof(VmContext, state) == 4);
static_assert(offsetof(VmContext, zero_flag) == 5);
static_assert(offsetof(VmContext, less_flag) == 6);
static_assert(offsetof(VmContext, below_flag) == 7);
static_assert(offsetof(VmContext, pc) == 8);
static_assert(offsetof(VmContext, program_users) == 12);
static_assert(offsetof(VmContext, program) == 16);
static_assert(offsetof(VmContext, stack) == 20);
static_assert(offsetof(VmContext, program_size) == 24);
static_assert(offsetof(VmContext, stack_size) == 28);
static_assert(offsetof(VmContext, r) == 32);

// The trap handler: (builtin number, context) -> nonzero to end the slice.
// The context's pc is already past the trap; registers and flags are current.
using TrapHandler = int (*)(std::uint16_t number, VmContext* context);

// A zero-filled context with a zero-filled program area of program_size
// bytes followed by its user count (1), and a zero-filled stack; pc at the
// program, r7 at the top of the stack. Null on any failure (negative sizes
// included), with nothing left allocated.
VmContext* vm_create(std::int32_t program_size, std::int32_t stack_size);

// A context sharing the program area of `context` (its user count + 1),
// with a new stack of stack_size bytes, or the parent's size when
// stack_size <= 0. pc is the program base; the caller sets pc and pushes
// what the entry needs. Null for a null context or on failure.
VmContext* vm_clone(const VmContext* context, std::int32_t stack_size);

// Drops one user of the program area (freed with its last user), frees the
// stack and the record. Null is accepted.
void vm_free(VmContext* context);

// Installs the process-wide trap handler (null: `trap` does nothing).
void vm_set_trap_handler(TrapHandler handler);
TrapHandler vm_trap_handler();

// Asked when a slice of a running context ends because its instruction
// budget is spent: whether the thread would at once run another slice of the
// same context with nothing else to do in between (no other script thread is
// waiting for the processor, no sleep, no suspension). Then vm_run goes on
// with the next slice itself instead of returning.
using SliceHook = bool (*)(const VmContext* context);
void vm_set_slice_hook(SliceHook hook);

// Runs one slice of the context, or several in a row while the slice hook
// allows. Always returns 1.
int vm_run(VmContext* context);

// The process-wide stop flag. When set, vm_run returns at once and no script
// instruction runs. Set by run-time errors, bad builtin calls and the runtime
// stopping all scripts; cleared by the runtime when scripts start again.
// The flag is a 32-bit word in the script address space so that its address
// can be published to scripts and libraries that poll it.
class VmStopFlag {
 public:
  bool is_set() const;
  void set();
  void clear();
  explicit operator bool() const { return is_set(); }
  // Script address of the flag word.
  Addr address() const;
  // Host pointer to the word, for loops that poll it.
  std::uint32_t* word() const;
};

extern VmStopFlag vm_stop_flag;

// The run-time errors and their numbers.
enum VmError : int {
  kErrDivideByZero = 0,
  kErrOutOfMemory = 1,  // call through a null register
  kErrStackOverflow = 2,
  kErrInvalidCode = 3,
  kErrInvalidAddress = 4,  // our own: a load, store, jump or fetch outside script memory
};

// Message text of an error number (for kErrInvalidAddress: the format,
// taking the address as an unsigned int).
const char* vm_error_message(VmError error);

// Raises a run-time error on the context: message at level 1, state 2,
// vm_stop_flag set. `address` is used by kErrInvalidAddress only.
void vm_raise(VmContext* context, VmError error, Addr address = 0);
// The invalid-address error for a write refused by guard checking; `what`
// (from AddressSpace::describe_guard_hit) goes into the detailed report.
void vm_raise_guard(VmContext* context, Addr address, const std::string& what);

}  // namespace talven::script
