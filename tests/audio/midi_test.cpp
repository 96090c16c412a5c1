// MIDI: the file reader, and the sequencer's volume scaling, pause counts
// and positions, driven through a mixer rendered by hand and a recording
// synthesiser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/midi/midi_player.h"
#include "audio/midi/smf.h"
#include "audio/mixer.h"

namespace talven::audio::midi {
namespace {

// ---- building files --------------------------------------------------------------

std::string varlen(std::uint32_t v) {
  std::string out(1, char(v & 0x7F));
  while (v >>= 7) out.insert(out.begin(), char(0x80 | (v & 0x7F)));
  return out;
}

std::string chunk(const char* id, const std::string& body) {
  std::string out(id, 4);
  const std::uint32_t n = std::uint32_t(body.size());
  out += char(n >> 24);
  out += char(n >> 16);
  out += char(n >> 8);
  out += char(n);
  return out + body;
}

std::string smf(int format, int division, const std::vector<std::string>& tracks) {
  std::string header;
  header += char(0);
  header += char(format);
  header += char(0);
  header += char(tracks.size());
  header += char(division >> 8);
  header += char(division & 0xFF);
  std::string out = chunk("MThd", header);
  for (const std::string& t : tracks) out += chunk("MTrk", t);
  return out;
}

std::string ev(std::uint32_t delta, std::initializer_list<int> bytes) {
  std::string out = varlen(delta);
  for (int b : bytes) out += char(b);
  return out;
}

const std::string kEnd = ev(0, {0xFF, 0x2F, 0x00});

// One second at 120 bpm (division 480): volume 100 on channels 0 and 9, a
// note on channel 0 held for the whole second.
std::string one_second_song() {
  return smf(0, 480,
             {ev(0, {0xB0, 7, 100}) + ev(0, {0xB9, 7, 80}) + ev(0, {0x90, 60, 100}) +
              ev(960, {0x80, 60, 0}) + kEnd});
}

TEST(SmfReader, TempoRunningStatusSysExAndTracks) {
  MidiSong song;
  // Format 1: a tempo track (60 bpm from tick 0, 120 bpm from tick 480) and
  // a note track using running status, with a SysEx and a text event.
  const std::string tempo =
      ev(0, {0xFF, 0x51, 3, 0x0F, 0x42, 0x40}) + ev(480, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}) + kEnd;
  const std::string notes = ev(0, {0xF0, 3, 1, 2, 0xF7}) + ev(0, {0x90, 60, 100}) +
                            ev(480, {62, 90}) + ev(0, {0xFF, 0x01, 2, 'h', 'i'}) +
                            ev(480, {0x80, 60, 0}) + kEnd;
  ASSERT_TRUE(read_smf(smf(1, 480, {tempo, notes}), song));
  ASSERT_EQ(song.events.size(), 3u);
  EXPECT_DOUBLE_EQ(song.events[0].seconds, 0.0);
  EXPECT_DOUBLE_EQ(song.events[1].seconds, 1.0);  // 480 ticks at 60 bpm
  EXPECT_EQ(song.events[1].status, 0x90);         // running status
  EXPECT_EQ(song.events[1].data1, 62);
  EXPECT_DOUBLE_EQ(song.events[2].seconds, 1.5);  // then 480 ticks at 120 bpm
  EXPECT_DOUBLE_EQ(song.length_seconds, 1.5);
}

TEST(SmfReader, DamagedFilesAreRefusedOrCutShort) {
  MidiSong song;
  EXPECT_FALSE(read_smf("", song));
  EXPECT_FALSE(read_smf("RIFF....WAVEfmt ", song));
  EXPECT_FALSE(read_smf(smf(0, 0, {kEnd}), song));  // no division
  EXPECT_FALSE(read_smf(smf(0, 480, {}), song));    // no track
  // A lying chunk length, a cut event and running status with nothing to
  // run on: what is sound before them plays.
  std::string cut = one_second_song();
  cut.resize(cut.size() - 6);
  ASSERT_TRUE(read_smf(cut, song));
  EXPECT_EQ(song.events.size(), 3u);
  ASSERT_TRUE(read_smf(smf(0, 480, {ev(0, {60, 100}) + ev(0, {0x90, 60, 100})}), song));
  EXPECT_TRUE(song.events.empty());
  // Endless running status is bounded by the file: 100000 bytes of data
  // bytes make at most that many events.
  std::string endless = ev(0, {0x90, 60, 100});
  for (int k = 0; k < 50000; ++k) endless += std::string("\x00\x3C", 2);
  ASSERT_TRUE(read_smf(smf(0, 480, {endless}), song));
  EXPECT_LE(song.events.size(), 50001u);
  // A tempo of 0 does not stop time from being finite.
  ASSERT_TRUE(read_smf(
      smf(0, 480, {ev(0, {0xFF, 0x51, 3, 0, 0, 0}) + ev(480, {0x90, 1, 1}) + kEnd}), song));
  EXPECT_LT(song.length_seconds, 1.0);
}

// ---- the player ------------------------------------------------------------------

struct Sent {
  std::uint8_t status, data1, data2;
};
std::vector<Sent> sent;

class RecordingSynth : public Synth {
 public:
  void event(std::uint8_t s, std::uint8_t d1, std::uint8_t d2) override {
    sent.push_back({s, d1, d2});
  }
  void all_sounds_off() override {}
  void render(float* stereo, std::size_t frames) override {
    std::fill(stereo, stereo + 2 * frames, 0.25f);
  }
};

class MidiPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    sent.clear();
    ASSERT_TRUE(midi_start_with(&mixer_, [](std::uint32_t) -> std::unique_ptr<Synth> {
      return std::make_unique<RecordingSynth>();
    }));
  }
  void TearDown() override { midi_shutdown(); }
  // Lets the mixer consume `ms` milliseconds.
  void run(int ms) {
    std::vector<float> out(std::size_t(mixer_.output_rate()) * ms / 1000 * 2);
    mixer_.render(out.data(), out.size() / 2);
  }
  std::vector<int> volumes_sent() {
    std::vector<int> v;
    for (const Sent& s : sent)
      if ((s.status & 0xF0) == 0xB0 && s.data1 == 7) v.push_back(s.data2);
    return v;
  }
  Mixer mixer_{48000};
};

TEST_F(MidiPlayer, VolumeScalesTheMusicsChannelVolumes) {
  ASSERT_EQ(midi_load_bytes(one_second_song()), 1);
  EXPECT_EQ(midi_getvol(), 100);
  ASSERT_EQ(midi_setvol(50), 1);
  // Re-sent at once for all 16 channels: nothing set yet, so 127 halved.
  std::vector<int> v = volumes_sent();
  ASSERT_EQ(v.size(), 16u);
  for (int x : v) EXPECT_EQ(x, 63);
  sent.clear();
  ASSERT_EQ(midi_play(), 1);
  run(20);
  v = volumes_sent();
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0], 50);  // 100 × 50 / 100
  EXPECT_EQ(v[1], 40);  // 80 × 50 / 100
  sent.clear();
  midi_setvol(150);  // clamped to 100: the music's own values come back
  v = volumes_sent();
  EXPECT_EQ(v[0], 100);
  EXPECT_EQ(v[9], 80);
  EXPECT_EQ(v[1], 127);
  EXPECT_EQ(midi_getvol(), 100);
  midi_setvol(-5);
  EXPECT_EQ(midi_getvol(), 0);
}

TEST_F(MidiPlayer, PausesAreCountedAndThePositionContinues) {
  ASSERT_EQ(midi_load_bytes(one_second_song()), 1);
  EXPECT_EQ(midi_pause(), 1);  // not playing
  ASSERT_EQ(midi_play(), 1);
  run(300);
  EXPECT_EQ(midi_isplay(), 1);
  EXPECT_EQ(midi_getpos(), 300);
  EXPECT_EQ(midi_pause(), 0);
  EXPECT_EQ(midi_pause(), 1);  // the second pause only counts
  EXPECT_EQ(midi_isplay(), 0);
  EXPECT_EQ(midi_getpos(), 0);
  run(200);  // time passes while paused
  EXPECT_EQ(midi_replay(), 1);
  EXPECT_EQ(midi_isplay(), 0);  // one replay is not enough
  EXPECT_EQ(midi_replay(), 1);
  EXPECT_EQ(midi_isplay(), 1);
  run(100);
  EXPECT_EQ(midi_getpos(), 400);  // continues from the pause
  run(700);                       // past the end without repeat: it stops
  EXPECT_EQ(midi_isplay(), 0);
  EXPECT_EQ(midi_getpos(), 0);
}

TEST_F(MidiPlayer, RepeatWrapsThePositionAndASecondLoadFreesTheFirst) {
  ASSERT_EQ(midi_load_bytes(one_second_song()), 1);
  midi_repeat(1);
  ASSERT_EQ(midi_play(), 1);
  run(1250);
  EXPECT_EQ(midi_isplay(), 1);
  EXPECT_EQ(midi_getpos(), 250);
  // The note of the song was sent once per pass.
  int note_ons = 0;
  for (const Sent& s : sent) note_ons += s.status == 0x90;
  EXPECT_EQ(note_ons, 2);
  midi_setvol(30);
  ASSERT_EQ(midi_load_bytes(one_second_song()), 1);  // frees the first
  EXPECT_EQ(midi_isplay(), 0);
  EXPECT_EQ(midi_getvol(), 100);  // a new song starts at full volume
  EXPECT_EQ(midi_load_bytes("not a midi file"), 0);
  EXPECT_EQ(midi_getvol(), 0);  // and a failed load leaves nothing loaded
  EXPECT_EQ(midi_play(), 1);    // nothing to play is not a failure
  EXPECT_EQ(midi_isplay(), 0);
}

}  // namespace
}  // namespace talven::audio::midi
