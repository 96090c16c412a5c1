// Machine code for pre-decoded blocks: the x86-64 code generator.
//
// Registers: script register n lives in r8 + n for the whole run (r6, the
// frame, in r14; r7, the stack, in r15). rbp holds the NativeState, rbx
// the host address of script address 0; rax, rcx, rdx, rsi and xmm0/xmm1
// are scratch. A script address a is reached as [rbx + a] after the check
// that (a - kLowLimit) + n <= st->hi.
//
// Each opcode has its lowering lower_<NAME>; the table that dispatches to
// them is built from TALVEN_OPCODES, with the opcodes of
// TALVEN_NATIVE_INTERPRETED stopping for the interpreter instead.
#include "script/native_backend.h"

#if defined(__x86_64__)

#include <array>
#include <cstddef>

#include "script/native_code.h"
#include "script/native_x64_abi.h"
#include "script/native_x64_asm.h"
#include "script/opcodes.h"

namespace talven::script::native {

namespace {

using namespace x64;

// Script register n.
constexpr int host(unsigned n) { return R8 + static_cast<int>(n); }
constexpr int kFrame = host(kRegFrame);
constexpr int kStack = host(kRegStack);
constexpr int kState = RBP;
constexpr int kMemory = RBX;
constexpr int kX0 = 0, kX1 = 1;  // xmm0, xmm1

// ---- the state as the code sees it --------------------------------------------

#define NS_FIELD(field) \
  Mem { kState, -1, static_cast<std::int32_t>(offsetof(NativeState, field)) }
const Mem kBudgetField = NS_FIELD(budget);
const Mem kStampField = NS_FIELD(stamp);
const Mem kCodeLoField = NS_FIELD(code_lo);
const Mem kCodeSpanField = NS_FIELD(code_span);
const Mem kStackField = NS_FIELD(stack);
const Mem kStackSizeField = NS_FIELD(stack_size);
const Mem kStackRoom4Field = NS_FIELD(stack_room4);
const Mem kPcField = NS_FIELD(pc);
const Mem kExitField = NS_FIELD(exit);
const Mem kBlkField = NS_FIELD(blk);
const Mem kBaseField = NS_FIELD(base);
const Mem kExitCodeField = NS_FIELD(exit_code);
const Mem kHiField = NS_FIELD(hi);
const Mem kZfField = NS_FIELD(zf);
const Mem kLfField = NS_FIELD(lf);
const Mem kBfField = NS_FIELD(bf);
// st->hi minus an access's length
Mem hi_for(int len) {
  switch (len) {
    case 1: return NS_FIELD(hi1);
    case 2: return NS_FIELD(hi2);
    case 4: return NS_FIELD(hi4);
    default: return NS_FIELD(hi24);
  }
}
#undef NS_FIELD
Mem register_field(unsigned n) {
  return Mem{kState, -1, static_cast<std::int32_t>(offsetof(NativeState, r) + 4 * n)};
}
// The script memory at the address in rax.
const Mem kAtRax{kMemory, RAX, 0};

Cond jcc_cond(std::uint8_t op) {
  switch (op) {
    case OP_JE: return kE;
    case OP_JNE: return kNE;
    case OP_JG: return kG;
    case OP_JGE: return kGE;
    case OP_JL: return kL;
    case OP_JLE: return kLE;
    case OP_JA: return kA;
    case OP_JAE: return kAE;
    case OP_JB: return kB;
    default: return kBE;
  }
}

// How a load or store reaches its address.
enum class Reach { kAbsolute, kFrame, kRegister };

class Lowering {
 public:
  explicit Lowering(const BlockPlan& plan) : plan_(plan), b_(*plan.block), off_(block_offsets()) {}

  void run();
  std::vector<std::uint8_t>& code() { return a_.code; }

  // ---- one lowering per opcode ----
  void lower_NOP(const BlockInsn&) {}
  void lower_XCHG(const BlockInsn& i) {
    a_.mov(RAX, D(i));
    a_.mov(D(i), S(i));
    a_.mov(S(i), RAX);
  }
  void lower_MOVL_RR(const BlockInsn& i) { a_.mov(D(i), S(i)); }
  void lower_MOVL_IMM(const BlockInsn& i) { a_.mov_imm(D(i), i.imm); }
  void lower_MOVL_ADDR(const BlockInsn& i) { a_.mov_imm(D(i), i.imm); }
  void lower_LEA(const BlockInsn& i) { a_.lea32(D(i), frame_slot(i)); }

  void lower_MOVBL_ABS(const BlockInsn& i) { load(i, Reach::kAbsolute, 1, false); }
  void lower_MOVSBL_ABS(const BlockInsn& i) { load(i, Reach::kAbsolute, 1, true); }
  void lower_MOVWL_ABS(const BlockInsn& i) { load(i, Reach::kAbsolute, 2, false); }
  void lower_MOVSWL_ABS(const BlockInsn& i) { load(i, Reach::kAbsolute, 2, true); }
  void lower_MOVL_LOAD_ABS(const BlockInsn& i) { load(i, Reach::kAbsolute, 4, false); }
  void lower_MOVBL_FRAME(const BlockInsn& i) { load(i, Reach::kFrame, 1, false); }
  void lower_MOVSBL_FRAME(const BlockInsn& i) { load(i, Reach::kFrame, 1, true); }
  void lower_MOVWL_FRAME(const BlockInsn& i) { load(i, Reach::kFrame, 2, false); }
  void lower_MOVSWL_FRAME(const BlockInsn& i) { load(i, Reach::kFrame, 2, true); }
  void lower_MOVL_LOAD_FRAME(const BlockInsn& i) { load(i, Reach::kFrame, 4, false); }
  void lower_MOVBL_IND(const BlockInsn& i) { load(i, Reach::kRegister, 1, false); }
  void lower_MOVSBL_IND(const BlockInsn& i) { load(i, Reach::kRegister, 1, true); }
  void lower_MOVWL_IND(const BlockInsn& i) { load(i, Reach::kRegister, 2, false); }
  void lower_MOVSWL_IND(const BlockInsn& i) { load(i, Reach::kRegister, 2, true); }
  void lower_MOVL_LOAD_IND(const BlockInsn& i) { load(i, Reach::kRegister, 4, false); }

  void lower_MOVB_ABS(const BlockInsn& i) { store(i, Reach::kAbsolute, 1); }
  void lower_MOVW_ABS(const BlockInsn& i) { store(i, Reach::kAbsolute, 2); }
  void lower_MOVL_STORE_ABS(const BlockInsn& i) { store(i, Reach::kAbsolute, 4); }
  void lower_MOVB_FRAME(const BlockInsn& i) { store(i, Reach::kFrame, 1); }
  void lower_MOVW_FRAME(const BlockInsn& i) { store(i, Reach::kFrame, 2); }
  void lower_MOVL_STORE_FRAME(const BlockInsn& i) { store(i, Reach::kFrame, 4); }
  void lower_MOVB_IND(const BlockInsn& i) { store(i, Reach::kRegister, 1); }
  void lower_MOVW_IND(const BlockInsn& i) { store(i, Reach::kRegister, 2); }
  void lower_MOVL_STORE_IND(const BlockInsn& i) { store(i, Reach::kRegister, 4); }

  void lower_PUSH(const BlockInsn& i) {
    push_slot(i);
    a_.store32(kAtRax, S(i));
  }
  void lower_PUSH_IMM(const BlockInsn& i) {
    push_slot(i);
    a_.store32_imm(kAtRax, i.imm);
  }
  void lower_POP(const BlockInsn& i) {
    load_top(i, RDX);
    a_.add_imm(kStack, 4);
    a_.mov(D(i), RDX);
  }
  void lower_ENTER(const BlockInsn& i);
  void lower_LEAVE(const BlockInsn& i);
  void lower_CALL(const BlockInsn& i) {
    if (i.trap_call) {
      exit_to(kNativeTrapCall);
      ended_ = true;
      return;
    }
    push_slot(i);
    a_.store32_imm(kAtRax, i.next);
    link(kNativeTaken, i.imm);
    ended_ = true;
  }
  void lower_CALL_REG(const BlockInsn& i) {
    a_.test(S(i), S(i));
    fail(i, kE);  // a call through 0 is the interpreter's error
    push_slot(i);
    a_.mov(RCX, S(i));  // after r7 changed, as the interpreter reads it
    a_.store32_imm(kAtRax, i.next);
    link_dynamic(kNativeTaken);
    ended_ = true;
  }
  void lower_RET(const BlockInsn& i) {
    load_top(i, RCX);
    a_.cmp_imm(RCX, kReturnFinish);
    fail(i, kE);  // finishing the context is the interpreter's
    a_.add_imm(kStack, 4);
    link_dynamic(kNativeReturn);
    ended_ = true;
  }
  void lower_PREOP(const BlockInsn& i) { add_through(i, true); }
  void lower_POSTOP(const BlockInsn& i) { add_through(i, false); }
  void lower_PREINC(const BlockInsn& i) { inc_dec(i, 1, 1, true); }
  void lower_POSTINC(const BlockInsn& i) { inc_dec(i, 1, 1, false); }
  void lower_PREDEC(const BlockInsn& i) { inc_dec(i, 1, -1, true); }
  void lower_POSTDEC(const BlockInsn& i) { inc_dec(i, 1, -1, false); }
  void lower_PREINC16(const BlockInsn& i) { inc_dec(i, 2, 1, true); }
  void lower_POSTINC16(const BlockInsn& i) { inc_dec(i, 2, 1, false); }
  void lower_PREDEC16(const BlockInsn& i) { inc_dec(i, 2, -1, true); }
  void lower_POSTDEC16(const BlockInsn& i) { inc_dec(i, 2, -1, false); }
  void lower_ZEROB_ABS(const BlockInsn& i) { test_zero(i, Reach::kAbsolute, 1); }
  void lower_ZEROW_ABS(const BlockInsn& i) { test_zero(i, Reach::kAbsolute, 2); }
  void lower_ZEROL_ABS(const BlockInsn& i) { test_zero(i, Reach::kAbsolute, 4); }
  void lower_ZEROB_FRAME(const BlockInsn& i) { test_zero(i, Reach::kFrame, 1); }
  void lower_ZEROW_FRAME(const BlockInsn& i) { test_zero(i, Reach::kFrame, 2); }
  void lower_ZEROL_FRAME(const BlockInsn& i) { test_zero(i, Reach::kFrame, 4); }

  void lower_CMP(const BlockInsn& i) {
    a_.cmp(D(i), S(i));
    set_flags();
  }
  void lower_CMP_IMM(const BlockInsn& i) {
    a_.cmp_imm(D(i), i.imm);
    set_flags();
  }
  void lower_SUB(const BlockInsn& i) {
    a_.cmp(D(i), S(i));
    set_flags();
    a_.sub(D(i), S(i));  // the same host flags as the compare
  }
  void lower_SUB_IMM(const BlockInsn& i) {
    a_.cmp_imm(D(i), i.imm);
    set_flags();
    a_.sub_imm(D(i), i.imm);
  }
  void lower_SET(const BlockInsn& i) {
    a_.test(S(i), S(i));
    a_.setcc(kE, RCX);
    a_.zx8(RCX, RCX);
    a_.mov(D(i), RCX);
  }
  void lower_ADD(const BlockInsn& i) { a_.add(D(i), S(i)); }
  void lower_ADD_IMM(const BlockInsn& i) { a_.add_imm(D(i), i.imm); }
  void lower_AND(const BlockInsn& i) { a_.and_(D(i), S(i)); }
  void lower_OR(const BlockInsn& i) { a_.or_(D(i), S(i)); }
  void lower_XOR(const BlockInsn& i) { a_.xor_(D(i), S(i)); }
  void lower_MUL(const BlockInsn& i) { a_.imul(D(i), S(i)); }
  void lower_DIV(const BlockInsn& i) { divide(i, true); }
  void lower_MOD(const BlockInsn& i) { divide(i, false); }
  void lower_SHL(const BlockInsn& i) {
    a_.mov(RCX, S(i));
    a_.shl_cl(D(i));
  }
  void lower_SHR(const BlockInsn& i) {
    a_.mov(RCX, S(i));
    a_.shr_cl(D(i));
  }
  void lower_SAR(const BlockInsn& i) {
    a_.mov(RCX, S(i));
    a_.sar_cl(D(i));
  }
  void lower_NEG(const BlockInsn& i) {
    a_.mov(RAX, S(i));
    a_.neg(RAX);
    a_.mov(D(i), RAX);
  }
  void lower_NOT(const BlockInsn& i) {
    a_.mov(RAX, S(i));
    a_.not_(RAX);
    a_.mov(D(i), RAX);
  }

  void lower_JMP(const BlockInsn& i) {
    link(kNativeTaken, i.imm);
    ended_ = true;
  }
  void lower_JE(const BlockInsn& i) { cond_jump(i); }
  void lower_JNE(const BlockInsn& i) { cond_jump(i); }
  void lower_JG(const BlockInsn& i) { cond_jump(i); }
  void lower_JGE(const BlockInsn& i) { cond_jump(i); }
  void lower_JL(const BlockInsn& i) { cond_jump(i); }
  void lower_JLE(const BlockInsn& i) { cond_jump(i); }
  void lower_JA(const BlockInsn& i) { cond_jump(i); }
  void lower_JAE(const BlockInsn& i) { cond_jump(i); }
  void lower_JB(const BlockInsn& i) { cond_jump(i); }
  void lower_JBE(const BlockInsn& i) { cond_jump(i); }

  // Floats: rD op rS with rD the first operand, so a NaN result is the
  // first NaN of rD, rS made quiet, as the interpreter's rule says.
  void lower_FADD(const BlockInsn& i) {
    float_operands(i);
    a_.addss(kX0, kX1);
    a_.movd_from_xmm(D(i), kX0);
  }
  void lower_FMUL(const BlockInsn& i) {
    float_operands(i);
    a_.mulss(kX0, kX1);
    a_.movd_from_xmm(D(i), kX0);
  }
  void lower_FDIV(const BlockInsn& i) {
    float_operands(i);
    a_.divss(kX0, kX1);
    a_.movd_from_xmm(D(i), kX0);
  }
  void lower_FSUB(const BlockInsn& i);
  void lower_FNEG(const BlockInsn& i) {
    a_.mov(RAX, S(i));
    a_.xor_imm(RAX, 0x80000000u);
    a_.mov(D(i), RAX);
  }
  void lower_FTOI(const BlockInsn& i) {
    // Truncation; NaN and out-of-range values give 0x80000000.
    a_.movd_to_xmm(kX0, S(i));
    a_.cvttss2si(D(i), kX0);
  }
  void lower_ITOF(const BlockInsn& i) {
    a_.cvtsi2ss(kX0, S(i));
    a_.movd_from_xmm(D(i), kX0);
  }

  // What follows an interpreted instruction is a block of its own.
#define TALVEN_X64_INTERPRETED(NAME) \
  void lower_##NAME(const BlockInsn& i) { \
    step(i); \
    ended_ = true; \
  }
  TALVEN_NATIVE_INTERPRETED(TALVEN_X64_INTERPRETED)
#undef TALVEN_X64_INTERPRETED

 private:
  static int D(const BlockInsn& i) { return host(i.d); }
  static int S(const BlockInsn& i) { return host(i.s); }
  static Mem frame_slot(const BlockInsn& i) {
    return Mem{kFrame, -1, static_cast<std::int32_t>(i.imm)};
  }

  void entry_checks(std::size_t& stale, std::size_t& short_budget, std::size_t& window_fail);
  void exit_paths(std::size_t stale, std::size_t short_budget, std::size_t window_fail);

  void exit_to(NativeExit e) {
    a_.mov_imm64(RAX, reinterpret_cast<std::uint64_t>(&b_));
    a_.store64(kBlkField, RAX);
    a_.store32_imm(kExitField, e);
    a_.jmp(kExitCodeField);
  }
  // Stops at instruction i when condition cc holds, or always.
  void fail(const BlockInsn& i, Cond cc) { stops_.add(i, b_.count, a_.jcc(cc)); }
  void step(const BlockInsn& i) { stops_.add(i, b_.count, a_.jmp()); }

  // rax holds a script address: stop unless [rax, rax + len) is committed.
  void check_space(const BlockInsn& i, int len) {
    a_.lea32(RCX, Mem{RAX, -1, -static_cast<std::int32_t>(kLowLimit)});
    a_.cmp64(RCX, hi_for(len));
    fail(i, kG);
  }
  // rax holds the address of a store: stop if it lies in translated code.
  void check_code(const BlockInsn& i) {
    a_.mov(RCX, RAX);
    a_.sub(RCX, kCodeLoField);
    a_.cmp(RCX, kCodeSpanField);
    fail(i, kB);
  }
  // rax = the address of a load or store of instruction i, checked unless
  // it is a frame slot inside the block's window.
  void address(const BlockInsn& i, Reach reach, int len, unsigned reg) {
    if (reach == Reach::kAbsolute) a_.mov_imm(RAX, i.imm);
    else if (reach == Reach::kFrame) a_.lea32(RAX, frame_slot(i));
    else a_.mov(RAX, host(reg));
    if (!(reach == Reach::kFrame && window_)) check_space(i, len);
  }
  void load(const BlockInsn& i, Reach reach, int len, bool sign) {
    address(i, reach, len, i.s);
    if (len == 4) a_.load32(D(i), kAtRax);
    else if (len == 2) sign ? a_.load16_sx(D(i), kAtRax) : a_.load16_zx(D(i), kAtRax);
    else sign ? a_.load8_sx(D(i), kAtRax) : a_.load8_zx(D(i), kAtRax);
  }
  void store(const BlockInsn& i, Reach reach, int len) {
    address(i, reach, len, i.d);
    check_code(i);
    if (len == 4) a_.store32(kAtRax, S(i));
    else if (len == 2) a_.store16(kAtRax, S(i));
    else a_.store8(kAtRax, S(i));
  }
  void test_zero(const BlockInsn& i, Reach reach, int len) {
    address(i, reach, len, 0);
    a_.cmp_zero(kAtRax, len);
    a_.setcc(kE, kZfField);
  }
  // The interpreter's flags from the host flags of a compare; they stay in
  // the host flags for a conditional jump right after it.
  void set_flags() {
    a_.setcc(kE, kZfField);
    a_.setcc(kL, kLfField);
    a_.setcc(kB, kBfField);
    flags_live_ = true;
  }
  // rax = r7 - 4, the slot of a push, with its checks; r7 = rax.
  void push_slot(const BlockInsn& i) {
    a_.lea32(RAX, Mem{kStack, -1, -4});
    check_push(i);
    a_.mov(kStack, RAX);
  }
  // stop unless [rax, rax + 4) lies inside the stack (rax: a new r7 below the old one)
  void check_push(const BlockInsn& i) {
    a_.mov(RCX, RAX);
    a_.sub(RCX, kStackField);
    a_.cmp(RCX, kStackRoom4Field);
    fail(i, kAE);
  }
  // dst = the word at r7, with the checks of a pop (r7 + 4 inside the
  // stack, the word inside script memory); r7 is left as it is.
  void load_top(const BlockInsn& i, int dst) {
    a_.lea32(RCX, Mem{kStack, -1, 4});
    check_stack_ecx(i);
    a_.mov(RAX, kStack);
    check_space(i, 4);
    a_.load32(dst, kAtRax);
  }
  // stop unless ecx (a new r7) satisfies the stack rule
  void check_stack_ecx(const BlockInsn& i) {
    a_.sub(RCX, kStackField);
    a_.cmp(RCX, kStackSizeField);
    fail(i, kAE);
  }
  void add_through(const BlockInsn& i, bool pre);
  void inc_dec(const BlockInsn& i, int len, int delta, bool pre);
  void divide(const BlockInsn& i, bool quotient);
  void float_operands(const BlockInsn& i) {
    a_.movd_to_xmm(kX0, D(i));
    a_.movd_to_xmm(kX1, S(i));
  }
  void cond_jump(const BlockInsn& i);
  void link(NativeExit e, Addr pc);
  void link_dynamic(NativeExit e);

  const BlockPlan& plan_;
  Block& b_;
  const BlockOffsets& off_;
  Asm a_;
  StopTable stops_;
  bool window_ = false;           // the current instruction's frame slot is in the window
  bool flags_live_ = false;       // the host flags hold the last compare's result
  bool flags_were_live_ = false;  // they did before the current instruction
  bool ended_ = false;            // the block's code has left
};

// ---- the table, from the instruction list ---------------------------------------

using LowerFn = void (Lowering::*)(const BlockInsn&);

constexpr std::array<LowerFn, kOpcodeCount> make_lowerings() {
  std::array<LowerFn, kOpcodeCount> t{};
#define TALVEN_X64_LOWERING(NAME, ...) t[OP_##NAME] = &Lowering::lower_##NAME;
  TALVEN_OPCODES(TALVEN_X64_LOWERING)
#undef TALVEN_X64_LOWERING
  return t;
}
// Every row of the list names its lowering here, so an opcode without a
// lower_NAME does not compile; the opcodes are numbered densely by the list.
constexpr std::array<LowerFn, kOpcodeCount> kLowerings = make_lowerings();

// ---- blocks -----------------------------------------------------------------------

void Lowering::run() {
  std::size_t stale = 0, short_budget = 0, window_fail = 0;
  entry_checks(stale, short_budget, window_fail);
  for (const BlockInsn& i : plan_.insns) {
    if (i.followed) continue;
    window_ = i.in_window;
    flags_were_live_ = flags_live_;
    flags_live_ = false;
    (this->*kLowerings[i.op])(i);
    if (ended_) break;
  }
  if (!ended_) link(kNativeFall, plan_.end);  // runs on into the next block
  exit_paths(stale, short_budget, window_fail);
}

// A current stamp, then the block's instructions from the budget, then the
// frame window inside script memory.
void Lowering::entry_checks(std::size_t& stale, std::size_t& short_budget,
                            std::size_t& window_fail) {
  a_.mov_imm64(RAX, reinterpret_cast<std::uint64_t>(&b_));
  a_.load32(RCX, Mem{RAX, -1, off_.stamp});
  a_.cmp(RCX, kStampField);
  stale = a_.jcc(kNE);
  a_.sub_mem_imm(kBudgetField, plan_.count);
  short_budget = a_.jcc(kB);
  if (plan_.window_len) {
    a_.lea32(RAX, Mem{kFrame, -1, plan_.window_lo});
    a_.lea32(RCX, Mem{RAX, -1, -static_cast<std::int32_t>(kLowLimit)});
    a_.add64_imm(RCX, plan_.window_len);
    a_.cmp64(RCX, kHiField);
    window_fail = a_.jcc(kG);
  }
}

// The cold paths: leaving before the block ran, and the stops.
void Lowering::exit_paths(std::size_t stale, std::size_t short_budget, std::size_t window_fail) {
  a_.patch(short_budget, a_.here());
  a_.add_mem_imm(kBudgetField, plan_.count);
  a_.patch(stale, a_.here());
  a_.mov_imm64(RAX, reinterpret_cast<std::uint64_t>(&b_));
  a_.store64(kBlkField, RAX);
  a_.store32_imm(kPcField, plan_.start);
  a_.store32_imm(kExitField, kNativeEnter);
  a_.jmp(kExitCodeField);
  if (plan_.window_len) {
    a_.patch(window_fail, a_.here());
    a_.add_mem_imm(kBudgetField, plan_.count);
    a_.store32_imm(kPcField, plan_.start);
    exit_to(kNativeStepAll);
  }
  for (const StopTable::Stop& s : stops_.stops()) {
    const std::size_t at = a_.here();
    for (std::size_t j : s.jumps) a_.patch(j, at);
    a_.add_mem_imm(kBudgetField, s.give_back);
    a_.store32_imm(kPcField, s.pc);
    exit_to(kNativeStep);
  }
}

// Leaves for `pc` through the successor link of exit e (taken or fall):
// into the successor's machine code when it has some, else to the
// interpreter.
void Lowering::link(NativeExit e, Addr pc) {
  const std::int32_t cell = e == kNativeTaken ? off_.taken : off_.fall;
  a_.mov_imm64(RAX, reinterpret_cast<std::uint64_t>(&b_));
  a_.load64(RDX, Mem{RAX, -1, cell});
  a_.test64(RDX, RDX);
  const std::size_t none = a_.jcc(kE);
  a_.load64(RDX, Mem{RDX, -1, off_.native});
  a_.test64(RDX, RDX);
  const std::size_t plain = a_.jcc(kE);
  a_.jmp(RDX);
  a_.patch(none, a_.here());
  a_.patch(plain, a_.here());
  a_.store64(kBlkField, RAX);
  a_.store32_imm(kPcField, pc);
  a_.store32_imm(kExitField, e);
  a_.jmp(kExitCodeField);
}

// Leaves for the pc in ecx (a return or a call through a register): into
// the machine code of the block's cached target when it starts there. A
// return also tries the block's second cached target, and moves it first
// when it matches, as the interpreter does. Otherwise to the interpreter.
void Lowering::link_dynamic(NativeExit e) {
  a_.mov_imm64(RAX, reinterpret_cast<std::uint64_t>(&b_));
  a_.load64(RDX, Mem{RAX, -1, off_.taken});
  a_.test64(RDX, RDX);
  std::vector<std::size_t> slow{a_.jcc(kE)};
  a_.cmp(RCX, Mem{RDX, -1, off_.start});
  const std::size_t other = a_.jcc(kNE);
  a_.load64(RSI, Mem{RDX, -1, off_.native});
  a_.test64(RSI, RSI);
  slow.push_back(a_.jcc(kE));
  a_.jmp(RSI);
  a_.patch(other, a_.here());
  if (e == kNativeReturn) {
    a_.load64(RSI, Mem{RAX, -1, off_.fall});
    a_.test64(RSI, RSI);
    slow.push_back(a_.jcc(kE));
    a_.cmp(RCX, Mem{RSI, -1, off_.start});
    slow.push_back(a_.jcc(kNE));
    a_.store64(Mem{RAX, -1, off_.taken}, RSI);
    a_.store64(Mem{RAX, -1, off_.fall}, RDX);
    a_.load64(RSI, Mem{RSI, -1, off_.native});
    a_.test64(RSI, RSI);
    slow.push_back(a_.jcc(kE));
    a_.jmp(RSI);
  }
  for (std::size_t j : slow) a_.patch(j, a_.here());
  a_.store64(kBlkField, RAX);
  a_.store32(kPcField, RCX);
  a_.store32_imm(kExitField, e);
  a_.jmp(kExitCodeField);
}

// ---- instructions with more to them ------------------------------------------------

void Lowering::lower_ENTER(const BlockInsn& i) {
  const auto drop = static_cast<std::int32_t>(0u - (i.imm + kFrameSaveBytes));
  a_.lea32(RAX, Mem{kStack, -1, drop});
  a_.mov(RCX, RAX);
  check_stack_ecx(i);
  a_.lea32(RDX, Mem{kStack, -1, -static_cast<std::int32_t>(kFrameSaveBytes)});
  a_.lea32(RCX, Mem{RDX, -1, -static_cast<std::int32_t>(kLowLimit)});
  a_.cmp64(RCX, hi_for(kFrameSaveBytes));
  fail(i, kG);
  for (unsigned n = 1; n <= 6; ++n)
    a_.store32(Mem{kMemory, RDX, static_cast<std::int32_t>(4 * (n - 1))}, host(n));
  a_.lea32(kFrame, Mem{kStack, -1, -4});
  a_.mov(kStack, RAX);
}

void Lowering::lower_LEAVE(const BlockInsn& i) {
  a_.lea32(RCX, Mem{kStack, -1, static_cast<std::int32_t>(i.imm + kFrameSaveBytes)});
  check_stack_ecx(i);  // the outermost frame finishes: the interpreter does that
  a_.lea32(RAX, Mem{kStack, -1, static_cast<std::int32_t>(i.imm)});
  check_space(i, kFrameSaveBytes);
  for (unsigned n = 1; n <= 6; ++n)
    a_.load32(host(n), Mem{kMemory, RAX, static_cast<std::int32_t>(4 * (n - 1))});
  a_.lea32(kStack, Mem{RAX, -1, static_cast<std::int32_t>(kFrameSaveBytes)});
}

// [rS] += imm (32 bits): rD = the new value (pre) or the old one.
void Lowering::add_through(const BlockInsn& i, bool pre) {
  a_.mov(RAX, S(i));
  check_space(i, 4);
  check_code(i);
  a_.load32(RDX, kAtRax);
  a_.lea32(RSI, Mem{RDX, -1, static_cast<std::int32_t>(i.imm)});
  a_.store32(kAtRax, RSI);
  a_.mov(D(i), pre ? RSI : RDX);
}

// 8- or 16-bit increment or decrement at [rS]: rD = the new or old value.
void Lowering::inc_dec(const BlockInsn& i, int len, int delta, bool pre) {
  a_.mov(RAX, S(i));
  check_space(i, len);
  check_code(i);
  if (len == 1) a_.load8_zx(RDX, kAtRax);
  else a_.load16_zx(RDX, kAtRax);
  a_.lea32(RCX, Mem{RDX, -1, delta});
  if (len == 1) {
    a_.store8(kAtRax, RCX);
    a_.zx8(RCX, RCX);
  } else {
    a_.store16(kAtRax, RCX);
    a_.zx16(RCX, RCX);
  }
  a_.mov(D(i), pre ? RCX : RDX);
}

// Signed division of rD by rS: a zero divisor stops (the divide error is
// the interpreter's); -1 gives -rD and 0 without dividing.
void Lowering::divide(const BlockInsn& i, bool quotient) {
  a_.test(S(i), S(i));
  fail(i, kE);
  a_.cmp_imm(S(i), 0xFFFFFFFFu);
  const std::size_t normal = a_.jcc(kNE);
  if (quotient) a_.neg(D(i));
  else a_.mov_imm(D(i), 0);
  const std::size_t done = a_.jmp();
  a_.patch(normal, a_.here());
  a_.mov(RAX, D(i));
  a_.cdq();
  a_.idiv(S(i));
  a_.mov(D(i), quotient ? RAX : RDX);
  a_.patch(done, a_.here());
}

// zf: equal, lf: below, both false when unordered; bf: 0. Then rD -= rS.
void Lowering::lower_FSUB(const BlockInsn& i) {
  float_operands(i);
  a_.ucomiss(kX0, kX1);
  a_.setcc(kNP, RAX);  // ordered
  a_.setcc(kE, RCX);
  a_.setcc(kB, RDX);  // all three before the ands change the flags
  a_.and8(RCX, RAX);
  a_.and8(RDX, RAX);
  a_.store8(kZfField, RCX);
  a_.store8(kLfField, RDX);
  a_.store8_imm(kBfField, 0);
  a_.subss(kX0, kX1);
  a_.movd_from_xmm(D(i), kX0);
}

// A conditional jump ends the block: to the fall-through successor unless
// the condition holds. Right after a compare it tests the host flags;
// otherwise bit (zf | lf << 1 | bf << 2) of the jump's mask.
void Lowering::cond_jump(const BlockInsn& i) {
  std::size_t taken;
  if (flags_were_live_) {
    taken = a_.jcc(jcc_cond(i.op));
  } else {
    a_.load8_zx(RAX, kZfField);
    a_.load8_zx(RCX, kLfField);
    a_.lea32(RAX, Mem{RAX, RCX, 0, 1});
    a_.load8_zx(RCX, kBfField);
    a_.lea32(RAX, Mem{RAX, RCX, 0, 2});
    a_.mov_imm(RCX, jump_mask(i.op));
    a_.bt(RCX, RAX);
    taken = a_.jcc(kB);
  }
  link(kNativeFall, i.next);
  a_.patch(taken, a_.here());
  link(kNativeTaken, i.imm);
  ended_ = true;
}

}  // namespace

// enter(state, code) under the host's convention (native_x64_abi.h); the
// exit at exit_at. The entry's pushes are its whole prologue.
bool cpu_build_gate(std::vector<std::uint8_t>& code, std::size_t& exit_at, CodeFrame& frame) {
  const X64GateConvention& abi = x64_gate_convention();
  Asm a;
  frame = CodeFrame{};
  for (int r : abi.kept) {
    a.push(r);
    frame.pushes.push_back(CodeFrame::Push{r, static_cast<std::uint8_t>(a.here())});
  }
  frame.prologue_bytes = static_cast<std::uint8_t>(a.here());
  a.mov64(kState, abi.state_arg);
  a.load64(kMemory, kBaseField);
  for (unsigned n = 0; n < kRegisterCount; ++n) a.load32(host(n), register_field(n));
  a.jmp(abi.code_arg);
  exit_at = a.here();
  for (unsigned n = 0; n < kRegisterCount; ++n) a.store32(register_field(n), host(n));
  for (std::size_t k = abi.kept.size(); k-- > 0;) a.pop(abi.kept[k]);
  a.ret();
  code = std::move(a.code);
  return true;
}

bool cpu_lower_block(const BlockPlan& plan, std::vector<std::uint8_t>& code) {
  Lowering lowering(plan);
  lowering.run();
  code = std::move(lowering.code());
  return true;
}

}  // namespace talven::script::native

#endif  // __x86_64__
