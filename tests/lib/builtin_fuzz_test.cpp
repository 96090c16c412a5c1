// Every builtin called with hostile argument words: null, low, past-the-end
// and wrapping addresses, addresses into scratch memory holding random
// bytes, huge and negative counts. Nothing may crash, hang or touch memory
// outside the script address space (run under the sanitizer build to see
// the latter). Results are not checked; surviving is the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string_view>
#include <vector>

#include "base/address_space.h"
#include "graphics/plane/plane.h"
#include "graphics/sprite/sprite.h"
#include "base/config.h"
#include "base/messages.h"
#include "runtime/builtins.h"
#include "runtime/main_thread.h"
#include "runtime/trap.h"
#include "script/vm.h"
#include "storage/file_builtins.h"
#include "lib/system/system_builtins.h"

namespace talven {
namespace {

namespace fs = std::filesystem;

TEST(BuiltinFuzz, HostileArgumentsNeverCrash) {
  // Files the builtins create land in a folder of our own.
  const fs::path old_dir = fs::current_path();
  const fs::path dir = fs::temp_directory_path() / ("talven_fuzz_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::current_path(dir);
  MessageSink old_sink = set_message_sink([](unsigned, const std::string&) { return kMessageOk; });
  const Config saved = config();
  config().Error = 0;
  config().FileSystem = 3;
  runtime::bind_main_thread();  // a call for the main thread is served inline

  // A context for the builtins that look at their caller.
  script::VmContext* ctx = script::vm_create(4096, 4096);
  ASSERT_NE(ctx, nullptr);

  std::mt19937 rng(20261207);
  const Addr scratch = script_alloc(8192);
  const Addr text = script_alloc(64);
  ASSERT_TRUE(write_cstr(text, "Fuzz\\x.png", 64));
  const std::uint32_t pool[] = {0,           1,           4,           0xFFFF, 0x10000, 0xFFFFFFFFu,
                                0xFFFFFF00u, 0x80000000u, 0x7FFFFFFFu, 2,      3,       16,
                                255,         256,         1023,        1024,   100,     7};
  auto word = [&]() -> std::uint32_t {
    switch (rng() % 6) {
      case 0: return pool[rng() % (sizeof pool / sizeof pool[0])];
      case 1: return scratch + rng() % 8192;
      case 2: return text;
      case 3: return static_cast<std::uint32_t>(static_cast<int>(rng() % 2100) - 50);
      case 4: return static_cast<std::uint32_t>(script_space().limit()) - rng() % 64;
      default: return rng() >> (rng() % 32);  // every magnitude, small ones more often
    }
  };

  const Addr args = script_alloc(4 * 16);
  for (std::size_t n = 10; n < runtime::kBuiltinCount; ++n) {  // 0-9 drive threads
    const runtime::BuiltinEntry& e = runtime::builtin_table[n];
    // kf_calc is quadratic in its key count by design: an address taken
    // for a count asks for hours of honest work, not for a fault.
    if (std::string_view(e.name) == "kf_calc") continue;
    // shell and exec start the host's programs: random command lines and
    // documents must not run on the machine running the tests (on Windows
    // an opened folder's window outlives the test and holds its output).
    if (std::string_view(e.name) == "shell" || std::string_view(e.name) == "exec") continue;
    const auto started = std::chrono::steady_clock::now();
    for (int round = 0; round < 40; ++round) {
      // Counts taken from addresses make checksums and fills run over
      // hundreds of megabytes: honest linear work, so time-box each builtin.
      if (round >= 2 && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(100))
        break;
      // Scratch memory gets new random bytes now and then, so strings and
      // records read from it are garbage of every kind.
      if (round % 10 == 0) {
        std::uint8_t* p = span(scratch, 8192);
        for (int i = 0; i < 8192; ++i) p[i] = static_cast<std::uint8_t>(rng());
        p[8191] = 0;
      }
      for (int i = 0; i < 16; ++i) store32(args + 4 * i, word());
      std::lock_guard lock(runtime::builtin_lock);
      runtime::current_context = ctx;
      ctx->state = script::kVmRunning;
      e.handler(args);
      runtime::current_context = nullptr;
    }
    graphics::reset_planes();  // planes made by galloc/gload would pile up
    if (std::getenv("TALVEN_FUZZ_TRACE")) {
      std::fprintf(
          stderr, "%8.3f s  %zu %s\n",
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), n,
          e.name);
    }
  }

  graphics::sp_init(0xFFFFFFFFu);
  graphics::reset_planes();
  storage::close_file_handles();
  lib::regex_release();  // expressions and regions the calls made, as the runtime's stop frees them
  lib::native_release();
  script::vm_free(ctx);
  script_free(args);
  script_free(scratch);
  script_free(text);
  config() = saved;
  set_message_sink(old_sink);
  fs::current_path(old_dir);
  fs::remove_all(dir);
  script::vm_stop_flag.clear();
}

}  // namespace
}  // namespace talven
