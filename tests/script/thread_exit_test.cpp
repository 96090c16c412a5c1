// The end of a thread: the calls left for it run then, last first, and a
// thread that ran machine code frees its translations and their code once.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "base/address_space.h"
#include "script/native_code.h"
#include "script/opcodes.h"
#include "script/thread_exit.h"
#include "script/vm.h"
#include "script/vm_asm.h"
#include "script/vm_translate.h"

namespace talven::script {
namespace {

TEST(ThreadExit, CallsRunWhenTheThreadEndsLastFirst) {
  std::vector<int> order;
  auto record = [](void* p) {
    auto* slot = static_cast<std::pair<std::vector<int>*, int>*>(p);
    slot->first->push_back(slot->second);
  };
  std::pair<std::vector<int>*, int> one{&order, 1}, two{&order, 2};
  bool ran_early = false;
  std::thread t([&] {
    at_thread_exit(record, &one);
    at_thread_exit(record, &two);
    ran_early = !order.empty();
  });
  t.join();
  EXPECT_FALSE(ran_early);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

// r0 = 3 * (0 + 1 + ... + n - 1), in a loop the thread compiles.
std::uint32_t run_loop_on_this_thread(std::uint32_t n) {
  VmContext* c = vm_create(256, 4096);
  if (!c) return 0;
  VmAsm a(c->program);
  auto loop = a.label(), done = a.label();
  a.movi(0, 0);
  a.movi(1, 0);
  a.bind(loop);
  a.cmpi(1, n);
  a.jge(done);
  a.add(0, 1);
  a.add(0, 1);
  a.add(0, 1);
  a.addi(1, 1);
  a.jmp(loop);
  a.bind(done);
  a.ret();
  std::uint32_t result = 0;
  if (a.load()) {
    c->state = kVmRunning;
    c->pc = c->program;
    c->r[kRegStack] = c->stack + 4096 - 8;
    if (store32(c->r[kRegStack], kReturnFinish)) {
      vm_stop_flag.clear();
      for (int i = 0; i < 100000 && c->state == kVmRunning; ++i) vm_run(c);
      result = c->r[0];
    }
  }
  vm_free(c);  // the translation stays with the thread until it ends
  return result;
}

TEST(ThreadExit, ThreadsThatRanMachineCodeEndCleanly) {
  const std::size_t made = native_blocks_made();
  for (int round = 0; round < 20; ++round) {
    std::uint32_t result = 0;
    std::thread t([&] { result = run_loop_on_this_thread(2000); });
    t.join();
    ASSERT_EQ(result, 3u * 1999u * 2000u / 2u) << "round " << round;
  }
  if (native_available()) {
    EXPECT_GE(native_blocks_made() - made, 20u);
  }
}

}  // namespace
}  // namespace talven::script
