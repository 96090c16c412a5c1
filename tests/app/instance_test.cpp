// Single instance per game: the name, claiming it, and the raise request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/instance.h"

namespace {

using talven::InstanceGuard;

TEST(Instance, NamesDependOnTheAbsoluteProgramPath) {
  std::string a = talven::instance_name("/games/quest/Quest.exe");
  EXPECT_EQ(a.rfind("TALVEN_GAMES_MUTEX:", 0), 0u);
  EXPECT_EQ(a, talven::instance_name("/games/quest/../quest/Quest.exe"));
  EXPECT_NE(a, talven::instance_name("/games/other/Quest.exe"));
  EXPECT_LT(a.size(), 100u);  // fits an abstract socket name
}

TEST(Instance, SecondClaimFindsTheFirstAndAsksItToRaise) {
  std::string name =
      talven::instance_name("/tmp/instance_test_" + std::to_string(::getpid()) + "/Game.exe");
  InstanceGuard first;
  ASSERT_EQ(first.acquire(name), InstanceGuard::Result::First);
  EXPECT_FALSE(first.poll_raise_requests());  // nobody asked yet

  InstanceGuard second;
  EXPECT_EQ(second.acquire(name), InstanceGuard::Result::Other);
  EXPECT_TRUE(talven::ask_instance_to_raise(name));
  bool raised = false;
  for (int i = 0; i < 100 && !raised; ++i) {
    raised = first.poll_raise_requests();
    if (!raised) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(raised);

  // Once the first is gone the name is free again, and nobody answers.
  first.release();
  EXPECT_FALSE(talven::ask_instance_to_raise(name));
  EXPECT_EQ(second.acquire(name), InstanceGuard::Result::First);
}

}  // namespace
