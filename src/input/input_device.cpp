#include "input/input_device.h"

#include <algorithm>
#include <cstring>

#include "base/config.h"
#include "base/cp932.h"
#include "input/input_state.h"
#include "input/keymap.h"

namespace talven::input {

void NullInputBackend::client_size(int& w, int& h, bool& full_screen) {
  const Config& c = config();
  w = c.Width;
  h = c.Height;
  full_screen = false;
}

std::int32_t plain_axis(std::int32_t p, std::int32_t centre, std::int32_t half) {
  const std::int64_t b = half / 2;
  const std::int64_t pp = p, c = centre;
  if (b <= 0) return pp < c ? -1000 : pp > c ? 1000 : 0;  // a range too small to scale
  if (pp < c - b) return static_cast<std::int32_t>((pp + b - c) * 1000 / b);
  if (pp > c + b) return static_cast<std::int32_t>((pp - c - b) * 1000 / b);
  return 0;
}

std::int32_t direct_axis(std::int32_t raw) {
  raw = std::clamp<std::int32_t>(raw, -32768, 32767);
  const std::int64_t r = (std::int64_t(raw) + 32768) * 2000 / 65535 - 1000;  // -1000..1000
  const std::int64_t dead = 500;                                             // half the travel
  if (r > -dead && r < dead) return 0;
  const std::int64_t mag = ((r < 0 ? -r : r) - dead) * 1000 / (1000 - dead);
  return static_cast<std::int32_t>(r < 0 ? -mag : mag);
}

void client_to_screen(const graphics::DestRect& d, int screen_w, int screen_h, int cx, int cy,
                      int& x, int& y) {
  x = d.width > 0 ? static_cast<int>((std::int64_t(cx) - d.left) * screen_w / d.width)
                  : cx - d.left;
  y = d.height > 0 ? static_cast<int>((std::int64_t(cy) - d.top) * screen_h / d.height)
                   : cy - d.top;
}

void screen_to_client(const graphics::DestRect& d, int screen_w, int screen_h, int x, int y,
                      int& cx, int& cy) {
  cx = screen_w > 0 ? static_cast<int>(std::int64_t(x) * d.width / screen_w + d.left) : x + d.left;
  cy = screen_h > 0 ? static_cast<int>(std::int64_t(y) * d.height / screen_h + d.top) : y + d.top;
}

bool clip_to_client(const graphics::DestRect& d, int screen_w, int screen_h,
                    const graphics::Rect& r, graphics::Rect& client) {
  const std::int32_t l = std::max(r.left, 0), t = std::max(r.top, 0);
  const std::int32_t rr = std::min(r.right, screen_w), b = std::min(r.bottom, screen_h);
  if (rr <= l || b <= t || screen_w <= 0 || screen_h <= 0) return false;
  client.left = static_cast<std::int32_t>(std::int64_t(l) * d.width / screen_w + d.left);
  client.top = static_cast<std::int32_t>(std::int64_t(t) * d.height / screen_h + d.top);
  client.right = static_cast<std::int32_t>(d.left + std::int64_t(d.width) * rr / screen_w);
  client.bottom = static_cast<std::int32_t>(d.top + std::int64_t(d.height) * b / screen_h);
  return true;
}

namespace {

// Mouse button number (1 left, 2 right, 3 middle, 4 and 5 side) to the
// device's button bit, the window's button word and the virtual key.
std::uint32_t device_bit(int button) { return button >= 1 && button <= 5 ? 1u << (button - 1) : 0; }

std::uint32_t window_bit(int button) {
  switch (button) {
    case 1: return kMouseLeft;
    case 2: return kMouseRight;
    case 3: return kMouseMiddle;
    default: return 0;
  }
}

std::uint8_t button_vk(int button) {
  constexpr std::uint8_t vks[] = {0, kVkLButton, kVkRButton, kVkMButton, kVkXButton1, kVkXButton2};
  return button >= 1 && button <= 5 ? vks[button] : 0;
}

}  // namespace

InputDevice::InputDevice(std::unique_ptr<InputBackend> backend, bool direct_input, int screen_w,
                         int screen_h)
    : backend_(std::move(backend)),
      direct_input_(direct_input),
      screen_w_(screen_w),
      screen_h_(screen_h) {}

graphics::DestRect InputDevice::dest_rect() {
  int cw = 0, ch = 0;
  bool full = false;
  backend_->client_size(cw, ch, full);
  const Config& c = config();
  return graphics::presented_rect(screen_w_, screen_h_, cw, ch, c.Direct3D != 0, full,
                                  c.FixedAspectRatio != 0);
}

void InputDevice::pointer_screen(int& x, int& y) {
  graphics::DestRect d = dest_rect();
  std::lock_guard lock(mutex_);
  client_to_screen(d, screen_w_, screen_h_, pointer_x_, pointer_y_, x, y);
}

void InputDevice::pointer_client(int& cx, int& cy) {
  std::lock_guard lock(mutex_);
  cx = pointer_x_;
  cy = pointer_y_;
}

void InputDevice::set_generic_modifiers() {
  auto merge = [&](std::uint8_t generic, std::uint8_t left, std::uint8_t right) {
    const bool down = ((vk_[left] | vk_[right]) & 0x80) != 0;
    vk_[generic] = static_cast<std::uint8_t>((vk_[generic] & 0x01) | (down ? 0x80 : 0));
  };
  merge(kVkShift, kVkLShift, kVkRShift);
  merge(kVkControl, kVkLControl, kVkRControl);
  merge(kVkMenu, kVkLMenu, kVkRMenu);
}

void InputDevice::move_pointer(int cx, int cy) {
  if (has_clip_) {
    cx = std::clamp(cx, clip_.left, std::max(clip_.left, clip_.right - 1));
    cy = std::clamp(cy, clip_.top, std::max(clip_.top, clip_.bottom - 1));
  }
  pointer_x_ = cx;
  pointer_y_ = cy;
}

void InputDevice::apply_key(const InputEvent& e, bool counted) {
  const bool down = e.type == InputEvent::KeyDown;
  if (e.vk) {
    std::uint8_t& s = vk_[e.vk];
    if (down) {
      if (!e.repeat && !(s & 0x80)) s ^= 0x01;  // each new press flips the toggle
      s |= 0x80;
    } else {
      s &= 0x7F;
    }
    set_generic_modifiers();
  }
  if (e.dik) dik_[e.dik] = down ? 0x80 : 0;
  if (down && !counted && e.vk) {
    int ch = control_char_for_vk(e.vk, vk_[kVkControl] & 0x80, vk_[kVkMenu] & 0x80);
    if (ch >= 0) char_ring().push(static_cast<std::uint8_t>(ch));
  }
}

void InputDevice::apply(const InputEvent& e, bool counted) {
  if (e.type == InputEvent::Focus) {
    // A focus change from an input file: the flag and the release of held
    // keys, without asking the platform (this may run on a script thread).
    set_input_focus(e.on);
    if (e.on) release_held();
    return;
  }
  std::lock_guard lock(mutex_);
  switch (e.type) {
    case InputEvent::KeyDown:
    case InputEvent::KeyUp: apply_key(e, counted); break;
    case InputEvent::Motion:
      rel_x_ += e.dx;
      rel_y_ += e.dy;
      move_pointer(e.x, e.y);
      break;
    case InputEvent::ButtonDown:
    case InputEvent::ButtonUp: {
      const bool down = e.type == InputEvent::ButtonDown;
      const std::uint32_t bit = device_bit(e.button);
      if (!bit) break;
      buttons_ = down ? buttons_ | bit : buttons_ & ~bit;
      if (std::uint8_t vk = button_vk(e.button)) {
        if (down && !(vk_[vk] & 0x80)) vk_[vk] ^= 0x01;
        vk_[vk] = static_cast<std::uint8_t>(down ? vk_[vk] | 0x80 : vk_[vk] & 0x7F);
      }
      if (!counted && window_bit(e.button)) {
        if (down) mouse_state().press(window_bit(e.button), e.clicks >= 2 && e.clicks % 2 == 0);
        else mouse_state().release(window_bit(e.button));
      }
      break;
    }
    case InputEvent::Wheel:
      rel_z_ += e.wheel;
      if (!counted) mouse_state().add_wheel(e.wheel);
      break;
    case InputEvent::Text:
      if (!counted)
        for (char b : cp932::from_utf8_lossy(e.text))
          char_ring().push(static_cast<std::uint8_t>(b));
      break;
    case InputEvent::JoyAdded:
      if (e.joy >= 0 && e.joy < kMaxJoysticks) {
        joys_[e.joy] = JoySlot{};
        joys_[e.joy].present = true;
        joys_[e.joy].replayed = !counted;
      }
      break;
    case InputEvent::JoyRemoved:
      if (e.joy >= 0 && e.joy < kMaxJoysticks) joys_[e.joy] = JoySlot{};
      break;
    case InputEvent::JoyAxis:
      // Events for joysticks that are not there, or axes beyond x and y, are dropped.
      if (e.joy >= 0 && e.joy < kMaxJoysticks && joys_[e.joy].present && e.button >= 0 &&
          e.button < 2)
        joys_[e.joy].axis[e.button] = std::clamp(e.x, -32768, 32767);
      break;
    case InputEvent::JoyButtonDown:
    case InputEvent::JoyButtonUp:
      if (e.joy >= 0 && e.joy < kMaxJoysticks && joys_[e.joy].present && e.button >= 0 &&
          e.button < 32) {
        const std::uint32_t bit = 1u << e.button;
        JoySlot& j = joys_[e.joy];
        j.buttons = e.type == InputEvent::JoyButtonDown ? j.buttons | bit : j.buttons & ~bit;
      }
      break;
    case InputEvent::Focus: break;
  }
}

void InputDevice::release_held() {
  // Keys and buttons released while the window was away must not stick.
  std::lock_guard lock(mutex_);
  for (auto& s : vk_) s &= 0x01;
  std::memset(dik_, 0, sizeof dik_);
  buttons_ = 0;
  rel_x_ = rel_y_ = rel_z_ = 0;
}

void InputDevice::set_lock_toggles(bool caps, bool num, bool scroll) {
  std::lock_guard lock(mutex_);
  auto set = [&](std::uint8_t vk, bool on) {
    vk_[vk] = static_cast<std::uint8_t>((vk_[vk] & 0x80) | (on ? 1 : 0));
  };
  set(0x14, caps);
  set(0x90, num);
  set(0x91, scroll);
}

void InputDevice::activity(bool active) {
  if (!active) return;
  release_held();
  backend_->reacquire();
}

int InputDevice::get_key(std::uint8_t out[256]) {
  std::lock_guard lock(mutex_);
  if (!input_focus()) {
    std::memset(out, 0, 256);
    return 0;
  }
  std::memcpy(out, direct_input_ ? dik_ : vk_, 256);
  return 1;
}

int InputDevice::get_mouse(MouseRecord& out) {
  std::lock_guard lock(mutex_);
  out = MouseRecord{};
  if (!input_focus()) return 0;
  if (direct_input_) {
    out.dx = rel_x_;
    out.dy = rel_y_;
    out.dz = rel_z_;
    rel_x_ = rel_y_ = rel_z_ = 0;
    out.buttons = static_cast<std::int32_t>(buttons_ & 0x0F);
  } else {
    // The held buttons as the window counts them (left, right, middle).
    out.buttons = static_cast<std::int32_t>(mouse_state().buttons.load() & 0x07);
  }
  return 1;
}

int InputDevice::joystick_count_locked() const {
  int n = 0;
  for (const JoySlot& j : joys_) n += j.present ? 1 : 0;
  return n;
}

int InputDevice::get_joy(std::int32_t number, JoyState& out) {
  out = JoyState{};
  if (number < 0 || number >= kMaxJoysticks) return 0;
  if (!input_focus()) return 0;
  backend_->poll_joysticks();
  std::lock_guard lock(mutex_);
  const JoySlot& j = joys_[number];
  if (!j.present) return 0;
  // The plain back end reads positions 0..65535 against the capabilities'
  // centre and half range; DirectInput scales the raw axis itself.
  constexpr std::int32_t kHalf = 65535 / 2, kCentre = 0 + kHalf;
  for (int a = 0; a < 2; ++a) {
    std::int32_t v =
        direct_input_ ? direct_axis(j.axis[a]) : plain_axis(j.axis[a] + 32768, kCentre, kHalf);
    (a == 0 ? out.x : out.y) = v;
  }
  out.buttons = static_cast<std::int32_t>(j.buttons);
  return 1;
}

int InputDevice::get_point(int thread_slot, PointState* out) {
  graphics::DestRect d = dest_rect();
  MouseState& m = mouse_state();
  Snapshot now;
  for (int i = 0; i < 3; ++i) {
    now.presses[i] = m.presses[i].load();
    now.double_clicks[i] = m.double_clicks[i].load();
  }
  now.wheel = m.wheel.load();
  const std::uint32_t held = m.buttons.load() & 0x07;
  std::lock_guard lock(mutex_);
  Snapshot& snap = snapshots_[std::clamp(thread_slot, 0, kMaxScriptThreads - 1)];
  PointState p;
  if (input_focus()) {
    client_to_screen(d, screen_w_, screen_h_, pointer_x_, pointer_y_, p.x, p.y);
    p.wheel = static_cast<std::int32_t>(static_cast<std::uint32_t>(now.wheel) -
                                        static_cast<std::uint32_t>(snap.wheel));
    std::uint32_t events = held;
    for (int i = 0; i < 3; ++i) {
      if (now.presses[i] != snap.presses[i]) events |= 1u << (16 + i);
      if (now.double_clicks[i] != snap.double_clicks[i]) events |= 1u << (24 + i);
    }
    p.events = static_cast<std::int32_t>(events);
  } else {
    p.x = p.y = -1;
  }
  snap = now;
  if (out) *out = p;
  return 1;
}

int InputDevice::set_cursor(std::int32_t shape) {
  if (shape != 0 && shape != 1) return 0;
  {
    std::lock_guard lock(mutex_);
    cursor_visible_ = shape == 1;
  }
  backend_->show_cursor(shape == 1);
  return 1;
}

int InputDevice::clip_cursor(const graphics::Rect* r) {
  graphics::DestRect d = dest_rect();
  graphics::Rect client;
  const bool confine = r && clip_to_client(d, screen_w_, screen_h_, *r, client);
  {
    std::lock_guard lock(mutex_);
    has_clip_ = confine;
    if (confine) {
      clip_ = client;
      move_pointer(pointer_x_, pointer_y_);  // the cursor is brought inside at once
    }
  }
  backend_->confine_cursor(confine ? &client : nullptr);
  return 1;
}

int InputDevice::set_cursor_pos(std::int32_t x, std::int32_t y) {
  graphics::DestRect d = dest_rect();
  int cx = 0, cy = 0;
  screen_to_client(d, screen_w_, screen_h_, x, y, cx, cy);
  {
    std::lock_guard lock(mutex_);
    move_pointer(cx, cy);
    cx = pointer_x_;
    cy = pointer_y_;
  }
  backend_->warp_cursor(cx, cy);
  return 1;
}

}  // namespace talven::input
