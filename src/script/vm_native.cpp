// Machine code for pre-decoded blocks: an x86-64 code generator.
#include "script/vm_native.h"

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "base/address_space.h"
#include "script/opcodes.h"
#include "script/vm_translate.h"

#if defined(__x86_64__)
#include <sys/mman.h>
#define TALVEN_NATIVE 1
#else
#define TALVEN_NATIVE 0
#endif

namespace talven::script {

#if TALVEN_NATIVE

namespace {

std::atomic<bool> g_enabled{true};
std::atomic<std::size_t> g_made{0};

// ---- code space ---------------------------------------------------------------

constexpr std::size_t kChunkBytes = 1u << 20;
constexpr std::size_t kArenaLimit = 32u << 20;

void* map_code(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

struct NativeArena {
  std::vector<std::uint8_t*> chunks;
  std::uint8_t* next = nullptr;
  std::size_t left = 0;
  std::size_t total = 0;
};

namespace {

// n bytes of code space for translation t (null when its share is used up).
std::uint8_t* arena_take(Translation& t, std::size_t n) {
  if (!t.arena) t.arena = new NativeArena;
  NativeArena& a = *t.arena;
  if (n > kChunkBytes) return nullptr;
  if (a.left < n) {
    if (a.total + kChunkBytes > kArenaLimit) return nullptr;
    auto* chunk = static_cast<std::uint8_t*>(map_code(kChunkBytes));
    if (!chunk) return nullptr;
    a.chunks.push_back(chunk);
    a.total += kChunkBytes;
    a.next = chunk;
    a.left = kChunkBytes;
  }
  std::uint8_t* p = a.next;
  const std::size_t used = (n + 15) & ~std::size_t{15};
  a.next += std::min(used, a.left);
  a.left -= std::min(used, a.left);
  return p;
}

// ---- an assembler for the few instruction forms the blocks need ----------------

enum Reg : int { RAX = 0, RCX = 1, RDX = 2, RBX = 3, RSP = 4, RBP = 5, RSI = 6, RDI = 7 };
// Script register n lives in host register r8 + n.
constexpr int host(unsigned n) { return 8 + static_cast<int>(n); }
constexpr int R14 = 14, R15 = 15;

enum Cond : std::uint8_t {
  kB = 2, kAE = 3, kE = 4, kNE = 5, kBE = 6, kA = 7, kL = 0xC, kGE = 0xD, kLE = 0xE, kG = 0xF
};

struct Mem {
  int base;
  int index = -1;  // -1: none
  std::int32_t disp = 0;
  int scale = 0;   // log2 of the index factor
};

class Asm {
 public:
  std::vector<std::uint8_t> code;

  void byte(unsigned b) { code.push_back(static_cast<std::uint8_t>(b)); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) byte((v >> (8 * i)) & 0xFF);
  }
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) byte(static_cast<unsigned>((v >> (8 * i)) & 0xFF));
  }
  std::size_t here() const { return code.size(); }

  // REX prefix; byte_reg: the reg field names a byte register (spl..dil
  // need a REX to be reached).
  void rex(bool w, int reg, int index, int base, bool byte_reg = false) {
    unsigned r = 0x40u | (w ? 8u : 0u) | (((reg >> 3) & 1) << 2) |
                 (((index >= 0 ? index : 0) >> 3 & 1) << 1) | ((base >> 3) & 1);
    if (r != 0x40u || (byte_reg && reg >= 4 && reg < 8)) byte(r);
  }
  void modrm_mem(int reg, const Mem& m) {
    const int b = m.base & 7;
    int mod = 2;
    if (m.disp == 0 && b != 5) mod = 0;
    else if (m.disp >= -128 && m.disp <= 127) mod = 1;
    if (m.index >= 0) {
      byte((mod << 6) | ((reg & 7) << 3) | 4);
      byte((m.scale << 6) | ((m.index & 7) << 3) | b);
    } else if (b == 4) {
      byte((mod << 6) | ((reg & 7) << 3) | 4);
      byte(0x24);
    } else {
      byte((mod << 6) | ((reg & 7) << 3) | b);
    }
    if (mod == 1) byte(static_cast<std::uint8_t>(m.disp));
    if (mod == 2) u32(static_cast<std::uint32_t>(m.disp));
  }
  void op_m(bool w, std::initializer_list<unsigned> opc, int reg, const Mem& m,
            bool byte_reg = false, unsigned prefix = 0) {
    if (prefix) byte(prefix);
    rex(w, reg, m.index, m.base, byte_reg);
    for (unsigned o : opc) byte(o);
    modrm_mem(reg, m);
  }
  void op_r(bool w, std::initializer_list<unsigned> opc, int reg, int rm, unsigned prefix = 0) {
    if (prefix) byte(prefix);
    rex(w, reg, -1, rm);
    for (unsigned o : opc) byte(o);
    byte(0xC0 | ((reg & 7) << 3) | (rm & 7));
  }

  void mov_rr(int dst, int src) { op_r(false, {0x89}, src, dst); }
  void mov_ri(int dst, std::uint32_t imm) {
    if (dst >= 8) byte(0x41);
    byte(0xB8 + (dst & 7));
    u32(imm);
  }
  void mov_ri64(int dst, std::uint64_t imm) {
    byte(0x48 | ((dst >> 3) & 1));
    byte(0xB8 + (dst & 7));
    u64(imm);
  }
  void load32(int dst, const Mem& m) { op_m(false, {0x8B}, dst, m); }
  void load64(int dst, const Mem& m) { op_m(true, {0x8B}, dst, m); }
  void store32(const Mem& m, int src) { op_m(false, {0x89}, src, m); }
  void store64(const Mem& m, int src) { op_m(true, {0x89}, src, m); }
  void store16(const Mem& m, int src) { op_m(false, {0x89}, src, m, false, 0x66); }
  void store8(const Mem& m, int src) { op_m(false, {0x88}, src, m, true); }
  void store32_imm(const Mem& m, std::uint32_t imm) {
    op_m(false, {0xC7}, 0, m);
    u32(imm);
  }
  void movzx8(int dst, const Mem& m) { op_m(false, {0x0F, 0xB6}, dst, m); }
  void movsx8(int dst, const Mem& m) { op_m(false, {0x0F, 0xBE}, dst, m); }
  void movzx16(int dst, const Mem& m) { op_m(false, {0x0F, 0xB7}, dst, m); }
  void movsx16(int dst, const Mem& m) { op_m(false, {0x0F, 0xBF}, dst, m); }
  void lea32(int dst, const Mem& m) { op_m(false, {0x8D}, dst, m); }
  // add/or/and/sub/xor/cmp r/m32, r32 (opcode 01/09/21/29/31/39)
  void alu_rr(unsigned opc, int dst, int src) { op_r(false, {opc}, src, dst); }
  // r/m, imm32 group 1: digit 0 add, 1 or, 4 and, 5 sub, 6 xor, 7 cmp
  void alu_ri(int digit, int dst, std::uint32_t imm, bool w = false) {
    op_r(w, {0x81}, digit, dst);
    u32(imm);
  }
  void alu_mi(int digit, const Mem& m, std::uint32_t imm) {
    op_m(false, {0x81}, digit, m);
    u32(imm);
  }
  void cmp_rm64(int reg, const Mem& m) { op_m(true, {0x3B}, reg, m); }
  void cmp_rm32(int reg, const Mem& m) { op_m(false, {0x3B}, reg, m); }
  void sub_rm32(int reg, const Mem& m) { op_m(false, {0x2B}, reg, m); }
  void imul(int dst, int src) { op_r(false, {0x0F, 0xAF}, dst, src); }
  void group3(int digit, int r) { op_r(false, {0xF7}, digit, r); }  // 2 not, 3 neg, 7 idiv
  void shift_cl(int digit, int r) { op_r(false, {0xD3}, digit, r); }  // 4 shl, 5 shr, 7 sar
  void setcc_m(unsigned cc, const Mem& m) { op_m(false, {0x0F, 0x90 + cc}, 0, m); }
  void setcc_r(unsigned cc, int r) { op_r(false, {0x0F, 0x90 + cc}, 0, r); }
  void movzx8_rr(int dst, int src) { op_r(false, {0x0F, 0xB6}, dst, src); }
  void test_rr(int a, int b, bool w = false) { op_r(w, {0x85}, b, a); }
  void bt_rr(int bits, int index) { op_r(false, {0x0F, 0xA3}, index, bits); }
  void cmp_m_zero(const Mem& m, int width) {
    if (width == 1) op_m(false, {0x80}, 7, m);
    else if (width == 2) op_m(false, {0x83}, 7, m, false, 0x66);
    else op_m(false, {0x83}, 7, m);
    byte(0);
  }
  void byte_rr_and(int dst, int src) { op_r(false, {0x20}, src, dst); }  // and r/m8, r8 (al..bl)
  void store8_imm(const Mem& m, std::uint8_t imm) {
    op_m(false, {0xC6}, 0, m);
    byte(imm);
  }
  void movzx16_rr(int dst, int src) { op_r(false, {0x0F, 0xB7}, dst, src); }
  // Scalar single floats in xmm0/xmm1.
  void movd_to_xmm(int xmm, int r) { op_r(false, {0x0F, 0x6E}, xmm, r, 0x66); }
  void movd_from_xmm(int r, int xmm) { op_r(false, {0x0F, 0x7E}, xmm, r, 0x66); }
  void sse(unsigned opc, int dst, int src) { op_r(false, {0x0F, opc}, dst, src, 0xF3); }  // 58 add, 59 mul, 5C sub, 5E div
  void cvtsi2ss(int xmm, int r) { op_r(false, {0x0F, 0x2A}, xmm, r, 0xF3); }
  void cvttss2si(int r, int xmm) { op_r(false, {0x0F, 0x2C}, r, xmm, 0xF3); }
  void ucomiss(int a, int b) { op_r(false, {0x0F, 0x2E}, a, b); }
  void jmp_r(int r) { op_r(false, {0xFF}, 4, r); }
  void jmp_m(const Mem& m) { op_m(false, {0xFF}, 4, m); }
  // Jumps with a 32-bit displacement; the returned position is patched.
  std::size_t jcc(unsigned cc) {
    byte(0x0F);
    byte(0x80 + cc);
    const std::size_t at = here();
    u32(0);
    return at;
  }
  std::size_t jmp() {
    byte(0xE9);
    const std::size_t at = here();
    u32(0);
    return at;
  }
  void patch(std::size_t at, std::size_t target) {
    const auto rel = static_cast<std::int32_t>(static_cast<std::int64_t>(target) -
                                               static_cast<std::int64_t>(at + 4));
    std::memcpy(code.data() + at, &rel, 4);
  }
  void push_r(int r) {
    if (r >= 8) byte(0x41);
    byte(0x50 + (r & 7));
  }
  void pop_r(int r) {
    if (r >= 8) byte(0x41);
    byte(0x58 + (r & 7));
  }
};

// ---- the state's layout as the code sees it -------------------------------------

#define NS_OFF(field) static_cast<std::int32_t>(offsetof(NativeState, field))
const Mem kBudget{RBP, -1, NS_OFF(budget)};
const Mem kStamp{RBP, -1, NS_OFF(stamp)};
const Mem kCodeLo{RBP, -1, NS_OFF(code_lo)};
const Mem kCodeSpan{RBP, -1, NS_OFF(code_span)};
const Mem kStack{RBP, -1, NS_OFF(stack)};
const Mem kStackSize{RBP, -1, NS_OFF(stack_size)};
const Mem kStackRoom4{RBP, -1, NS_OFF(stack_room4)};
const Mem kPc{RBP, -1, NS_OFF(pc)};
const Mem kExit{RBP, -1, NS_OFF(exit)};
const Mem kBlk{RBP, -1, NS_OFF(blk)};
const Mem kExitCode{RBP, -1, NS_OFF(exit_code)};
const Mem kHi{RBP, -1, NS_OFF(hi)};
const Mem kZf{RBP, -1, NS_OFF(zf)};
const Mem kLf{RBP, -1, NS_OFF(lf)};
const Mem kBf{RBP, -1, NS_OFF(bf)};
Mem hi_for(int len) {
  switch (len) {
    case 1: return Mem{RBP, -1, NS_OFF(hi1)};
    case 2: return Mem{RBP, -1, NS_OFF(hi2)};
    case 4: return Mem{RBP, -1, NS_OFF(hi4)};
    default: return Mem{RBP, -1, NS_OFF(hi24)};
  }
}
#undef NS_OFF

// Offsets of the Block fields the code reads (Block is not standard-layout,
// so they are measured on an instance).
struct BlockOffsets {
  std::int32_t start, stamp, taken, fall, native;
};
BlockOffsets block_offsets() {
  static const BlockOffsets o = [] {
    Block b;
    auto at = [&](const void* p) {
      return static_cast<std::int32_t>(static_cast<const char*>(p) -
                                       reinterpret_cast<const char*>(&b));
    };
    return BlockOffsets{at(&b.start), at(&b.stamp), at(&b.taken), at(&b.fall), at(&b.native)};
  }();
  return o;
}

// ---- entry and exit ----------------------------------------------------------------

struct Gate {
  void (*enter)(NativeState*, void*) = nullptr;
  const void* exit = nullptr;
};

const Gate& gate() {
  static const Gate g = [] {
    Gate out;
    Asm a;
    // enter(state = rdi, code = rsi)
    for (int r : {int{RBX}, int{RBP}, 12, 13, 14, 15}) a.push_r(r);
    a.op_r(true, {0x89}, RDI, RBP);  // mov rbp, rdi (64-bit)
    a.load64(RBX, Mem{RBP, -1, static_cast<std::int32_t>(offsetof(NativeState, base))});
    for (unsigned n = 0; n < 8; ++n)
      a.load32(host(n), Mem{RBP, -1, static_cast<std::int32_t>(offsetof(NativeState, r) + 4 * n)});
    a.jmp_r(RSI);
    const std::size_t exit_at = a.here();
    for (unsigned n = 0; n < 8; ++n)
      a.store32(Mem{RBP, -1, static_cast<std::int32_t>(offsetof(NativeState, r) + 4 * n)}, host(n));
    for (int r : {15, 14, 13, 12, int{RBP}, int{RBX}}) a.pop_r(r);
    a.byte(0xC3);
    auto* p = static_cast<std::uint8_t*>(map_code(4096));
    if (!p) return out;
    std::memcpy(p, a.code.data(), a.code.size());
    out.enter = reinterpret_cast<void (*)(NativeState*, void*)>(p);
    out.exit = p + exit_at;
    return out;
  }();
  return g;
}

// ---- compiling a block -----------------------------------------------------------

// An instruction of the block with its place there.
struct Placed : Insn {
  Addr pc = 0;        // its address
  Addr next = 0;      // the address after it
  unsigned index = 0; // instructions of the block before it
  bool followed = false;  // a jump the block follows (no code)
  bool trap_call = false; // a builtin call the interpreter makes
};

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

// Width of the frame slot a frame-form instruction reaches (0: none).
int frame_width(std::uint8_t op) {
  switch (op) {
    case OP_MOVBL_FRAME: case OP_MOVSBL_FRAME: case OP_MOVB_FRAME: case OP_ZEROB_FRAME: return 1;
    case OP_MOVWL_FRAME: case OP_MOVSWL_FRAME: case OP_MOVW_FRAME: case OP_ZEROW_FRAME: return 2;
    case OP_MOVL_LOAD_FRAME: case OP_MOVL_STORE_FRAME: case OP_ZEROL_FRAME: return 4;
    default: return 0;
  }
}

constexpr std::int64_t kFrameReach = 1 << 16;

class Compiler {
 public:
  explicit Compiler(Block& b) : b_(b), off_(block_offsets()) {}

  bool run(const std::vector<Placed>& list) {
    // Frame slots reached before the first instruction that may change r6
    // share one window, checked on entry.
    std::vector<bool> in_window(list.size(), false);
    std::int64_t lo = 0, hi = 0;
    bool any = false;
    for (std::size_t k = 0; k < list.size(); ++k) {
      const Placed& i = list[k];
      const int w = frame_width(i.op);
      const auto disp = static_cast<std::int64_t>(static_cast<std::int32_t>(i.imm));
      if (w && disp > -kFrameReach && disp + w < kFrameReach) {
        in_window[k] = true;
        lo = any ? std::min(lo, disp) : disp;
        hi = any ? std::max(hi, disp + w) : disp + w;
        any = true;
      }
      const OperandForm form = kOpInfo[i.op].form;
      const bool names_r6 = (form == OperandForm::R || form == OperandForm::RI) && (i.d == 6 || i.s == 6);
      if (names_r6 || i.op == OP_ENTER || i.op == OP_LEAVE) break;
    }

    // Entry: a current stamp, then the block's instructions from the budget.
    a_.mov_ri64(RAX, reinterpret_cast<std::uint64_t>(&b_));
    a_.load32(RCX, Mem{RAX, -1, off_.stamp});
    a_.cmp_rm32(RCX, kStamp);
    const std::size_t stale = a_.jcc(kNE);
    a_.alu_mi(5, kBudget, b_.count);
    const std::size_t short_budget = a_.jcc(kB);
    if (any) {
      a_.lea32(RAX, Mem{R14, -1, static_cast<std::int32_t>(lo)});
      a_.lea32(RCX, Mem{RAX, -1, -static_cast<std::int32_t>(kLowLimit)});
      a_.alu_ri(0, RCX, static_cast<std::uint32_t>(hi - lo), true);
      a_.cmp_rm64(RCX, kHi);
      window_fail_ = a_.jcc(kG);
    }

    bool flags_native = false;
    bool ended = false;
    for (std::size_t k = 0; k < list.size() && !ended; ++k) {
      const Placed& i = list[k];
      if (i.followed) continue;
      window_ = in_window[k];
      if (!emit(i, flags_native, ended)) return false;
    }
    if (!ended) link(2, end_pc_);  // runs on into the next block

    // Cold paths.
    const std::size_t short_at = a_.here();
    a_.patch(short_budget, short_at);
    a_.alu_mi(0, kBudget, b_.count);
    const std::size_t stale_at = a_.here();
    a_.patch(stale, stale_at);
    a_.mov_ri64(RAX, reinterpret_cast<std::uint64_t>(&b_));
    a_.store64(kBlk, RAX);
    a_.store32_imm(kPc, b_.start);
    a_.store32_imm(kExit, kNativeEnter);
    a_.jmp_m(kExitCode);
    if (any) {
      a_.patch(window_fail_, a_.here());
      a_.alu_mi(0, kBudget, b_.count);
      a_.store32_imm(kPc, b_.start);
      exit_to(kNativeStepAll);
    }
    for (Stub& s : stubs_) {
      const std::size_t at = a_.here();
      for (std::size_t j : s.jumps) a_.patch(j, at);
      a_.alu_mi(0, kBudget, s.give_back);
      a_.store32_imm(kPc, s.pc);
      exit_to(kNativeStep);
    }
    return true;
  }

  void set_end(Addr end) { end_pc_ = end; }
  const std::vector<std::uint8_t>& code() const { return a_.code; }

 private:
  struct Stub {
    Addr pc;
    std::uint32_t give_back;
    std::vector<std::size_t> jumps;
  };

  void exit_to(NativeExit e) {
    a_.mov_ri64(RAX, reinterpret_cast<std::uint64_t>(&b_));
    a_.store64(kBlk, RAX);
    a_.store32_imm(kExit, e);
    a_.jmp_m(kExitCode);
  }

  // The jump at `j` goes to the stop of instruction i (it then runs from
  // the image).
  void to_stop(const Placed& i, std::size_t j) {
    if (stubs_.empty() || stubs_.back().pc != i.pc)
      stubs_.push_back(Stub{i.pc, b_.count - i.index, {}});
    stubs_.back().jumps.push_back(j);
  }
  // Stops at instruction i when condition cc holds, or always.
  void fail(const Placed& i, unsigned cc) { to_stop(i, a_.jcc(cc)); }
  void step(const Placed& i) { to_stop(i, a_.jmp()); }

  // rax holds a script address: stop unless [rax, rax + len) is committed.
  void check_space(const Placed& i, int len) {
    a_.lea32(RCX, Mem{RAX, -1, -static_cast<std::int32_t>(kLowLimit)});
    a_.cmp_rm64(RCX, hi_for(len));
    fail(i, kG);
  }
  // rax holds the address of a store: stop if it lies in translated code.
  void check_code(const Placed& i) {
    a_.mov_rr(RCX, RAX);
    a_.sub_rm32(RCX, kCodeLo);
    a_.cmp_rm32(RCX, kCodeSpan);
    fail(i, kB);
  }
  // rax = the address of a load or store of instruction i (ABS, FRAME or
  // through `reg`), checked unless it is a frame slot inside the window.
  void address(const Placed& i, int len, int form, unsigned reg) {
    if (form == 0) a_.mov_ri(RAX, i.imm);
    else if (form == 1) a_.lea32(RAX, Mem{R14, -1, static_cast<std::int32_t>(i.imm)});
    else a_.mov_rr(RAX, host(reg));
    if (!(form == 1 && window_)) check_space(i, len);
  }
  void load(int dst, int len, bool sign) {
    const Mem m{RBX, RAX, 0};
    if (len == 4) a_.load32(dst, m);
    else if (len == 2) sign ? a_.movsx16(dst, m) : a_.movzx16(dst, m);
    else sign ? a_.movsx8(dst, m) : a_.movzx8(dst, m);
  }
  void store(int src, int len) {
    const Mem m{RBX, RAX, 0};
    if (len == 4) a_.store32(m, src);
    else if (len == 2) a_.store16(m, src);
    else a_.store8(m, src);
  }
  void set_flags() {
    a_.setcc_m(kE, kZf);
    a_.setcc_m(kL, kLf);
    a_.setcc_m(kB, kBf);
  }
  // stop unless [rax, rax + 4) lies inside the stack (rax: a new r7 below the old one)
  void check_push(const Placed& i) {
    a_.mov_rr(RCX, RAX);
    a_.sub_rm32(RCX, kStack);
    a_.cmp_rm32(RCX, kStackRoom4);
    fail(i, kAE);
  }
  // dst = the word at r7, with the checks of a pop (r7 + 4 inside the
  // stack, the word inside script memory); r7 is left as it is.
  void load_top(const Placed& i, int dst) {
    a_.lea32(RCX, Mem{R15, -1, 4});
    check_stack_ecx(i);
    a_.mov_rr(RAX, R15);
    check_space(i, 4);
    a_.load32(dst, Mem{RBX, RAX, 0});
  }
  // stop unless ecx (a new r7) satisfies the stack rule
  void check_stack_ecx(const Placed& i) {
    a_.sub_rm32(RCX, kStack);
    a_.cmp_rm32(RCX, kStackSize);
    fail(i, kAE);
  }

  // Leaves for `pc` through successor link `which` (1 taken, 2 fall): into
  // the successor's machine code when it has some, else to the interpreter.
  void link(int which, Addr pc) {
    const std::int32_t cell = which == 1 ? off_.taken : off_.fall;
    a_.mov_ri64(RAX, reinterpret_cast<std::uint64_t>(&b_));
    a_.load64(RDX, Mem{RAX, -1, cell});
    a_.test_rr(RDX, RDX, true);
    const std::size_t none = a_.jcc(kE);
    a_.load64(RDX, Mem{RDX, -1, off_.native});
    a_.test_rr(RDX, RDX, true);
    const std::size_t plain = a_.jcc(kE);
    a_.jmp_r(RDX);
    a_.patch(none, a_.here());
    a_.patch(plain, a_.here());
    a_.store64(kBlk, RAX);
    a_.store32_imm(kPc, pc);
    a_.store32_imm(kExit, which == 1 ? kNativeTaken : kNativeFall);
    a_.jmp_m(kExitCode);
  }

  // 8- or 16-bit increment or decrement at [rS]: rD = the new or old value.
  void inc_dec(const Placed& i, int len, int delta, bool pre) {
    a_.mov_rr(RAX, host(i.s));
    check_space(i, len);
    check_code(i);
    const Mem m{RBX, RAX, 0};
    if (len == 1) a_.movzx8(RDX, m);
    else a_.movzx16(RDX, m);
    a_.lea32(RCX, Mem{RDX, -1, delta});
    if (len == 1) {
      a_.store8(m, RCX);
      a_.movzx8_rr(RCX, RCX);
    } else {
      a_.store16(m, RCX);
      a_.movzx16_rr(RCX, RCX);
    }
    a_.mov_rr(host(i.d), pre ? RCX : RDX);
  }

  // Leaves for the pc in ecx (a return or a call through a register): into
  // the machine code of the block's cached target when it starts there. A
  // return also tries the block's second cached target, and moves it first
  // when it matches, as the interpreter does. Otherwise to the interpreter.
  void link_dynamic(NativeExit e) {
    a_.mov_ri64(RAX, reinterpret_cast<std::uint64_t>(&b_));
    a_.load64(RDX, Mem{RAX, -1, off_.taken});
    a_.test_rr(RDX, RDX, true);
    std::vector<std::size_t> slow{a_.jcc(kE)};
    a_.cmp_rm32(RCX, Mem{RDX, -1, off_.start});
    const std::size_t other = a_.jcc(kNE);
    a_.load64(RSI, Mem{RDX, -1, off_.native});
    a_.test_rr(RSI, RSI, true);
    slow.push_back(a_.jcc(kE));
    a_.jmp_r(RSI);
    a_.patch(other, a_.here());
    if (e == kNativeReturn) {
      a_.load64(RSI, Mem{RAX, -1, off_.fall});
      a_.test_rr(RSI, RSI, true);
      slow.push_back(a_.jcc(kE));
      a_.cmp_rm32(RCX, Mem{RSI, -1, off_.start});
      slow.push_back(a_.jcc(kNE));
      a_.store64(Mem{RAX, -1, off_.taken}, RSI);
      a_.store64(Mem{RAX, -1, off_.fall}, RDX);
      a_.load64(RSI, Mem{RSI, -1, off_.native});
      a_.test_rr(RSI, RSI, true);
      slow.push_back(a_.jcc(kE));
      a_.jmp_r(RSI);
    }
    for (std::size_t j : slow) a_.patch(j, a_.here());
    a_.store64(kBlk, RAX);
    a_.store32(kPc, RCX);
    a_.store32_imm(kExit, e);
    a_.jmp_m(kExitCode);
  }

  bool emit(const Placed& i, bool& flags_native, bool& ended) {
    const int D = host(i.d), S = host(i.s);
    const bool was_native = flags_native;
    flags_native = false;
    switch (i.op) {
      case OP_NOP: break;
      case OP_XCHG:
        a_.mov_rr(RAX, D);
        a_.mov_rr(D, S);
        a_.mov_rr(S, RAX);
        break;
      case OP_MOVL_RR: a_.mov_rr(D, S); break;
      case OP_MOVL_IMM:
      case OP_MOVL_ADDR: a_.mov_ri(D, i.imm); break;
      case OP_LEA: a_.lea32(D, Mem{R14, -1, static_cast<std::int32_t>(i.imm)}); break;

      case OP_MOVBL_ABS: address(i, 1, 0, 0); load(D, 1, false); break;
      case OP_MOVSBL_ABS: address(i, 1, 0, 0); load(D, 1, true); break;
      case OP_MOVWL_ABS: address(i, 2, 0, 0); load(D, 2, false); break;
      case OP_MOVSWL_ABS: address(i, 2, 0, 0); load(D, 2, true); break;
      case OP_MOVL_LOAD_ABS: address(i, 4, 0, 0); load(D, 4, false); break;
      case OP_MOVBL_FRAME: address(i, 1, 1, 0); load(D, 1, false); break;
      case OP_MOVSBL_FRAME: address(i, 1, 1, 0); load(D, 1, true); break;
      case OP_MOVWL_FRAME: address(i, 2, 1, 0); load(D, 2, false); break;
      case OP_MOVSWL_FRAME: address(i, 2, 1, 0); load(D, 2, true); break;
      case OP_MOVL_LOAD_FRAME: address(i, 4, 1, 0); load(D, 4, false); break;
      case OP_MOVBL_IND: address(i, 1, 2, i.s); load(D, 1, false); break;
      case OP_MOVSBL_IND: address(i, 1, 2, i.s); load(D, 1, true); break;
      case OP_MOVWL_IND: address(i, 2, 2, i.s); load(D, 2, false); break;
      case OP_MOVSWL_IND: address(i, 2, 2, i.s); load(D, 2, true); break;
      case OP_MOVL_LOAD_IND: address(i, 4, 2, i.s); load(D, 4, false); break;

      case OP_MOVB_ABS: address(i, 1, 0, 0); check_code(i); store(S, 1); break;
      case OP_MOVW_ABS: address(i, 2, 0, 0); check_code(i); store(S, 2); break;
      case OP_MOVL_STORE_ABS: address(i, 4, 0, 0); check_code(i); store(S, 4); break;
      case OP_MOVB_FRAME: address(i, 1, 1, 0); check_code(i); store(S, 1); break;
      case OP_MOVW_FRAME: address(i, 2, 1, 0); check_code(i); store(S, 2); break;
      case OP_MOVL_STORE_FRAME: address(i, 4, 1, 0); check_code(i); store(S, 4); break;
      case OP_MOVB_IND: address(i, 1, 2, i.d); check_code(i); store(S, 1); break;
      case OP_MOVW_IND: address(i, 2, 2, i.d); check_code(i); store(S, 2); break;
      case OP_MOVL_STORE_IND: address(i, 4, 2, i.d); check_code(i); store(S, 4); break;

      case OP_PUSH:
      case OP_PUSH_IMM:
        a_.lea32(RAX, Mem{R15, -1, -4});
        check_push(i);
        a_.mov_rr(R15, RAX);
        if (i.op == OP_PUSH) a_.store32(Mem{RBX, RAX, 0}, S);
        else a_.store32_imm(Mem{RBX, RAX, 0}, i.imm);
        break;
      case OP_POP:
        load_top(i, RDX);
        a_.alu_ri(0, R15, 4);
        a_.mov_rr(D, RDX);
        break;
      case OP_ENTER: {
        const auto drop = static_cast<std::int32_t>(0u - (i.imm + kFrameSaveBytes));
        a_.lea32(RAX, Mem{R15, -1, drop});
        a_.mov_rr(RCX, RAX);
        check_stack_ecx(i);
        a_.lea32(RDX, Mem{R15, -1, -static_cast<std::int32_t>(kFrameSaveBytes)});
        a_.lea32(RCX, Mem{RDX, -1, -static_cast<std::int32_t>(kLowLimit)});
        a_.cmp_rm64(RCX, hi_for(24));
        fail(i, kG);
        for (unsigned n = 1; n <= 6; ++n)
          a_.store32(Mem{RBX, RDX, static_cast<std::int32_t>(4 * (n - 1))}, host(n));
        a_.lea32(R14, Mem{R15, -1, -4});
        a_.mov_rr(R15, RAX);
        break;
      }
      case OP_LEAVE: {
        a_.lea32(RCX, Mem{R15, -1, static_cast<std::int32_t>(i.imm + kFrameSaveBytes)});
        check_stack_ecx(i);  // the outermost frame finishes: the interpreter does that
        a_.lea32(RAX, Mem{R15, -1, static_cast<std::int32_t>(i.imm)});
        check_space(i, 24);
        for (unsigned n = 1; n <= 6; ++n)
          a_.load32(host(n), Mem{RBX, RAX, static_cast<std::int32_t>(4 * (n - 1))});
        a_.lea32(R15, Mem{RAX, -1, static_cast<std::int32_t>(kFrameSaveBytes)});
        break;
      }
      case OP_CALL:
        if (i.trap_call) {
          exit_to(kNativeTrapCall);
          ended = true;
          break;
        }
        a_.lea32(RAX, Mem{R15, -1, -4});
        check_push(i);
        a_.mov_rr(R15, RAX);
        a_.store32_imm(Mem{RBX, RAX, 0}, i.next);
        link(1, i.imm);
        ended = true;
        break;
      case OP_RET:
        load_top(i, RCX);
        a_.alu_ri(7, RCX, kReturnFinish);
        fail(i, kE);  // finishing the context is the interpreter's
        a_.alu_ri(0, R15, 4);
        link_dynamic(kNativeReturn);
        ended = true;
        break;
      case OP_PREOP:
      case OP_POSTOP:
        a_.mov_rr(RAX, S);
        check_space(i, 4);
        check_code(i);
        a_.load32(RDX, Mem{RBX, RAX, 0});
        a_.lea32(RSI, Mem{RDX, -1, static_cast<std::int32_t>(i.imm)});
        a_.store32(Mem{RBX, RAX, 0}, RSI);
        a_.mov_rr(D, i.op == OP_PREOP ? RSI : RDX);
        break;
      case OP_ZEROB_ABS: address(i, 1, 0, 0); a_.cmp_m_zero(Mem{RBX, RAX, 0}, 1); a_.setcc_m(kE, kZf); break;
      case OP_ZEROW_ABS: address(i, 2, 0, 0); a_.cmp_m_zero(Mem{RBX, RAX, 0}, 2); a_.setcc_m(kE, kZf); break;
      case OP_ZEROL_ABS: address(i, 4, 0, 0); a_.cmp_m_zero(Mem{RBX, RAX, 0}, 4); a_.setcc_m(kE, kZf); break;
      case OP_ZEROB_FRAME: address(i, 1, 1, 0); a_.cmp_m_zero(Mem{RBX, RAX, 0}, 1); a_.setcc_m(kE, kZf); break;
      case OP_ZEROW_FRAME: address(i, 2, 1, 0); a_.cmp_m_zero(Mem{RBX, RAX, 0}, 2); a_.setcc_m(kE, kZf); break;
      case OP_ZEROL_FRAME: address(i, 4, 1, 0); a_.cmp_m_zero(Mem{RBX, RAX, 0}, 4); a_.setcc_m(kE, kZf); break;
      case OP_CMP:
        a_.alu_rr(0x39, D, S);
        set_flags();
        flags_native = true;
        break;
      case OP_CMP_IMM:
        a_.alu_ri(7, D, i.imm);
        set_flags();
        flags_native = true;
        break;
      case OP_SUB:
        a_.alu_rr(0x39, D, S);
        set_flags();
        a_.alu_rr(0x29, D, S);
        flags_native = true;
        break;
      case OP_SUB_IMM:
        a_.alu_ri(7, D, i.imm);
        set_flags();
        a_.alu_ri(5, D, i.imm);
        flags_native = true;
        break;
      case OP_SET:
        a_.test_rr(S, S);
        a_.setcc_r(kE, RCX);
        a_.movzx8_rr(RCX, RCX);
        a_.mov_rr(D, RCX);
        break;
      case OP_ADD: a_.alu_rr(0x01, D, S); break;
      case OP_ADD_IMM: a_.alu_ri(0, D, i.imm); break;
      case OP_AND: a_.alu_rr(0x21, D, S); break;
      case OP_OR: a_.alu_rr(0x09, D, S); break;
      case OP_XOR: a_.alu_rr(0x31, D, S); break;
      case OP_MUL: a_.imul(D, S); break;
      case OP_DIV:
      case OP_MOD: {
        a_.test_rr(S, S);
        fail(i, kE);  // the divide error is the interpreter's
        a_.alu_ri(7, S, 0xFFFFFFFFu);
        const std::size_t normal = a_.jcc(kNE);
        if (i.op == OP_DIV) a_.group3(3, D);
        else a_.mov_ri(D, 0);
        const std::size_t done = a_.jmp();
        a_.patch(normal, a_.here());
        a_.mov_rr(RAX, D);
        a_.byte(0x99);  // cdq
        a_.group3(7, S);
        a_.mov_rr(D, i.op == OP_DIV ? RAX : RDX);
        a_.patch(done, a_.here());
        break;
      }
      case OP_SHL: a_.mov_rr(RCX, S); a_.shift_cl(4, D); break;
      case OP_SHR: a_.mov_rr(RCX, S); a_.shift_cl(5, D); break;
      case OP_SAR: a_.mov_rr(RCX, S); a_.shift_cl(7, D); break;
      case OP_NEG: a_.mov_rr(RAX, S); a_.group3(3, RAX); a_.mov_rr(D, RAX); break;
      case OP_NOT: a_.mov_rr(RAX, S); a_.group3(2, RAX); a_.mov_rr(D, RAX); break;
      case OP_JMP:
        link(1, i.imm);
        ended = true;
        break;
      case OP_TRAP:   // a builtin called without a wrapper
      case OP_FMOD:   // the C library's fmod
        // The interpreter runs these; what follows them is a block of its own.
        step(i);
        ended = true;
        break;
      case OP_CALL_REG:
        a_.test_rr(S, S);
        fail(i, kE);  // a call through 0 is the interpreter's error
        a_.lea32(RAX, Mem{R15, -1, -4});
        check_push(i);
        a_.mov_rr(R15, RAX);
        a_.mov_rr(RCX, S);  // after r7 changed, as the interpreter reads it
        a_.store32_imm(Mem{RBX, RAX, 0}, i.next);
        link_dynamic(kNativeTaken);
        ended = true;
        break;
      case OP_PREINC: inc_dec(i, 1, 1, true); break;
      case OP_POSTINC: inc_dec(i, 1, 1, false); break;
      case OP_PREDEC: inc_dec(i, 1, -1, true); break;
      case OP_POSTDEC: inc_dec(i, 1, -1, false); break;
      case OP_PREINC16: inc_dec(i, 2, 1, true); break;
      case OP_POSTINC16: inc_dec(i, 2, 1, false); break;
      case OP_PREDEC16: inc_dec(i, 2, -1, true); break;
      case OP_POSTDEC16: inc_dec(i, 2, -1, false); break;
      // Floats: rD op rS with rD the first operand, so a NaN result is the
      // first NaN of rD, rS made quiet, as the interpreter's rule says.
      case OP_FADD:
      case OP_FMUL:
      case OP_FDIV:
        a_.movd_to_xmm(0, D);
        a_.movd_to_xmm(1, S);
        a_.sse(i.op == OP_FADD ? 0x58 : i.op == OP_FMUL ? 0x59 : 0x5E, 0, 1);
        a_.movd_from_xmm(D, 0);
        break;
      case OP_FSUB:
        // zf: equal, lf: below, both false when unordered; bf: 0.
        a_.movd_to_xmm(0, D);
        a_.movd_to_xmm(1, S);
        a_.ucomiss(0, 1);
        a_.setcc_r(0xB, RAX);  // setnp al: ordered
        a_.setcc_r(kE, RCX);
        a_.setcc_r(kB, RDX);   // all three before the ands change the flags
        a_.byte_rr_and(RCX, RAX);
        a_.byte_rr_and(RDX, RAX);
        a_.store8(kZf, RCX);
        a_.store8(kLf, RDX);
        a_.store8_imm(kBf, 0);
        a_.sse(0x5C, 0, 1);
        a_.movd_from_xmm(D, 0);
        break;
      case OP_FNEG:
        a_.mov_rr(RAX, S);
        a_.alu_ri(6, RAX, 0x80000000u);
        a_.mov_rr(D, RAX);
        break;
      case OP_FTOI:
        // Truncation; NaN and out-of-range values give 0x80000000.
        a_.movd_to_xmm(0, S);
        a_.cvttss2si(D, 0);
        break;
      case OP_ITOF:
        a_.cvtsi2ss(0, S);
        a_.movd_from_xmm(D, 0);
        break;
      default:
        if (is_jcc(i.op)) {
          std::size_t taken;
          if (was_native) {
            taken = a_.jcc(jcc_cond(i.op));
          } else {
            a_.movzx8(RAX, kZf);
            a_.movzx8(RCX, kLf);
            a_.lea32(RAX, Mem{RAX, RCX, 0, 1});
            a_.movzx8(RCX, kBf);
            a_.lea32(RAX, Mem{RAX, RCX, 0, 2});
            a_.mov_ri(RCX, jump_mask(i.op));
            a_.bt_rr(RCX, RAX);
            taken = a_.jcc(kB);
          }
          link(2, i.next);
          a_.patch(taken, a_.here());
          link(1, i.imm);
          ended = true;
          break;
        }
        return false;
    }
    return true;
  }

  Block& b_;
  BlockOffsets off_;
  Asm a_;
  std::vector<Stub> stubs_;
  std::size_t window_fail_ = 0;
  bool window_ = false;
  Addr end_pc_ = 0;
};

}  // namespace

bool native_available() {
  return g_enabled.load(std::memory_order_relaxed) && gate().enter != nullptr;
}

void set_native_enabled(bool on) { g_enabled.store(on, std::memory_order_relaxed); }

std::size_t native_blocks_made() { return g_made.load(std::memory_order_relaxed); }

void* native_compile(Translation& t, Block& b) {
  if (b.count == 0 || !native_available()) return nullptr;
  // A block ending in a builtin call (call W; W: trap n; ret) is compiled
  // up to the call; the interpreter makes the call (kNativeTrapCall).
  const bool trap_call = !b.ops.empty() && b.ops.back().kind == TK_CALL_TRAP_RET;
  const std::size_t segments = b.segments.size() - (trap_call ? 1 : 0);
  // The block's instructions, from the copy it was made from.
  std::vector<Placed> list;
  const std::uint8_t* copy = b.bytes.data();
  unsigned index = 0;
  Addr end = 0;
  for (std::size_t n = 0; n < segments; ++n) {
    const Segment& seg = b.segments[n];
    std::uint32_t off = 0;
    while (off < seg.length) {
      Placed i;
      if (!decode_instruction(copy + off, seg.length - off, i)) return nullptr;
      i.pc = seg.start + off;
      i.next = i.pc + i.length;
      i.index = index++;
      off += i.length;
      i.followed = i.op == OP_JMP && off == seg.length && n + 1 < segments;
      list.push_back(i);
    }
    copy += seg.length;
    end = seg.start + seg.length;
  }
  if (trap_call) {
    // The call itself and the wrapper's two instructions.
    if (list.empty() || list.back().op != OP_CALL) return nullptr;
    list.back().trap_call = true;
    index += 2;
  }
  if (index != b.count) return nullptr;

  Compiler c(b);
  c.set_end(end);
  if (!c.run(list)) return nullptr;
  std::uint8_t* at = arena_take(t, c.code().size());
  if (!at) return nullptr;
  std::memcpy(at, c.code().data(), c.code().size());
  g_made.fetch_add(1, std::memory_order_relaxed);
  return at;
}

void native_run(NativeState* st, void* entry) {
  const Gate& g = gate();
  st->exit_code = g.exit;
  g.enter(st, entry);
}

void native_arena_free(NativeArena* arena) {
  if (!arena) return;
  for (std::uint8_t* c : arena->chunks) ::munmap(c, kChunkBytes);
  delete arena;
}

#else  // no machine code on this host

struct NativeArena {};
bool native_available() { return false; }
void set_native_enabled(bool) {}
std::size_t native_blocks_made() { return 0; }
void* native_compile(Translation&, Block&) { return nullptr; }
void native_run(NativeState*, void*) {}
void native_arena_free(NativeArena* arena) { delete arena; }

#endif

}  // namespace talven::script
