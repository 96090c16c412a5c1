// Whether a host path lies inside a root, by the rules of each platform's
// file systems: the confinement of untrusted games rests on it.
#include "lib/system/system_paths.h"

#include <gtest/gtest.h>

namespace talven::lib::system {
namespace {

TEST(PathInside, PosixComparesBytesWithSlashSeparators) {
  constexpr PathRules kRules = PathRules::kPosix;
  EXPECT_TRUE(path_inside("/games/quest", "/games/quest", kRules));
  EXPECT_TRUE(path_inside("/games/quest/save/a.dat", "/games/quest", kRules));
  EXPECT_TRUE(path_inside("/games/quest/", "/games/quest/", kRules));
  EXPECT_TRUE(path_inside("/anything/at/all", "/", kRules));
  // A sibling that shares the root's name as a prefix is outside.
  EXPECT_FALSE(path_inside("/games/quest2/a.dat", "/games/quest", kRules));
  EXPECT_FALSE(path_inside("/games", "/games/quest", kRules));
  // Letter case and backslashes are part of POSIX names.
  EXPECT_FALSE(path_inside("/Games/Quest/a.dat", "/games/quest", kRules));
  EXPECT_FALSE(path_inside("/games/quest\\a.dat", "/games/quest", kRules));
  EXPECT_FALSE(path_inside("/games/quest", "", kRules));
  EXPECT_FALSE(path_inside("", "/games", kRules));
}

TEST(PathInside, WindowsIgnoresCaseAndTakesBothSeparators) {
  constexpr PathRules kRules = PathRules::kWindows;
  EXPECT_TRUE(path_inside("C:\\Games\\Quest\\save\\a.dat", "c:/games/quest", kRules));
  EXPECT_TRUE(path_inside("c:/games/QUEST", "C:\\Games\\Quest\\", kRules));
  EXPECT_TRUE(path_inside("C:\\Games/Quest\\data/x.png", "C:\\Games\\Quest", kRules));
  // Drive roots hold the whole drive, whatever their letter's case.
  EXPECT_TRUE(path_inside("c:\\users\\me", "C:\\", kRules));
  EXPECT_TRUE(path_inside("C:/", "c:\\", kRules));
  EXPECT_FALSE(path_inside("D:\\users\\me", "C:\\", kRules));
  // Long-path prefixes name the same places.
  EXPECT_TRUE(path_inside("\\\\?\\C:\\Games\\Quest\\a.dat", "C:\\Games\\Quest", kRules));
  EXPECT_TRUE(path_inside("C:\\Games\\Quest\\a.dat", "\\\\?\\c:\\games\\quest", kRules));
  EXPECT_TRUE(path_inside("\\\\?\\UNC\\server\\share\\q\\a", "\\\\server\\share\\q", kRules));
  EXPECT_FALSE(path_inside("\\\\server\\share\\q2", "\\\\server\\share\\q", kRules));
  // Sibling prefixes and parents stay outside.
  EXPECT_FALSE(path_inside("C:\\Games\\Quest2\\a.dat", "C:\\Games\\Quest", kRules));
  EXPECT_FALSE(path_inside("C:\\Games", "C:\\Games\\Quest", kRules));
  EXPECT_FALSE(path_inside("C:\\Games\\Quest", "", kRules));
}

}  // namespace
}  // namespace talven::lib::system
