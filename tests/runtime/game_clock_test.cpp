#include "runtime/game_clock.h"

#include <gtest/gtest.h>

namespace talven::runtime {
namespace {

std::uint32_t fake_now = 0;
std::uint32_t fake_tick() { return fake_now; }

class GameClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_now = 5000;
    set_tick_source(fake_tick);
    init_game_clock();
  }
  void TearDown() override { set_tick_source(nullptr); }
};

TEST_F(GameClockTest, CountersMeasureGameTimeAndIgnoreBadNumbers) {
  EXPECT_EQ(setcount(3, 100), 1);
  EXPECT_EQ(getcount(3), 100);
  fake_now += 250;
  EXPECT_EQ(getcount(3), 350);
  EXPECT_EQ(getcount(256), 0);
  EXPECT_EQ(setcount(-1, 0), 0);
  EXPECT_EQ(setcount(256, 0), 0);
  EXPECT_EQ(getcount(3), 350);  // unchanged by the refused calls
}

TEST_F(GameClockTest, PausedClockDoesNotAdvanceAndResumesWhereItStopped) {
  setcount(0, 0);
  fake_now += 100;
  EXPECT_EQ(pause_game_clock(true), 1);
  EXPECT_EQ(pause_game_clock(true), 1);  // nested
  fake_now += 1000;
  EXPECT_EQ(getcount(0), 100);
  EXPECT_EQ(pause_game_clock(false), 1);
  fake_now += 1000;
  EXPECT_EQ(getcount(0), 100);  // still paused: one level left
  EXPECT_EQ(pause_game_clock(false), 1);
  fake_now += 10;
  EXPECT_EQ(getcount(0), 110);
  EXPECT_EQ(pause_game_clock(false), 0);  // not paused
}

TEST_F(GameClockTest, ClockSurvivesTickWraparound) {
  fake_now = 0xFFFFFF00u;
  init_game_clock();
  setcount(1, 0);
  fake_now += 0x200;  // wraps
  EXPECT_EQ(getcount(1), 0x200);
}

TEST_F(GameClockTest, FpsReportsTheLastCompleteSecond) {
  fake_now = 10000;
  EXPECT_EQ(fps(), 0);  // opens a window
  for (int i = 0; i < 30; ++i) {
    fake_now += 30;
    EXPECT_EQ(fps(), 0);
  }
  fake_now = 11000;
  EXPECT_EQ(fps(), 30);
  fake_now += 10;
  EXPECT_EQ(fps(), 30);
}

}  // namespace
}  // namespace talven::runtime
