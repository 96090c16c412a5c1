// Machine code for blocks and slices that go on: the same results, errors
// and slice ends as the interpreter, and the code really used.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/address_space.h"
#include "base/config.h"
#include "base/messages.h"
#include "script/opcodes.h"
#include "script/vm.h"
#include "script/vm_asm.h"
#include "script/vm_translate.h"

namespace talven::script {
namespace {

class VmNative : public ::testing::Test {
 protected:
  void SetUp() override {
    old_sink_ = set_message_sink([this](unsigned, const std::string& text) {
      messages_.push_back(text);
      return kMessageOk;
    });
    saved_ = config();
    config().Error = 1;
    ctx_ = vm_create(4096, 4096);
    ASSERT_NE(ctx_, nullptr);
  }
  void TearDown() override {
    vm_free(ctx_);
    set_native_enabled(true);
    vm_set_slice_hook(nullptr);
    vm_stop_flag.clear();
    config() = saved_;
    set_message_sink(old_sink_);
  }
  // Runs the program from its start until it ends: result, state, pc and
  // the messages, as one string.
  std::string run(bool native) {
    set_native_enabled(native);
    forget_all_translations();
    messages_.clear();
    vm_stop_flag.clear();
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    ctx_->r[kRegStack] = ctx_->stack + 4096 - 8;
    EXPECT_TRUE(store32(ctx_->r[kRegStack], kReturnFinish));
    for (int i = 0; i < 100000 && ctx_->state == kVmRunning && !vm_stop_flag.is_set(); ++i) vm_run(ctx_);
    std::string out = "state " + std::to_string(ctx_->state) + " pc " + std::to_string(ctx_->pc) +
                      " r0 " + std::to_string(ctx_->r[0]);
    for (const std::string& m : messages_) out += " | " + m;
    return out;
  }
  VmContext* ctx_ = nullptr;
  std::vector<std::string> messages_;
  MessageSink old_sink_;
  Config saved_;
};

// sum of i * 3 for i < n, through a called function with a frame.
void sum_program(VmAsm& a, std::uint32_t n) {
  auto f = a.label(), loop = a.label(), done = a.label();
  a.movi(0, 0);
  a.movi(1, 0);
  a.bind(loop);
  a.cmpi(1, n);
  a.jge(done);
  a.push(1);
  a.push(0);
  a.call(f);
  a.drop_args(2);
  a.addi(1, 1);
  a.jmp(loop);
  a.bind(done);
  a.ret();
  // f(acc, i) = acc + i * 3
  a.bind(f);
  a.enter(4);
  a.load_frame(2, 12);
  a.movi(3, 3);
  a.r(OP_MUL, 2, 3);
  a.load_frame(0, 8);
  a.add(0, 2);
  a.leave(4);
  a.ret();
}

TEST_F(VmNative, LoopsAndCallsRunAsMachineCodeWithTheInterpretersResult) {
  VmAsm a(ctx_->program);
  sum_program(a, 5000);
  ASSERT_TRUE(a.load());
  const std::string interpreted = run(false);
  const std::size_t before = native_blocks_made();
  const std::string native = run(true);
  EXPECT_EQ(native, interpreted);
  EXPECT_NE(native.find("r0 " + std::to_string(3u * 4999u * 5000u / 2u)), std::string::npos) << native;
  if (native_available()) EXPECT_GE(native_blocks_made() - before, 3u);
}

TEST_F(VmNative, ErrorsInsideMachineCodeAreTheInterpretersOwn) {
  // Each program fails inside its loop on a later pass: a zero divisor, a
  // load from outside script memory, and endless recursion.
  const auto build = [&](int kind) {
    VmAsm a(ctx_->program);
    auto loop = a.label(), f = a.label();
    a.movi(1, 2);
    a.movi(2, ctx_->program);
    a.bind(loop);
    if (kind == 0) {
      a.movi(0, 100);
      a.r(OP_DIV, 0, 1);
    } else if (kind == 1) {
      a.load(0, 2);
      a.movi(2, 0x100);
    } else {
      a.call(f);
    }
    a.subi(1, 1);
    a.jmp(loop);
    a.bind(f);
    a.enter(64);
    a.call(f);
    return a.load();
  };
  for (int kind = 0; kind < 3; ++kind) {
    ASSERT_TRUE(build(kind));
    const std::string interpreted = run(false);
    const std::string native = run(true);
    EXPECT_EQ(native, interpreted) << "kind " << kind;
    EXPECT_NE(native.find("state 2"), std::string::npos) << native;
  }
}

TEST_F(VmNative, AFloatResultWithANaNOperandIsTheFirstNaNMadeQuiet) {
  // rD, rS -> result, for add, sub, mul and div alike: the first NaN of
  // rD, rS with its quiet bit set (a signalling NaN becomes quiet).
  struct Case {
    std::uint32_t d, s, want;
  };
  const Case cases[] = {
      {0xFFFFBEE9u, 0xFF9DFFFFu, 0xFFFFBEE9u},  // both NaN: rD's
      {0x7F800001u, 0x7FC00002u, 0x7FC00001u},  // signalling rD made quiet
      {0x3F800000u, 0xFF9DFFFFu, 0xFFDDFFFFu},  // only rS: rS's, quiet
  };
  for (const Opcode op : {OP_FADD, OP_FSUB, OP_FMUL, OP_FDIV}) {
    for (const Case& c : cases) {
      VmAsm a(ctx_->program);
      a.movi(0, c.d);
      a.movi(1, c.s);
      a.r(op, 0, 1);
      a.ret();
      ASSERT_TRUE(a.load());
      for (const bool native : {false, true}) {
        run(native);
        EXPECT_EQ(ctx_->r[0], c.want) << "op " << int(op) << " native " << native;
      }
    }
  }
}

// Slice hook of the test below: counts its calls, goes on every time, and
// sets the stop flag (as another thread would) on call `stop_on`.
int g_calls = 0;
int g_stop_on = 0;
bool counting_hook(const VmContext*) {
  if (++g_calls == g_stop_on) vm_stop_flag.set();
  return true;
}
bool refusing_hook(const VmContext*) { return false; }

TEST_F(VmNative, ASliceGoesOnWhileTheHookAllowsUntilTheStopFlagIsSet) {
  // An endless counting loop: r0 counts pairs of instructions.
  VmAsm a(ctx_->program);
  auto loop = a.label();
  a.movi(0, 0);
  a.bind(loop);
  a.addi(0, 1);
  a.jmp(loop);
  ASSERT_TRUE(a.load());
  for (const bool native : {false, true}) {
    set_native_enabled(native);
    forget_all_translations();
    vm_stop_flag.clear();
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    // A refused slice ends the call: 255 instructions, the first a move.
    vm_set_slice_hook(&refusing_hook);
    vm_run(ctx_);
    EXPECT_EQ(ctx_->r[0], 127u) << native;
    // Slices go on until the flag set during the second one is seen at its
    // end: three slices in one call.
    vm_set_slice_hook(&counting_hook);
    g_calls = 0;
    g_stop_on = 2;
    vm_run(ctx_);
    EXPECT_EQ(g_calls, 2) << native;
    EXPECT_EQ(ctx_->r[0], 127u + (3u * 255u + 1u) / 2u) << native;
    EXPECT_EQ(ctx_->state, kVmRunning) << native;
    vm_set_slice_hook(nullptr);
  }
}

}  // namespace
}  // namespace talven::script
