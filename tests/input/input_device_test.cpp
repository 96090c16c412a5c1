// The input device driven through its events, without a window: key state
// numbering in both back ends, the pointer and its conversions, click and
// wheel snapshots per thread, the cursor confinement, joysticks and their
// scaling, the key buffer.
#include <gtest/gtest.h>

#include <SDL_scancode.h>

#include <cstring>
#include <memory>

#include "base/config.h"
#include "input/input_state.h"
#include "input/input_builtins.h"
#include "input/input_device.h"
#include "input/keymap.h"

namespace {

using namespace talven;
using namespace talven::input;

// The headless back end with a client area of our choosing.
class SizedBackend : public NullInputBackend {
 public:
  SizedBackend(int w, int h) : w_(w), h_(h) {}
  void client_size(int& w, int& h, bool& full) override {
    w = w_;
    h = h_;
    full = false;
  }
  void confine_cursor(const graphics::Rect* r) override {
    confined = r != nullptr;
    if (r) last = *r;
  }
  bool confined = false;
  graphics::Rect last;

 private:
  int w_, h_;
};

InputEvent key(const char* name, bool down) {
  const KeyRow* row = key_by_name(name);
  EXPECT_NE(row, nullptr) << name;
  InputEvent e;
  e.type = down ? InputEvent::KeyDown : InputEvent::KeyUp;
  e.scancode = row ? row->scancode : 0;
  e.vk = row ? row->vk : 0;
  e.dik = row ? row->dik : 0;
  return e;
}

InputEvent button(int b, bool down, int clicks = 1) {
  InputEvent e;
  e.type = down ? InputEvent::ButtonDown : InputEvent::ButtonUp;
  e.button = b;
  e.clicks = clicks;
  return e;
}

class InputDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config() = Config{};
    config().Width = 640;
    config().Height = 480;
    input::mouse_state().reset();
    input::char_ring().clear();
    input::set_input_focus(true);
  }
  void TearDown() override { input::set_input_focus(true); }
  std::unique_ptr<InputDevice> make(bool direct, int cw = 640, int ch = 480) {
    auto b = std::make_unique<SizedBackend>(cw, ch);
    backend = b.get();
    return std::make_unique<InputDevice>(std::move(b), direct, 640, 480);
  }
  SizedBackend* backend = nullptr;
};

TEST_F(InputDeviceTest, TheAKeyFillsItsEntryInEitherNumbering) {
  std::uint8_t state[256];
  auto plain = make(false);
  plain->apply(key("A", true), true);
  ASSERT_EQ(plain->get_key(state), 1);
  EXPECT_EQ(state[0x41], 0x81);  // down, toggled by the press
  EXPECT_EQ(state[0x1E], 0);
  plain->apply(key("A", false), true);
  plain->get_key(state);
  EXPECT_EQ(state[0x41], 0x01);  // up, the toggle stays
  plain->apply(key("a", true), true);
  plain->get_key(state);
  EXPECT_EQ(state[0x41], 0x80);  // the second press flips the toggle back

  auto direct = make(true);
  direct->apply(key("A", true), true);
  ASSERT_EQ(direct->get_key(state), 1);
  EXPECT_EQ(state[0x1E], 0x80);
  EXPECT_EQ(state[0x41], 0);
  direct->apply(key("A", false), true);
  direct->get_key(state);
  EXPECT_EQ(state[0x1E], 0);

  // Either shift key sets the shared shift entry until both are up.
  plain->apply(key("LShift", true), true);
  plain->apply(key("RShift", true), true);
  plain->apply(key("LShift", false), true);
  plain->get_key(state);
  EXPECT_EQ(state[0x10] & 0x80, 0x80);
  EXPECT_EQ(state[0xA0] & 0x80, 0);
  EXPECT_EQ(state[0xA1] & 0x80, 0x80);
  plain->apply(key("RShift", false), true);
  plain->get_key(state);
  EXPECT_EQ(state[0x10] & 0x80, 0);

  // Without the input focus: zeros and 0.
  input::set_input_focus(false);
  plain->apply(key("B", true), true);
  std::memset(state, 0xEE, sizeof state);
  EXPECT_EQ(plain->get_key(state), 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(state[i], 0) << i;
}

TEST_F(InputDeviceTest, KeysHeldWhileAwayAreReleasedOnActivation) {
  auto d = make(true);
  std::uint8_t state[256];
  d->apply(key("Space", true), true);
  d->activity(false);
  d->activity(true);
  d->get_key(state);
  EXPECT_EQ(state[0x39], 0);
}

TEST_F(InputDeviceTest, KeyTableCoversBothKeyboardsAndLayouts) {
  // Function keys F1-F24 are contiguous virtual keys.
  for (int n = 1; n <= 24; ++n) {
    const KeyRow* r = key_by_name("F" + std::to_string(n));
    ASSERT_NE(r, nullptr) << n;
    EXPECT_EQ(r->vk, 0x6F + n) << n;
    EXPECT_NE(r->dik, 0) << n;
  }
  EXPECT_EQ(key_by_name("F11")->dik, 0x57);
  EXPECT_EQ(key_by_name("KP_7")->vk, 0x67);
  EXPECT_EQ(key_by_name("KP_Enter")->dik, 0x9C);
  EXPECT_EQ(key_by_name("Return")->dik, 0x1C);
  EXPECT_EQ(key_by_name("Henkan")->dik, 0x79);
  EXPECT_EQ(key_by_name("Muhenkan")->dik, 0x7B);
  EXPECT_EQ(key_by_name("Kana")->dik, 0x70);
  EXPECT_EQ(key_by_name("Yen")->dik, 0x7D);
  EXPECT_EQ(key_by_name("RAlt")->dik, 0xB8);
  EXPECT_EQ(key_by_name("nosuchkey"), nullptr);
  // Letters follow the typed character (a French layout types 'a' on Q).
  EXPECT_EQ(vk_of(SDL_SCANCODE_Q, 'a'), 0x41);
  EXPECT_EQ(dik_of(SDL_SCANCODE_Q), 0x10);
  // Keypad digits keep their own codes even when they type digits.
  EXPECT_EQ(vk_of(SDL_SCANCODE_KP_1, '1'), 0x61);
  // Punctuation follows the position of the layout in use.
  EXPECT_EQ(vk_of(SDL_SCANCODE_LEFTBRACKET, '['), 0xDB);
  use_japanese_layout(true);
  EXPECT_EQ(vk_of(SDL_SCANCODE_LEFTBRACKET, '@'), 0xC0);
  EXPECT_EQ(dik_of(SDL_SCANCODE_APOSTROPHE), 0x92);
  use_japanese_layout(false);
  EXPECT_EQ(dik_of(SDL_SCANCODE_APOSTROPHE), 0x28);
  // Control characters of keys, as typing gives them.
  EXPECT_EQ(control_char_for_vk(0x0D, false, false), '\r');
  EXPECT_EQ(control_char_for_vk('C', true, false), 3);
  EXPECT_EQ(control_char_for_vk('C', false, false), -1);
  EXPECT_EQ(control_char_for_vk(0x0D, false, true), -1);
}

TEST_F(InputDeviceTest, ClientPointsConvertThroughThePresentedRectangle) {
  graphics::DestRect d{0, 0, 1280, 960};
  int x = 0, y = 0;
  client_to_screen(d, 640, 480, 640, 479, x, y);
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, 239);  // 479 * 480 / 960, truncated
  int cx = 0, cy = 0;
  screen_to_client(d, 640, 480, 320, 240, cx, cy);
  EXPECT_EQ(cx, 640);
  EXPECT_EQ(cy, 480);
  // Letterboxed: offsets are taken off first; points left of it are negative.
  graphics::DestRect lb{100, 0, 1280, 960};
  client_to_screen(lb, 640, 480, 50, 0, x, y);
  EXPECT_EQ(x, -25);
  // A degenerate rectangle never divides by zero.
  client_to_screen(graphics::DestRect{5, 5, 0, 0}, 640, 480, 10, 10, x, y);
  EXPECT_EQ(x, 5);

  // The device reads the pointer through its back end's client size.
  auto dev = make(false, 1280, 960);
  InputEvent m;
  m.type = InputEvent::Motion;
  m.x = 640;
  m.y = 100;
  dev->apply(m, true);
  PointState p;
  dev->get_point(0, &p);
  EXPECT_EQ(p.x, 320);
  EXPECT_EQ(p.y, 50);
  dev->set_cursor_pos(10, 20);
  dev->get_point(0, &p);
  EXPECT_EQ(p.x, 10);
  EXPECT_EQ(p.y, 20);
}

TEST_F(InputDeviceTest, EveryThreadSeesAClickOnceAndFocusLossClearsPending) {
  auto d = make(false);
  d->apply(button(1, true), false);
  PointState a, b, again;
  d->get_point(0, &a);
  d->get_point(1, &b);
  EXPECT_EQ(a.events, (1 << 16) | 1);  // pressed since the last look, and held
  EXPECT_EQ(b.events, (1 << 16) | 1);
  d->get_point(0, &again);
  EXPECT_EQ(again.events, 1);
  d->apply(button(1, false), false);
  d->apply(button(1, true, 2), false);  // a double click counts as a press too
  d->apply(button(1, false), false);
  d->get_point(0, &a);
  EXPECT_EQ(a.events, (1 << 16) | (1 << 24));

  InputEvent w;
  w.type = InputEvent::Wheel;
  w.wheel = -240;
  d->apply(w, false);
  d->apply(button(2, true), false);
  d->apply(button(2, false), false);
  input::set_input_focus(false);
  d->get_point(1, &b);
  EXPECT_EQ(b.x, -1);
  EXPECT_EQ(b.y, -1);
  EXPECT_EQ(b.wheel, 0);
  EXPECT_EQ(b.events, 0);
  input::set_input_focus(true);
  d->get_point(1, &b);
  EXPECT_EQ(b.events, 0);  // what happened before was taken by the look without focus
  EXPECT_EQ(b.wheel, 0);
  d->get_point(0, &a);
  EXPECT_EQ(a.wheel, -240);
  EXPECT_EQ(a.events, 1 << 17);
  EXPECT_EQ(d->get_point(5, nullptr), 1);  // no record: the snapshot still moves
  d->get_point(99, &a);                    // out-of-range slots share the last one, never overrun
}

TEST_F(InputDeviceTest, MouseReadsRelativeMovementOnlyWithDirectInput) {
  auto direct = make(true);
  InputEvent m;
  m.type = InputEvent::Motion;
  m.x = 10;
  m.dx = 10;
  m.dy = -4;
  direct->apply(m, true);
  direct->apply(m, true);
  InputEvent w;
  w.type = InputEvent::Wheel;
  w.wheel = 120;
  direct->apply(w, true);
  direct->apply(button(4, true), true);
  MouseRecord r;
  ASSERT_EQ(direct->get_mouse(r), 1);
  EXPECT_EQ(r.dx, 20);
  EXPECT_EQ(r.dy, -8);
  EXPECT_EQ(r.dz, 120);
  EXPECT_EQ(r.buttons, 8);  // the fourth button
  direct->get_mouse(r);
  EXPECT_EQ(r.dx, 0);  // since the previous read
  EXPECT_EQ(r.dz, 0);

  auto plain = make(false);
  plain->apply(m, true);
  plain->apply(button(3, true), false);
  plain->apply(button(4, true), false);
  ASSERT_EQ(plain->get_mouse(r), 1);
  EXPECT_EQ(r.dx, 0);
  EXPECT_EQ(r.buttons, 4);  // middle; the fourth button is not reported
  std::uint8_t keys[256];
  plain->get_key(keys);
  EXPECT_EQ(keys[0x04] & 0x80, 0x80);  // the middle button in the key state
  input::set_input_focus(false);
  EXPECT_EQ(plain->get_mouse(r), 0);
  EXPECT_EQ(r.buttons, 0);
}

TEST_F(InputDeviceTest, CursorClipConfinesAndAClipOutsideTheScreenReleases) {
  auto d = make(false, 1280, 960);
  graphics::Rect r{100, 100, 200, 150};
  d->clip_cursor(&r);
  ASSERT_TRUE(backend->confined);
  EXPECT_EQ(backend->last.left, 200);
  EXPECT_EQ(backend->last.top, 200);
  EXPECT_EQ(backend->last.right, 400);
  EXPECT_EQ(backend->last.bottom, 300);
  PointState p;
  d->get_point(0, &p);
  EXPECT_EQ(p.x, 100);  // the pointer was brought inside
  EXPECT_EQ(p.y, 100);
  d->set_cursor_pos(600, 400);
  d->get_point(0, &p);
  EXPECT_EQ(p.x, 199);  // right and bottom are exclusive
  EXPECT_EQ(p.y, 149);

  graphics::Rect outside{700, 500, 800, 600};
  d->clip_cursor(&outside);
  EXPECT_FALSE(backend->confined);
  EXPECT_FALSE(d->has_clip());
  d->set_cursor_pos(600, 400);
  d->get_point(0, &p);
  EXPECT_EQ(p.x, 600);
  d->clip_cursor(&r);
  d->clip_cursor(nullptr);
  EXPECT_FALSE(backend->confined);

  EXPECT_EQ(d->set_cursor(0), 1);
  EXPECT_FALSE(d->cursor_visible());
  EXPECT_EQ(d->set_cursor(2), 0);
  EXPECT_FALSE(d->cursor_visible());  // nothing changes
  EXPECT_EQ(d->set_cursor(1), 1);
  EXPECT_TRUE(d->cursor_visible());
}

TEST_F(InputDeviceTest, AxesScaleAsEachBackEndDoes) {
  constexpr int half = 32767, centre = 32767;
  EXPECT_EQ(plain_axis(0, centre, half), -1000);
  EXPECT_EQ(plain_axis(65535, centre, half), 1000);
  EXPECT_EQ(plain_axis(32768, centre, half), 0);
  EXPECT_EQ(plain_axis(centre + half / 2, centre, half), 0);      // edge of the dead zone
  EXPECT_EQ(plain_axis(centre + half / 2 + 1, centre, half), 0);  // 1000 / 16383 truncates
  EXPECT_EQ(plain_axis(57344, centre, half), 500);
  EXPECT_EQ(plain_axis(8191, centre, half), -500);
  // A half range below 2: full deflection either side of the centre.
  EXPECT_EQ(plain_axis(0, 0, 1), 0);
  EXPECT_EQ(plain_axis(1, 0, 1), 1000);
  EXPECT_EQ(plain_axis(-1, 0, 1), -1000);

  EXPECT_EQ(direct_axis(-32768), -1000);
  EXPECT_EQ(direct_axis(32767), 1000);
  EXPECT_EQ(direct_axis(0), 0);
  EXPECT_EQ(direct_axis(16000), 0);  // within half the travel
  EXPECT_EQ(direct_axis(24576), 500);
  EXPECT_EQ(direct_axis(-24576), -500);
}

TEST_F(InputDeviceTest, JoysticksOutOfRangeOrAbsentGiveZeroedRecords) {
  auto d = make(false);
  JoyState j{7, 7, 7};
  EXPECT_EQ(d->get_joy(4, j), 0);
  EXPECT_EQ(j.x, 0);
  EXPECT_EQ(j.y, 0);
  EXPECT_EQ(j.buttons, 0);
  j = {7, 7, 7};
  EXPECT_EQ(d->get_joy(-1, j), 0);
  EXPECT_EQ(j.buttons, 0);
  EXPECT_EQ(d->get_joy(0, j), 0);  // none attached

  InputEvent e;
  e.type = InputEvent::JoyAxis;  // for a joystick that is not there: dropped
  e.joy = 1;
  e.x = 32767;
  d->apply(e, false);
  e.type = InputEvent::JoyAdded;
  d->apply(e, false);
  e.type = InputEvent::JoyAxis;
  e.button = 0;
  e.x = 32767;
  d->apply(e, false);
  e.button = 1;
  e.x = -32768;
  d->apply(e, false);
  e.type = InputEvent::JoyButtonDown;
  e.button = 31;
  d->apply(e, false);
  e.button = 40;  // no such button: dropped
  d->apply(e, false);
  ASSERT_EQ(d->get_joy(1, j), 1);
  EXPECT_EQ(j.x, 1000);
  EXPECT_EQ(j.y, -1000);
  EXPECT_EQ(static_cast<std::uint32_t>(j.buttons), 0x80000000u);
  input::set_input_focus(false);
  EXPECT_EQ(d->get_joy(1, j), 0);
  EXPECT_EQ(j.x, 0);
  input::set_input_focus(true);
  e.type = InputEvent::JoyRemoved;
  d->apply(e, false);
  EXPECT_EQ(d->get_joy(1, j), 0);
}

TEST_F(InputDeviceTest, ReplayedTypingFillsTheKeyBufferAsTheWindowDoes) {
  auto d = make(false);
  InputEvent t;
  t.type = InputEvent::Text;
  t.text = "x";
  for (int i = 0; i < 600; ++i) d->apply(t, false);
  EXPECT_EQ(input::char_ring().pending(), 511);
  int n = 0;
  while (input::bi_key_get() != 0) ++n;
  EXPECT_EQ(n, 511);

  t.text = "\xE3\x81\x82";  // a kana: two bytes in CP932 (0x82 0xA0)
  d->apply(t, false);
  EXPECT_EQ(input::bi_key_get(), -126);
  EXPECT_EQ(input::bi_key_get(), -96);
  EXPECT_EQ(input::bi_key_get(), 0);

  // Return and Ctrl+C type their control characters; text from the window
  // (already counted there) is not typed twice.
  d->apply(key("Return", true), false);
  d->apply(key("LCtrl", true), false);
  d->apply(key("C", true), false);
  t.text = "z";
  d->apply(t, true);
  EXPECT_EQ(input::bi_key_get(), 13);
  EXPECT_EQ(input::bi_key_get(), 3);
  EXPECT_EQ(input::bi_key_get(), 0);
  d->apply(t, false);
  EXPECT_EQ(input::bi_key_init(), 1);
  EXPECT_EQ(input::bi_key_get(), 0);
}

}  // namespace
