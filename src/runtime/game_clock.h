// The game clock: milliseconds that stop while the application is paused,
// the 256 script counters read by getcount/setcount, and the fps counter.
//
// The time source is a monotonic millisecond tick that wraps at 32 bits
// (scripts compare ticks by subtraction). Tests replace it with their own.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::runtime {

// Monotonic milliseconds (wraps after ~49 days; differences stay correct).
std::uint32_t tick_count();

// Replaces the time source (null: back to tick_count). For tests.
using TickSource = std::uint32_t (*)();
void set_tick_source(TickSource source);

// Sets the clock up (base offset and pause nesting to 0); called when the
// main window is created.
void init_game_clock();

std::uint32_t game_clock();
// Pauses (nesting) or resumes the clock; resume while not paused returns 0.
int pause_game_clock(bool pause);

// Counters 0..255; other numbers give 0 and change nothing.
std::int32_t getcount(std::int32_t counter);
std::int32_t setcount(std::int32_t counter, std::int32_t value);

// Calls counted in the last complete one-second window.
std::int32_t fps();

// Builtin handlers of the clock family (typed: runtime/bind.h); the
// functions above are builtins themselves.
inline constexpr auto& bi_getcount = getcount;
inline constexpr auto& bi_setcount = setcount;
bool bi_gettime(Addr record);  // local date and time, eight 16-bit fields
inline constexpr auto& bi_fps = fps;

}  // namespace talven::runtime
