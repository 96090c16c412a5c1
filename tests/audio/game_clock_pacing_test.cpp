// The null device paced by the game clock (--audio-fast): the output holds
// exactly the game time that passed, stands still while the clock is
// paused, and a sound sits at the game time it was started; through the real
// binary, a recording is as long as the run and its sounds lie where the
// script played them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "audio/mixer.h"
#include "audio_test_util.h"
#include "runtime/game_clock.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;
using namespace talven::test;
using talven::audio::Mixer;
using talven::audio::OutputOptions;
using talven::audio::PcmBuffer;

std::uint32_t fake_now = 0;
std::uint32_t fake_tick() { return fake_now; }

fs::path temp_path(const std::string& name) {
  return fs::temp_directory_path() /
         ("talven_pace_" + std::to_string(::getpid()) + "_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + name);
}

class GameClockPacing : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_now = 70000;
    talven::runtime::set_tick_source(fake_tick);
    talven::runtime::init_game_clock();
  }
  void TearDown() override {
    talven::runtime::pause_game_clock(false);
    talven::runtime::set_tick_source(nullptr);
  }
};

TEST_F(GameClockPacing, OutputHoldsTheGameTimeThatPassed) {
  const fs::path wav = temp_path(".wav");
  Mixer mixer(48000);
  OutputOptions options;
  options.fast = true;
  options.record_path = wav.string();
  auto out = talven::audio::open_audio_output(mixer, options);
  ASSERT_NE(out, nullptr);

  fake_now += 1000;
  out->catch_up();
  EXPECT_EQ(mixer.rendered(), 48000u);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(mixer.rendered(), 48000u) << "ran ahead of the game clock";

  // A paused clock holds the output.
  talven::runtime::pause_game_clock(true);
  fake_now += 500;
  out->catch_up();
  EXPECT_EQ(mixer.rendered(), 48000u);
  talven::runtime::pause_game_clock(false);
  fake_now += 250;
  out->catch_up();
  EXPECT_EQ(mixer.rendered(), 60000u);

  // A tone started now begins 1.25 s into the recording.
  auto tone = tone16(1000, 0.1, 48000);
  auto buffer = std::make_shared<PcmBuffer>(1, 16, 48000,
                                            std::vector<std::uint8_t>(tone.begin(), tone.end()));
  auto voice = mixer.add_voice(buffer, 48000);
  mixer.start(voice, true);
  fake_now += 250;
  out->close();
  EXPECT_EQ(mixer.rendered(), 72000u) << "the recording ends at the game time of the close";

  Recording rec = read_recording(wav);
  fs::remove(wav);
  ASSERT_EQ(rec.rate, 48000u);
  EXPECT_EQ(rec.left.size(), 72000u);
  const std::size_t on = onset(rec.left, 0.05f);
  EXPECT_NEAR(static_cast<double>(on), 60000.0, 4.0);
  EXPECT_LT(peak(rec.left, 0, 60000), 0.001f);
}

// The real binary: three beeps at known game times, then a known end. The
// recording's onsets are as far apart as the script's clock readings, and
// from the first beep to its end it is as long as the game ran from there.
TEST(GameClockPacingRun, RecordingFollowsTheGameClock) {
  if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
  const fs::path dir = temp_path("_game");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path root = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();
  fs::copy_file(root / "sdk" / "talven.h", dir / "talven.h");
  write_file(dir / "Beeps.cfg", "[General]\nFileSystem=2\n[Script]\nLoad=main.c\n");
  write_file(dir / "beep.wav", wav_bytes(tone16(1000, 0.1, 48000), rate_format(48000)));
  write_file(dir / "main.c",
             "#include \"talven.h\"\n"
             "int play_at(int t) {\n"
             "  while (getcount(0) < t) sleep(1);\n"
             "  t = getcount(0);\n"
             "  snd_play(0, 0);\n"
             "  log_out(\"PLAY %d\\n\", t);\n"
             "  return t;\n"
             "}\n"
             "int main() {\n"
             "  if (snd_load(0, \"beep.wav\") != 1) return 1;\n"
             "  setcount(0, 0);\n"
             "  play_at(400);\n"
             "  play_at(1100);\n"
             "  play_at(2000);\n"
             "  while (getcount(0) < 2600) sleep(1);\n"
             "  log_out(\"END %d\\n\", getcount(0));\n"
             "  return 0;\n"
             "}\n");
  const fs::path wav = dir / "out.wav";
  BinaryRun r = run_talven("--headless --log --timeout 30 --audio-fast --audio-out " +
                           wav.string() + " " + dir.string());
  Recording rec = read_recording(wav);
  fs::remove_all(dir);
  ASSERT_EQ(r.status, 0) << r.out;

  std::vector<double> plays;
  double end = -1;
  std::istringstream lines(r.out);
  for (std::string word; lines >> word;) {
    if (word == "PLAY") plays.emplace_back(), lines >> plays.back();
    if (word == "END") lines >> end;
  }
  ASSERT_EQ(plays.size(), 3u) << r.out;
  ASSERT_GT(end, 0) << r.out;
  ASSERT_EQ(rec.rate, 48000u);

  const double frame_ms = 1000.0 / 60;
  const double ms = rec.rate / 1000.0;  // frames per millisecond
  std::vector<double> onsets;
  std::size_t from = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t on = onset(rec.left, 0.05f, from);
    ASSERT_LT(on, rec.left.size()) << "beep " << i << " missing";
    onsets.push_back(on / ms);
    from = on + rec.rate / 5;  // past this beep (100 ms long)
  }
  EXPECT_NEAR(onsets[1] - onsets[0], plays[1] - plays[0], frame_ms);
  EXPECT_NEAR(onsets[2] - onsets[0], plays[2] - plays[0], frame_ms);
  const double after_first = rec.left.size() / ms - onsets[0];
  EXPECT_GE(after_first, end - plays[0] - frame_ms) << "the recording stops before the game did";
  EXPECT_LE(after_first, end - plays[0] + 500) << "longer than the game ran";
}

}  // namespace
