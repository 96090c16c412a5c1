// The report of a fatal fault: one line on standard error naming the fault
// and where it happened (machine code made from a script, or a module),
// and a failure status; where the system reports faults itself, its own
// ending is left as it is.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/fault_report.h"
#include "script/native_code.h"
#include "script/native_memory.h"

#if defined(__x86_64__)
#include "script/native_x64_asm.h"
#endif

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>

#include <csignal>
#endif

namespace talven::runtime {
namespace {

// A write through a pointer the compiler cannot see is null.
void fault_in_host_code() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

#if defined(__x86_64__)
// Machine code that reads address 0, entered through the gate.
void fault_in_machine_code() {
  using namespace script::x64;
  script::x64::Asm a;
  a.mov_imm(RAX, 0);
  a.load32(RAX, Mem{RAX});
  a.jmp(Mem{RBP, -1, static_cast<std::int32_t>(offsetof(script::NativeState, exit_code))});
  auto* arena = new script::NativeArena;  // left mapped: the process ends in it
  void* at = arena->add(a.code.data(), a.code.size());
  if (!at) return;
  script::NativeState st{};
  script::native_run(&st, at);
}
#endif

#if defined(_WIN32)

TEST(FaultReportDeathTest, AFaultInHostCodeNamesItsModuleAndExitsWithItsCode) {
  EXPECT_EXIT(
      {
        install_fault_report();
        fault_in_host_code();
      },
      ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_ACCESS_VIOLATION)),
      "talven: fatal fault 0xc0000005 .access violation, writing 0x0. at .* in "
      "test_runtime.exe.0x");
}

#if defined(__x86_64__)
TEST(FaultReportDeathTest, AFaultInMachineCodeIsReportedAsOneThroughItsFrame) {
  if (!script::native_available()) GTEST_SKIP() << "no machine code here";
  EXPECT_EXIT(
      {
        install_fault_report();
        fault_in_machine_code();
      },
      ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_ACCESS_VIOLATION)),
      "talven: fatal fault 0xc0000005 .access violation, reading 0x0. at .* in machine code made "
      "from a script");
}
#endif

#else

// Killed by the signal (or, in a sanitizer build, stopped by the
// sanitizer's own report): never a normal exit.
bool ended_by_the_fault(int status) {
#if defined(__SANITIZE_ADDRESS__)
  return WIFEXITED(status) && WEXITSTATUS(status) != 0;
#else
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
#endif
}

TEST(FaultReportDeathTest, TheSystemsOwnEndingIsLeftAsItIs) {
  EXPECT_EXIT(
      {
        install_fault_report();
        fault_in_host_code();
      },
      ended_by_the_fault, "");
#if defined(__x86_64__)
  if (script::native_available()) {
    EXPECT_EXIT(
        {
          install_fault_report();
          fault_in_machine_code();
        },
        ended_by_the_fault, "");
  }
#endif
}

#endif

}  // namespace
}  // namespace talven::runtime
