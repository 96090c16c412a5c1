// Interpreter semantics: contexts, slices, loads and stores, arithmetic,
// flags and jumps, floats, frames and calls.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "base/messages.h"
#include "script/opcodes.h"
#include "script/vm.h"
#include "script/vm_asm.h"

namespace talven::script {
namespace {

constexpr std::int32_t kProgram = 8192;
constexpr std::int32_t kStack = 4096;
constexpr Addr kDataOffset = 4096;  // data lives in the second half of the program area

std::uint32_t fbits(float f) { return std::bit_cast<std::uint32_t>(f); }
float fval(std::uint32_t v) { return std::bit_cast<float>(v); }

class VmExec : public ::testing::Test {
 protected:
  void SetUp() override {
    vm_stop_flag.clear();
    vm_set_trap_handler(nullptr);
    old_sink_ = set_message_sink([this](unsigned, const std::string& text) {
      messages_.push_back(text);
      return kMessageOk;
    });
    ctx_ = vm_create(kProgram, kStack);
    ASSERT_NE(ctx_, nullptr);
    // Start the way the scheduler starts a function: one argument word and
    // below it a return address that finishes the context on the final
    // `ret` (the topmost word of a stack is never popped).
    ctx_->r[7] = entry_sp();
    ASSERT_TRUE(store32(ctx_->r[7], kReturnFinish));
  }
  void TearDown() override {
    vm_free(ctx_);
    set_message_sink(old_sink_);
    vm_stop_flag.clear();
  }

  Addr entry_sp() const { return ctx_->stack + kStack - 8; }
  Addr data(Addr offset = 0) const { return ctx_->program + kDataOffset + offset; }
  VmAsm code() const { return VmAsm(ctx_->program); }

  // Loads the code, restarts the context at its first byte with r7 at sp
  // (default: the entry frame) and runs slices until it stops; the number of
  // slices it took.
  int run(const VmAsm& a, Addr sp = 0, int max_slices = 100000) {
    EXPECT_TRUE(a.load());
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    ctx_->r[7] = sp ? sp : entry_sp();
    int slices = 0;
    while (ctx_->state == kVmRunning && !vm_stop_flag.is_set() && slices < max_slices) {
      EXPECT_EQ(vm_run(ctx_), 1);
      ++slices;
    }
    return slices;
  }

  VmContext* ctx_ = nullptr;
  std::vector<std::string> messages_;
  MessageSink old_sink_;
};

TEST(VmContextLife, CreateCloneAndFree) {
  VmContext* a = vm_create(100, 256);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->pc, a->program);
  EXPECT_EQ(a->program_size, 100u);
  EXPECT_EQ(a->stack_size, 256u);
  EXPECT_EQ(a->program_users, a->program + 100);
  EXPECT_EQ(a->r[7], a->stack + 256);
  EXPECT_EQ(a->state, 0);
  EXPECT_EQ(a->thread_slot, 0u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(a->r[i], 0u);
  EXPECT_EQ(load32(a->program_users).value_or(99), 1u);
  // Program area and stack are zero-filled script memory.
  const std::uint8_t* p = span(a->program, 100);
  const std::uint8_t* st = span(a->stack, 256);
  ASSERT_TRUE(p && st);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(st[i], 0);

  a->pc = a->program + 10;
  VmContext* b = vm_clone(a, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->program, a->program);
  EXPECT_EQ(b->pc, a->program);
  EXPECT_EQ(b->stack_size, 256u);
  EXPECT_NE(b->stack, a->stack);
  EXPECT_EQ(b->r[7], b->stack + 256);
  EXPECT_EQ(load32(a->program_users).value_or(0), 2u);
  VmContext* c = vm_clone(a, 64);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->stack_size, 64u);
  EXPECT_EQ(load32(a->program_users).value_or(0), 3u);

  const Addr program = a->program;
  vm_free(a);  // the clones keep the program alive
  EXPECT_EQ(load32(b->program_users).value_or(0), 2u);
  EXPECT_GT(script_space().block_size(program), 0u);
  vm_free(c);
  vm_free(b);
  EXPECT_EQ(script_space().block_size(program), 0u);

  EXPECT_EQ(vm_clone(nullptr, 10), nullptr);
  EXPECT_EQ(vm_create(-1, 10), nullptr);
  EXPECT_EQ(vm_create(10, -1), nullptr);
  vm_free(nullptr);
}

TEST_F(VmExec, SliceRunsAtMost255Instructions) {
  VmAsm a = code();
  for (int i = 0; i < 600; ++i) a.nop();
  ASSERT_TRUE(a.load());
  vm_run(ctx_);
  EXPECT_EQ(ctx_->pc, ctx_->program + 255);
  vm_run(ctx_);
  EXPECT_EQ(ctx_->pc, ctx_->program + 510);
  // With the stop flag set nothing runs.
  vm_stop_flag.set();
  vm_run(ctx_);
  EXPECT_EQ(ctx_->pc, ctx_->program + 510);
  vm_stop_flag.clear();
  // A finished context runs nothing either.
  ctx_->state = kVmFinished;
  vm_run(ctx_);
  EXPECT_EQ(ctx_->pc, ctx_->program + 510);
}

TEST_F(VmExec, LoadsAndStoresOfEveryWidthAndForm) {
  ASSERT_TRUE(store32(data(0), 0x8281F2FEu));  // bytes FE F2 81 82
  VmAsm a = code();
  // absolute loads
  a.ri1(OP_MOVBL_ABS, 1, data(0));
  a.ri1(OP_MOVSBL_ABS, 2, data(0));
  a.ri1(OP_MOVWL_ABS, 3, data(0));
  a.ri1(OP_MOVSWL_ABS, 4, data(0));
  a.ri1(OP_MOVL_LOAD_ABS, 5, data(0));
  a.ri1(OP_MOVL_STORE_ABS, 1, data(16));
  a.ri1(OP_MOVL_STORE_ABS, 2, data(20));
  a.ri1(OP_MOVL_STORE_ABS, 3, data(24));
  a.ri1(OP_MOVL_STORE_ABS, 4, data(28));
  a.ri1(OP_MOVL_STORE_ABS, 5, data(32));
  // frame-relative loads with r6 pointing 8 bytes above the data
  a.movi(6, data(8));
  a.ri1(OP_MOVBL_FRAME, 1, static_cast<std::uint32_t>(-6));  // byte 0x81
  a.ri1(OP_MOVSBL_FRAME, 2, static_cast<std::uint32_t>(-6));
  a.ri1(OP_MOVWL_FRAME, 3, static_cast<std::uint32_t>(-6));  // 0x8281
  a.ri1(OP_MOVSWL_FRAME, 4, static_cast<std::uint32_t>(-6));
  a.ri1(OP_LEA, 5, static_cast<std::uint32_t>(-8));
  a.ri1(OP_MOVB_FRAME, 1, 28);        // data(36)
  a.ri1(OP_MOVW_FRAME, 3, 30);        // data(38)
  a.ri1(OP_MOVL_STORE_FRAME, 4, 32);  // data(40)
  a.ri1(OP_MOVL_STORE_FRAME, 5, 36);  // data(44)
  a.ri1(OP_MOVL_LOAD_FRAME, 0, 32);
  // register-indirect loads and stores
  a.movi(1, data(1));
  a.r(OP_MOVBL_IND, 2, 1);  // 0xF2
  a.r(OP_MOVSBL_IND, 3, 1);
  a.r(OP_MOVWL_IND, 4, 1);  // 0x81F2
  a.r(OP_MOVSWL_IND, 5, 1);
  a.movi(1, data(48));
  a.r(OP_MOVL_STORE_IND, 1, 5);
  a.movi(1, data(52));
  a.movi(5, 0x11223344);
  a.r(OP_MOVL_STORE_IND, 1, 5);
  a.r(OP_MOVW_IND, 1, 4);       // low half over the first two bytes
  a.r(OP_MOVB_IND, 1, 5);       // then 0x44 over the first byte
  a.r(OP_MOVL_LOAD_IND, 0, 1);  // r0 = [r1]
  a.ri1(OP_MOVB_ABS, 2, data(56));
  a.ri1(OP_MOVW_ABS, 4, data(58));
  a.ret();
  run(a);

  ASSERT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(load32(data(16)).value(), 0xFEu);
  EXPECT_EQ(load32(data(20)).value(), 0xFFFFFFFEu);
  EXPECT_EQ(load32(data(24)).value(), 0xF2FEu);
  EXPECT_EQ(load32(data(28)).value(), 0xFFFFF2FEu);
  EXPECT_EQ(load32(data(32)).value(), 0x8281F2FEu);
  EXPECT_EQ(load32(data(40)).value(), 0xFFFF8281u);
  EXPECT_EQ(load32(data(44)).value(), data(0));  // lea
  std::uint8_t b = 0;
  std::uint16_t w = 0;
  ASSERT_TRUE(load8(data(36), b));
  EXPECT_EQ(b, 0x81);
  ASSERT_TRUE(load16(data(38), w));
  EXPECT_EQ(w, 0x8281);
  EXPECT_EQ(ctx_->r[2], 0xF2u);
  EXPECT_EQ(ctx_->r[3], 0xFFFFFFF2u);
  EXPECT_EQ(ctx_->r[4], 0x81F2u);
  EXPECT_EQ(load32(data(48)).value(), 0xFFFF81F2u);
  EXPECT_EQ(load32(data(52)).value(), 0x11228144u);
  EXPECT_EQ(ctx_->r[0], load32(data(52)).value());
  ASSERT_TRUE(load8(data(56), b));
  EXPECT_EQ(b, 0xF2);
  ASSERT_TRUE(load16(data(58), w));
  EXPECT_EQ(w, 0x81F2);
}

TEST_F(VmExec, IntegerArithmetic) {
  struct Case {
    Opcode op;
    std::int32_t x, y;
    std::int32_t want;
  };
  const std::vector<Case> cases = {
      {OP_ADD, INT_MAX, 1, INT_MIN},
      {OP_SUB, 5, 7, -2},
      {OP_MUL, 0x10001, 0x10001, 0x20001},  // low 32 bits of 0x100020001
      {OP_DIV, -7, 2, -3},
      {OP_DIV, 7, -2, -3},
      {OP_DIV, INT_MIN, -1, INT_MIN},  // wraps instead of trapping
      {OP_MOD, -7, 2, -1},
      {OP_MOD, 7, -2, 1},
      {OP_MOD, INT_MIN, -1, 0},
      {OP_SHL, 1, 33, 2},  // count AND 31
      {OP_SHR, -8, 1, 0x7FFFFFFC},
      {OP_SAR, -8, 1, -4},
      {OP_SAR, -1, 31, -1},
      {OP_AND, 0x0FF0, 0x00FF, 0x00F0},
      {OP_OR, 0x0F00, 0x00F0, 0x0FF0},
      {OP_XOR, 0x0FF0, 0x00FF, 0x0F0F},
      {OP_NEG, 0, 5, -5},
      {OP_NEG, 0, INT_MIN, INT_MIN},
      {OP_NOT, 0, 0x0F, ~0x0F},
      {OP_SET, 9, 0, 1},
      {OP_SET, 9, 3, 0},
      {OP_MOVL_RR, 9, 4, 4},
  };
  for (const Case& c : cases) {
    VmAsm a = code();
    a.movi(2, c.x);
    a.movi(5, c.y);
    a.r(c.op, 2, 5);
    a.ret();
    run(a);
    EXPECT_EQ(ctx_->state, kVmFinished) << kOpInfo[c.op].mnemonic;
    EXPECT_EQ(static_cast<std::int32_t>(ctx_->r[2]), c.want)
        << kOpInfo[c.op].mnemonic << " " << c.x << ", " << c.y;
    EXPECT_EQ(ctx_->r[5], static_cast<std::uint32_t>(c.y));
  }
  // Immediate forms and xchg.
  VmAsm a = code();
  a.movi(1, 10);
  a.addi(1, -3);
  a.movi(2, 10);
  a.subi(2, 30);
  a.movi(3, 1);
  a.movi(4, 2);
  a.r(OP_XCHG, 3, 4);
  a.ret();
  run(a);
  EXPECT_EQ(ctx_->r[1], 7u);
  EXPECT_EQ(static_cast<std::int32_t>(ctx_->r[2]), -20);
  EXPECT_EQ(ctx_->r[3], 2u);
  EXPECT_EQ(ctx_->r[4], 1u);
  EXPECT_TRUE(messages_.empty());
}

// Every conditional jump against the C++ meaning of its condition, over
// values that separate signed from unsigned order.
TEST_F(VmExec, ConditionalJumpsFollowComparisons) {
  const std::vector<std::int32_t> values = {INT_MIN, -5, -1, 0, 1, 5, INT_MAX};
  const Opcode jumps[] = {OP_JE,  OP_JNE, OP_JG,  OP_JGE, OP_JL,
                          OP_JLE, OP_JA,  OP_JAE, OP_JB,  OP_JBE};
  for (std::int32_t x : values) {
    for (std::int32_t y : values) {
      for (Opcode j : jumps) {
        for (bool use_sub : {false, true}) {
          const std::uint32_t ux = static_cast<std::uint32_t>(x),
                              uy = static_cast<std::uint32_t>(y);
          bool want = false;
          switch (j) {
            case OP_JE: want = x == y; break;
            case OP_JNE: want = x != y; break;
            case OP_JG: want = x > y; break;
            case OP_JGE: want = x >= y; break;
            case OP_JL: want = x < y; break;
            case OP_JLE: want = x <= y; break;
            case OP_JA: want = ux > uy; break;
            case OP_JAE: want = ux >= uy; break;
            case OP_JB: want = ux < uy; break;
            case OP_JBE: want = ux <= uy; break;
            default: break;
          }
          VmAsm a = code();
          auto taken = a.label();
          a.movi(1, x);
          a.movi(2, y);
          a.movi(0, 0);
          if (use_sub) a.sub(1, 2u);
          else a.cmpi(1, y);
          a.jcc(j, taken);
          a.ret();
          a.bind(taken);
          a.movi(0, 1);
          a.ret();
          run(a);
          ASSERT_EQ(ctx_->state, kVmFinished);
          EXPECT_EQ(ctx_->r[0], want ? 1u : 0u)
              << kOpInfo[j].mnemonic << " " << x << " " << y << (use_sub ? " sub" : " cmp");
        }
      }
    }
  }
}

TEST_F(VmExec, FloatOperations) {
  struct Case {
    Opcode op;
    float x, y;
    std::uint32_t want;
  };
  const std::vector<Case> cases = {
      {OP_FADD, 1.5f, 2.25f, fbits(3.75f)},
      {OP_FSUB, 1.0f, 3.5f, fbits(-2.5f)},
      {OP_FMUL, -2.0f, 1.25f, fbits(-2.5f)},
      {OP_FDIV, 1.0f, 0.0f, fbits(INFINITY)},  // no error
      {OP_FMOD, -7.5f, 2.0f, fbits(-1.5f)},
      {OP_FNEG, 0.0f, 2.0f, fbits(-2.0f)},
      {OP_FTOI, 0.0f, -2.7f, static_cast<std::uint32_t>(-2)},
      {OP_FTOI, 0.0f, 2.999f, 2u},
      {OP_FTOI, 0.0f, NAN, 0x80000000u},
      {OP_FTOI, 0.0f, 3e9f, 0x80000000u},
  };
  for (const Case& c : cases) {
    VmAsm a = code();
    a.movi(1, fbits(c.x));
    a.movi(2, fbits(c.y));
    a.r(c.op, 1, 2);
    a.ret();
    run(a);
    EXPECT_EQ(ctx_->r[1], c.want) << kOpInfo[c.op].mnemonic << " " << c.x << " " << c.y;
  }
  VmAsm a = code();
  a.movi(1, -7);
  a.r(OP_ITOF, 2, 1);
  a.ret();
  run(a);
  EXPECT_EQ(fval(ctx_->r[2]), -7.0f);
}

TEST_F(VmExec, FsubSetsFloatFlags) {
  struct Case {
    float x, y;
    bool zero, less;
  };
  const std::vector<Case> cases = {
      {2.5f, 2.5f, true, false},  {-1.0f, 2.0f, false, true}, {3.0f, -2.0f, false, false},
      {-0.0f, 0.0f, true, false}, {NAN, 1.0f, false, false},
  };
  for (const Case& c : cases) {
    ctx_->below_flag = 1;
    VmAsm a = code();
    auto ge = a.label();
    a.movi(0, 0);
    a.movi(1, fbits(c.x));
    a.movi(2, fbits(c.y));
    a.r(OP_FSUB, 1, 2);
    a.jge(ge);
    a.ret();
    a.bind(ge);
    a.movi(0, 1);
    a.ret();
    run(a);
    EXPECT_EQ(ctx_->zero_flag, c.zero) << c.x << " " << c.y;
    EXPECT_EQ(ctx_->less_flag, c.less) << c.x << " " << c.y;
    EXPECT_EQ(ctx_->below_flag, 0);
    EXPECT_EQ(ctx_->r[0], (!c.less || c.zero) ? 1u : 0u) << "jge after fsub";
  }
}

TEST_F(VmExec, IncrementsAndReadModifyWrite) {
  ASSERT_TRUE(store8(data(0), 0xFF));  // a signed byte holding -1
  ASSERT_TRUE(store8(data(1), 0x00));
  ASSERT_TRUE(store16(data(2), 0xFFFF));
  ASSERT_TRUE(store16(data(4), 0x0000));
  ASSERT_TRUE(store32(data(8), 100));
  VmAsm a = code();
  a.movi(1, data(0));
  a.r(OP_POSTINC, 2, 1);  // r2 = 255, [0] = 0
  a.movi(1, data(1));
  a.r(OP_PREDEC, 3, 1);  // [1] = 0xFF, r3 = 255
  a.movi(1, data(2));
  a.r(OP_PREINC16, 4, 1);  // [2] = 0, r4 = 0
  a.movi(1, data(4));
  a.r(OP_POSTDEC16, 5, 1);  // r5 = 0, [4] = 0xFFFF
  a.movi(1, data(8));
  a.ri(OP_PREOP, 0, 1, static_cast<std::uint32_t>(-30));  // [8] = 70, r0 = 70
  a.ri(OP_POSTOP, 6, 1, 5);                               // r6 = 70, [8] = 75
  a.ret();
  run(a);
  ASSERT_EQ(ctx_->state, kVmFinished);
  std::uint8_t b = 9;
  std::uint16_t w = 9;
  EXPECT_EQ(ctx_->r[2], 255u);
  ASSERT_TRUE(load8(data(0), b));
  EXPECT_EQ(b, 0);
  EXPECT_EQ(ctx_->r[3], 255u);
  ASSERT_TRUE(load8(data(1), b));
  EXPECT_EQ(b, 0xFF);
  EXPECT_EQ(ctx_->r[4], 0u);
  ASSERT_TRUE(load16(data(2), w));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(ctx_->r[5], 0u);
  ASSERT_TRUE(load16(data(4), w));
  EXPECT_EQ(w, 0xFFFF);
  EXPECT_EQ(ctx_->r[0], 70u);
  EXPECT_EQ(ctx_->r[6], 70u);
  EXPECT_EQ(load32(data(8)).value(), 75u);

  // The zero tests only touch zero_flag.
  ASSERT_TRUE(store32(data(12), 0x00010000));
  VmAsm z = code();
  auto nz = z.label();
  z.movi(0, 0);
  z.movi(6, data(12));
  z.i(OP_ZEROW_FRAME, 0);  // low half is zero
  z.jne(nz);
  z.addi(0, 1);
  z.i(OP_ZEROL_ABS, data(12));
  z.je(nz);
  z.addi(0, 2);
  z.i(OP_ZEROB_ABS, data(14));  // byte 0x01
  z.je(nz);
  z.addi(0, 4);
  z.bind(nz);
  z.ret();
  run(z);
  EXPECT_EQ(ctx_->r[0], 7u);
}

// fib(n) as the compiler would shape it: arguments pushed, enter/leave
// frames saving r1..r6, result in r0, `add r7` after the call.
TEST_F(VmExec, RecursiveCallsWithFrames) {
  VmAsm a = code();
  auto fib = a.label(), small = a.label(), start = a.label();
  a.jmp(start);
  a.bind(fib);
  a.enter(0);
  a.load_frame(1, 8);  // argument: above the saved r6 slot and the return address
  a.cmpi(1, 2);
  a.jl(small);
  a.mov(2, 1);
  a.subi(2, 1);
  a.push(2);
  a.call(fib);
  a.drop_args(1);
  a.mov(3, 0);
  a.subi(1, 2);
  a.push(1);
  a.call(fib);
  a.drop_args(1);
  a.add(0, 3u);
  a.leave(0);
  a.ret();
  a.bind(small);
  a.mov(0, 1);
  a.leave(0);
  a.ret();
  a.bind(start);
  a.movi(1, 111);
  a.movi(2, 222);
  a.movi(3, 333);
  a.movi(6, 666);
  a.push_imm(20);
  a.call(fib);
  a.drop_args(1);
  a.ret();
  const int slices = run(a);
  ASSERT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], 6765u);
  // enter/leave preserve the caller's registers.
  EXPECT_EQ(ctx_->r[1], 111u);
  EXPECT_EQ(ctx_->r[2], 222u);
  EXPECT_EQ(ctx_->r[3], 333u);
  EXPECT_EQ(ctx_->r[6], 666u);
  EXPECT_EQ(ctx_->r[7], entry_sp() + 4);
  EXPECT_GT(slices, 100);
}

TEST_F(VmExec, EnterSavesRegistersBelowTheOldStackPointer) {
  const Addr old_sp = ctx_->r[7];
  VmAsm a = code();
  for (unsigned i = 1; i <= 6; ++i) a.movi(i, 0x100 * i);
  a.enter(16);
  a.ri1(OP_MOVL_STORE_ABS, 6, data(0));  // r6 and r7 inside the frame
  a.ri1(OP_MOVL_STORE_ABS, 7, data(4));
  a.movi(1, 0);
  a.movi(6, 0);
  a.leave(16);
  a.ret();
  run(a);
  ASSERT_EQ(ctx_->state, kVmFinished);
  for (unsigned i = 1; i <= 6; ++i) {
    EXPECT_EQ(load32(old_sp - 28 + 4 * i).value(), 0x100 * i) << "saved r" << i;
    EXPECT_EQ(ctx_->r[i], 0x100 * i) << "restored r" << i;
  }
  EXPECT_EQ(load32(data(0)).value(), old_sp - 4);
  EXPECT_EQ(load32(data(4)).value(), old_sp - 16 - 24);
  EXPECT_EQ(ctx_->r[7], entry_sp() + 4);
}

TEST_F(VmExec, LeaveOfTheOutermostFrameFinishes) {
  // The start script: entered by a jump with nothing on the stack.
  VmAsm a = code();
  auto main_fn = a.label();
  a.jmp(main_fn);
  a.bind(main_fn);
  a.enter(8);
  a.movi(0, 42);
  a.movi(1, 5);
  a.leave(8);
  a.movi(0, 99);  // never runs
  run(a, ctx_->stack + kStack);
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], 42u);
  EXPECT_EQ(ctx_->r[1], 5u);  // nothing was reloaded
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(vm_stop_flag.is_set());
}

TEST_F(VmExec, RetToTheFinishAddressEndsTheContext) {
  VmAsm a = code();
  a.movi(0, 7);
  a.ret();
  a.movi(0, 8);
  run(a);
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], 7u);
  EXPECT_EQ(ctx_->pc, kReturnFinish);
  EXPECT_EQ(ctx_->r[7], entry_sp() + 4);
  // A further slice does nothing.
  vm_run(ctx_);
  EXPECT_EQ(ctx_->r[0], 7u);
}

TEST_F(VmExec, CallThroughRegisterAndPushPop) {
  VmAsm a = code();
  auto fn = a.label(), start = a.label();
  a.jmp(start);
  a.bind(fn);
  a.movi(0, 55);
  a.ret();
  a.bind(start);
  a.mova(3, fn);
  a.r1(OP_CALL_REG, 3);
  a.push(0);
  a.push_imm(0xABCD);
  a.pop(4);
  a.pop(5);
  a.ret();
  run(a);
  ASSERT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], 55u);
  EXPECT_EQ(ctx_->r[4], 0xABCDu);
  EXPECT_EQ(ctx_->r[5], 55u);
}

TEST_F(VmExec, TrapCallsTheHandlerWithPcPastTheInstruction) {
  static VmContext* seen_ctx;
  static std::uint16_t seen_number;
  static Addr seen_pc;
  static std::uint32_t seen_r1;
  static int result;
  vm_set_trap_handler([](std::uint16_t n, VmContext* c) {
    seen_ctx = c;
    seen_number = n;
    seen_pc = c->pc;
    seen_r1 = c->r[1];
    c->r[0] = 1000 + n;
    return result;
  });
  VmAsm a = code();
  a.movi(1, 17);
  a.trap(300);
  const Addr after = a.here();
  a.movi(2, 1);
  a.ret();

  result = 1;  // ends the slice
  ASSERT_TRUE(a.load());
  vm_run(ctx_);
  EXPECT_EQ(seen_ctx, ctx_);
  EXPECT_EQ(seen_number, 300);
  EXPECT_EQ(seen_pc, after);
  EXPECT_EQ(seen_r1, 17u);
  EXPECT_EQ(ctx_->pc, after);
  EXPECT_EQ(ctx_->r[0], 1300u);
  EXPECT_EQ(ctx_->r[2], 0u);

  result = 0;  // goes on in the same slice
  ctx_->pc = ctx_->program;
  vm_run(ctx_);
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], 1300u);
  EXPECT_EQ(ctx_->r[2], 1u);
  vm_set_trap_handler(nullptr);
}

}  // namespace
}  // namespace talven::script
