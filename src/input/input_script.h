// Input files: recorded input that a run replays (--input) or that a
// windowed run writes (--record-input). Plain UTF-8 text, one event a line:
//
//   # comment (also after an event)        blank lines are ignored
//   frame 12 key down A                    when: "frame N" (presented frames)
//   time 1500 key up A                     or "time MS" (game clock since the start)
//   frame 13 move 320 240                  pointer to a game-screen point
//   frame 14 button down left              left, right, middle, x1, x2;
//   frame 14 button down left 2            a click count of 2 is a double click
//   frame 14 button up left
//   frame 15 wheel -120                    120 per notch, positive away from the player
//   frame 16 text "日本語"                 typed text; \" and \\ escape
//   frame 17 joy 0 add                     joysticks 0 to 3: add, remove,
//   frame 17 joy 0 axis 0 -32768           axis 0 (x) or 1 (y), -32768..32767,
//   frame 17 joy 0 button 3 down           button 0..31 down or up
//   frame 18 focus off                     the window loses (off) or gains (on) the input focus
//
// Events take effect in file order: each waits until its frame or time has
// come, and the lines after it wait for it. Frames count presented frames
// (page flips the game makes), not main-loop turns: a game that stops
// presenting while it reads the input (a title screen drawn once) never
// reaches a later frame, and events for it are written with "time MS".
// A line with a frame or time and no event is refused. Key names are those
// of keymap.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "input/input_device.h"

namespace talven::input {

struct TimedEvent {
  bool by_frame = true;  // due at a presented-frame count, else at a game-clock time
  std::uint64_t at = 0;
  InputEvent event;  // motion in game-screen coordinates
  int line = 0;
};

struct ParsedInput {
  std::vector<TimedEvent> events;
  std::string error;  // "line N: ..." when the text was refused
};

ParsedInput parse_input_text(const std::string& text);

// Why a replay stands at `t`, for the player: the event's line and its
// frame or time beside the frame count and clock reached; an event that
// waits for a frame points to the "time MS" form.
std::string describe_wait(const TimedEvent& t, std::uint64_t frame, std::uint64_t ms);

// One event as a line (without the newline); empty for events that have no
// form in the file.
std::string format_input_event(std::uint64_t frame, const InputEvent& e);

// Replays parsed events. pump() applies the events that are due, but stops
// before the release of a key or button pressed within the same call, so
// that every press is seen by at least one read of the input.
class InputReplay {
 public:
  explicit InputReplay(std::vector<TimedEvent> events) : events_(std::move(events)) {}
  template <typename Apply>
  void pump(std::uint64_t frame, std::uint64_t ms, Apply&& apply);
  bool finished() const { return next_ >= events_.size(); }
  // The event the replay stands at; null when every event was applied.
  const TimedEvent* waiting() const { return finished() ? nullptr : &events_[next_]; }

 private:
  std::vector<TimedEvent> events_;
  std::size_t next_ = 0;
};

template <typename Apply>
void InputReplay::pump(std::uint64_t frame, std::uint64_t ms, Apply&& apply) {
  std::vector<long>
      pressed;  // keys (scancode), buttons (-1000 - n), joystick buttons (-2000 - 32 * j - n)
  auto id_of = [](const InputEvent& e) -> long {
    switch (e.type) {
      case InputEvent::KeyDown:
      case InputEvent::KeyUp: return e.scancode;
      case InputEvent::ButtonDown:
      case InputEvent::ButtonUp: return -1000 - e.button;
      case InputEvent::JoyButtonDown:
      case InputEvent::JoyButtonUp: return -2000 - 32L * e.joy - e.button;
      default: return 0;
    }
  };
  while (next_ < events_.size()) {
    const TimedEvent& t = events_[next_];
    if ((t.by_frame ? frame : ms) < t.at) return;
    const InputEvent& e = t.event;
    const bool release = e.type == InputEvent::KeyUp || e.type == InputEvent::ButtonUp ||
                         e.type == InputEvent::JoyButtonUp;
    const bool press = e.type == InputEvent::KeyDown || e.type == InputEvent::ButtonDown ||
                       e.type == InputEvent::JoyButtonDown;
    if (release)
      for (long id : pressed)
        if (id == id_of(e)) return;
    if (press) pressed.push_back(id_of(e));
    ++next_;
    apply(e);
  }
}

}  // namespace talven::input
