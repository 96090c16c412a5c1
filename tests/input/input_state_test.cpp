// Raw input state: the 512-byte character ring, mouse counters and capture,
// and the published activity flag.
#include <gtest/gtest.h>

#include <thread>

#include "input/input_state.h"

namespace {

using namespace talven;
using namespace talven::input;

TEST(CharRing, HoldsAtMost511AndDropsTheOldest) {
  CharRing ring;
  EXPECT_EQ(ring.pop(), -1);
  for (int i = 0; i < 511; ++i) ring.push(static_cast<std::uint8_t>(i));
  EXPECT_EQ(ring.pending(), 511);
  ring.push(0xAA);  // the 512th unread byte drops the first one
  EXPECT_EQ(ring.pending(), 511);
  EXPECT_EQ(ring.pop(), 1);
  for (int i = 2; i < 511; ++i) ASSERT_EQ(ring.pop(), i & 0xFF);
  EXPECT_EQ(ring.pop(), 0xAA);
  EXPECT_EQ(ring.pop(), -1);
  EXPECT_EQ(ring.pending(), 0);

  // Indexes wrap around the end of the buffer.
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 300; ++i) ring.push(static_cast<std::uint8_t>(i * 7));
    for (int i = 0; i < 300; ++i) ASSERT_EQ(ring.pop(), (i * 7) & 0xFF);
  }
  ring.push(1);
  ring.clear();
  EXPECT_EQ(ring.pop(), -1);
}

TEST(CharRing, WriterAndReaderOnTwoThreadsLoseNothingBeyondTheDrops) {
  CharRing ring;
  constexpr int kCount = 20000;
  std::thread writer([&] {
    for (int i = 0; i < kCount; ++i) {
      while (ring.pending() >= 500) std::this_thread::yield();
      ring.push(static_cast<std::uint8_t>(i));
    }
  });
  int got = 0;
  while (got < kCount) {
    int b = ring.pop();
    if (b < 0) continue;
    ASSERT_EQ(b, got & 0xFF);
    ++got;
  }
  writer.join();
}

TEST(MouseState, PressesDoubleClicksWheelAndCapture) {
  MouseState m;
  EXPECT_TRUE(m.button_down(kMouseLeft, false));    // first press captures
  EXPECT_FALSE(m.button_down(kMouseRight, false));  // already captured
  EXPECT_EQ(m.buttons.load(), kMouseLeft | kMouseRight);
  EXPECT_FALSE(m.button_up(kMouseLeft));  // right still down
  EXPECT_TRUE(m.button_up(kMouseRight));  // last one up releases
  EXPECT_EQ(m.buttons.load(), 0u);
  EXPECT_FALSE(m.button_up(kMouseRight));  // no capture to release

  EXPECT_TRUE(m.button_down(kMouseLeft, true));  // a double click is a press too
  m.button_up(kMouseLeft);
  EXPECT_EQ(m.presses[0].load(), 2u);
  EXPECT_EQ(m.double_clicks[0].load(), 1u);
  EXPECT_EQ(m.presses[1].load(), 1u);
  EXPECT_EQ(m.double_clicks[1].load(), 0u);

  m.button_down(kMouseMiddle, false);
  EXPECT_EQ(m.presses[2].load(), 1u);
  EXPECT_FALSE(m.button_down(8, false));  // not a button we track
  EXPECT_EQ(m.buttons.load(), kMouseMiddle);

  m.add_wheel(120);
  m.add_wheel(-360);
  EXPECT_EQ(m.wheel.load(), -240);
  m.reset();
  EXPECT_EQ(m.wheel.load(), 0);
  EXPECT_EQ(m.presses[2].load(), 0u);
  EXPECT_TRUE(m.button_down(kMouseLeft, false));  // capture was forgotten
}

TEST(ActivityFlags, PublishedWordFollowsTheFlag) {
  set_app_active(false);  // before the word exists
  EXPECT_FALSE(app_active());
  init_activity_flags();
  Addr a = app_active_address();
  ASSERT_NE(a, 0u);
  EXPECT_TRUE(app_active());
  EXPECT_TRUE(input_focus());
  EXPECT_EQ(load32(a).value_or(99), 1u);
  set_app_active(false);
  EXPECT_EQ(load32(a).value_or(99), 0u);
  store32(a, 1);  // scripts see the same word
  EXPECT_TRUE(app_active());
  set_input_focus(false);
  EXPECT_FALSE(input_focus());
  init_activity_flags();  // again: same word, flags back to 1
  EXPECT_EQ(app_active_address(), a);
  EXPECT_TRUE(input_focus());
  release_activity_flags();
  EXPECT_EQ(app_active_address(), 0u);
  set_app_active(true);
  EXPECT_TRUE(app_active());
}

}  // namespace
