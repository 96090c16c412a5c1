// The message served by the application itself, the main-thread builtins
// while the runtime runs and after it stops, and pausing the game,
// in-process on a headless runtime.
#include <gtest/gtest.h>

#include "base/address_space.h"
#include "app/game.h"
#include "base/config.h"
#include "input/input_state.h"
#include "runtime/game_clock.h"
#include "runtime/builtins.h"
#include "runtime/main_thread.h"
#include "runtime/main_thread_messages.h"
#include "script/vm.h"

namespace {

using namespace talven;

// A builtin called as a script calls it, by name, with its argument words.
std::uint32_t builtin(const char* name, std::initializer_list<std::uint32_t> words) {
  Addr args = script_zalloc(16);
  std::uint32_t i = 0;
  for (std::uint32_t w : words) store32(args + 4 * i++, w);
  const std::uint32_t r = runtime::builtin_table[runtime::builtin_number(name)].handler(args);
  script_free(args);
  return r;
}

std::uint32_t fake_ticks = 1000;
std::uint32_t fake_tick_source() { return fake_ticks; }

class AppMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    config() = Config{};
    Config& c = config();
    c.Width = 64;
    c.Height = 48;
    c.Depth = 24;
    c.HeapSize = 4096;
    input::init_activity_flags();
    ASSERT_TRUE(runtime_start());
  }
  void TearDown() override {
    runtime_stop();
    input::release_activity_flags();
    runtime::set_tick_source(nullptr);
  }
};

TEST_F(AppMessages, QueryAnswersTheFlagAddressesAndTheScreen) {
  Addr words = script_zalloc(28);
  ASSERT_NE(words, 0u);
  EXPECT_EQ(runtime::main_thread_call(runtime::kMsgQuery, words, 0), 0);
  EXPECT_EQ(load32(words).value_or(0), script::vm_stop_flag.address());
  EXPECT_NE(load32(words).value_or(0), 0u);
  EXPECT_EQ(load32(words + 4).value_or(0), input::app_active_address());
  EXPECT_EQ(load32(words + 4 * 4).value_or(0), 64u);
  EXPECT_EQ(load32(words + 5 * 4).value_or(0), 48u);
  EXPECT_EQ(load32(words + 6 * 4).value_or(0), 24u);
  // The published words are the live flags.
  Addr active = load32(words + 4).value_or(0);
  input::set_app_active(false);
  EXPECT_EQ(load32(active).value_or(9), 0u);
  input::set_app_active(true);
  EXPECT_EQ(runtime::main_thread_call(runtime::kMsgQuery, 0, 0), 0);  // null: nothing written
  EXPECT_EQ(runtime::main_thread_call(runtime::kMsgQuery, 8, 0),
            0);  // invalid address: nothing, no crash
  script_free(words);
}

TEST_F(AppMessages, MouseButtonsScreenModeAndEmptyDevices) {
  Addr record = script_alloc(16);
  ASSERT_TRUE(
      write_bytes(record, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 16));
  input::mouse_state().reset();
  input::mouse_state().button_down(input::kMouseLeft, false);
  input::mouse_state().button_down(input::kMouseMiddle, false);
  EXPECT_EQ(builtin("getmouse", {record}), 1u);
  EXPECT_EQ(load32(record).value_or(9), 0u);
  EXPECT_EQ(load32(record + 8).value_or(9), 0u);
  EXPECT_EQ(load32(record + 12).value_or(0), input::kMouseLeft | input::kMouseMiddle);
  EXPECT_EQ(builtin("getmouse", {0}), 0u);
  input::mouse_state().reset();

  Addr fullscreen = script_alloc(16);
  ASSERT_TRUE(write_cstr(fullscreen, "fullscreen", 16));
  EXPECT_EQ(builtin("setsystem", {fullscreen, 1}), 0u);  // no window to switch
  script_free(fullscreen);
  EXPECT_EQ(builtin("snd_play", {3, 0}), 0u);  // an empty slot
  EXPECT_EQ(builtin("getkey", {0}), 0u);

  runtime_stop();  // main-thread calls close with the runtime
  input::mouse_state().button_down(input::kMouseLeft, false);
  config().DirectInput = 0;
  EXPECT_EQ(builtin("getmouse", {record}), 0u);
  input::mouse_state().reset();
  script_free(record);
}

TEST_F(AppMessages, PauseApplicationHoldsTheGameClock) {
  runtime::set_tick_source(fake_tick_source);
  runtime::init_game_clock();
  fake_ticks += 100;
  std::uint32_t before = runtime::game_clock();
  pause_application(false);
  fake_ticks += 5000;  // time away from the game does not count
  EXPECT_EQ(runtime::game_clock(), before);
  pause_application(true);
  fake_ticks += 40;
  EXPECT_EQ(runtime::game_clock(), before + 40);
}

}  // namespace
