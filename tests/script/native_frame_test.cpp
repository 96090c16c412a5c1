// Machine code's frame: the registers the gate keeps for its caller, the
// unwind records that let a stack walk leave generated code, and the list
// of regions that tells generated code from the rest.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "script/native_code.h"
#include "script/native_memory.h"

#if defined(__x86_64__)
#include "script/native_x64_asm.h"
#endif

#if defined(_WIN32)
#include <windows.h>
#endif

namespace talven::script {
namespace {

TEST(NativeCodeRegions, CodeIsKnownAsGeneratedWhileItsSpaceLives) {
  const std::uint8_t ret = 0xC3;
  const std::uint8_t* at = nullptr;
  {
    NativeArena arena;
    at = static_cast<const std::uint8_t*>(arena.add(&ret, 1));
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(native_code_holds(at), true);
    EXPECT_EQ(native_code_holds(at + NativeArena::kPieceBytes - 1), true);
    EXPECT_EQ(native_code_holds(at + NativeArena::kPieceBytes), false);
  }
  EXPECT_EQ(native_code_holds(at), false);  // unmapped: perhaps someone else's memory now
  EXPECT_EQ(native_code_holds(reinterpret_cast<const void*>(&native_code_holds)), false);
  const int local = 0;
  EXPECT_EQ(native_code_holds(&local), false);
}

#if defined(_WIN32) && defined(__x86_64__)

using namespace x64;

// talven_test_call_marked(run, st, code) calls run(st, code) with a marker
// in every register a Windows caller keeps (rbx, rbp, rdi, rsi, r12-r15,
// then xmm6-xmm15): bit n of its result says the n-th of them lost its
// marker. The call returns to talven_test_call_marked_return.
extern "C" std::uint32_t talven_test_call_marked(void (*run)(NativeState*, void*), NativeState* st,
                                                 void* code);
extern "C" char talven_test_call_marked_return[];
asm(R"(
    .intel_syntax noprefix
    .text
    .globl talven_test_call_marked
    .globl talven_test_call_marked_return
talven_test_call_marked:
    push rbx
    push rbp
    push rdi
    push rsi
    push r12
    push r13
    push r14
    push r15
    sub rsp, 200
    movdqu [rsp + 32], xmm6
    movdqu [rsp + 48], xmm7
    movdqu [rsp + 64], xmm8
    movdqu [rsp + 80], xmm9
    movdqu [rsp + 96], xmm10
    movdqu [rsp + 112], xmm11
    movdqu [rsp + 128], xmm12
    movdqu [rsp + 144], xmm13
    movdqu [rsp + 160], xmm14
    movdqu [rsp + 176], xmm15
    mov rax, rcx
    mov rcx, rdx
    mov rdx, r8
    mov rbx, 0x5A5A5A5A00000001
    mov rbp, 0x5A5A5A5A00000002
    mov rdi, 0x5A5A5A5A00000003
    mov rsi, 0x5A5A5A5A00000004
    mov r12, 0x5A5A5A5A00000005
    mov r13, 0x5A5A5A5A00000006
    mov r14, 0x5A5A5A5A00000007
    mov r15, 0x5A5A5A5A00000008
    mov r10, 0x5A5A5A5A00000009
    movq xmm6, r10
    mov r10, 0x5A5A5A5A0000000A
    movq xmm7, r10
    mov r10, 0x5A5A5A5A0000000B
    movq xmm8, r10
    mov r10, 0x5A5A5A5A0000000C
    movq xmm9, r10
    mov r10, 0x5A5A5A5A0000000D
    movq xmm10, r10
    mov r10, 0x5A5A5A5A0000000E
    movq xmm11, r10
    mov r10, 0x5A5A5A5A0000000F
    movq xmm12, r10
    mov r10, 0x5A5A5A5A00000010
    movq xmm13, r10
    mov r10, 0x5A5A5A5A00000011
    movq xmm14, r10
    mov r10, 0x5A5A5A5A00000012
    movq xmm15, r10
    call rax
talven_test_call_marked_return:
    xor eax, eax
    mov r10, 0x5A5A5A5A00000001
    cmp rbx, r10
    je .Lkept0
    or eax, 1
.Lkept0:
    mov r10, 0x5A5A5A5A00000002
    cmp rbp, r10
    je .Lkept1
    or eax, 2
.Lkept1:
    mov r10, 0x5A5A5A5A00000003
    cmp rdi, r10
    je .Lkept2
    or eax, 4
.Lkept2:
    mov r10, 0x5A5A5A5A00000004
    cmp rsi, r10
    je .Lkept3
    or eax, 8
.Lkept3:
    mov r10, 0x5A5A5A5A00000005
    cmp r12, r10
    je .Lkept4
    or eax, 16
.Lkept4:
    mov r10, 0x5A5A5A5A00000006
    cmp r13, r10
    je .Lkept5
    or eax, 32
.Lkept5:
    mov r10, 0x5A5A5A5A00000007
    cmp r14, r10
    je .Lkept6
    or eax, 64
.Lkept6:
    mov r10, 0x5A5A5A5A00000008
    cmp r15, r10
    je .Lkept7
    or eax, 128
.Lkept7:
    mov r10, 0x5A5A5A5A00000009
    movq r11, xmm6
    cmp r11, r10
    je .Lkept8
    or eax, 256
.Lkept8:
    mov r10, 0x5A5A5A5A0000000A
    movq r11, xmm7
    cmp r11, r10
    je .Lkept9
    or eax, 512
.Lkept9:
    mov r10, 0x5A5A5A5A0000000B
    movq r11, xmm8
    cmp r11, r10
    je .Lkept10
    or eax, 1024
.Lkept10:
    mov r10, 0x5A5A5A5A0000000C
    movq r11, xmm9
    cmp r11, r10
    je .Lkept11
    or eax, 2048
.Lkept11:
    mov r10, 0x5A5A5A5A0000000D
    movq r11, xmm10
    cmp r11, r10
    je .Lkept12
    or eax, 4096
.Lkept12:
    mov r10, 0x5A5A5A5A0000000E
    movq r11, xmm11
    cmp r11, r10
    je .Lkept13
    or eax, 8192
.Lkept13:
    mov r10, 0x5A5A5A5A0000000F
    movq r11, xmm12
    cmp r11, r10
    je .Lkept14
    or eax, 16384
.Lkept14:
    mov r10, 0x5A5A5A5A00000010
    movq r11, xmm13
    cmp r11, r10
    je .Lkept15
    or eax, 32768
.Lkept15:
    mov r10, 0x5A5A5A5A00000011
    movq r11, xmm14
    cmp r11, r10
    je .Lkept16
    or eax, 65536
.Lkept16:
    mov r10, 0x5A5A5A5A00000012
    movq r11, xmm15
    cmp r11, r10
    je .Lkept17
    or eax, 131072
.Lkept17:
    movdqu xmm6, [rsp + 32]
    movdqu xmm7, [rsp + 48]
    movdqu xmm8, [rsp + 64]
    movdqu xmm9, [rsp + 80]
    movdqu xmm10, [rsp + 96]
    movdqu xmm11, [rsp + 112]
    movdqu xmm12, [rsp + 128]
    movdqu xmm13, [rsp + 144]
    movdqu xmm14, [rsp + 160]
    movdqu xmm15, [rsp + 176]
    add rsp, 200
    pop r15
    pop r14
    pop r13
    pop r12
    pop rsi
    pop rdi
    pop rbp
    pop rbx
    ret
    .att_syntax prefix
)");

constexpr std::uint64_t marker(int n) { return 0x5A5A5A5A00000000u + static_cast<unsigned>(n); }
constexpr int kMarked[] = {RBX, RBP, RDI, RSI, R12, R13, R14, R15};  // markers 1..8

// The register numbered `reg` of a context (its fields follow the numbering).
DWORD64& reg_of(CONTEXT& c, int reg) { return (&c.Rax)[reg]; }

// Code that writes every register machine code may write (rax, rcx, rdx,
// rsi, r8-r15, xmm0, xmm1), then faults reading address 0 when asked,
// then leaves through the gate's exit.
std::vector<std::uint8_t> scratch_code(bool fault) {
  Asm a;
  for (int r : {RAX, RCX, RDX, RSI, R8, R9, R10, R11, R12, R13, R14, R15}) a.mov_imm(r, 0x77u + r);
  a.movd_to_xmm(0, RAX);
  a.movd_to_xmm(1, RCX);
  if (fault) {
    a.mov_imm(RAX, 0);
    a.load32(RAX, Mem{RAX});
  }
  a.jmp(Mem{RBP, -1, static_cast<std::int32_t>(offsetof(NativeState, exit_code))});
  return a.code;
}

TEST(NativeGateWindows, TheCallersRegistersSurviveMachineCode) {
  if (!native_available()) GTEST_SKIP() << "no machine code here";
  NativeArena arena;
  const std::vector<std::uint8_t> code = scratch_code(false);
  void* at = arena.add(code.data(), code.size());
  ASSERT_NE(at, nullptr);
  NativeState st{};
  EXPECT_EQ(talven_test_call_marked(native_run, &st, at), 0u);
  // The script registers are stored back from r8-r15.
  EXPECT_EQ(st.r[0], 0x77u + R8);
  EXPECT_EQ(st.r[7], 0x77u + R15);
}

// Filled in by the handler below when machine code faults.
struct FaultSeen {
  bool faulted = false;
  bool every_frame_found = false;  // each step out of the fault had records
  bool reached_caller = false;     // the walk came to talven_test_call_marked
  CONTEXT at_caller{};             // the registers there
};
FaultSeen g_seen;
const void* g_exit = nullptr;

// Walks out of the fault with the system's unwinder until the frame of
// talven_test_call_marked, then resumes the faulting code at the gate's
// exit, which returns normally.
LONG CALLBACK walk_out_of_fault(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || !g_exit ||
      !native_code_holds(info->ExceptionRecord->ExceptionAddress).value_or(false))
    return EXCEPTION_CONTINUE_SEARCH;
  g_seen.faulted = true;
  g_seen.every_frame_found = true;
  CONTEXT c = *info->ContextRecord;
  for (int step = 0; step < 4; ++step) {
    DWORD64 base = 0;
    PRUNTIME_FUNCTION f = RtlLookupFunctionEntry(c.Rip, &base, nullptr);
    if (!f) {
      g_seen.every_frame_found = false;
      break;
    }
    PVOID handler_data = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, c.Rip, f, &c, &handler_data, &establisher, nullptr);
    if (c.Rip == reinterpret_cast<DWORD64>(talven_test_call_marked_return)) {
      g_seen.reached_caller = true;
      g_seen.at_caller = c;
      break;
    }
  }
  info->ContextRecord->Rip = reinterpret_cast<DWORD64>(g_exit);
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(NativeGateWindows, AFaultInMachineCodeUnwindsToTheGatesCaller) {
  if (!native_available()) GTEST_SKIP() << "no machine code here";
  NativeArena arena;
  const std::vector<std::uint8_t> code = scratch_code(true);
  void* at = arena.add(code.data(), code.size());
  ASSERT_NE(at, nullptr);
  const std::vector<std::uint8_t> leave = scratch_code(false);
  NativeState st{};
  native_run(&st, arena.add(leave.data(), leave.size()));  // sets st.exit_code
  g_exit = st.exit_code;
  g_seen = FaultSeen{};
  PVOID handler = AddVectoredExceptionHandler(1, walk_out_of_fault);
  ASSERT_NE(handler, nullptr);
  const std::uint32_t lost = talven_test_call_marked(native_run, &st, at);
  RemoveVectoredExceptionHandler(handler);
  g_exit = nullptr;
  EXPECT_EQ(lost, 0u);
  ASSERT_TRUE(g_seen.faulted);
  EXPECT_TRUE(g_seen.every_frame_found);
  ASSERT_TRUE(g_seen.reached_caller);
  for (int n = 0; n < 8; ++n)
    EXPECT_EQ(reg_of(g_seen.at_caller, kMarked[n]), marker(n + 1)) << "register " << kMarked[n];
}

// Unwinding from each point of the gate's prologue undoes exactly the
// pushes made there; from anywhere in a piece, all of them.
TEST(NativeGateWindows, UnwindRecordsFollowTheGatesPushes) {
  if (!native_available()) GTEST_SKIP() << "no machine code here";
  NativeState st{};
  NativeArena arena;
  const std::vector<std::uint8_t> code = scratch_code(false);
  auto* piece = static_cast<std::uint8_t*>(arena.add(code.data(), code.size()));
  ASSERT_NE(piece, nullptr);
  native_run(&st, piece);
  DWORD64 base = 0;
  PRUNTIME_FUNCTION gate_fn =
      RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(st.exit_code), &base, nullptr);
  ASSERT_NE(gate_fn, nullptr);
  const DWORD64 gate = base + gate_fn->BeginAddress;
  const CodeFrame& frame = native::gate_frame();
  ASSERT_EQ(frame.pushes.size(), 7u);  // rbx, rbp, rsi, r12-r15
  const std::size_t all = frame.pushes.size();
  constexpr DWORD64 kReturn = 0x123456789A;
  auto unwind_from = [&](DWORD64 pc, std::size_t pushed) {
    std::vector<DWORD64> stack(all + 2, 0);
    for (std::size_t k = 0; k < pushed; ++k)
      stack[pushed - 1 - k] = 0x1000 + static_cast<DWORD64>(frame.pushes[k].reg);
    stack[pushed] = kReturn;
    CONTEXT c{};
    for (int r = 0; r < 16; ++r) reg_of(c, r) = 0xBAD0 + static_cast<DWORD64>(r);
    c.Rip = pc;
    c.Rsp = reinterpret_cast<DWORD64>(stack.data());
    DWORD64 fn_base = 0;
    PRUNTIME_FUNCTION f = RtlLookupFunctionEntry(pc, &fn_base, nullptr);
    ASSERT_NE(f, nullptr) << pushed;
    PVOID data = nullptr;
    DWORD64 establisher = 0;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, fn_base, pc, f, &c, &data, &establisher, nullptr);
    EXPECT_EQ(c.Rip, kReturn) << pushed;
    EXPECT_EQ(c.Rsp, reinterpret_cast<DWORD64>(stack.data() + pushed + 1)) << pushed;
    for (std::size_t k = 0; k < all; ++k) {
      const int r = frame.pushes[k].reg;
      EXPECT_EQ(reg_of(c, r), k < pushed ? 0x1000 + static_cast<DWORD64>(r) : 0xBAD0 + r)
          << "register " << r << " after " << pushed << " pushes";
    }
  };
  unwind_from(gate, 0);
  for (std::size_t k = 0; k < all; ++k) unwind_from(gate + frame.pushes[k].end, k + 1);
  unwind_from(reinterpret_cast<DWORD64>(piece), all);  // the first byte of a piece
  unwind_from(reinterpret_cast<DWORD64>(piece) + 3, all);
}

#endif

}  // namespace
}  // namespace talven::script
