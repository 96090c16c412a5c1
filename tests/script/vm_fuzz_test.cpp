// Random bytes as code: whatever a damaged or hostile program image holds,
// the interpreter stops with one of its errors or keeps running inside
// script memory; it never faults (run under the sanitizer build to check
// that no access strays outside the script address space).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "base/config.h"
#include "base/messages.h"
#include "script/opcodes.h"
#include "script/vm.h"

namespace talven::script {
namespace {

int count_traps(std::uint16_t, VmContext*) { return 0; }

TEST(VmFuzz, RandomProgramsNeverEscapeScriptMemory) {
  MessageSink old = set_message_sink([](unsigned, const std::string&) { return kMessageOk; });
  const Config saved = config();
  config().Error = 0;
  vm_set_trap_handler(count_traps);
  std::mt19937 rng(7);
  int stopped = 0;
  for (int program = 0; program < 3000; ++program) {
    VmContext* c = vm_create(512, 1024);
    ASSERT_NE(c, nullptr);
    std::uint8_t* code = span(c->program, 512);
    ASSERT_NE(code, nullptr);
    // Opcodes mostly from the valid range, operands and register bytes at
    // random; immediates now and then aimed at the program or the stack.
    for (int i = 0; i < 512; ++i) code[i] = static_cast<std::uint8_t>(rng());
    for (int i = 0; i < 512; i += 1 + static_cast<int>(rng() % 6))
      code[i] = static_cast<std::uint8_t>(rng() % 92);
    for (int i = 0; i + 4 <= 512; i += 7) {
      if (rng() % 3 == 0) {
        Addr target = rng() % 2 ? c->program + rng() % 512 : c->stack + rng() % 1024;
        std::memcpy(code + i, &target, 4);
      }
    }
    for (int r = 0; r < 6; ++r) c->r[r] = rng() % 2 ? rng() : c->stack + rng() % 1024;
    vm_stop_flag.clear();
    for (int slice = 0; slice < 40 && c->state == kVmRunning && !vm_stop_flag.is_set(); ++slice)
      vm_run(c);
    if (c->state == kVmError) ++stopped;
    vm_free(c);
  }
  vm_stop_flag.clear();
  vm_set_trap_handler(nullptr);
  config() = saved;
  set_message_sink(old);
  // Random code runs into an error almost every time; a run that never
  // errs would mean the checks are not being reached.
  EXPECT_GT(stopped, 2500);
}

}  // namespace
}  // namespace talven::script
