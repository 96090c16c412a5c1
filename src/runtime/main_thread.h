// Main-thread calls: builtins that drive devices (sound, MIDI, video, CD,
// input, screen mode, the desktop) run their operation on the main thread,
// which owns the devices, while the calling script thread waits for the
// result.
//
// An operation is a function of argument words and the words themselves
// (runtime/bind.h makes both from a typed handler: on_main_thread<&f>,
// call_on_main_thread<&f>(...)). The few operations that are addressed by
// number (runtime/main_thread_messages.h) are messages with two words,
// served by the function registered for the number.
//
// Calls are served only while open (open_main_thread_calls() to
// close_main_thread_calls(); closed at start): outside that span every call
// answers 0 at once, on any thread, so device operations never run before
// the devices start or after they stop. While open, a call made on the main
// thread runs at once; one made elsewhere is queued and the main loop runs
// it in serve_main_thread_calls() whenever it is woken. The main thread
// never takes the builtin lock, so a script thread may wait here holding it.
#pragma once

#include <cstdint>

namespace talven::runtime {

// An operation: reads its argument words and answers the result word.
using MainThreadFunction = std::uint32_t (*)(const std::uint32_t* words);

// Runs fn(words) on the main thread and waits for its result (words must
// stay valid until then: the caller's own array). 0 while closed.
std::uint32_t run_on_main_thread(MainThreadFunction fn, const std::uint32_t* words);

// ---- numbered messages ----

using MainThreadHandler = std::int32_t (*)(std::uint32_t wparam, std::uint32_t lparam);

// Registers the serving function of a message (null removes it). Messages
// without one answer 0.
void set_main_thread_handler(std::uint32_t message, MainThreadHandler handler);

// Sends a numbered message to the main thread and waits for its result.
std::int32_t main_thread_call(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);

// ---- the main loop's side ----

// Marks the calling thread as the main thread.
void bind_main_thread();
bool is_main_thread();

// How the main loop is woken when a call is queued (e.g. an SDL user event).
void set_main_thread_waker(void (*waker)());

// Serves every queued call (main thread only). Returns how many were served.
int serve_main_thread_calls();

// Closing answers queued and later calls 0 at once (at shut-down); opening
// serves them again.
void close_main_thread_calls();
void open_main_thread_calls();

}  // namespace talven::runtime
