// The input device's SDL back end: translates the main window's keyboard,
// text, mouse, wheel and joystick events into InputEvents, owns the SDL
// joysticks (up to four, in the order SDL lists them, hot-plugged ones
// taking the first free slot), and hands cursor requests to the window.
//
// Everything here runs on the main thread, except client_size() and the
// cursor requests, which only read cached values or queue requests.
#pragma once

#include <SDL.h>

#include <atomic>
#include <functional>

#include "input/input_device.h"

namespace talven::input {

// The main window as the SDL back end needs it. The window belongs to a
// layer above the devices, so app/ hands these in at start.
struct WindowAccess {
  SDL_Window* (*window)() = nullptr;
  void (*client_size)(int& w, int& h) = nullptr;
  bool (*full_screen)() = nullptr;
  void (*cursor_visible)(bool visible) = nullptr;
  void (*cursor_confine)(bool on, int left, int top, int right, int bottom) = nullptr;
  void (*cursor_warp)(int x, int y) = nullptr;
};
void set_window_access(const WindowAccess& access);

class SdlInputBackend : public InputBackend {
 public:
  // Opens SDL's joystick subsystem; `window`: a main window exists (cursor
  // requests and the client size go to it).
  explicit SdlInputBackend(bool window);
  ~SdlInputBackend() override;
  SdlInputBackend(const SdlInputBackend&) = delete;
  SdlInputBackend& operator=(const SdlInputBackend&) = delete;

  void attach(InputDevice* device) { device_ = device; }
  // Translates and applies one event; `sink` (may be empty) also receives
  // what was applied, for recording.
  void handle_event(const SDL_Event& e, const std::function<void(const InputEvent&)>& sink);
  // Slot of a platform joystick by SDL instance id, -1 when none.
  int slot_of_instance(SDL_JoystickID id) const;

  void client_size(int& w, int& h, bool& full_screen) override;
  void show_cursor(bool visible) override;
  void confine_cursor(const graphics::Rect* client_rect) override;
  void warp_cursor(int client_x, int client_y) override;
  void poll_joysticks() override;
  void reacquire() override;

 private:
  // Opens newly attached joysticks into free slots and drops detached ones;
  // the slot changes go to `sink`.
  void reconcile(const std::function<void(const InputEvent&)>& sink);
  void refresh_size();
  // A mouse position from window units to client pixels (they differ on
  // high-density displays).
  void to_client(int& x, int& y) const;

  InputDevice* device_ = nullptr;
  bool window_;
  bool joystick_up_ = false;
  SDL_Joystick* joysticks_[kMaxJoysticks] = {};
  std::atomic<int> client_w_{0}, client_h_{0};
  int window_w_ = 0, window_h_ = 0;  // window size in the units of mouse events (main thread)
  std::atomic<bool> full_screen_{false};
};

}  // namespace talven::input
