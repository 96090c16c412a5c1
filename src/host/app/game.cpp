#include "host/app/game.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "base/address_space.h"
#include "graphics/kernels/tables.h"
#include "host/config.h"
#include "host/debug_output.h"
#include "host/messages.h"
#include "lib/numbers.h"
#include "runtime/builtins.h"
#include "runtime/game_clock.h"
#include "runtime/main_thread.h"
#include "runtime/threads.h"
#include "runtime/trap.h"
#include "script/compiler.h"
#include "script/vm.h"
#include "storage/file_builtins.h"

namespace talven {

namespace fs = std::filesystem;

namespace {

// The main loop sleeps on this until a script thread needs it.
std::mutex loop_mutex;
std::condition_variable loop_cv;
bool loop_woken = false;

void wake_main_loop() {
  {
    std::lock_guard lock(loop_mutex);
    loop_woken = true;
  }
  loop_cv.notify_one();
}

std::atomic<bool> close_requested{false};
std::atomic<int> main_slot{-1};
std::atomic<bool> main_ended{false};
std::atomic<std::uint32_t> main_result{0};

Addr shared_heap = 0;

bool ends_with_cfg(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == ".cfg";
}

}  // namespace

std::string program_path_for(const std::string& game) {
  std::error_code ec;
  fs::path p = fs::absolute(game, ec);
  if (ec) return {};
  if (fs::is_directory(p, ec)) {
    p = p.lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    std::vector<std::string> cfgs;
    for (const auto& entry : fs::directory_iterator(p, ec)) {
      std::string name = entry.path().filename().string();
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      if (entry.is_regular_file(ec) && ends_with_cfg(name) && lower != "cfg_chs.cfg") cfgs.push_back(name);
    }
    std::string stem = cfgs.size() == 1 ? cfgs[0].substr(0, cfgs[0].size() - 4) : p.filename().string();
    return (p / (stem + ".exe")).string();
  }
  if (fs::is_directory(p.parent_path(), ec)) return p.string();
  return {};
}

bool runtime_start() {
  runtime_stop();  // a restart finds everything released
  // The noise table and then the kernels' random floats are drawn from the
  // generator at its fixed start, so both are the same in every run; only
  // then is it seeded from the clock (below).
  lib::init_number_tables();
  graphics::init_kernel_tables();
  graphics::fill_kernel_random(lib::random_unit);
  const Config& c = config();
  std::uint32_t heap_size = c.HeapSize > 0 ? static_cast<std::uint32_t>(c.HeapSize) : 0;
  shared_heap = heap_size ? script_zalloc(heap_size) : 0;
  if (heap_size && !shared_heap) {
    report_message(1, "共有ヒープ (%u バイト) を確保できません。", heap_size);
    return false;
  }
  script::set_shared_script_heap({shared_heap, shared_heap ? heap_size : 0});
  runtime::install_trap_dispatch(runtime::builtin_table);
  runtime::reset_thread_table();
  runtime::init_game_clock();
  lib::mt_seed(runtime::tick_count());
  runtime::bind_main_thread();
  runtime::set_main_thread_waker(wake_main_loop);
  runtime::open_main_thread_calls();
  if (c.DebugMode) debug_output_create();
  return true;
}

void runtime_stop() {
  runtime::close_main_thread_calls();
  storage::close_file_handles();
  script::clear_exports();
  if (shared_heap) {
    script::set_shared_script_heap({});
    script_free(shared_heap);
    shared_heap = 0;
  }
  debug_output_destroy();
}

int run_game(const RunOptions& options) {
  std::string program = program_path_for(options.game);
  if (program.empty()) {
    std::fprintf(stderr, "talven: no game at %s\n", options.game.c_str());
    return kExitUsage;
  }
  load_configuration(program);
  for (const auto& [key, value] : options.overrides) {
    if (!set_config_value(key, value)) {
      std::fprintf(stderr, "talven: unknown configuration key %s\n", key.c_str());
      return kExitUsage;
    }
  }
  const Config& c = config();
  if (!c.module_dir.empty() && ::chdir(c.module_dir.c_str()) != 0) {
    std::fprintf(stderr, "talven: cannot enter %s\n", c.module_dir.c_str());
    return kExitUsage;
  }

  debug_output_echo(options.log);
  close_requested = false;
  main_ended = false;
  main_slot = -1;
  runtime::ThreadHost host;
  host.app_active = [] { return true; };
  host.request_close = [] {
    close_requested = true;
    wake_main_loop();
  };
  host.serve_while_waiting = [] { runtime::serve_main_thread_calls(); };
  host.thread_ended = [](int slot, std::uint32_t result) {
    if (slot == main_slot.load() && !main_ended.exchange(true)) main_result = result;
    wake_main_loop();
  };
  // Save data bound with sysfile is written when the last script ends, while
  // its block (often in a program area) is still allocated.
  host.last_thread_ending = [] { storage::save_system_file_at_shutdown(); };
  runtime::set_thread_host(host);
  if (!runtime_start()) return kExitUsage;

  int status = 0;
  runtime::VmContext* main_context = runtime::load_script(c.Load, c.ProgramSize, c.StackSize);
  if (!main_context) {
    status = kExitCompileError;
  } else {
    int slot = runtime::start_script_thread(main_context, true);
    if (slot < 0) {
      script::vm_free(main_context);
      status = kExitRuntimeError;
    } else {
      main_slot = slot;
      runtime::release_script_thread(slot);
      const auto start = std::chrono::steady_clock::now();
      std::int64_t turns = 0;
      for (;;) {
        {
          std::unique_lock lock(loop_mutex);
          loop_cv.wait_for(lock, std::chrono::milliseconds(10), [] { return loop_woken; });
          loop_woken = false;
        }
        runtime::serve_main_thread_calls();
        ++turns;
        if (close_requested) {
          status = 0;
          break;
        }
        if (runtime::running_script_threads() == 0) {
          status = script::vm_stop_flag.is_set() ? kExitRuntimeError
                                                 : static_cast<int>(main_result.load() & 0xFF);
          break;
        }
        if (options.frames >= 0 && turns >= options.frames) {
          status = kExitTimeout;
          break;
        }
        if (options.timeout_seconds >= 0 &&
            std::chrono::steady_clock::now() - start >=
                std::chrono::duration<double>(options.timeout_seconds)) {
          std::fprintf(stderr, "talven: stopped after %.1f seconds\n", options.timeout_seconds);
          status = kExitTimeout;
          break;
        }
      }
    }
  }

  runtime::stop_all_script_threads();
  runtime_stop();
  write_back_config(c.config_path, false);
  return status;
}

}  // namespace talven
