// Run-time errors: their messages, state 2 and the stop flag; stack checks;
// invalid code; addresses outside script memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/address_space.h"
#include "base/messages.h"
#include "script/opcodes.h"
#include "script/vm.h"
#include "script/vm_asm.h"

namespace talven::script {
namespace {

constexpr std::int32_t kProgram = 1024;
constexpr std::int32_t kStack = 256;

class VmErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    vm_stop_flag.clear();
    vm_set_trap_handler(nullptr);
    old_sink_ = set_message_sink([this](unsigned level, const std::string& text) {
      levels_.push_back(level);
      messages_.push_back(text);
      return kMessageOk;
    });
    ctx_ = vm_create(kProgram, kStack);
    ASSERT_NE(ctx_, nullptr);
  }
  void TearDown() override {
    vm_free(ctx_);
    set_message_sink(old_sink_);
    vm_stop_flag.clear();
  }

  VmAsm code() const { return VmAsm(ctx_->program); }

  // Runs one slice of fresh code from a clean state; the messages shown.
  std::vector<std::string> run_once(const VmAsm& a) {
    messages_.clear();
    levels_.clear();
    vm_stop_flag.clear();
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    EXPECT_TRUE(a.load());
    vm_run(ctx_);
    return messages_;
  }

  // The context stopped by an error with exactly this message at level 1.
  void expect_error(const std::string& message, const char* what) {
    EXPECT_EQ(ctx_->state, kVmError) << what;
    EXPECT_TRUE(vm_stop_flag.is_set()) << what;
    ASSERT_EQ(messages_.size(), 1u) << what;
    EXPECT_EQ(messages_[0], message) << what;
    EXPECT_EQ(levels_[0], 1u) << what;
  }

  VmContext* ctx_ = nullptr;
  std::vector<std::string> messages_;
  std::vector<unsigned> levels_;
  MessageSink old_sink_;
};

TEST_F(VmErrors, DivideByZeroStopsEveryContext) {
  VmContext* other = vm_clone(ctx_, 0);
  ASSERT_NE(other, nullptr);
  for (Opcode op : {OP_DIV, OP_MOD}) {
    VmAsm a = code();
    a.movi(1, 10);
    a.movi(2, 0);
    a.r(op, 1, 2);
    a.movi(3, 1);
    run_once(a);
    expect_error("Divide by zero error.", kOpInfo[op].mnemonic);
    EXPECT_EQ(ctx_->r[1], 10u);  // untouched
    EXPECT_EQ(ctx_->r[3], 0u);   // nothing after the error ran
    EXPECT_EQ(ctx_->pc, ctx_->program + 14);
    // The other context runs nothing while the flag is set.
    other->pc = other->program;
    vm_run(other);
    EXPECT_EQ(other->pc, other->program);
    EXPECT_EQ(other->state, kVmRunning);
  }
  vm_free(other);
}

TEST_F(VmErrors, InvalidOpcodesAndRegisterNibbles) {
  for (int op : {92, 93, 200, 255}) {
    VmAsm a = code();
    a.nop();
    a.byte(static_cast<std::uint8_t>(op));
    a.movi(1, 1);
    run_once(a);
    expect_error("Invalid code error", "opcode");
    EXPECT_EQ(ctx_->r[1], 0u);
    EXPECT_EQ(ctx_->pc, ctx_->program + 2) << op;
  }
  // A nibble above 7 in either half of a register byte is invalid code.
  const std::uint8_t bad_bytes[] = {0x08, 0x80, 0x9F, 0xFF, 0x18};
  for (std::uint8_t rb : bad_bytes) {
    for (Opcode op : {OP_MOVL_RR, OP_ADD, OP_PUSH, OP_MOVL_IMM}) {
      VmAsm a = code();
      a.byte(op);
      a.byte(rb);
      if (op == OP_MOVL_IMM) a.word(5);
      run_once(a);
      expect_error("Invalid code error", kOpInfo[op].mnemonic);
    }
  }
  // Valid bytes still work: r7 in both halves.
  VmAsm ok = code();
  ok.r(OP_MOVL_RR, 0, 7);
  ok.nop();
  run_once(ok);
  EXPECT_EQ(ctx_->state, kVmRunning);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(VmErrors, StackChecks) {
  const Addr top = ctx_->stack + kStack;
  struct Case {
    const char* what;
    Addr sp;
    void (*emit)(VmAsm&);
  };
  const Case cases[] = {
      {"push at the stack base", ctx_->stack, [](VmAsm& a) { a.push(1); }},
      {"push immediate at the base", ctx_->stack, [](VmAsm& a) { a.push_imm(1); }},
      {"call at the base", ctx_->stack, [](VmAsm& a) { a.call(0x10000); }},
      {"pop of the topmost word", top - 4, [](VmAsm& a) { a.pop(1); }},
      {"ret of the topmost word", top - 4, [](VmAsm& a) { a.ret(); }},
      {"pop from an empty stack", top, [](VmAsm& a) { a.pop(1); }},
      {"enter past the base", top, [](VmAsm& a) { a.enter(kStack - 24 + 4); }},
      {"push below a wild r7", 0x12345678, [](VmAsm& a) { a.push(1); }},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(store32(top - 4, 0x5A5A5A5A));
    ASSERT_TRUE(store32(ctx_->stack, 0));
    ctx_->r[7] = c.sp;
    ctx_->r[1] = 77;
    VmAsm a = code();
    c.emit(a);
    run_once(a);
    expect_error("Stack overflow error.", c.what);
    EXPECT_EQ(ctx_->r[7], c.sp) << c.what;
    EXPECT_EQ(ctx_->r[1], 77u) << c.what << ": no data moved";
    EXPECT_EQ(load32(ctx_->stack).value(), 0u) << c.what;
  }
  // The deepest legal push and an enter that exactly fits.
  ctx_->r[7] = ctx_->stack + 4;
  VmAsm a = code();
  a.push_imm(9);
  a.nop();
  run_once(a);
  EXPECT_EQ(ctx_->state, kVmRunning);
  EXPECT_EQ(ctx_->r[7], ctx_->stack);
  EXPECT_EQ(load32(ctx_->stack).value(), 9u);
  ctx_->r[7] = top;
  VmAsm e = code();
  e.enter(kStack - 24);
  e.nop();
  run_once(e);
  EXPECT_EQ(ctx_->state, kVmRunning);
  EXPECT_EQ(ctx_->r[7], ctx_->stack);
}

TEST_F(VmErrors, CallThroughNullRegister) {
  VmAsm a = code();
  a.movi(3, 0);
  a.r1(OP_CALL_REG, 3);
  run_once(a);
  expect_error("Out of memory error", "call r3");
  EXPECT_EQ(ctx_->r[7], ctx_->stack + kStack);  // nothing pushed
}

// Loads, stores, jumps and calls outside script memory stop the script with
// our own error; the process goes on.
TEST_F(VmErrors, AddressesOutsideScriptMemory) {
  const Addr beyond = static_cast<Addr>(script_space().limit());
  struct Case {
    const char* what;
    Addr bad;
    void (*emit)(VmAsm&, Addr);
  };
  const Case cases[] = {
      {"load from null", 0, [](VmAsm& a, Addr x) { a.ri1(OP_MOVL_LOAD_ABS, 1, x); }},
      {"load below 64 KiB", 0xFFFC, [](VmAsm& a, Addr x) { a.ri1(OP_MOVBL_ABS, 1, x); }},
      {"store to null", 0, [](VmAsm& a, Addr x) { a.ri1(OP_MOVL_STORE_ABS, 1, x); }},
      {"store through a register", 0xFFFFFFF0,
       [](VmAsm& a, Addr x) {
         a.movi(2, x);
         a.r(OP_MOVB_IND, 2, 1);
       }},
      {"load past the limit", beyond,
       [](VmAsm& a, Addr x) {
         a.movi(6, x);
         a.ri1(OP_MOVWL_FRAME, 1, 0);
       }},
      {"read-modify-write", 8,
       [](VmAsm& a, Addr x) {
         a.movi(2, x);
         a.r(OP_POSTINC, 1, 2);
       }},
      {"zero test", 0x20, [](VmAsm& a, Addr x) { a.i(OP_ZEROL_ABS, x); }},
      {"jump to null", 0, [](VmAsm& a, Addr x) { a.i(OP_JMP, x); }},
      {"call past the limit", beyond, [](VmAsm& a, Addr x) { a.i(OP_CALL, x); }},
      {"call through a register", 0xFFFFFFFF,
       [](VmAsm& a, Addr x) {
         a.movi(3, x);
         a.r1(OP_CALL_REG, 3);
       }},
  };
  for (const Case& c : cases) {
    ctx_->r[7] = ctx_->stack + kStack;
    VmAsm a = code();
    c.emit(a, c.bad);
    a.movi(4, 1);
    run_once(a);
    char want[64];
    std::snprintf(want, sizeof want, "Invalid address error - 0x%08X", c.bad);
    expect_error(want, c.what);
    EXPECT_EQ(ctx_->r[4], 0u) << c.what;
  }
  // A 32-bit load that straddles the end of committed memory.
  VmAsm a = code();
  a.ri1(OP_MOVL_LOAD_ABS, 1, beyond - 2);
  run_once(a);
  char want[64];
  std::snprintf(want, sizeof want, "Invalid address error - 0x%08X", beyond - 2);
  expect_error(want, "straddling load");
  // An instruction cut off by the end of memory (its opcode is the last
  // committed byte, which is restored afterwards).
  std::uint8_t saved = 0;
  ASSERT_TRUE(load8(beyond - 1, saved));
  ASSERT_TRUE(store8(beyond - 1, OP_MOVL_IMM));
  ctx_->state = kVmRunning;
  vm_stop_flag.clear();
  messages_.clear();
  levels_.clear();
  ctx_->pc = beyond - 1;
  vm_run(ctx_);
  store8(beyond - 1, saved);
  std::snprintf(want, sizeof want, "Invalid address error - 0x%08X", beyond - 1);
  expect_error(want, "fetch");
}

TEST_F(VmErrors, StopFlagIsScriptMemory) {
  const Addr at = vm_stop_flag.address();
  ASSERT_NE(at, 0u);
  vm_stop_flag.set();
  EXPECT_EQ(load32(at).value_or(0), 1u);
  vm_stop_flag.clear();
  EXPECT_EQ(load32(at).value_or(1), 0u);
  ASSERT_TRUE(store32(at, 1));
  EXPECT_TRUE(vm_stop_flag.is_set());
  vm_stop_flag.clear();
}

}  // namespace
}  // namespace talven::script
