#include "app/game.h"
#include "app/new_game.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <mutex>
#include <optional>

#include "base/address_space.h"
#include "graphics/kernels/tables.h"
#include "graphics/plane/plane.h"
#include "graphics/sprite/sprite.h"
#include "graphics/present/pages.h"
#include "graphics/text/text.h"
#include "app/devices.h"
#include "app/instance.h"
#include "app/sdl_present.h"
#include "base/config.h"
#include "base/debug_output.h"
#include "base/host_file.h"
#include "input/input_builtins.h"
#include "input/input_state.h"
#include "host/window_font.h"
#include "base/messages.h"
#include "host/window.h"
#include "lib/format.h"
#include "lib/system/host_files.h"
#include "lib/numbers.h"
#include "runtime/builtins.h"
#include "runtime/game_clock.h"
#include "runtime/main_thread.h"
#include "runtime/main_thread_messages.h"
#include "runtime/stall_watchdog.h"
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

// Windowed runs wake the SDL loop instead.
bool windowed = false;

void wake_loop() {
  if (windowed) host::wake_window_loop();
  else wake_main_loop();
}

std::atomic<bool> close_requested{false};
std::atomic<int> main_slot{-1};
std::atomic<bool> main_ended{false};
std::atomic<std::uint32_t> main_result{0};

Addr shared_heap = 0;
SdlPresent sdl_present;
std::string screenshot_path;

// Seven words: the stop flag's and app_active's addresses, the instance and
// window handles, Width, Height, Depth.
std::int32_t serve_query(std::uint32_t wparam, std::uint32_t) {
  if (!wparam) return 0;
  const Config& c = config();
  const std::uint32_t words[7] = {script::vm_stop_flag.address(),
                                  input::app_active_address(),
                                  0,
                                  host::main_window_handle(),
                                  static_cast<std::uint32_t>(c.Width),
                                  static_cast<std::uint32_t>(c.Height),
                                  static_cast<std::uint32_t>(c.Depth)};
  write_bytes(wparam, words, sizeof words);
  return 0;
}

// The query message (runtime/main_thread_messages.h) is served here rather
// than by a device family.
void install_main_thread_handlers(bool on) {
  runtime::set_main_thread_handler(runtime::kMsgQuery, on ? serve_query : nullptr);
}

bool ends_with_cfg(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return tail == ".cfg";
}

}  // namespace

std::string program_path_for(const std::string& game) {
  std::error_code ec;
  fs::path p = fs::absolute(host_file::fs_path(game), ec);
  if (ec) return {};
  if (fs::is_directory(p, ec)) {
    p = p.lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    std::vector<std::string> cfgs;
    for (const auto& entry : fs::directory_iterator(p, ec)) {
      std::string name = host_file::from_fs_path(entry.path().filename());
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      if (entry.is_regular_file(ec) && ends_with_cfg(name) && lower != "cfg_chs.cfg")
        cfgs.push_back(name);
    }
    std::string stem = cfgs.size() == 1 ? cfgs[0].substr(0, cfgs[0].size() - 4)
                                        : host_file::from_fs_path(p.filename());
    return host_file::from_fs_path(p / host_file::fs_path(stem + ".exe"));
  }
  if (fs::is_directory(p.parent_path(), ec)) return host_file::from_fs_path(p);
  return {};
}

std::string bundled_game_program() {
  const std::optional<std::string> running = host_file::running_program();
  if (!running) return {};
  const fs::path program = host_file::fs_path(*running);
  auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
  };
  // The game's name is the program's name, or that name without its last
  // extension (NAME.exe; NAME.x86_64 where a folder NAME holds the scripts).
  const std::string full = host_file::from_fs_path(program.filename());
  std::vector<std::string> names{full};
  if (const std::size_t dot = full.rfind('.'); dot != std::string::npos && dot > 0)
    names.push_back(full.substr(0, dot));
  std::error_code ec;
  for (const std::string& name : names) {
    if (lower(name) == "talven") return {};
    const std::string wanted = lower(name + ".cfg");
    for (const auto& entry : fs::directory_iterator(program.parent_path(), ec)) {
      if (lower(host_file::from_fs_path(entry.path().filename())) == wanted &&
          entry.is_regular_file(ec))
        return host_file::from_fs_path(program.parent_path() / host_file::fs_path(name + ".exe"));
    }
  }
  return {};
}

void pause_application(bool active) {
  devices_application_paused(active);
  if (!active) {
    runtime::pause_game_clock(true);
    for (int n = 0; n < runtime::kMaxThreads; ++n) runtime::suspend_script_thread(n);
  } else {
    for (int n = 0; n < runtime::kMaxThreads; ++n) runtime::resume_script_thread(n);
    runtime::pause_game_clock(false);
  }
}

bool runtime_start() {
  runtime_stop();  // a restart finds everything released
  // Authors' runs check script memory: blocks get guard zones from here on.
  if (config().DebugMode != 0) script_space().enable_guards();
  // The noise table and then the kernels' random floats are drawn from the
  // generator at its fixed start, so both are the same in every run; only
  // then is it seeded from the clock (below).
  lib::init_number_tables();
  graphics::init_kernel_tables();
  graphics::fill_kernel_random(lib::random_unit);
  if (windowed) graphics::set_present_backend(&sdl_present);
  device_options().windowed = windowed;
  devices_start();
  const Config& c = config();
  std::uint32_t heap_size = c.HeapSize > 0 ? static_cast<std::uint32_t>(c.HeapSize) : 0;
  shared_heap = heap_size ? script_zalloc(heap_size) : 0;
  if (heap_size && !shared_heap) {
    report_message(1, "共有ヒープ (%u バイト) を確保できません。", heap_size);
    return false;
  }
  script::set_shared_script_heap({shared_heap, shared_heap ? heap_size : 0});
  runtime::bind_main_thread();
  runtime::set_main_thread_waker(wake_loop);
  install_main_thread_handlers(true);
  runtime::open_main_thread_calls();
  graphics::pages_start();  // a failed screen plane is reported; the game goes on
  graphics::fonts_start(lib::format_script_args);  // every slot back to "Meiryo" at 16
  host::set_window_text_renderer({graphics::window_text_width, graphics::window_text_render,
                                  graphics::window_text_line_height});
  runtime::install_trap_dispatch(runtime::builtin_table);
  runtime::reset_thread_table();
  runtime::init_game_clock();
  lib::mt_seed(runtime::tick_count());
  if (c.DebugMode && !debug_output_exists()) debug_output_create();
  return true;
}

void runtime_stop() {
  graphics::sp_init(0xFFFFFFFFu);  // every sprite and hit area released
  devices_release();
  storage::close_file_handles();
  graphics::pages_stop();
  graphics::reset_planes();
  install_main_thread_handlers(false);
  runtime::close_main_thread_calls();
  script::clear_exports();
  if (shared_heap) {
    script::set_shared_script_heap({});
    script_free(shared_heap);
    shared_heap = 0;
  }
  devices_shutdown();
  graphics::set_present_backend(nullptr);
  sdl_present.release();
}

namespace {

// Stops the scripts and the runtime: the close of a window or the end of a
// headless run.
void shut_down() {
  runtime::stop_all_script_threads();
  if (!screenshot_path.empty() && !graphics::save_frame_png(screenshot_path))
    std::fprintf(stderr, "talven: cannot write the screenshot %s\n", screenshot_path.c_str());
  screenshot_path.clear();
  runtime_stop();
}

// The start message: the main script on a new thread. Started at its gate so
// that its slot is known before it can end.
int start_main_script(const Config& c) {
  if (c.Load.empty()) return -1;
  runtime::VmContext* context = runtime::load_script(c.Load, c.ProgramSize, c.StackSize);
  if (!context) {
    std::fputs(missing_main_script_hint(c).c_str(), stderr);
    return -1;
  }
  int slot = runtime::start_script_thread(context, true);
  if (slot < 0) {
    script::vm_free(context);
    return -2;
  }
  main_slot = slot;
  runtime::release_script_thread(slot);
  return slot;
}

// Where every script thread is, for runs that are ended from outside.
void print_script_threads() {
  for (const std::string& line : runtime::describe_script_threads(200))
    std::fprintf(stderr, "talven:   %s\n", line.c_str());
  std::fflush(stderr);
}

struct LoopLimits {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  const RunOptions* options = nullptr;

  // True (with a note) when --frames or --timeout has run out.
  bool reached() const {
    if (options->frames >= 0 &&
        graphics::presented_frame_count() >= static_cast<std::uint64_t>(options->frames))
      return true;
    if (options->timeout_seconds >= 0 &&
        std::chrono::steady_clock::now() - start >=
            std::chrono::duration<double>(options->timeout_seconds)) {
      std::fprintf(stderr, "talven: stopped after %.1f seconds\n", options->timeout_seconds);
      if (const std::string note = input::replay_wait_note(); !note.empty())
        std::fprintf(stderr, "talven: %s\n", note.c_str());
      print_script_threads();
      return true;
    }
    return false;
  }
};

int run_windowed(const RunOptions& options, InstanceGuard& instance) {
  const Config& c = config();
  host::WindowHooks hooks;
  hooks.pause_application = pause_application;
  hooks.activity_changed = devices_activity;
  hooks.shut_down = shut_down;
  hooks.repaint = [] { sdl_present.repaint(); };
  hooks.present_ready = [] { sdl_present.render(); };
  hooks.serve = [] { runtime::serve_main_thread_calls(); };
  if (!host::create_main_window(hooks)) {
    std::fprintf(stderr, "talven: cannot create the main window\n");
    return 0;
  }
  MessageSink old_sink = set_message_sink(
      [](unsigned, const std::string& text) { return host::show_error_box(text); });
  int status = 0;
  if (!runtime_start()) {
    host::destroy_main_window();
    set_message_sink(std::move(old_sink));
    return 0;
  }
  if (c.FullScreen) host::switch_screen_mode(true);
  start_main_script(c);  // a script that does not start leaves the window open

  LoopLimits limits;
  limits.options = &options;
  while (host::pump_window_events(10)) {
    if (instance.poll_raise_requests()) host::post_raise_request();
    if (limits.reached()) {
      status = kExitTimeout;
      host::close_main_window(false);
      break;
    }
  }
  set_message_sink(std::move(old_sink));
  return status;
}

int run_headless(const RunOptions& options, InstanceGuard& instance) {
  const Config& c = config();
  if (!runtime_start()) return kExitUsage;
  int status = 0;
  int slot = start_main_script(c);
  if (slot < 0) {
    status = slot == -1 ? kExitCompileError : kExitRuntimeError;
  } else {
    LoopLimits limits;
    limits.options = &options;
    for (;;) {
      {
        std::unique_lock lock(loop_mutex);
        loop_cv.wait_for(lock, std::chrono::milliseconds(10), [] { return loop_woken; });
        loop_woken = false;
      }
      runtime::serve_main_thread_calls();
      instance.poll_raise_requests();  // nothing to raise
      if (close_requested) {
        status = 0;
        break;
      }
      if (runtime::running_script_threads() == 0) {
        status = script::vm_stop_flag.is_set() ? kExitRuntimeError
                                               : static_cast<int>(main_result.load() & 0xFF);
        break;
      }
      if (limits.reached()) {
        status = kExitTimeout;
        break;
      }
    }
  }
  shut_down();
  return status;
}

}  // namespace

int run_game(const RunOptions& options) {
  // --timeout holds even when the main loop is stuck (in a driver, a box
  // that never closes): a sleeping watchdog ends the process a little after
  // the limit the loop itself keeps.
  if (options.timeout_seconds >= 0) {
    const double limit = options.timeout_seconds + 15.0;
    std::thread([limit] {
      std::this_thread::sleep_for(std::chrono::duration<double>(limit));
      std::fprintf(stderr, "talven: stopped after %.1f seconds (the run did not end by itself)\n",
                   limit);
      print_script_threads();
      std::fflush(stderr);
      std::_Exit(kExitTimeout);
    }).detach();
  }
  runtime::start_stall_watchdog_from_environment();  // TALVEN_STALL_SECONDS
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
  Config& c = config();

  // One instance per game: a second one raises the first one's window.
  InstanceGuard instance;
  if (c.MultiInstance == 0) {
    std::string name = instance_name(program);
    if (instance.acquire(name) == InstanceGuard::Result::Other) {
      ask_instance_to_raise(name);
      return 0;
    }
  }
  // Named from where the player stands, not the game's folder entered below.
  std::error_code ec;
  auto from_here = [&ec](const std::string& path) {
    return path.empty() ? path
                        : host_file::from_fs_path(fs::absolute(host_file::fs_path(path), ec));
  };
  std::string screenshot = from_here(options.screenshot);
  const std::string audio_out = from_here(options.audio_out);
  const std::string input_file = from_here(options.input_file);
  const std::string record_input = from_here(options.record_input);
  if (!c.module_dir.empty() && !lib::system::set_current_host_folder(c.module_dir)) {
    std::fprintf(stderr, "talven: cannot enter %s\n", c.module_dir.c_str());
    return kExitUsage;
  }

  // Without a display the run goes headless by itself.
  windowed = !options.headless && host::init_video();
  if (!options.headless && !windowed)
    std::fprintf(stderr, "talven: no display, running headless\n");

  debug_output_echo(options.log);
  DeviceOptions& devices = device_options();
  devices.audio_out = audio_out;
  devices.audio_fast = options.audio_fast;
  devices.input_file = input_file;
  devices.record_input = record_input;
  devices.untrusted = options.untrusted;
  screenshot_path = screenshot;
  close_requested = false;
  main_ended = false;
  main_slot = -1;
  main_result = 0;
  runtime::ThreadHost thread_host;
  thread_host.app_active = [] { return input::app_active(); };
  if (windowed) {
    thread_host.request_close = [] { host::post_close_request(); };
    thread_host.serve_while_waiting = [] {
      runtime::serve_main_thread_calls();
      host::serve_message_boxes();
    };
  } else {
    thread_host.request_close = [] {
      close_requested = true;
      wake_main_loop();
    };
    thread_host.serve_while_waiting = [] { runtime::serve_main_thread_calls(); };
  }
  thread_host.thread_ended = [](int slot, std::uint32_t result) {
    if (slot == main_slot.load() && !main_ended.exchange(true)) main_result = result;
    wake_loop();
  };
  // Save data bound with sysfile is written when the last script ends, while
  // its block (often in a program area) is still allocated.
  thread_host.last_thread_ending = [] { storage::save_system_file_at_shutdown(); };
  runtime::set_thread_host(thread_host);
  input::init_activity_flags();

  int status = windowed ? run_windowed(options, instance) : run_headless(options, instance);
  bool full_screen = windowed && host::is_full_screen();
  if (windowed) host::quit_video();
  windowed = false;
  input::release_activity_flags();
  debug_output_destroy();  // its lines live as long as the window
  write_back_config(c.config_path, full_screen);
  return status;
}

}  // namespace talven
