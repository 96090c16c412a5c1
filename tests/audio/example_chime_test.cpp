// The sound sample (examples/sound) run headless with its output recorded:
// it writes and plays its own sounds and ends with no failed builtin.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "audio_test_util.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;
using namespace talven::test;

const fs::path kExample =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "examples" / "sound";

TEST(ExampleChime, PlaysItsBellsOverTheLoopingTune) {
  if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
  fs::path dir = fs::temp_directory_path() / ("talven_chime_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::copy(kExample, dir, fs::copy_options::recursive);
  auto r = run_talven("--headless --log --timeout 30 --audio-out " + (dir / "out.wav").string() +
                      " " + dir.string());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("tune at "), std::string::npos) << r.out;
  Recording rec = read_recording(dir / "out.wav");
  ASSERT_GT(rec.rate, 0u);
  const std::size_t s = rec.rate;
  std::size_t first = onset(rec.left, 0.2f);
  ASSERT_LT(first + 2 * s, rec.left.size());
  // The second bell rings to the right: its right channel is the louder.
  std::size_t second = first + 7 * s / 10;
  EXPECT_GT(peak(rec.right, second, second + s / 5), 1.5f * peak(rec.left, second, second + s / 5));
  // The tune plays under everything (volume 40 of amplitude 0.18).
  EXPECT_GT(rms(rec.left, rec.left.size() - s / 2, rec.left.size()), 0.01);
  fs::remove_all(dir);
}

}  // namespace
