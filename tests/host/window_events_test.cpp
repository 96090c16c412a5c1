// The SDL main window driven by synthetic events. Without a display the
// window lives in SDL's offscreen video driver, which handles the same
// events.
#include <gtest/gtest.h>
#include <SDL.h>

#include <cstdlib>

#include "base/config.h"
#include "base/debug_output.h"
#include "input/input_state.h"
#include "host/window.h"
#include "support/env.h"

namespace {

using namespace talven;
using namespace talven::host;
using namespace talven::input;

class WindowEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("SDL_VIDEODRIVER"))
      talven::test::set_env("SDL_VIDEODRIVER", "offscreen");
    if (!init_video()) GTEST_SKIP() << "no video driver";
    config() = Config{};
    Config& c = config();
    c.Width = 320;
    c.Height = 180;
    c.Resize = 1;
    c.DebugMode = 1;
    c.Title = "events";
    debug_output_create();
    hooks_.pause_application = [this](bool active) { pauses_.push_back(active); };
    hooks_.shut_down = [this] { ++shut_downs_; };
    ASSERT_TRUE(create_main_window(hooks_));
    pump(5);
  }
  void TearDown() override {
    destroy_main_window();
    debug_output_destroy();
    quit_video();
  }
  void pump(int turns) {
    for (int i = 0; i < turns; ++i) pump_window_events(5);
  }
  std::uint32_t id() const { return SDL_GetWindowID(main_sdl_window()); }
  void push_key(SDL_EventType type, SDL_Keycode key, Uint16 mod = 0, std::uint32_t window = 0) {
    SDL_Event e{};
    e.type = type;
    e.key.windowID = window ? window : id();
    e.key.keysym.sym = key;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
  }
  void push_focus(bool gained) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id();
    e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
    SDL_PushEvent(&e);
  }

  WindowHooks hooks_;
  std::vector<bool> pauses_;
  int shut_downs_ = 0;
};

TEST_F(WindowEvents, TypedCharactersAndMouseButtonsReachTheInputState) {
  char_ring().clear();
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  e.text.windowID = id();
  std::strcpy(e.text.text, "a\xE3\x81\x82");  // "a" and hiragana a: CP932 82 A0
  SDL_PushEvent(&e);
  push_key(SDL_KEYDOWN, SDLK_RETURN);
  push_key(SDL_KEYDOWN, SDLK_c, KMOD_LCTRL);
  pump(2);
  EXPECT_EQ(char_ring().pop(), 'a');
  EXPECT_EQ(char_ring().pop(), 0x82);
  EXPECT_EQ(char_ring().pop(), 0xA0);
  EXPECT_EQ(char_ring().pop(), '\r');
  EXPECT_EQ(char_ring().pop(), 3);
  EXPECT_EQ(char_ring().pop(), -1);

  SDL_Event b{};
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.windowID = id();
  b.button.button = SDL_BUTTON_RIGHT;
  b.button.clicks = 1;
  SDL_PushEvent(&b);
  b.type = SDL_MOUSEBUTTONUP;
  SDL_PushEvent(&b);
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.clicks = 2;  // the second click of a pair
  SDL_PushEvent(&b);
  SDL_Event w{};
  w.type = SDL_MOUSEWHEEL;
  w.wheel.windowID = id();
  w.wheel.y = -2;
  SDL_PushEvent(&w);
  pump(2);
  EXPECT_EQ(mouse_state().presses[1].load(), 2u);
  EXPECT_EQ(mouse_state().double_clicks[1].load(), 1u);
  EXPECT_EQ(mouse_state().buttons.load(), kMouseRight);
  EXPECT_EQ(mouse_state().wheel.load(), -240);
}

TEST_F(WindowEvents, F8TogglesTheDebugOutputFromEitherWindow) {
  EXPECT_FALSE(debug_output_visible());
  push_key(SDL_KEYDOWN, SDLK_F8);
  pump(2);
  EXPECT_TRUE(debug_output_visible());
  // From the debug window itself (the only other window of ours).
  SDL_Window* dbg = nullptr;
  for (std::uint32_t i = 1; i < 16 && !dbg; ++i)
    if (SDL_Window* w = SDL_GetWindowFromID(i); w && w != main_sdl_window()) dbg = w;
  ASSERT_NE(dbg, nullptr);
  EXPECT_STREQ(SDL_GetWindowTitle(dbg), "Debug Output");
  push_key(SDL_KEYDOWN, SDLK_F8, 0, SDL_GetWindowID(dbg));
  pump(2);
  EXPECT_FALSE(debug_output_visible());
  // Its close box hides it; lines are kept.
  debug_output_append("line");
  push_key(SDL_KEYDOWN, SDLK_F8);
  pump(2);
  SDL_Event c{};
  c.type = SDL_WINDOWEVENT;
  c.window.windowID = SDL_GetWindowID(dbg);
  c.window.event = SDL_WINDOWEVENT_CLOSE;
  SDL_PushEvent(&c);
  pump(2);
  EXPECT_FALSE(debug_output_visible());
  EXPECT_EQ(debug_output_count(), 1u);
  EXPECT_EQ(shut_downs_, 0);  // not the main window's close
}

TEST_F(WindowEvents, ActivityPausesOnlyWithGlobalFocusZero) {
  config().GlobalFocus = 1;
  push_focus(true);
  pump(1);
  push_focus(false);
  pump(1);
  EXPECT_TRUE(pauses_.empty());
  EXPECT_TRUE(app_active());
  EXPECT_FALSE(input_focus());

  config().GlobalFocus = 0;
  push_focus(true);
  pump(1);
  EXPECT_TRUE(pauses_.empty());  // already active
  EXPECT_TRUE(input_focus());
  push_focus(false);
  pump(1);
  ASSERT_EQ(pauses_.size(), 1u);
  EXPECT_FALSE(pauses_[0]);
  EXPECT_FALSE(app_active());
  push_focus(true);
  pump(1);
  ASSERT_EQ(pauses_.size(), 2u);
  EXPECT_TRUE(pauses_[1]);
  EXPECT_TRUE(app_active());
}

TEST_F(WindowEvents, ResizeKeepsTheRatioAndFullScreenRoundTrips) {
  // The right edge dragged. A size set by the program brings no resize
  // event of its own, so the one a drag brings is added.
  SDL_SetWindowSize(main_sdl_window(), 400, 180);
  SDL_Event r{};
  r.type = SDL_WINDOWEVENT;
  r.window.windowID = id();
  r.window.event = SDL_WINDOWEVENT_RESIZED;
  r.window.data1 = 400;
  r.window.data2 = 180;
  SDL_PushEvent(&r);
  int w = 0, h = 0;
  for (int i = 0; i < 50 && h != 225; ++i) {
    pump(1);
    SDL_GetWindowSize(main_sdl_window(), &w, &h);
  }
  EXPECT_EQ(w, 400);
  EXPECT_EQ(h, 225);
  pump(5);
  EXPECT_EQ(config().WindowWidth, 400);
  EXPECT_EQ(config().WindowHeight, 225);

  EXPECT_EQ(switch_screen_mode(true), 1);
  EXPECT_TRUE(is_full_screen());
  pump(5);
  EXPECT_EQ(config().WindowWidth, 400);         // full screen does not touch the keys
  push_key(SDL_KEYUP, SDLK_RETURN, KMOD_LALT);  // Alt+Enter goes back
  pump(5);
  EXPECT_FALSE(is_full_screen());
}

TEST_F(WindowEvents, CloseWithoutConfirmationShutsDownOnce) {
  config().Confirmation = 0;
  post_close_request();
  post_close_request();
  bool open = true;
  for (int i = 0; i < 10 && open; ++i) open = pump_window_events(5);
  EXPECT_FALSE(open);
  EXPECT_EQ(shut_downs_, 1);
  EXPECT_FALSE(main_window_exists());
  EXPECT_EQ(show_error_box("after the window"), 1);  // no window: answered at once
}

}  // namespace
