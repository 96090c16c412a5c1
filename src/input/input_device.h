// The input device: the keyboard state in both numberings, the mouse's
// relative movement and buttons, the pointer position, up to four
// joysticks, and the cursor requests, as the input builtins read them.
//
// Events reach the device from two sources through one function, apply():
// the window's SDL events (translated in sdl_input.cpp) and replayed input
// files (input_script.h). Events that come from the window have already been
// counted by the window itself (typed characters, button presses, wheel
// total: host/input_state.h); replayed ones are counted here, so both look
// the same to the builtins.
//
// Which back end the builtins read is fixed at start by the configuration
// key DirectInput: 0 the plain key state (virtual keys, bit 7 down, bit 0
// toggle) and plain joysticks; 1 DirectInput scan codes, relative mouse
// movement and DirectInput joystick scaling.
//
// Threads: apply() runs on the main thread (window events) or on whichever
// thread pumps the replay; the builtins run on script threads or, for the
// polling messages, on the main thread. One mutex guards the state; platform
// calls go through the InputBackend, whose functions the main thread calls.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "graphics/present/pages.h"

namespace talven::input {

constexpr int kMaxJoysticks = 4;
constexpr int kMaxScriptThreads = 32;

// One input event, in client coordinates of the main window for the mouse.
struct InputEvent {
  enum Type : std::uint8_t {
    KeyDown,
    KeyUp,
    Motion,
    ButtonDown,
    ButtonUp,
    Wheel,
    Text,
    JoyAdded,
    JoyRemoved,
    JoyAxis,
    JoyButtonDown,
    JoyButtonUp,
    Focus,
  };
  Type type = KeyDown;
  int scancode = 0;                // keys: SDL scancode
  std::uint8_t vk = 0;             // keys: virtual key (0: none)
  std::uint8_t dik = 0;            // keys: DirectInput scan code (0: none)
  bool repeat = false;             // keys: auto-repeat
  bool ctrl = false, alt = false;  // keys: modifiers held (for control characters)
  int x = 0, y = 0;                // motion: client position; joy axis: value -32768..32767
  int dx = 0, dy = 0;              // motion: relative movement
  int button = 0;  // mouse: 1 left, 2 right, 3 middle, 4 and 5 side; joystick: button / axis index
  int clicks = 1;  // mouse: click count of this press (2: double click)
  int wheel = 0;   // wheel: signed delta, 120 per notch
  int joy = 0;     // joysticks: slot 0..3
  bool on = true;  // focus
  std::string text;  // typed text, UTF-8
};

// Platform side of the device. All functions run on the main thread except
// where noted.
class InputBackend {
 public:
  virtual ~InputBackend() = default;
  // Client area size and full-screen flag (any thread; cached values).
  virtual void client_size(int& w, int& h, bool& full_screen) = 0;
  // Cursor requests (any thread; the real back end hands them to the window).
  virtual void show_cursor(bool visible) = 0;
  virtual void confine_cursor(const graphics::Rect* client_rect) = 0;
  virtual void warp_cursor(int client_x, int client_y) = 0;
  // Reads the platform joysticks into the device (main thread).
  virtual void poll_joysticks() = 0;
  // The window became active again: re-read what the platform holds.
  virtual void reacquire() = 0;
};

// The headless back end: the client area is the screen, the cursor is the
// device's own pointer (warping moves it, confining clamps it), and there
// are no platform joysticks.
class NullInputBackend : public InputBackend {
 public:
  void client_size(int& w, int& h, bool& full_screen) override;
  void show_cursor(bool) override {}
  void confine_cursor(const graphics::Rect*) override {}
  void warp_cursor(int, int) override {}
  void poll_joysticks() override {}
  void reacquire() override {}
};

// Records the builtins pass (little-endian words in script memory).
struct JoyState {
  std::int32_t x = 0, y = 0, buttons = 0;
};
struct MouseRecord {
  std::int32_t dx = 0, dy = 0, dz = 0, buttons = 0;
};
struct PointState {
  std::int32_t x = 0, y = 0, wheel = 0, events = 0;
};

// A joystick as the device holds it: the last raw axis values and buttons.
struct JoySlot {
  bool present = false;
  bool replayed = false;  // fed by an input file, not the platform
  std::int32_t platform_id = -1;
  std::int32_t axis[2] = {0, 0};  // -32768..32767
  std::uint32_t buttons = 0;
};

// Axis scaling of the two back ends, raw value -32768..32767.
// Plain: the position p = raw + 32768 against the capabilities 0..65535,
// centre and half range as the plain joystick start-up takes them.
std::int32_t plain_axis(std::int32_t p, std::int32_t centre, std::int32_t half);
// DirectInput: range -1000..1000 with a dead zone of half the travel.
std::int32_t direct_axis(std::int32_t raw);

// Client <-> screen conversions through the presented rectangle.
void client_to_screen(const graphics::DestRect& d, int screen_w, int screen_h, int cx, int cy,
                      int& x, int& y);
void screen_to_client(const graphics::DestRect& d, int screen_w, int screen_h, int x, int y,
                      int& cx, int& cy);
// The clip rectangle in client coordinates for a screen rectangle; false
// when the rectangle misses the screen (the confinement is released).
bool clip_to_client(const graphics::DestRect& d, int screen_w, int screen_h,
                    const graphics::Rect& r, graphics::Rect& client);

class InputDevice {
 public:
  // direct_input: the DirectInput back end; screen size from the configuration.
  InputDevice(std::unique_ptr<InputBackend> backend, bool direct_input, int screen_w, int screen_h);

  // One event; `counted` when the window already counted characters,
  // presses and the wheel (events from the window), false for replayed ones.
  void apply(const InputEvent& e, bool counted);
  // The window gained (or lost) the input focus.
  void activity(bool active);

  // The builtins. Each returns the builtin's result and fills `out`.
  int get_key(std::uint8_t out[256]);
  int get_mouse(MouseRecord& out);
  int get_joy(std::int32_t number, JoyState& out);
  int get_point(int thread_slot, PointState* out);
  int set_cursor(std::int32_t shape);
  int clip_cursor(const graphics::Rect* r);
  int set_cursor_pos(std::int32_t x, std::int32_t y);

  // The lock keys' toggle bits as the platform holds them (plain key state).
  void set_lock_toggles(bool caps, bool num, bool scroll);
  // Joystick table access for the platform back end (main thread).
  std::mutex& mutex() { return mutex_; }
  JoySlot* joy_slots() { return joys_; }
  // Joysticks present at start (the plain back end's count).
  int joystick_count_locked() const;

  // The presented rectangle now, and the pointer in screen coordinates.
  graphics::DestRect dest_rect();
  void pointer_screen(int& x, int& y);
  void pointer_client(int& cx, int& cy);
  bool direct_input() const { return direct_input_; }
  bool cursor_visible() const { return cursor_visible_; }
  bool has_clip() const { return has_clip_; }
  InputBackend& backend() { return *backend_; }

 private:
  void apply_key(const InputEvent& e, bool counted);
  void release_held();
  void set_generic_modifiers();
  void move_pointer(int cx, int cy);

  std::mutex mutex_;
  std::unique_ptr<InputBackend> backend_;
  bool direct_input_;
  int screen_w_, screen_h_;
  std::uint8_t vk_[256] = {};
  std::uint8_t dik_[256] = {};
  std::uint32_t buttons_ = 0;  // mouse bits 0 left, 1 right, 2 middle, 3 fourth, 4 fifth
  std::int32_t rel_x_ = 0, rel_y_ = 0, rel_z_ = 0;  // since the last DirectInput mouse read
  int pointer_x_ = 0, pointer_y_ = 0;               // client coordinates
  bool has_clip_ = false;
  graphics::Rect clip_{0, 0, 0, 0};  // client coordinates, right and bottom exclusive
  bool cursor_visible_ = true;
  JoySlot joys_[kMaxJoysticks];
  struct Snapshot {
    std::uint32_t presses[3] = {}, double_clicks[3] = {};
    std::int32_t wheel = 0;
  } snapshots_[kMaxScriptThreads];
};

}  // namespace talven::input
