// Thread slots driven directly (the script-level behaviour is tested by the
// scripts under tests/scripts/runtime).
#include "runtime/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/bind.h"
#include "runtime/trap.h"
#include "script/vm_asm.h"
#include "support/thread_priority.h"

namespace talven::runtime {
namespace {

class Threads : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_thread_table();
    caller_ = script::vm_create(256, 4096);
    ASSERT_NE(caller_, nullptr);
    script::VmAsm a(caller_->program);
    a.ret();  // a function that returns at once
    a.load();
    function_ = caller_->program;
    caller_->thread_slot = 0;
  }
  void TearDown() override {
    stop_all_script_threads();
    script::vm_free(caller_);
  }
  // thd_begin as a script would call it, with the given words.
  std::uint32_t begin(std::uint32_t suspended, std::uint32_t stack) {
    Addr args = script_alloc(16);
    store32(args, function_);
    store32(args + 4, 0);
    store32(args + 8, suspended);
    store32(args + 12, stack);
    std::lock_guard lock(builtin_lock);
    current_context = caller_;
    std::uint32_t n = bind<&bi_thd_begin>.handler(args);
    current_context = nullptr;
    script_free(args);
    return n;
  }
  script::VmContext* caller_ = nullptr;
  Addr function_ = 0;
};

TEST_F(Threads, StackSizesOfNewThreads) {
  // Begun suspended, so the contexts stay in place to be looked at.
  int small = static_cast<int>(begin(1, 100));
  ASSERT_GE(small, 0);
  EXPECT_EQ(thread_table[small].contexts[0]->stack_size, 1024u);  // raised to 1024
  int same = static_cast<int>(begin(1, 0));
  ASSERT_GE(same, 0);
  EXPECT_EQ(thread_table[same].contexts[0]->stack_size, 4096u);  // the caller's size
  int big = static_cast<int>(begin(1, 5000));
  ASSERT_GE(big, 0);
  EXPECT_EQ(thread_table[big].contexts[0]->stack_size, 5000u);
  EXPECT_EQ(thread_table[big].suspend_count.load(), 1);
  // A thread's first context starts at the function with -1 and the argument pushed.
  std::uint32_t ret = 0;
  ASSERT_TRUE(load32(thread_table[big].contexts[0]->r[7], ret));
  EXPECT_EQ(ret, 0xFFFFFFFFu);
}

TEST_F(Threads, ANewThreadInAUsedSlotHasNoPendingSleep) {
  int n = static_cast<int>(begin(1, 0));
  ASSERT_GE(n, 0);
  thread_table[n].wake_time.store(12345);
  stop_all_script_threads();
  int again = static_cast<int>(begin(1, 0));
  ASSERT_EQ(again, n);  // the lowest free slot: the same one
  EXPECT_EQ(thread_table[again].wake_time.load(), 0u);
}

std::atomic<int> seen_priority{-100};

int record_priority(std::uint16_t, script::VmContext*) {
  seen_priority = test::current_thread_priority();
  return 1;
}

TEST_F(Threads, ScriptThreadsRunBelowTheMainThreadsPriority) {
  script::VmAsm a(caller_->program);
  a.trap(500);  // reports its thread's priority, then returns
  a.ret();
  a.load();
  script::TrapHandler old = script::vm_trap_handler();
  script::vm_set_trap_handler(record_priority);
  int n = static_cast<int>(begin(0, 0));
  ASSERT_GE(n, 0);
  for (int i = 0; i < 500 && seen_priority == -100; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  script::vm_set_trap_handler(old);
  const int main_priority = test::current_thread_priority();
  ASSERT_NE(seen_priority.load(), -100) << "the script thread never ran";
  EXPECT_LT(seen_priority.load(), main_priority);
}

}  // namespace
}  // namespace talven::runtime
