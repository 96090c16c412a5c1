// The main window on SDL: creation and placement from the window keys,
// the event loop's window side (sizing with the aspect rules, full-screen
// switch, activation, close confirmation, typed characters and mouse
// buttons), message boxes from any thread, and the debug output window.
//
// Everything here runs on the main thread except where a function says it
// is thread-safe. The application layer (app/) plugs in what the window
// cannot know about through WindowHooks: pausing the game, the shut-down
// sequence, and repainting the picture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct SDL_Window;
struct SDL_Renderer;
union SDL_Event;

namespace talven::host {

struct WindowHooks {
  std::function<void(bool active)> pause_application;  // GlobalFocus 0 activity change
  std::function<void(bool active)> activity_changed;   // every change of input focus
  std::function<void()> shut_down;                     // closing was confirmed
  std::function<void()> repaint;                       // expose, resize, mode switch
  std::function<void()> present_ready;                 // a frame waits to be drawn
  std::function<void()> serve;                         // the loop was woken: serve calls
};

// Initialises SDL video. False when there is no display (the run goes headless).
bool init_video();
void quit_video();

// Creates the main window from the configuration, shows it and gives it the
// focus; with DebugMode also the hidden debug output window. False on failure.
bool create_main_window(const WindowHooks& hooks);
// Destroys both windows (idempotent).
void destroy_main_window();
bool main_window_exists();

SDL_Window* main_sdl_window();
// The window's handle as scripts may see it (its SDL id), 0 without a window.
std::uint32_t main_window_handle();
SDL_Renderer* main_renderer();
// Current client size in pixels of the main window's drawable area.
void main_client_size(int& w, int& h);

bool is_full_screen();
// True while the main window is minimised (false without a window).
bool main_window_minimized();
// Switches between window and full screen: 1 on success, 0 on failure.
int switch_screen_mode(bool full_screen);

// Waits up to timeout_ms for events and handles every pending one. False once
// the window has been closed (the loop should end).
bool pump_window_events(int timeout_ms);

// Closes the window as its close box does (asking first when `ask` and
// Confirmation say so); true once it is closed.
bool close_main_window(bool ask);

// Thread-safe: wake the loop (serve hook), or ask it to draw a frame.
void wake_window_loop();
void post_present();
// Thread-safe: ask the window to close as its close box would (`exit`).
void post_close_request();
// Thread-safe: restore and raise the main window (another instance asked).
void post_raise_request();

// The input device's view of the events: every keyboard, text, mouse,
// wheel and joystick event of the main window, after the window's own
// handling (typed characters, button counts and wheel total are already
// kept in input/input_state.h). Main thread; null removes the hook.
using InputEventHook = void (*)(const SDL_Event& event);
void set_input_event_hook(InputEventHook hook);

// Cursor requests (thread-safe), carried out on the main thread: show or
// hide the cursor over the client area, confine it to a client rectangle
// (right and bottom exclusive) or release it, move it to a client point.
void request_cursor_visible(bool visible);
void request_cursor_confine(bool on, int left, int top, int right, int bottom);
void request_cursor_warp(int x, int y);

// Thread-safe message box for report_message: shown on the main thread with
// the main window as owner (a script thread waits for it); OK only. Where
// the system cannot show one, the box is drawn in the main window
// (host/message_overlay.h); the main thread does not wait for that one.
int show_error_box(const std::string& text);
// Serves boxes queued by script threads (main thread; the loop calls it,
// so does anything that waits for script threads).
void serve_message_boxes();
// Draws a message box shown in the window over the frame about to be
// presented (main thread; the presentation calls it before presenting).
void draw_message_overlay();

}  // namespace talven::host
