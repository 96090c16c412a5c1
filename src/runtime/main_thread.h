// Main-thread calls: builtins that drive devices (sound, MIDI, video, CD,
// input, screen mode) run their operation on the main thread, which owns
// the devices, while the calling script thread waits for the result.
//
// An operation is a message number (from 1124 up) and two argument words,
// as the builtins send them. Device families register a serving function
// per message; the main loop calls serve_main_thread_calls() whenever it is
// woken. A call made on the main thread itself is served at once.
#pragma once

#include <cstdint>

namespace talven::runtime {

using MainThreadHandler = std::int32_t (*)(std::uint32_t wparam, std::uint32_t lparam);

// Registers the serving function of a message (null removes it). Messages
// without one answer 0.
void set_main_thread_handler(std::uint32_t message, MainThreadHandler handler);

// Marks the calling thread as the main thread.
void bind_main_thread();
bool on_main_thread();

// How the main loop is woken when a call is queued (e.g. an SDL user event).
void set_main_thread_waker(void (*waker)());

// Sends an operation to the main thread and waits for its result. Returns 0
// without waiting when the main thread has stopped serving.
std::int32_t main_thread_call(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);

// Serves every queued call (main thread only). Returns how many were served.
int serve_main_thread_calls();

// Stops serving: queued and later calls answer 0 at once (at shut-down).
void close_main_thread_calls();
void open_main_thread_calls();

}  // namespace talven::runtime
