// Where script threads and builtin calls are, as messages and reports show
// it: the place of a thread that runs without a break, of a thread inside a
// builtin, and the builtin name and call place that a builtin's message
// carries (also when the builtin runs its work on the main thread).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/config.h"
#include "base/messages.h"
#include "runtime/bind.h"
#include "runtime/main_thread.h"
#include "runtime/stall_watchdog.h"
#include "runtime/threads.h"
#include "runtime/trap.h"
#include "script/line_table.h"
#include "script/vm_asm.h"

namespace talven::runtime {
namespace {

using script::VmAsm;

// A program with a line table: `main` (line 10) calls `spin` (line 20 for
// its opening, line 21 for its endless loop); `waits` (line 30) calls the
// builtin stub `nap` (trap 0; ret) and then loops on line 31.
struct Program {
  script::VmContext* context = nullptr;
  Addr main = 0, spin = 0, spin_loop = 0, waits = 0, waits_loop = 0, stub = 0;

  void build(bool call_builtin) {
    context = script::vm_create(512, 4096);
    ASSERT_NE(context, nullptr);
    const Addr p = context->program;
    VmAsm a(p);
    VmAsm::Label spin_l = a.label(), loop_l = a.label(), waits_l = a.label(),
                 wait_loop_l = a.label(), stub_l = a.label();
    main = a.here();
    a.call(call_builtin ? waits_l : spin_l);
    a.ret();
    a.bind(spin_l);
    spin = a.here();
    a.enter(0);
    a.bind(loop_l);
    spin_loop = a.here();
    a.addi(1, 1);
    a.jmp(loop_l);
    a.bind(waits_l);
    waits = a.here();
    a.enter(0);
    a.call(stub_l);
    a.bind(wait_loop_l);
    waits_loop = a.here();
    a.jmp(wait_loop_l);
    a.bind(stub_l);
    stub = a.here();
    a.trap(0);
    a.ret();
    ASSERT_TRUE(a.load());
    script::LineTable t;
    t.program = p;
    t.code_size = static_cast<std::uint32_t>(a.bytes().size());
    t.files = {"places.c"};
    t.lines = {{main - p, 0, 10},
               {spin - p, 0, 20},
               {spin_loop - p, 0, 21},
               {waits - p, 0, 30},
               {waits_loop - p, 0, 31}};
    t.functions = {{main - p, "main", false},
                   {spin - p, "spin", false},
                   {waits - p, "waits", false},
                   {stub - p, "nap", true}};
    script::register_line_table(std::move(t));
    context->pc = main;
    // The return address of main: the end of the thread.
    context->r[script::kRegStack] -= 4;
    store32(context->r[script::kRegStack], script::kReturnFinish);
  }
};

// The builtin `nap`: reports a message, then sleeps on the script side
// until released.
std::atomic<bool> nap_release{false};
std::atomic<bool> nap_entered{false};

std::int32_t nap() {
  nap_entered = true;
  report_message(1, "LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : %s", "x.png");
  // Let the builtin lock go while waiting, as blocking builtins do.
  builtin_lock.unlock();
  while (!nap_release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  builtin_lock.lock();
  return 0;
}

const BuiltinEntry kNapTable[] = {{1, "nap", bind<&nap>}};

int nap_dispatch(std::uint16_t code, script::VmContext* context) {
  return trap_dispatch_with(kNapTable, code, context);
}

class ScriptPlaces : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_thread_table();
    saved_ = config();
    config().Error = 2;
    nap_release = false;
    nap_entered = false;
    old_sink_ = set_message_sink([](unsigned, const std::string&) { return kMessageOk; });
    script::vm_set_trap_handler(&nap_dispatch);
  }
  void TearDown() override {
    // The context is freed by its thread when it stops: its program area is
    // read first.
    const Addr program = program_.context ? program_.context->program : 0;
    nap_release = true;
    stop_all_script_threads();
    if (program) script::forget_line_table(program);
    script::vm_set_trap_handler(nullptr);
    set_message_sink(old_sink_);
    config() = saved_;
  }
  std::string describe_only_thread() {
    std::vector<std::string> lines = describe_script_threads(500);
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? std::string() : lines[0];
  }
  Program program_;
  Config saved_;
  MessageSink old_sink_;
};

TEST_F(ScriptPlaces, ARunningThreadIsSeenWhereItRunsWithItsCaller) {
  program_.build(false);
  ASSERT_GE(start_script_thread(program_.context, false), 0);
  // Once the thread is in its loop it runs one slice after another without
  // returning to the thread loop; it must still be seen there.
  std::string line;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    line = describe_only_thread();
  } while (line.find("in spin") == std::string::npos && std::chrono::steady_clock::now() < until);
  EXPECT_NE(line.find("thread 0: running, depth 1"), std::string::npos) << line;
  EXPECT_NE(line.find("at places.c(21) in spin, from places.c(10) in main"), std::string::npos)
      << line;
  EXPECT_EQ(line.find("(0)"), std::string::npos) << line;
}

TEST_F(ScriptPlaces, AThreadInsideABuiltinIsSeenAtTheCall) {
  program_.build(true);
  testing::internal::CaptureStderr();
  ASSERT_GE(start_script_thread(program_.context, false), 0);
  while (!nap_entered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string line = describe_only_thread();
  nap_release = true;
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(line.find("; in nap, called at places.c(30) in waits, from places.c(10) in main"),
            std::string::npos)
      << line;
  // The builtin's message names the builtin and where it was called.
  EXPECT_NE(err.find("File : x.png [nap: the image file could not be read]\n"
                     "  at places.c(30) in waits\n"
                     "  at places.c(10) in main\n"),
            std::string::npos)
      << err;
}

TEST(BuiltinCallSites, MainThreadWorkReportsAsItsCaller) {
  bind_main_thread();
  open_main_thread_calls();
  BuiltinCallSite site;
  site.builtin = "snd_play";
  std::atomic<const BuiltinCallSite*> seen{nullptr};
  std::atomic<bool> done{false};
  static std::atomic<const BuiltinCallSite*>* out = nullptr;
  out = &seen;
  std::thread caller([&] {
    BuiltinCallScope scope(&site);
    const std::uint32_t words[1] = {0};
    run_on_main_thread(
        [](const std::uint32_t*) -> std::uint32_t {
          *out = current_builtin_call();
          return 1;
        },
        words);
    done = true;
  });
  while (!done) {
    serve_main_thread_calls();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  caller.join();
  close_main_thread_calls();
  EXPECT_EQ(seen.load(), &site);
  EXPECT_EQ(current_builtin_call(), nullptr) << "the main thread's own mark is back";
}

}  // namespace
}  // namespace talven::runtime
