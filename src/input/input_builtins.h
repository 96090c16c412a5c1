// The input builtins (getkey, getjoy, getmouse, getpoint, cur_set,
// cur_clip, cur_setpos, key_init, key_get) and the device's start, stop and
// activity hooks.
//
// input_start() picks the back end: with a window the SDL one (events come
// through the window's input hook), without one the headless one. An input
// file given at start is replayed into the same paths the window's events
// take; every input builtin first applies the replayed events that are due.
#pragma once

#include <cstdint>
#include <string>

#include "base/address_space.h"

#include "input/sdl_input.h"

namespace talven::input {

struct InputStart {
  bool windowed = false;
  // With a window: what the SDL back end needs of it, and how its events
  // reach the device (called with the device's handler at start and with
  // null at shut-down).
  WindowAccess window;
  void (*attach_events)(void (*handler)(const SDL_Event& event)) = nullptr;
  std::string input_file;    // replayed into the run (host path)
  std::string record_input;  // a windowed run's input is written here (host path)
};

// Main thread. False when the input file was refused (reported; the run
// goes on without it).
bool input_start(const InputStart& options);
void input_shutdown();
// Every change of input focus (main thread).
void input_activity(bool active);
// What an unfinished input replay waits for (its line, frame or time), as
// a note for a run that is ended from outside (--timeout); empty when there
// is no replay or every event was applied. Any thread.
std::string replay_wait_note();

// Typed builtins (runtime/bind.h). getkey, getjoy and getmouse read the
// device's state on the main thread (the builtin table runs them there);
// the others run on the calling script thread.
std::int32_t bi_getkey(Addr record);  // 256 key bytes
std::int32_t bi_getjoy(std::int32_t joystick, Addr record);
std::int32_t bi_getmouse(Addr record);
std::int32_t bi_getpoint(Addr record);  // the calling thread's pointer record
std::int32_t bi_cur_set(std::int32_t shape);
std::int32_t bi_cur_clip(Addr rect);  // null or unreadable: no confinement
std::int32_t bi_cur_setpos(std::int32_t x, std::int32_t y);
std::int32_t bi_key_init();
std::int32_t bi_key_get();  // the next typed byte (sign-extended), 0 when none

}  // namespace talven::input
