// The x86-64 gate's convention on Windows: arguments in rcx and rdx; rbx,
// rbp, rdi, rsi, r12-r15 and xmm6-xmm15 are the caller's. Machine code
// writes rsi but never rdi or an xmm register above xmm1, so rsi is kept
// and the others need nothing. Seven pushes after the return address
// leave the stack pointer 16-byte aligned, as the convention asks of a
// function's body.
#include "script/native_x64_abi.h"

#if defined(__x86_64__)

#include <iterator>

#include "script/native_x64_asm.h"

namespace talven::script::native {

using namespace talven::script::x64;

const X64GateConvention& x64_gate_convention() {
  static constexpr int kKept[] = {RBX, RBP, RSI, R12, R13, R14, R15};
  static_assert(std::size(kKept) % 2 == 1, "the body's stack pointer must be 16-byte aligned");
  static const X64GateConvention convention{RCX, RDX, kKept};
  return convention;
}

}  // namespace talven::script::native

#endif  // __x86_64__
