// Raw input state kept by the main window for the input builtins: the typed
// character ring buffer, the mouse buttons, click counts and wheel total,
// and the application's activity flags.
//
// The main thread writes (from window events); script threads read. The ring
// buffer is shared by a writer that may drop the oldest byte and a reader
// that consumes, so it takes a small lock; the rest are single atomic words.
// `app_active` lives in the script address space because its address is
// published to scripts (query message 1234).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/address_space.h"

namespace talven::input {

constexpr int kCharRingSize = 512;

// Typed characters as CP932 bytes. Holds at most 511 unread bytes: writing
// into a full buffer drops the oldest one.
class CharRing {
 public:
  void push(std::uint8_t byte);
  // The oldest unread byte, or -1 when empty.
  int pop();
  int pending() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::uint8_t bytes_[kCharRingSize] = {};
  int write_ = 0;
  int read_ = 0;
};

CharRing& char_ring();

constexpr std::uint32_t kMouseLeft = 1, kMouseRight = 2, kMouseMiddle = 4;

// Mouse buttons as the window sees them. `button_down` and `button_up` tell
// the caller whether to capture or release the mouse.
struct MouseState {
  std::atomic<std::uint32_t> buttons{0};       // kMouse* bits, set while down
  std::atomic<std::uint32_t> presses[3] = {};  // left, right, middle
  std::atomic<std::uint32_t> double_clicks[3] = {};
  std::atomic<std::int32_t> wheel{0};  // sum of deltas (120 per notch)
  bool captured = false;               // main thread only

  // A press of button bit `button`; a double click also counts as a press.
  // True when the mouse should be captured now.
  bool button_down(std::uint32_t button, bool double_click);
  // True when the capture should be released now.
  bool button_up(std::uint32_t button);
  // The counting of button_down and button_up without the capture (input
  // replayed into a run: there is no platform mouse to capture). Any thread.
  void press(std::uint32_t button, bool double_click);
  void release(std::uint32_t button);
  void add_wheel(std::int32_t delta) { wheel.fetch_add(delta); }
  void reset();
};

MouseState& mouse_state();

// Allocates the published `app_active` word (at window creation) and sets
// both flags to 1. Safe to call again.
void init_activity_flags();
// Frees the word (at window destruction); the flags keep working.
void release_activity_flags();

bool app_active();
void set_app_active(bool on);
// Script address of the `app_active` word, 0 when none was allocated.
Addr app_active_address();

bool input_focus();
void set_input_focus(bool on);

}  // namespace talven::input
