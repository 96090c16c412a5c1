// SDL's virtual joystick read back through getjoy in both back ends, and
// hot-plugging: a joystick that goes away empties its slot, one that comes
// back takes the first free slot.
#include <gtest/gtest.h>
#include <SDL.h>

#include <memory>

#include "base/config.h"
#include "input/input_state.h"
#include "input/sdl_input.h"

namespace {

using namespace talven;
using namespace talven::input;

struct Rig {
  explicit Rig(bool direct) {
    auto b = std::make_unique<SdlInputBackend>(false);
    backend = b.get();
    device = std::make_unique<InputDevice>(std::move(b), direct, 640, 480);
    backend->attach(device.get());
  }
  SdlInputBackend* backend;
  std::unique_ptr<InputDevice> device;
};

class VirtualJoystick : public ::testing::Test {
 protected:
  void SetUp() override {
    config() = Config{};
    input::set_input_focus(true);
    SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0");
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) GTEST_SKIP() << SDL_GetError();
    if (SDL_NumJoysticks() != 0) GTEST_SKIP() << "a real joystick is attached";
    index_ = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 32, 0);
    ASSERT_GE(index_, 0) << SDL_GetError();
    stick_ = SDL_JoystickOpen(index_);  // the handle the test moves it through
    ASSERT_NE(stick_, nullptr);
  }
  void TearDown() override {
    if (stick_) SDL_JoystickClose(stick_);
    if (index_ >= 0) SDL_JoystickDetachVirtual(index_);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  }
  void move(int x, int y, std::initializer_list<int> down) {
    SDL_JoystickSetVirtualAxis(stick_, 0, static_cast<Sint16>(x));
    SDL_JoystickSetVirtualAxis(stick_, 1, static_cast<Sint16>(y));
    for (int b = 0; b < 32; ++b) SDL_JoystickSetVirtualButton(stick_, b, SDL_RELEASED);
    for (int b : down) SDL_JoystickSetVirtualButton(stick_, b, SDL_PRESSED);
  }
  int index_ = -1;
  SDL_Joystick* stick_ = nullptr;
};

TEST_F(VirtualJoystick, ReadBackWithEachBackEndsScaling) {
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "DirectInput" : "plain");
    Rig rig(direct);
    JoyState j;
    move(32767, -32768, {0, 31});
    ASSERT_EQ(rig.device->get_joy(0, j), 1);
    EXPECT_EQ(j.x, 1000);
    EXPECT_EQ(j.y, -1000);
    EXPECT_EQ(static_cast<std::uint32_t>(j.buttons), 0x80000001u);
    move(24576, 0, {});
    ASSERT_EQ(rig.device->get_joy(0, j), 1);
    EXPECT_EQ(j.x, 500);
    EXPECT_EQ(j.y, 0);
    EXPECT_EQ(j.buttons, 0);
    move(-8000, 100, {5});
    rig.device->get_joy(0, j);
    EXPECT_EQ(j.x, 0);  // inside the dead zone of half the travel
    EXPECT_EQ(j.buttons, 1 << 5);
    EXPECT_EQ(rig.device->get_joy(1, j), 0);
  }
}

TEST_F(VirtualJoystick, UnpluggedJoysticksLeaveTheirSlotAndNewOnesTakeIt) {
  Rig rig(false);
  JoyState j;
  ASSERT_EQ(rig.device->get_joy(0, j), 1);
  SDL_JoystickClose(stick_);
  stick_ = nullptr;
  SDL_JoystickDetachVirtual(index_);
  index_ = -1;
  EXPECT_EQ(rig.device->get_joy(0, j), 0);
  EXPECT_EQ(j.x, 0);

  index_ = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 32, 0);
  ASSERT_GE(index_, 0);
  stick_ = SDL_JoystickOpen(index_);
  move(-32768, 0, {2});
  ASSERT_EQ(rig.device->get_joy(0, j), 1);
  EXPECT_EQ(j.x, -1000);
  EXPECT_EQ(j.buttons, 1 << 2);
}

}  // namespace
