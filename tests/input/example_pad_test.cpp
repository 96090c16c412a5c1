// The input sample (examples/input) played to its end by its recorded demo:
// three hits, the paddle moved by the arrow key, recoloured by a typed digit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kExample =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "examples" / "input";

TEST(ExamplePad, TheDemoPlaysTheGameToItsEnd) {
  if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
  fs::path dir = fs::temp_directory_path() / ("talven_pad_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::copy(kExample, dir, fs::copy_options::recursive);
  auto r = talven::test::run_talven("--headless --log --timeout 30 --input " +
                                    (dir / "demo.txt").string() + " " + dir.string());
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("score 3 paddle 92 colour ff8d239a"), std::string::npos) << r.out;

  // Without input nothing is scored; the run ends by its frame limit.
  r = talven::test::run_talven("--headless --log --frames 40 --timeout 30 " + dir.string());
  EXPECT_EQ(r.status, 124) << r.out;
  fs::remove_all(dir);
}

}  // namespace
