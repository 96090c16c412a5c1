// The device table's runners: the order each step visits the rows in, the
// rows without a hook for a step, and the check on release turns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/devices.h"

namespace {

using talven::DeviceRow;

std::vector<std::string>& steps() {
  static std::vector<std::string> log;
  return log;
}

// Hooks that note "<step> <row>" (and the flag for the two that take one).
template <char Row>
void start() {
  steps().push_back(std::string("start ") + Row);
}
template <char Row>
void release() {
  steps().push_back(std::string("release ") + Row);
}
template <char Row>
void shutdown() {
  steps().push_back(std::string("shutdown ") + Row);
}
template <char Row>
void activity(bool active) {
  steps().push_back(std::string("activity ") + Row + (active ? "+" : "-"));
}
template <char Row>
void paused(bool active) {
  steps().push_back(std::string("paused ") + Row + (active ? "+" : "-"));
}

// Four rows: C has no start and no shutdown, B releases first although it
// comes second, D takes no release, A no activity.
constexpr DeviceRow kRows[] = {
    {.name = "A",
     .start = start<'A'>,
     .release = release<'A'>,
     .release_turn = 3,
     .shutdown = shutdown<'A'>,
     .application_paused = paused<'A'>},
    {.name = "B",
     .start = start<'B'>,
     .release = release<'B'>,
     .release_turn = 1,
     .shutdown = shutdown<'B'>,
     .activity = activity<'B'>},
    {.name = "C",
     .release = release<'C'>,
     .release_turn = 2,
     .activity = activity<'C'>,
     .application_paused = paused<'C'>},
    {.name = "D",
     .start = start<'D'>,
     .shutdown = shutdown<'D'>,
     .application_paused = paused<'D'>},
};

std::vector<std::string> run(void (*step)(std::span<const DeviceRow>)) {
  steps().clear();
  step(std::span(kRows));
  return steps();
}

std::vector<std::string> run(void (*step)(std::span<const DeviceRow>, bool), bool active) {
  steps().clear();
  step(std::span(kRows), active);
  return steps();
}

using Steps = std::vector<std::string>;

TEST(DeviceTable, StartsInTableOrderAndShutsDownInReverse) {
  EXPECT_EQ(run(talven::devices_start_rows), (Steps{"start A", "start B", "start D"}));
  EXPECT_EQ(run(talven::devices_shutdown_rows), (Steps{"shutdown D", "shutdown B", "shutdown A"}));
}

TEST(DeviceTable, ReleasesByTurnWhateverTheRowOrder) {
  EXPECT_EQ(run(talven::devices_release_rows), (Steps{"release B", "release C", "release A"}));
}

TEST(DeviceTable, ActivityInTableOrderPauseForwardAndResumeBackwards) {
  EXPECT_EQ(run(talven::devices_activity_rows, false), (Steps{"activity B-", "activity C-"}));
  EXPECT_EQ(run(talven::devices_activity_rows, true), (Steps{"activity B+", "activity C+"}));
  EXPECT_EQ(run(talven::devices_application_paused_rows, false),
            (Steps{"paused A-", "paused C-", "paused D-"}));
  EXPECT_EQ(run(talven::devices_application_paused_rows, true),
            (Steps{"paused D+", "paused C+", "paused A+"}));
}

TEST(DeviceTable, ReleaseTurnsMustBeOneToNEachOnce) {
  auto noop = [] {};
  const DeviceRow twice[] = {{.release = noop, .release_turn = 1},
                             {.release = noop, .release_turn = 1}};
  const DeviceRow gap[] = {{.release = noop, .release_turn = 1},
                           {.release = noop, .release_turn = 3}};
  const DeviceRow unset[] = {{.release = noop}};
  const DeviceRow stray[] = {{.start = noop, .release_turn = 1}};
  EXPECT_FALSE(talven::release_turns_valid(twice));
  EXPECT_FALSE(talven::release_turns_valid(gap));
  EXPECT_FALSE(talven::release_turns_valid(unset));
  EXPECT_FALSE(talven::release_turns_valid(stray));
  EXPECT_TRUE(talven::release_turns_valid(kRows));
  EXPECT_TRUE(talven::release_turns_valid(talven::device_table()));
}

}  // namespace
