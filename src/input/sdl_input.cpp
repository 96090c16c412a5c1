#include "input/sdl_input.h"

#include "base/config.h"
#include "input/keymap.h"

namespace talven::input {

namespace {

constexpr int kWheelDelta = 120;

// SDL's button numbers (1 left, 2 middle, 3 right, 4 and 5 side) to ours
// (1 left, 2 right, 3 middle, 4 and 5 side).
int our_button(std::uint8_t sdl_button) {
  switch (sdl_button) {
    case SDL_BUTTON_LEFT: return 1;
    case SDL_BUTTON_RIGHT: return 2;
    case SDL_BUTTON_MIDDLE: return 3;
    case SDL_BUTTON_X1: return 4;
    case SDL_BUTTON_X2: return 5;
    default: return 0;
  }
}

InputEvent key_event(const SDL_KeyboardEvent& k) {
  InputEvent e;
  e.type = k.type == SDL_KEYDOWN ? InputEvent::KeyDown : InputEvent::KeyUp;
  e.scancode = k.keysym.scancode;
  e.vk = vk_of(k.keysym.scancode, k.keysym.sym);
  e.dik = dik_of(k.keysym.scancode);
  e.repeat = k.repeat != 0;
  e.ctrl = (k.keysym.mod & KMOD_CTRL) != 0;
  e.alt = (k.keysym.mod & KMOD_ALT) != 0;
  return e;
}

}  // namespace

namespace {
WindowAccess g_window;
}  // namespace

void set_window_access(const WindowAccess& access) { g_window = access; }

SdlInputBackend::SdlInputBackend(bool window) : window_(window) {
  joystick_up_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
  // A Japanese keyboard types '@' on the key right of P.
  use_japanese_layout(window && SDL_GetKeyFromScancode(SDL_SCANCODE_LEFTBRACKET) == SDLK_AT);
  refresh_size();
}

SdlInputBackend::~SdlInputBackend() {
  for (SDL_Joystick*& j : joysticks_) {
    if (j) SDL_JoystickClose(j);
    j = nullptr;
  }
  if (joystick_up_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void SdlInputBackend::refresh_size() {
  int w = 0, h = 0;
  if (window_ && g_window.client_size) g_window.client_size(w, h);
  if (w <= 0 || h <= 0) {
    w = config().Width;
    h = config().Height;
  }
  client_w_ = w;
  client_h_ = h;
  window_w_ = window_h_ = 0;
  SDL_Window* sdl_window = window_ && g_window.window ? g_window.window() : nullptr;
  if (sdl_window) SDL_GetWindowSize(sdl_window, &window_w_, &window_h_);
  full_screen_ = window_ && g_window.full_screen && g_window.full_screen();
}

void SdlInputBackend::to_client(int& x, int& y) const {
  if (window_w_ > 0 && window_h_ > 0) {
    x = static_cast<int>(std::int64_t(x) * client_w_.load() / window_w_);
    y = static_cast<int>(std::int64_t(y) * client_h_.load() / window_h_);
  }
}

void SdlInputBackend::client_size(int& w, int& h, bool& full_screen) {
  w = client_w_.load();
  h = client_h_.load();
  full_screen = full_screen_.load();
}

void SdlInputBackend::show_cursor(bool visible) {
  if (window_ && g_window.cursor_visible) g_window.cursor_visible(visible);
}

void SdlInputBackend::confine_cursor(const graphics::Rect* r) {
  if (!window_ || !g_window.cursor_confine) return;
  if (r) g_window.cursor_confine(true, r->left, r->top, r->right, r->bottom);
  else g_window.cursor_confine(false, 0, 0, 0, 0);
}

void SdlInputBackend::warp_cursor(int x, int y) {
  if (window_ && g_window.cursor_warp) g_window.cursor_warp(x, y);
}

int SdlInputBackend::slot_of_instance(SDL_JoystickID id) const {
  for (int i = 0; i < kMaxJoysticks; ++i)
    if (joysticks_[i] && SDL_JoystickInstanceID(joysticks_[i]) == id) return i;
  return -1;
}

void SdlInputBackend::reconcile(const std::function<void(const InputEvent&)>& sink) {
  if (!joystick_up_ || !device_) return;
  for (int i = 0; i < kMaxJoysticks; ++i) {
    if (joysticks_[i] && !SDL_JoystickGetAttached(joysticks_[i])) {
      SDL_JoystickClose(joysticks_[i]);
      joysticks_[i] = nullptr;
      InputEvent e;
      e.type = InputEvent::JoyRemoved;
      e.joy = i;
      device_->apply(e, true);
      if (sink) sink(e);
    }
  }
  const int count = SDL_NumJoysticks();
  for (int index = 0; index < count; ++index) {
    if (slot_of_instance(SDL_JoystickGetDeviceInstanceID(index)) >= 0) continue;
    int slot = -1;
    {
      std::lock_guard lock(device_->mutex());
      for (int i = 0; i < kMaxJoysticks && slot < 0; ++i)
        if (!joysticks_[i] && !device_->joy_slots()[i].present) slot = i;
    }
    if (slot < 0) return;  // four are held
    SDL_Joystick* j = SDL_JoystickOpen(index);
    if (!j) continue;  // a joystick that cannot be opened is passed over
    joysticks_[slot] = j;
    InputEvent e;
    e.type = InputEvent::JoyAdded;
    e.joy = slot;
    device_->apply(e, true);
    std::lock_guard lock(device_->mutex());
    device_->joy_slots()[slot].platform_id = SDL_JoystickInstanceID(j);
    if (sink) sink(e);
  }
}

void SdlInputBackend::poll_joysticks() {
  if (!joystick_up_ || !device_) return;
  SDL_JoystickUpdate();
  reconcile({});
  std::lock_guard lock(device_->mutex());
  for (int i = 0; i < kMaxJoysticks; ++i) {
    SDL_Joystick* j = joysticks_[i];
    if (!j) continue;
    JoySlot& s = device_->joy_slots()[i];
    const int axes = SDL_JoystickNumAxes(j);
    s.axis[0] = axes > 0 ? SDL_JoystickGetAxis(j, 0) : 0;
    s.axis[1] = axes > 1 ? SDL_JoystickGetAxis(j, 1) : 0;
    const int buttons = std::min(SDL_JoystickNumButtons(j), 32);
    std::uint32_t bits = 0;
    for (int b = 0; b < buttons; ++b)
      if (SDL_JoystickGetButton(j, b)) bits |= 1u << b;
    s.buttons = bits;
  }
}

void SdlInputBackend::reacquire() {
  if (!device_) return;
  refresh_size();
  if (!window_) return;
  // Keys and buttons that are down now count as pressed from here on.
  int n = 0;
  const Uint8* keys = SDL_GetKeyboardState(&n);
  for (int sc = 0; keys && sc < n; ++sc) {
    if (!keys[sc]) continue;
    InputEvent e;
    e.type = InputEvent::KeyDown;
    e.scancode = sc;
    e.vk = vk_of(sc, SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(sc)));
    e.dik = dik_of(sc);
    device_->apply(e, true);
  }
  // The lock keys as the platform has them (after the presses above).
  const SDL_Keymod mods = SDL_GetModState();
  device_->set_lock_toggles(mods & KMOD_CAPS, mods & KMOD_NUM, mods & KMOD_SCROLL);
  int mx = 0, my = 0;
  const Uint32 mouse = SDL_GetMouseState(&mx, &my);
  {
    InputEvent e;  // where the pointer is now, without counting it as movement
    e.type = InputEvent::Motion;
    e.x = mx;
    e.y = my;
    to_client(e.x, e.y);
    device_->apply(e, true);
  }
  for (std::uint8_t b = SDL_BUTTON_LEFT; b <= SDL_BUTTON_X2; ++b) {
    if (!(mouse & SDL_BUTTON(b))) continue;
    InputEvent e;
    e.type = InputEvent::ButtonDown;
    e.button = our_button(b);
    device_->apply(e, true);
  }
}

void SdlInputBackend::handle_event(const SDL_Event& ev,
                                   const std::function<void(const InputEvent&)>& sink) {
  if (!device_) return;
  auto emit = [&](const InputEvent& e) {
    device_->apply(e, true);
    if (sink) sink(e);
  };
  switch (ev.type) {
    case SDL_WINDOWEVENT: refresh_size(); return;
    case SDL_KEYDOWN:
    case SDL_KEYUP: emit(key_event(ev.key)); return;
    case SDL_TEXTINPUT: {
      InputEvent e;
      e.type = InputEvent::Text;
      e.text = ev.text.text;
      emit(e);
      return;
    }
    case SDL_MOUSEMOTION: {
      if (ev.motion.which == SDL_TOUCH_MOUSEID) return;
      InputEvent e;
      e.type = InputEvent::Motion;
      e.x = ev.motion.x;
      e.y = ev.motion.y;
      to_client(e.x, e.y);
      e.dx = ev.motion.xrel;
      e.dy = ev.motion.yrel;
      emit(e);
      return;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      InputEvent e;
      e.type = ev.type == SDL_MOUSEBUTTONDOWN ? InputEvent::ButtonDown : InputEvent::ButtonUp;
      e.button = our_button(ev.button.button);
      e.clicks = ev.button.clicks;
      if (e.button) emit(e);
      return;
    }
    case SDL_MOUSEWHEEL: {
      InputEvent e;
      e.type = InputEvent::Wheel;
      const int y = ev.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -ev.wheel.y : ev.wheel.y;
      e.wheel = y * kWheelDelta;
      if (e.wheel) emit(e);
      return;
    }
    case SDL_JOYDEVICEADDED:
    case SDL_JOYDEVICEREMOVED: reconcile(sink); return;
    case SDL_JOYAXISMOTION: {
      // Positions are read when a script asks; these only go to a recording.
      int slot = slot_of_instance(ev.jaxis.which);
      if (slot < 0 || ev.jaxis.axis > 1 || !sink) return;
      InputEvent e;
      e.type = InputEvent::JoyAxis;
      e.joy = slot;
      e.button = ev.jaxis.axis;
      e.x = ev.jaxis.value;
      sink(e);
      return;
    }
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP: {
      int slot = slot_of_instance(ev.jbutton.which);
      if (slot < 0 || ev.jbutton.button >= 32 || !sink) return;
      InputEvent e;
      e.type = ev.type == SDL_JOYBUTTONDOWN ? InputEvent::JoyButtonDown : InputEvent::JoyButtonUp;
      e.joy = slot;
      e.button = ev.jbutton.button;
      sink(e);
      return;
    }
    default: return;
  }
}

}  // namespace talven::input
