#include "input/input_state.h"

namespace talven::input {

void CharRing::push(std::uint8_t byte) {
  std::lock_guard lock(mutex_);
  bytes_[write_] = byte;
  write_ = (write_ + 1) % kCharRingSize;
  if (write_ == read_) read_ = (read_ + 1) % kCharRingSize;
}

int CharRing::pop() {
  std::lock_guard lock(mutex_);
  if (read_ == write_) return -1;
  int b = bytes_[read_];
  read_ = (read_ + 1) % kCharRingSize;
  return b;
}

int CharRing::pending() const {
  std::lock_guard lock(mutex_);
  return (write_ - read_ + kCharRingSize) % kCharRingSize;
}

void CharRing::clear() {
  std::lock_guard lock(mutex_);
  write_ = read_ = 0;
}

CharRing& char_ring() {
  static CharRing ring;
  return ring;
}

namespace {

int button_index(std::uint32_t button) {
  switch (button) {
    case kMouseLeft: return 0;
    case kMouseRight: return 1;
    case kMouseMiddle: return 2;
    default: return -1;
  }
}

}  // namespace

void MouseState::press(std::uint32_t button, bool double_click) {
  int i = button_index(button);
  if (i < 0) return;
  if (double_click) double_clicks[i].fetch_add(1);
  presses[i].fetch_add(1);
  buttons.fetch_or(button);
}

void MouseState::release(std::uint32_t button) {
  if (button_index(button) >= 0) buttons.fetch_and(~button);
}

bool MouseState::button_down(std::uint32_t button, bool double_click) {
  if (button_index(button) < 0) return false;
  press(button, double_click);
  if (captured) return false;
  captured = true;
  return true;
}

bool MouseState::button_up(std::uint32_t button) {
  if (button_index(button) < 0) return false;
  std::uint32_t left = buttons.fetch_and(~button) & ~button;
  if (captured && left == 0) {
    captured = false;
    return true;
  }
  return false;
}

void MouseState::reset() {
  buttons = 0;
  for (int i = 0; i < 3; ++i) {
    presses[i] = 0;
    double_clicks[i] = 0;
  }
  wheel = 0;
  captured = false;
}

MouseState& mouse_state() {
  static MouseState state;
  return state;
}

namespace {

// Used until (and if) the published word exists.
std::atomic<std::uint32_t> local_app_active{1};
std::atomic<Addr> app_active_word{0};
std::atomic<bool> focus{true};

std::uint32_t* word_ptr() {
  Addr a = app_active_word.load();
  return a ? reinterpret_cast<std::uint32_t*>(span(a, 4)) : nullptr;
}

}  // namespace

void init_activity_flags() {
  if (!app_active_word.load()) app_active_word = script_zalloc(4);
  set_app_active(true);
  set_input_focus(true);
}

void release_activity_flags() {
  Addr a = app_active_word.exchange(0);
  if (a) script_free(a);
}

bool app_active() {
  if (std::uint32_t* w = word_ptr()) return std::atomic_ref<std::uint32_t>(*w).load() != 0;
  return local_app_active.load() != 0;
}

void set_app_active(bool on) {
  local_app_active = on ? 1 : 0;
  if (std::uint32_t* w = word_ptr()) std::atomic_ref<std::uint32_t>(*w).store(on ? 1 : 0);
}

Addr app_active_address() { return app_active_word.load(); }

bool input_focus() { return focus.load(); }
void set_input_focus(bool on) { focus = on; }

}  // namespace talven::input
