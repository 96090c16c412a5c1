// MIDI and CD audio from scripts run headless, with the mixed output
// recorded by --audio-out and measured here.
#include <gtest/gtest.h>
#include <unistd.h>

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

std::string be32(std::uint32_t n) { return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; }

// A two-second song: an organ (program 19) holding middle C on channel 0
// at channel volume 100.
std::string organ_song() {
  std::string track;
  auto add = [&](std::initializer_list<int> bytes) {
    for (int b : bytes) track += char(b);
  };
  add({0x00, 0xC0, 19, 0x00, 0xB0, 7, 100, 0x00, 0x90, 60, 110});
  add({0x8F, 0x40, 0x80, 60, 0});  // 1984 ticks (varlen 0x8F 0x40) = 2.0 s at 120 bpm, division 496
  add({0x00, 0xFF, 0x2F, 0x00});
  std::string header = std::string("\0\0\0\1\x01\xF0", 6);
  return "MThd" + be32(6) + header + "MTrk" + be32(std::uint32_t(track.size())) + track;
}

class ScriptMusic : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TALVEN_BINARY)) GTEST_SKIP() << "build the talven target first";
    dir_ = fs::temp_directory_path() /
           ("talven_music_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kHeader, dir_ / "talven.h");
    fs::copy_file(kScripts / "lib" / "check.h", dir_ / "check.h");
  }
  void TearDown() override { fs::remove_all(dir_); }

  BinaryRun run(const std::string& script, const std::string& keys) {
    write_file(dir_ / "Tune.cfg", "[General]\nFileSystem=2\n[Script]\nLoad=main.c\n" + keys);
    fs::copy_file(kScripts / "music" / script, dir_ / "main.c",
                  fs::copy_options::overwrite_existing);
    return run_talven("--headless --log --timeout 30 --audio-out " + (dir_ / "out.wav").string() +
                      " " + dir_.string());
  }

  fs::path dir_;
};

TEST_F(ScriptMusic, MidiPlaysThroughTheMixerAndVolumeScalesIt) {
  if (!fs::exists("/usr/share/sounds/sf2/default-GM.sf2") &&
      !fs::exists("/usr/share/sounds/sf2/TimGM6mb.sf2"))
    GTEST_SKIP() << "no General MIDI SoundFont installed";
  write_file(dir_ / "song.mid", organ_song());
  BinaryRun r = run("midi.c", "[System]\nDirectMusic=1\n");
  ASSERT_EQ(r.status, 0) << r.out;
  Recording rec = read_recording(dir_ / "out.wav");
  ASSERT_GT(rec.rate, 0u);
  const std::size_t s = rec.rate;
  const std::size_t a = onset(rec.left, 0.01f);
  ASSERT_LT(a, rec.left.size()) << "the music is heard";
  const double loud = rms(rec.left, a + s * 3 / 10, a + s * 9 / 10);
  const double soft = rms(rec.left, a + s * 12 / 10, a + s * 17 / 10);
  ASSERT_GT(loud, 0.001);
  // Channel volume 100 becomes 50; the synthesiser's volume curve makes
  // that well below the full level, and it is far from silence.
  EXPECT_LT(soft / loud, 0.6);
  EXPECT_GT(soft / loud, 0.1);
}

TEST_F(ScriptMusic, MidiIsOffWithoutDirectMusic) {
  write_file(dir_ / "song.mid", organ_song());
  BinaryRun r = run("midi.c", "[System]\nDirectMusic=0\n");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("FAIL midi_load"), std::string::npos) << r.out;
}

TEST_F(ScriptMusic, CdTracksFadesRepeatsAndTheDoor) {
  fs::create_directories(dir_ / "cd");
  write_file(dir_ / "cd" / "track02.wav", wav_bytes(tone16(440, 1.2, 44100, 0.5, 2), [] {
               WavFormat w;
               w.channels = 2;
               return w;
             }()));
  write_file(dir_ / "cd" / "Track03.WAV", wav_bytes(tone16(660, 1.2, 44100, 0.5, 2), [] {
               WavFormat w;
               w.channels = 2;
               return w;
             }()));
  BinaryRun r = run("cd.c", "[Drive]\nCD=1\n");
  ASSERT_EQ(r.status, 0) << r.out;
  // The fade-in: 640 ms in 32 steps of 20 ms; the level rises through it.
  Recording rec = read_recording(dir_ / "out.wav");
  ASSERT_GT(rec.rate, 0u);
  const std::size_t s = rec.rate;
  const std::size_t a = onset(rec.left, 0.002f);
  ASSERT_LT(a, rec.left.size());
  const float early = peak(rec.left, a, a + s / 20);
  const float middle = peak(rec.left, a + s * 15 / 100, a + s * 20 / 100);
  const float late = peak(rec.left, a + s * 25 / 100, a + s * 29 / 100);
  EXPECT_LT(early, middle);
  EXPECT_LT(middle, late);
  EXPECT_LT(late, 0.5f);
}

}  // namespace
