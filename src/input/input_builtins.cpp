#include "input/input_builtins.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "base/config.h"
#include "base/host_file.h"
#include "base/messages.h"
#include "graphics/present/pages.h"
#include "input/input_state.h"
#include "input/input_device.h"
#include "input/input_script.h"
#include "input/sdl_input.h"
#include "runtime/game_clock.h"
#include "runtime/trap.h"

namespace talven::input {

namespace {

// The device and its companions live from input_start to input_shutdown,
// both on the main thread while no script runs.
std::unique_ptr<InputDevice> device;
SdlInputBackend* sdl_backend = nullptr;  // owned by the device

std::mutex replay_mutex;
std::unique_ptr<InputReplay> replay;
// The game clock when the replay started: "time MS" counts from here.
std::uint32_t replay_origin = 0;

// Game time since the replay started (under replay_mutex; the clock wraps).
std::uint64_t replay_ms() {
  return static_cast<std::uint32_t>(runtime::game_clock() - replay_origin);
}

// A replay whose next event waits for a frame while the game reads the
// input but presents nothing cannot go on by itself; after this long on the
// game clock with the frame count standing still, one note says so.
constexpr std::uint64_t kStallNoteMs = 5000;
struct ReplayStall {
  std::uint64_t frame = ~0ull;  // the frame count last seen
  std::uint64_t since_ms = 0;   // the game clock when it was first seen
  bool noted = false;
};
ReplayStall replay_stall;

// Under replay_mutex, after a pump.
void watch_replay_stall(std::uint64_t frame, std::uint64_t ms) {
  const TimedEvent* next = replay->waiting();
  if (!next || !next->by_frame || frame >= next->at || replay_stall.noted) return;
  if (frame != replay_stall.frame) {
    replay_stall.frame = frame;
    replay_stall.since_ms = ms;
    return;
  }
  if (ms - replay_stall.since_ms < kStallNoteMs) return;
  replay_stall.noted = true;
  std::fprintf(stderr, "talven: %s\n", describe_wait(*next, frame, ms).c_str());
}

std::mutex record_mutex;
std::FILE* record_file = nullptr;

// Applies the replayed events that are due. Any thread.
void pump_replay() {
  if (!device) return;
  std::lock_guard lock(replay_mutex);
  if (!replay || replay->finished()) return;
  const std::uint64_t frame = graphics::presented_frame_count();
  const std::uint64_t ms = replay_ms();
  replay->pump(frame, ms, [](const InputEvent& timed) {
    InputEvent e = timed;
    if (e.type == InputEvent::Motion) {
      // Game-screen point to the client point the window would report.
      graphics::DestRect d = device->dest_rect();
      int cx = 0, cy = 0, px = 0, py = 0;
      screen_to_client(d, graphics::screen_width(), graphics::screen_height(), e.x, e.y, cx, cy);
      device->pointer_client(px, py);
      e.x = cx;
      e.y = cy;
      e.dx = cx - px;
      e.dy = cy - py;
    }
    device->apply(e, false);
  });
  watch_replay_stall(frame, ms);
}

void record(const InputEvent& applied) {
  std::lock_guard lock(record_mutex);
  if (!record_file) return;
  InputEvent e = applied;
  if (e.type == InputEvent::Motion) {
    graphics::DestRect d = device->dest_rect();
    client_to_screen(d, graphics::screen_width(), graphics::screen_height(), e.x, e.y, e.x, e.y);
  }
  std::string line = format_input_event(graphics::presented_frame_count(), e);
  if (!line.empty()) std::fprintf(record_file, "%s\n", line.c_str());
}

// How window events reach the device (set while a window is attached).
void (*attach_events)(void (*handler)(const SDL_Event& event)) = nullptr;

void window_event(const SDL_Event& e) {
  if (!sdl_backend) return;
  static const std::function<void(const InputEvent&)> sink = record;
  sdl_backend->handle_event(e, record_file ? sink : std::function<void(const InputEvent&)>());
}

bool read_file(const std::string& path, std::string& text) {
  std::ifstream in(host_file::fs_path(path), std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

}  // namespace

bool input_start(const InputStart& options) {
  input_shutdown();
  const Config& c = config();
  std::unique_ptr<InputBackend> backend;
  if (options.windowed) {
    set_window_access(options.window);
    auto sdl = std::make_unique<SdlInputBackend>(true);
    sdl_backend = sdl.get();
    backend = std::move(sdl);
  } else {
    backend = std::make_unique<NullInputBackend>();
  }
  device = std::make_unique<InputDevice>(std::move(backend), c.DirectInput != 0, c.Width, c.Height);
  attach_events = options.windowed ? options.attach_events : nullptr;
  if (sdl_backend) {
    sdl_backend->attach(device.get());
    sdl_backend->poll_joysticks();  // the joysticks attached at start
    sdl_backend->reacquire();       // keys, buttons and pointer as they are now
    if (options.attach_events) options.attach_events(window_event);
  }

  bool ok = true;
  if (!options.input_file.empty()) {
    std::string text;
    if (!read_file(options.input_file, text)) {
      std::fprintf(stderr, "talven: cannot read the input file %s\n", options.input_file.c_str());
      ok = false;
    } else {
      ParsedInput parsed = parse_input_text(text);
      if (!parsed.error.empty()) {
        std::fprintf(stderr, "talven: input file %s refused: %s\n", options.input_file.c_str(),
                     parsed.error.c_str());
        ok = false;
      } else {
        std::lock_guard lock(replay_mutex);
        replay = std::make_unique<InputReplay>(std::move(parsed.events));
        replay_stall = ReplayStall{};
        replay_origin = runtime::game_clock();
      }
    }
  }
  if (!options.record_input.empty()) {
    if (!options.windowed) {
      std::fprintf(stderr, "talven: --record-input needs a window; nothing is recorded\n");
    } else {
      std::lock_guard lock(record_mutex);
      record_file = host_file::open_stdio(options.record_input, "w");
      if (!record_file)
        std::fprintf(stderr, "talven: cannot write the input file %s\n",
                     options.record_input.c_str());
      else std::fprintf(record_file, "# talven input: frame N event (game-screen coordinates)\n");
    }
  }
  return ok;
}

void input_shutdown() {
  if (attach_events) attach_events(nullptr);
  attach_events = nullptr;
  {
    std::lock_guard lock(record_mutex);
    if (record_file) std::fclose(record_file);
    record_file = nullptr;
  }
  {
    std::lock_guard lock(replay_mutex);
    replay.reset();
  }
  sdl_backend = nullptr;
  device.reset();
}

std::string replay_wait_note() {
  std::lock_guard lock(replay_mutex);
  const TimedEvent* next = replay ? replay->waiting() : nullptr;
  if (!next) return {};
  return describe_wait(*next, graphics::presented_frame_count(), replay_ms());
}

void input_activity(bool active) {
  if (device) device->activity(active);
}

// ---- builtins ----

std::int32_t bi_getkey(Addr record) {
  std::uint8_t* out = wspan(record, 256);
  if (!out || !device) return 0;
  pump_replay();
  std::uint8_t state[256];
  int r = device->get_key(state);
  std::memcpy(out, state, 256);
  return r;
}

std::int32_t bi_getjoy(std::int32_t joystick, Addr record) {
  std::uint8_t* out = wspan(record, sizeof(JoyState));
  if (!out || !device) return 0;
  pump_replay();
  JoyState j;
  int r = device->get_joy(joystick, j);
  std::memcpy(out, &j, sizeof j);
  return r;
}

std::int32_t bi_getmouse(Addr record) {
  std::uint8_t* out = wspan(record, sizeof(MouseRecord));
  if (!out || !device) return 0;
  pump_replay();
  MouseRecord m;
  int r = device->get_mouse(m);
  std::memcpy(out, &m, sizeof m);
  return r;
}

std::int32_t bi_getpoint(Addr out) {
  if (!device) return 0;
  pump_replay();
  int slot = runtime::current_context ? static_cast<int>(runtime::current_context->thread_slot) : 0;
  PointState p;
  device->get_point(slot, &p);
  if (out) write_bytes(out, &p, sizeof p);  // a wild address only loses the record
  return 1;
}

std::int32_t bi_cur_set(std::int32_t shape) {
  if (!device) return 0;
  return device->set_cursor(shape);
}

std::int32_t bi_cur_clip(Addr a) {
  if (!device) return 0;
  graphics::Rect r;
  std::int32_t words[4];
  // A rectangle that cannot be read is treated as none: the confinement ends.
  const bool have = a && read_bytes(a, words, sizeof words);
  if (have) r = graphics::Rect{words[0], words[1], words[2], words[3]};
  return device->clip_cursor(have ? &r : nullptr);
}

std::int32_t bi_cur_setpos(std::int32_t x, std::int32_t y) {
  if (!device) return 0;
  pump_replay();
  return device->set_cursor_pos(x, y);
}

std::int32_t bi_key_init() {
  pump_replay();
  char_ring().clear();
  return 1;
}

std::int32_t bi_key_get() {
  pump_replay();
  int b = char_ring().pop();
  return b < 0 ? 0 : static_cast<std::int8_t>(b);  // bytes above 127 as negative values
}

}  // namespace talven::input
