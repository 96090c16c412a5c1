// The sound builtins through the real binary: each tests/scripts/audio/*.c
// runs headless in a fresh game folder with its sounds written beside it,
// its mixed output recorded with --audio-out and read back here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "audio_test_util.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;
using namespace talven::test;

const fs::path kScripts = fs::path(TALVEN_TEST_DATA).parent_path() / "scripts";
const fs::path kHeader =
    fs::path(TALVEN_TEST_DATA).parent_path().parent_path() / "sdk" / "talven.h";

class ScriptSound : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
    dir_ = fs::temp_directory_path() /
           ("talven_snd_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kHeader, dir_ / "talven.h");
    fs::copy_file(kScripts / "lib" / "check.h", dir_ / "check.h");
    write_file(dir_ / "Tune.cfg", "[General]\nFileSystem=2\n[Script]\nLoad=main.c\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  BinaryRun run(const std::string& script) {
    fs::copy_file(kScripts / "audio" / script, dir_ / "main.c");
    return run_talven("--headless --log --timeout 30 --audio-out " + (dir_ / "out.wav").string() +
                      " " + dir_.string());
  }

  fs::path dir_;
};

TEST_F(ScriptSound, ResultsUnitsAndSlotRules) {
  write_file(dir_ / "tone.wav", wav_bytes(tone16(440, 0.5, 22050), rate_format(22050)));
  write_file(dir_ / "stream.wav", wav_bytes(tone16(440, 3.0, 22050), rate_format(22050)));
  BinaryRun r = run("units.c");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST_F(ScriptSound, LoopingStreamRepeatsFromItsLoopPoint) {
  // Three one-second steps: 400, 800 and 1200 Hz.
  write_file(dir_ / "steps.wav",
             wav_bytes(tone16(400, 1, 22050) + tone16(800, 1, 22050) + tone16(1200, 1, 22050),
                       rate_format(22050)));
  BinaryRun r = run("loop_stream.c");
  ASSERT_EQ(r.status, 0) << r.out;
  Recording rec = read_recording(dir_ / "out.wav");
  ASSERT_GT(rec.rate, 0u);
  std::size_t start = onset(rec.left, 0.05f);
  ASSERT_LT(start + 5 * rec.rate, rec.left.size()) << "recording too short";
  const std::size_t s = rec.rate;
  auto pitch = [&](double from, double to) {
    return frequency(rec.left, start + static_cast<std::size_t>(from * s),
                     start + static_cast<std::size_t>(to * s), rec.rate);
  };
  EXPECT_NEAR(pitch(0.1, 0.9), 400, 4);
  EXPECT_NEAR(pitch(1.1, 1.9), 800, 8);
  EXPECT_NEAR(pitch(2.1, 2.9), 1200, 12);
  EXPECT_NEAR(pitch(3.1, 3.9), 800, 8) << "the loop starts again at its second second";
  EXPECT_NEAR(pitch(4.1, 4.9), 1200, 12);
}

TEST_F(ScriptSound, VolumeHalvesTheAmplitudeAndEchoRepeats) {
  write_file(dir_ / "tone.wav", wav_bytes(tone16(1000, 0.4, 44100, 0.5), rate_format(44100)));
  std::string click = std::string(4, '\0');
  put16(click, 0x6000);  // one loud sample
  click += std::string(2 * 400, '\0');
  write_file(dir_ / "click.wav", wav_bytes(click, rate_format(44100)));
  BinaryRun r = run("recorded.c");
  ASSERT_EQ(r.status, 0) << r.out;
  Recording rec = read_recording(dir_ / "out.wav");
  ASSERT_GT(rec.rate, 0u);
  const std::size_t s = rec.rate;
  std::size_t a = onset(rec.left, 0.05f);
  ASSERT_LT(a, rec.left.size());
  float full = peak(rec.left, a + s / 20, a + s / 4);
  std::size_t b = onset(rec.left, 0.05f, a + s / 2);
  ASSERT_LT(b, rec.left.size());
  float half = peak(rec.left, b + s / 20, b + s / 4);
  EXPECT_NEAR(full, 0.5f, 0.01f);
  EXPECT_NEAR(half / full, 0.5f, 0.01f) << "volume 50 gives half the amplitude";

  // The click, then its echoes 200 ms apart, each half the one before.
  std::size_t c = onset(rec.left, 0.1f, b + s / 2);
  ASSERT_LT(c, rec.left.size());
  const float first = peak(rec.left, c, c + 50);
  const std::size_t d = s / 5;
  float e1 = peak(rec.left, c + d - 20, c + d + 20),
        e2 = peak(rec.left, c + 2 * d - 20, c + 2 * d + 20);
  EXPECT_NEAR(e1 / first, 1.0f, 0.05f);
  EXPECT_NEAR(e2 / first, 0.5f, 0.05f);
  EXPECT_LT(peak(rec.left, c + 100, c + d - 100), 0.01f)
      << "silence between the click and its echo";
}

// The SDL back end, on a virtual display with SDL's file-writing driver
// standing in for a sound card: the recording shows the tone.
TEST_F(ScriptSound, WindowedRunsPlayThroughTheAudioDevice) {
  if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run missing";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP()
      << "the virtual display's software GL driver can hang in regexec under the address sanitizer";
#endif
  write_file(dir_ / "tone.wav", wav_bytes(tone16(500, 0.4, 22050, 0.5), rate_format(22050)));
  fs::copy_file(kScripts / "audio" / "windowed.c", dir_ / "main.c");
  std::string cmd =
      "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null ASAN_OPTIONS=detect_leaks=0 "
      "xvfb-run -a -s '-screen 0 800x600x24' timeout -k 5 30 " +
      std::string(TALVEN_BINARY) + " --timeout 20 --audio-out " + (dir_ / "out.wav").string() +
      " " + dir_.string() + " >/dev/null 2>&1";
  Recording rec;
  for (int attempt = 0; attempt < 3 && rec.left.empty(); ++attempt) {
    std::system(cmd.c_str());
    rec = read_recording(dir_ / "out.wav");
  }
  ASSERT_GT(rec.rate, 0u);
  std::size_t on = onset(rec.left, 0.05f);
  ASSERT_LT(on + rec.rate / 4, rec.left.size()) << "no tone in the recording";
  EXPECT_NEAR(frequency(rec.left, on, on + rec.rate / 4, rec.rate), 500.0, 5.0);
  EXPECT_NEAR(peak(rec.left, on, on + rec.rate / 4), 0.5f, 0.02f);
}

}  // namespace
