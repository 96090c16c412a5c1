// The stall watchdog's decisions on made-up samples, and its reading of a
// real thread table.
#include "runtime/stall_watchdog.h"

#include <gtest/gtest.h>

#include "runtime/threads.h"
#include "runtime/trap.h"
#include "script/vm_asm.h"

namespace talven::runtime {
namespace {

SlotSample at(SlotKind kind, Addr pc, std::int32_t overdue = 0) {
  SlotSample s;
  s.kind = kind;
  s.top = 0;
  s.pc = pc;
  s.overdue_ms = overdue;
  return s;
}

TEST(StallTracker, ReportsAThreadStandingStillOnceAndAgainAfterItMoved) {
  StallTracker t(5);
  std::vector<SlotSample> slots{at(SlotKind::kRunning, 0x100), at(SlotKind::kRunning, 0x200)};
  EXPECT_TRUE(t.observe(slots, 0).empty());
  slots[1].pc = 0x204;  // slot 1 moves on every sample
  EXPECT_TRUE(t.observe(slots, 4.9).empty());
  slots[1].pc = 0x208;
  EXPECT_EQ(t.observe(slots, 5.0), std::vector<int>{0});
  EXPECT_DOUBLE_EQ(t.still_for(0, 5.0), 5.0);
  slots[1].pc = 0x20C;
  EXPECT_TRUE(t.observe(slots, 9.0).empty()) << "reported once per stall";
  slots[0].pc = 0x104;
  slots[1].pc = 0x210;
  EXPECT_TRUE(t.observe(slots, 10.0).empty());
  slots[1].pc = 0x214;
  EXPECT_TRUE(t.observe(slots, 14.0).empty());
  slots[1].pc = 0x218;
  EXPECT_EQ(t.observe(slots, 15.0), std::vector<int>{0}) << "a new stall after moving";
}

TEST(StallTracker, SleepersCountOnlyWhenOverdueAndIdleSlotsNever) {
  StallTracker t(2);
  std::vector<SlotSample> slots{at(SlotKind::kSleeping, 0x10, -60000), at(SlotKind::kFree, 0),
                                at(SlotKind::kGated, 0x30), at(SlotKind::kSuspended, 0x40),
                                at(SlotKind::kSleeping, 0x50, 500)};
  EXPECT_TRUE(t.observe(slots, 0).empty());
  EXPECT_EQ(t.observe(slots, 100), std::vector<int>{3}) << "a long sleep not yet due is no stall";
  slots[4].overdue_ms = 2500;  // should have woken 2.5 s ago
  EXPECT_EQ(t.observe(slots, 101), std::vector<int>{4});
  EXPECT_DOUBLE_EQ(t.still_for(4, 101), 2.5);
  EXPECT_EQ(t.still_for(99, 101), 0.0);
}

TEST(StallWatchdog, ReadsStateAndPcOfARealSlot) {
  reset_thread_table();
  script::VmContext* c = script::vm_create(256, 4096);
  ASSERT_NE(c, nullptr);
  script::VmAsm a(c->program);
  a.ret();
  a.load();
  const int n = start_script_thread(c, true);
  ASSERT_GE(n, 0);
  EXPECT_EQ(sample_thread_table(false)[static_cast<std::size_t>(n)].kind, SlotKind::kGated);
  suspend_script_thread(n);
  release_script_thread(n);
  std::vector<SlotSample> s;
  {
    std::lock_guard lock(builtin_lock);
    s = sample_thread_table(true);
  }
  const SlotSample& mine = s[static_cast<std::size_t>(n)];
  EXPECT_EQ(mine.kind, SlotKind::kSuspended);
  EXPECT_EQ(mine.top, 0);
  EXPECT_EQ(mine.pc, c->program);
  EXPECT_EQ(s[static_cast<std::size_t>(n + 1)].kind, SlotKind::kFree);
  const std::string text = describe_stall(n, mine, 31.5);
  EXPECT_NE(text.find("stuck 31.5 s: suspended, depth 1, pc 0x"), std::string::npos) << text;
  stop_all_script_threads();
}

}  // namespace
}  // namespace talven::runtime
