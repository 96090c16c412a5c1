// The input builtins (getkey, getjoy, getmouse, getpoint, cur_set,
// cur_clip, cur_setpos, key_init, key_get), the main-thread messages that
// serve the polling ones (1214 getkey, 1215 getjoy, 1216 getmouse), and the
// device's start, stop and activity hooks.
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

std::uint32_t bi_getkey(Addr args);
std::uint32_t bi_getjoy(Addr args);
std::uint32_t bi_getmouse(Addr args);
std::uint32_t bi_getpoint(Addr args);
std::uint32_t bi_cur_set(Addr args);
std::uint32_t bi_cur_clip(Addr args);
std::uint32_t bi_cur_setpos(Addr args);
std::uint32_t bi_key_init(Addr args);
std::uint32_t bi_key_get(Addr args);

}  // namespace talven::input
