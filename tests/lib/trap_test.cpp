// Trap dispatch and the builtin table: numbering, illegal codes, the
// DebugMode argument-count check, slice ends, the lock and the result
// hand-over to the current context.
#include <gtest/gtest.h>

#include <new>

#include <future>
#include <set>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "base/config.h"
#include "base/messages.h"
#include "runtime/builtins.h"
#include "runtime/trap.h"
#include "script/opcodes.h"
#include "script/vm.h"
#include "script/vm_asm.h"

namespace talven::runtime {
namespace {

using script::vm_stop_flag;
using script::VmAsm;

TEST(BuiltinTable, MatchesTheNumbering) {
  std::set<std::string> names;
  for (const BuiltinEntry& e : builtin_table) {
    ASSERT_NE(e.name, nullptr);
    EXPECT_NE(e.handler, nullptr) << e.name;
    EXPECT_TRUE(e.ends_slice == 0 || e.ends_slice == 1) << e.name;
    EXPECT_GE(e.argc, -1) << e.name;
    EXPECT_LE(e.argc, 7) << e.name;
    names.insert(e.name);
  }
  EXPECT_EQ(names.size(), kBuiltinCount);

  // Family boundaries.
  const std::pair<const char*, int> anchors[] = {
      {"jump", 0},       {"ini_seti", 10},     {"pal_map", 14},     {"p3d_tex", 44},
      {"sp_flag", 57},   {"setorg", 77},       {"font_list", 81},   {"drt_init", 89},
      {"midi_load", 92}, {"snd_load", 103},    {"cd_play", 131},    {"media_open", 142},
      {"getkey", 152},   {"getcount", 159},    {"reg_new", 163},    {"pack_save", 170},
      {"malloc", 187},   {"srand", 195},       {"find_first", 226}, {"rc_empty", 229},
      {"strlen", 239},   {"dir_getpath", 263}, {"freemap", 284},    {"ef_init", 296},
      {"key_init", 310}, {"clip_write", 312},  {"net_open", 314},   {"crc16", 319},
      {"dll_load", 321}, {"log_out", 326},
  };

  for (const auto& [name, number] : anchors) EXPECT_EQ(builtin_number(name), number) << name;
  EXPECT_EQ(builtin_number("no_such_builtin"), -1);

  // The builtins that do not end the slice, as the family list states them.
  std::set<int> continuing = {57, 60, 62, 63, 64, 65, 67, 68, 70};
  for (int n = 195; n <= 225; ++n) continuing.insert(n);
  for (int n = 229; n <= 262; ++n) continuing.insert(n);
  for (std::size_t n = 0; n < kBuiltinCount; ++n)
    EXPECT_EQ(builtin_table[n].ends_slice, continuing.count(static_cast<int>(n)) ? 0 : 1)
        << builtin_table[n].name;

  // Variadic builtins and a few counts.
  for (std::size_t n = 0; n < kBuiltinCount; ++n) {
    const std::string name = builtin_table[n].name;
    const bool variadic =
        name == "gtextf" || name == "sprintf" || name == "dll_call" || name == "log_out";
    EXPECT_EQ(builtin_table[n].argc == -1, variadic) << name;
  }
  EXPECT_EQ(builtin_table[builtin_number("sp_set")].argc, 7);
  EXPECT_EQ(builtin_table[builtin_number("ini_gets")].argc, 6);
  EXPECT_EQ(builtin_table[builtin_number("exit")].argc, 0);
  EXPECT_EQ(builtin_table[builtin_number("gcopy")].argc, 6);

  // Without a readable argument block a handler answers its failure value
  // (clip_read: a null buffer gives 0).
  EXPECT_EQ(builtin_table[builtin_number("thd_begin")].handler(0), 0xFFFFFFFFu);
  EXPECT_EQ(builtin_table[builtin_number("pack_read")].handler(0), 0xFFFFFFFFu);
  EXPECT_EQ(builtin_table[builtin_number("clip_read")].handler(0), 0u);
  EXPECT_EQ(builtin_table[builtin_number("galloc")].handler(0), 0u);
}

class Trap : public ::testing::Test {
 protected:
  void SetUp() override {
    vm_stop_flag.clear();
    saved_debug_ = config().DebugMode;
    old_sink_ = set_message_sink([this](unsigned, const std::string& text) {
      messages_.push_back(text);
      return kMessageOk;
    });
    install_trap_dispatch(builtin_table);
    ctx_ = script::vm_create(4096, 1024);
    ASSERT_NE(ctx_, nullptr);
    ctx_->r[7] -= 8;  // an argument word and the finishing return address
    ASSERT_TRUE(store32(ctx_->r[7], script::kReturnFinish));
  }
  void TearDown() override {
    script::vm_free(ctx_);
    script::vm_set_trap_handler(nullptr);
    set_message_sink(old_sink_);
    config().DebugMode = saved_debug_;
    vm_stop_flag.clear();
  }

  // A caller that pushes `pushed` words, calls the stub `trap n; ret`, and
  // drops `adjust` bytes (the compiler's `add r7`) when adjust is nonzero.
  VmAsm caller(std::uint16_t n, unsigned pushed, std::int32_t adjust) {
    VmAsm a(ctx_->program);
    auto stub = a.label(), start = a.label();
    a.jmp(start);
    a.bind(stub);
    a.trap(n);
    a.ret();
    a.bind(start);
    a.movi(0, 0xDEAD);
    for (unsigned i = 0; i < pushed; ++i) a.push_imm(0x10000 + i);
    a.call(stub);
    if (adjust != 0) a.addi(7, adjust);
    a.movi(5, 1);  // marks that the caller went on
    a.ret();
    return a;
  }

  // Runs slices until the context stops.
  void run(const VmAsm& a) {
    ASSERT_TRUE(a.load());
    for (int i = 0; i < 100 && ctx_->state == 0 && !vm_stop_flag.is_set(); ++i)
      script::vm_run(ctx_);
  }

  void reset() {
    ctx_->state = 0;
    ctx_->pc = ctx_->program;
    ctx_->r[7] = ctx_->stack + ctx_->stack_size - 8;
    ctx_->r[5] = 0;
    messages_.clear();
    vm_stop_flag.clear();
  }

  VmContext* ctx_ = nullptr;
  std::vector<std::string> messages_;
  MessageSink old_sink_;
  std::int32_t saved_debug_ = 0;
};

std::uint32_t runs_out_of_memory(Addr) { throw std::bad_alloc(); }

TEST_F(Trap, ABuiltinOutOfMemoryGivesZeroAndTheScriptGoesOn) {
  const BuiltinEntry table[] = {{1, "greedy", runs_out_of_memory, 0}};
  install_trap_dispatch(table);
  reset();
  run(caller(0, 0, 0));
  install_trap_dispatch(builtin_table);
  EXPECT_EQ(ctx_->r[0], 0u);  // the failure result, not the caller's 0xDEAD
  EXPECT_EQ(ctx_->r[5], 1u);  // the caller went on
  EXPECT_FALSE(vm_stop_flag.is_set());
}

TEST_F(Trap, LastCodeIsServedAndThenIllegal) {
  ctx_->r[0] = 1234;
  EXPECT_EQ(trap_dispatch(326, ctx_), 1);  // log_out ends the slice
  EXPECT_EQ(ctx_->r[0], 0u);               // its (stand-in) result
  EXPECT_EQ(ctx_->state, 0);
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(vm_stop_flag.is_set());

  for (std::uint16_t code : {std::uint16_t{327}, std::uint16_t{65535}}) {
    reset();
    ctx_->r[0] = 1234;
    EXPECT_EQ(trap_dispatch(code, ctx_), 1);
    EXPECT_EQ(ctx_->state, script::kVmError);
    EXPECT_TRUE(vm_stop_flag.is_set());
    EXPECT_EQ(ctx_->r[0], 1234u);  // no handler ran
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "Illegal code - #" + std::to_string(code));
  }

  // The same through a running script: nothing after the trap runs.
  reset();
  run(caller(327, 0, 0));
  EXPECT_EQ(ctx_->state, script::kVmError);
  EXPECT_EQ(ctx_->r[5], 0u);
  EXPECT_EQ(ctx_->r[0], 0xDEADu);
}

TEST_F(Trap, ArgumentCountsUnderDebugMode) {
  const std::uint16_t strcmp_n = static_cast<std::uint16_t>(builtin_number("strcmp"));
  const std::uint16_t sprintf_n = static_cast<std::uint16_t>(builtin_number("sprintf"));
  const std::uint16_t rand_n = static_cast<std::uint16_t>(builtin_number("rand"));
  config().DebugMode = 1;
  struct Case {
    std::uint16_t n;
    unsigned pushed;
    std::int32_t adjust;
    const char* message;  // null: accepted
  };
  const Case cases[] = {
      {strcmp_n, 1, 4, "Not enough arguments. - strcmp"},
      {strcmp_n, 3, 12, "Too many arguments. - strcmp"},
      {strcmp_n, 2, 8, nullptr},
      {strcmp_n, 0, 0, "Not enough arguments. - strcmp"},   // no adjustment: 0 passed
      {strcmp_n, 2, -4, "Not enough arguments. - strcmp"},  // a negative adjustment
      {sprintf_n, 5, 20, nullptr},                          // variadic: any count
      {sprintf_n, 0, 0, nullptr},
      {rand_n, 0, 0, nullptr},  // argc 0 without adjustment
      {rand_n, 1, 4, "Too many arguments. - rand"},
  };
  for (const Case& c : cases) {
    reset();
    run(caller(c.n, c.pushed, c.adjust));
    const std::string what =
        std::string(builtin_table[c.n].name) + " pushed " + std::to_string(c.pushed);
    if (c.message) {
      EXPECT_EQ(ctx_->state, script::kVmError) << what;
      EXPECT_TRUE(vm_stop_flag.is_set()) << what;
      ASSERT_EQ(messages_.size(), 1u) << what;
      EXPECT_EQ(messages_[0], c.message) << what;
      EXPECT_EQ(ctx_->r[0], 0xDEADu) << what << ": r0 unchanged";
    } else {
      EXPECT_TRUE(messages_.empty()) << what;
      EXPECT_EQ(ctx_->r[5], 1u) << what;
      EXPECT_NE(ctx_->r[0], 0xDEADu) << what << ": the handler's result replaces r0";
    }
  }

  // Without DebugMode a wrong count goes unnoticed.
  config().DebugMode = 0;
  reset();
  run(caller(strcmp_n, 1, 4));
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(ctx_->state, script::kVmFinished);
  EXPECT_EQ(ctx_->r[5], 1u);

  // The count is the immediate divided by 4, truncated toward zero; an
  // unreadable stack pointer or return address counts as no adjustment.
  VmContext probe = *ctx_;
  probe.r[7] = ctx_->stack + 16;
  const Addr site = ctx_->program + 2000;
  ASSERT_TRUE(store32(probe.r[7], site));
  const std::int32_t adjustments[] = {11, 8, -5, -8, 0, 3};
  for (std::int32_t adj : adjustments) {
    std::uint8_t insn[6];
    script::encode_ri(insn, script::OP_ADD_IMM, 7, static_cast<std::uint32_t>(adj));
    ASSERT_TRUE(write_bytes(site, insn, 6));
    EXPECT_EQ(passed_argument_count(probe), adj / 4) << adj;
  }
  std::uint8_t other[6];
  script::encode_ri(other, script::OP_ADD_IMM, 6, 8);  // add r6: not the adjustment
  ASSERT_TRUE(write_bytes(site, other, 6));
  EXPECT_EQ(passed_argument_count(probe), 0);
  ASSERT_TRUE(store32(probe.r[7], 0));
  EXPECT_EQ(passed_argument_count(probe), 0);
  probe.r[7] = 0;
  EXPECT_EQ(passed_argument_count(probe), 0);
}

TEST_F(Trap, OnlyEndsSliceBuiltinsEndTheSlice) {
  const std::uint16_t strlen_n = static_cast<std::uint16_t>(builtin_number("strlen"));
  const std::uint16_t getcount_n = static_cast<std::uint16_t>(builtin_number("getcount"));
  // Twenty calls of strlen (ends_slice 0) fit in one slice.
  VmAsm a(ctx_->program);
  auto stub = a.label(), start = a.label(), loop = a.label();
  a.jmp(start);
  a.bind(stub);
  a.trap(strlen_n);
  a.ret();
  a.bind(start);
  a.movi(1, 20);
  a.bind(loop);
  a.push_imm(0);
  a.call(stub);
  a.drop_args(1);
  a.subi(1, 1);
  a.jne(loop);
  a.ret();
  ASSERT_TRUE(a.load());
  script::vm_run(ctx_);
  EXPECT_EQ(ctx_->state, script::kVmFinished);
  EXPECT_EQ(ctx_->r[1], 0u);

  // getcount (ends_slice 1, failing with 0 for counter 300) ends it at once.
  reset();
  VmAsm b = caller(getcount_n, 1, 4);
  ASSERT_TRUE(b.load());
  const Addr stub_ret = ctx_->program + 5 + 3;  // after `jmp start; trap n`
  script::vm_run(ctx_);
  EXPECT_EQ(ctx_->state, 0);
  EXPECT_EQ(ctx_->pc, stub_ret);
  EXPECT_EQ(ctx_->r[5], 0u);
  script::vm_run(ctx_);
  EXPECT_EQ(ctx_->state, script::kVmFinished);
  EXPECT_EQ(ctx_->r[5], 1u);
}

// A `jump`-like handler replaces the calling context: the result lands in
// the new one, and the interpreter must not touch the freed caller.
VmContext* g_new_context = nullptr;
Addr g_seen_args = 0;
std::uint32_t g_seen_first = 0;

std::uint32_t fake_jump(Addr args) {
  g_seen_args = args;
  g_seen_first = arg_word(args, 0);
  VmContext* old = current_context;
  current_context = g_new_context;
  script::vm_free(old);
  return 1;
}

const BuiltinEntry kJumpTable[] = {{1, "jump", fake_jump, 1}};

TEST_F(Trap, ResultOfJumpLandsInTheNewContext) {
  VmContext* fresh = script::vm_create(64, 64);
  ASSERT_NE(fresh, nullptr);
  fresh->r[0] = 0;
  g_new_context = fresh;
  script::vm_set_trap_handler(
      [](std::uint16_t n, VmContext* c) { return trap_dispatch_with(kJumpTable, n, c); });
  VmAsm a = caller(0, 1, 4);
  ASSERT_TRUE(a.load());
  VmContext* old = ctx_;
  ctx_ = nullptr;  // freed by the handler
  script::vm_run(old);
  EXPECT_EQ(fresh->r[0], 1u);
  EXPECT_EQ(g_seen_first, 0x10000u);
  EXPECT_EQ(current_context, fresh);
  ctx_ = fresh;

  // Directly: the handler's argument block is just above the return address.
  VmContext* again = script::vm_create(64, 64);
  ASSERT_NE(again, nullptr);
  again->r[7] -= 8;
  again->r[0] = 77;
  const Addr args = again->r[7] + 4;
  g_new_context = script::vm_create(64, 64);
  ASSERT_NE(g_new_context, nullptr);
  EXPECT_EQ(trap_dispatch_with(kJumpTable, 0, again), 1);
  EXPECT_EQ(g_seen_args, args);
  EXPECT_EQ(g_new_context->r[0], 1u);
  script::vm_free(g_new_context);
  // Past the end of a given table is an illegal code too.
  VmContext* last = script::vm_create(64, 64);
  ASSERT_NE(last, nullptr);
  messages_.clear();
  EXPECT_EQ(trap_dispatch_with(kJumpTable, 1, last), 1);
  EXPECT_EQ(last->state, script::kVmError);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Illegal code - #1");
  script::vm_free(last);
}

std::uint32_t locked_probe(Addr args) {
  // Another thread cannot take the lock while a handler runs.
  const bool free = std::async(std::launch::async, [] {
                      if (!builtin_lock.try_lock()) return false;
                      builtin_lock.unlock();
                      return true;
                    }).get();
  return (free ? 0x100u : 0u) | (current_context ? 1u : 0u) | (arg_word(args, 1) << 16);
}

const BuiltinEntry kProbeTable[] = {{0, "probe", locked_probe, 2}};

TEST_F(Trap, HandlersRunUnderTheLockWithTheirContext) {
  ctx_->r[7] = ctx_->stack + 512;
  ASSERT_TRUE(store32(ctx_->r[7] + 4, 5));
  ASSERT_TRUE(store32(ctx_->r[7] + 8, 0x2A));
  current_context = nullptr;
  EXPECT_EQ(trap_dispatch_with(kProbeTable, 0, ctx_), 0);
  EXPECT_EQ(ctx_->r[0], (0x2Au << 16) | 1u);
  EXPECT_EQ(current_context, ctx_);
  // And the lock is free again afterwards.
  ASSERT_TRUE(builtin_lock.try_lock());
  builtin_lock.unlock();
}

}  // namespace
}  // namespace talven::runtime
