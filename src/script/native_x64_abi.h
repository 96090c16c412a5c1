// The host's C calling convention as the x86-64 gate meets it.
//
// The gate is called as void(NativeState* st, const void* block_code); it
// saves the callee-saved registers machine code changes and restores them
// on the way out. Which registers carry the two arguments and which must
// be kept differ between systems, so each system states its convention in
// a file of its own (native_x64_abi_posix.cpp, native_x64_abi_win32.cpp);
// the gate builder (native_x64.cpp) reads it and is the same everywhere.
//
// Machine code writes rax, rbx, rcx, rdx, rbp, rsi, r8-r15 and xmm0-xmm1,
// never rdi, rsp or xmm2-xmm15. After the gate's pushes the stack pointer
// is wherever they left it: blocks call nothing, so only a convention that
// asks for an aligned frame needs an even count of pushes there.
#pragma once

#include <span>

namespace talven::script::native {

struct X64GateConvention {
  int state_arg;              // the register holding st
  int code_arg;               // the register holding block_code
  std::span<const int> kept;  // callee-saved registers the code writes, in push order
};

const X64GateConvention& x64_gate_convention();

}  // namespace talven::script::native
