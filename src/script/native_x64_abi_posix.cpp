// The x86-64 gate's convention on POSIX systems (System V): arguments in
// rdi and rsi; rbx, rbp and r12-r15 are the caller's.
#include "script/native_x64_abi.h"

#if defined(__x86_64__)

#include "script/native_x64_asm.h"

namespace talven::script::native {

using namespace talven::script::x64;

const X64GateConvention& x64_gate_convention() {
  static constexpr int kKept[] = {RBX, RBP, R12, R13, R14, R15};
  static const X64GateConvention convention{RDI, RSI, kKept};
  return convention;
}

}  // namespace talven::script::native

#endif  // __x86_64__
