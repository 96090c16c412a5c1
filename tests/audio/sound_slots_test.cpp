// The sound slots over the null device: loading and bad files, units,
// pauses, positions, effects' minimum length, streams and recorded output.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio/sound.h"
#include "audio_test_util.h"
#include "base/config.h"
#include "base/game_path.h"
#include "base/messages.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace talven;
using namespace talven::audio;
using namespace talven::test;

class SoundSlots : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::talven::test::make_temp_dir("talven_sound_");
    ASSERT_FALSE(dir_.empty());
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    saved_ = config();
    config().FileSystem = 2;
    config().Error = 2;
    set_message_sink([this](unsigned, const std::string& text) {
      messages_.push_back(text);
      return kMessageOk;
    });
    invalidate_path_cache();
  }
  void TearDown() override {
    ShutdownSound();
    set_message_sink({});
    config() = saved_;
    fs::current_path(old_cwd_);
    fs::remove_all(dir_);
    invalidate_path_cache();
  }
  void start(bool record = false) {
    SoundStart s;
    if (record) s.record_path = (dir_ / "out.wav").string();
    ASSERT_TRUE(InitSound(s));
  }
  static void wait_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  fs::path dir_, old_cwd_;
  Config saved_;
  std::vector<std::string> messages_;
};

TEST_F(SoundSlots, SoundOffYieldsZeroEverywhere) {
  write_file("a.wav", wav_bytes(tone16(440, 0.5, 22050), rate_format(22050)));
  SoundStart off;
  off.enabled = false;
  EXPECT_FALSE(InitSound(off));
  EXPECT_EQ(sound_load(0, "a.wav"), 0);
  EXPECT_EQ(sound_load_stream(0, "a.wav"), 0);
  EXPECT_EQ(sound_play(0, 0), 0);
  EXPECT_EQ(sound_set_margin(100), 0);
  EXPECT_EQ(sound_get_volume(-1), 0);
  EXPECT_EQ(sound_free(-1), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SoundSlots, UnitsOfVolumePanAndFrequency) {
  start();
  write_file("a.wav", wav_bytes(tone16(440, 0.5, 22050), rate_format(22050)));
  ASSERT_EQ(sound_load(0, "A.WAV"), 1);  // any letter case
  EXPECT_EQ(sound_set_volume(0, 50), 0);
  EXPECT_EQ(sound_slot_view(0).attenuation, -1000);
  EXPECT_EQ(sound_get_volume(0), 50);
  sound_set_volume(0, 0);
  EXPECT_EQ(sound_slot_view(0).attenuation, -10000);
  EXPECT_EQ(sound_get_volume(0), 0);
  sound_set_volume(0, 150);
  EXPECT_EQ(sound_slot_view(0).attenuation, 0);
  EXPECT_EQ(sound_get_volume(0), 100);
  sound_set_pan(0, -100);
  EXPECT_EQ(sound_slot_view(0).pan, -10000);
  EXPECT_EQ(sound_get_pan(0), -99);
  sound_set_pan(0, 100);
  EXPECT_EQ(sound_slot_view(0).pan, 10000);
  sound_set_pan(0, 0);
  EXPECT_EQ(sound_slot_view(0).pan, 0);
  EXPECT_EQ(sound_set_frequency(0, 50), 0);
  EXPECT_EQ(sound_get_frequency(0), 100);
  sound_set_frequency(0, 0);
  EXPECT_EQ(sound_get_frequency(0), 22050);
  sound_set_frequency(-1, 30000);
  EXPECT_EQ(sound_get_frequency(0), 30000);
  EXPECT_EQ(sound_get_length(0), 500);

  // The master output.
  sound_set_volume(-1, 50);
  EXPECT_EQ(sound_master_attenuation(), -1000);
  EXPECT_EQ(sound_get_volume(-1), 50);
  sound_set_pan(-1, 50);
  EXPECT_EQ(sound_get_pan(-1), 49);  // 49.999, truncated

  // Bad and free slots.
  for (int no : {1, 64, -2, 1000}) {
    EXPECT_EQ(sound_get_volume(no), 0) << no;
    EXPECT_EQ(sound_set_volume(no, 50), 0) << no;
    EXPECT_EQ(sound_get_frequency(no), 0) << no;
    EXPECT_EQ(sound_play(no, 0), 0) << no;
    EXPECT_EQ(sound_free(no), 0) << no;
    EXPECT_EQ(sound_pause(no), 0) << no;
    EXPECT_EQ(sound_set_loop(no, 0), 0) << no;
  }
  EXPECT_EQ(sound_free(0), 1);
  EXPECT_EQ(sound_get_volume(0), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SoundSlots, BadFilesFailCleanly) {
  start();
  std::string good = wav_bytes(tone16(440, 0.2, 8000), rate_format(8000));
  write_file("trunc.wav", good.substr(0, 30));
  write_file("nochan.wav", wav_bytes(tone16(440, 0.2, 8000), format_with([](WavFormat& w) {
                                       w.channels = 0;
                                       w.rate = 8000;
                                     })));
  write_file("align0.wav", wav_bytes(tone16(440, 0.2, 8000), format_with([](WavFormat& w) {
                                       w.rate = 8000;
                                       w.align = 0;
                                     })));
  write_file("rate.wav", wav_bytes(tone16(440, 0.2, 8000),
                                   format_with([](WavFormat& w) { w.rate = 0x7FFFFFFF; })));
  write_file("liar.wav", wav_bytes(tone16(440, 0.2, 8000), format_with([](WavFormat& w) {
                                     w.rate = 8000;
                                     w.avg = 999;
                                   })));
  write_file("bits.wav", wav_bytes(tone16(440, 0.2, 8000), format_with([](WavFormat& w) {
                                     w.bits = 24;
                                     w.rate = 8000;
                                   })));
  write_file("adpcm.wav", wav_bytes(tone16(440, 0.2, 8000), format_with([](WavFormat& w) {
                                      w.tag = 2;
                                      w.rate = 8000;
                                    })));
  write_file("text.wav", "this is not a sound at all");
  write_file("ogg.ogg", std::string("OggS") + std::string(200, '\x55'));
  write_file("empty.wav", "");

  for (const char* quiet : {"trunc.wav", "adpcm.wav", "text.wav", "ogg.ogg", "empty.wav"}) {
    for (int stream = 0; stream < 2; ++stream) {
      EXPECT_EQ(stream ? sound_load_stream(3, quiet) : sound_load(3, quiet), 0) << quiet;
    }
  }
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  for (const char* refused : {"nochan.wav", "align0.wav", "rate.wav", "liar.wav", "bits.wav"}) {
    messages_.clear();
    EXPECT_EQ(sound_load(3, refused), 0) << refused;
    EXPECT_EQ(sound_load_stream(3, refused), 0) << refused;
    ASSERT_EQ(messages_.size(), 2u) << refused;
    EXPECT_EQ(messages_[0], "DirectSound::CreateSoundBuffer に失敗しました。");
  }
  messages_.clear();
  EXPECT_EQ(sound_load(3, ""), 0);
  EXPECT_EQ(sound_load(3, "missing.wav"), 0);
  EXPECT_FALSE(sound_slot_view(3).loaded);

  // A data chunk that claims more than the file holds plays what is there;
  // chunks are found wherever they lie.
  std::string lying = wav_bytes(tone16(440, 0.25, 8000), format_with([](WavFormat& w) {
                                  w.rate = 8000;
                                  w.extra_chunk_before_fmt = std::string("LIST\x04\0\0\0abcd", 12);
                                }));
  std::size_t data_at = lying.find("data");
  lying[data_at + 6] = '\x70';  // size field's third byte: now 7 MiB
  write_file("lying.wav", lying);
  EXPECT_EQ(sound_load(4, "lying.wav"), 1);
  EXPECT_EQ(sound_get_length(4), 250);
  EXPECT_EQ(sound_load_stream(5, "lying.wav"), 1);
  EXPECT_EQ(sound_get_length(5), 250);
}

TEST_F(SoundSlots, PausesCountAndStopRewinds) {
  start();
  write_file("a.wav", wav_bytes(tone16(440, 1.0, 22050), rate_format(22050)));
  ASSERT_EQ(sound_load(0, "a.wav"), 1);
  EXPECT_EQ(sound_is_playing(0), 0);
  EXPECT_EQ(sound_get_position(0), 0);
  ASSERT_EQ(sound_play(0, 1), 1);
  EXPECT_EQ(sound_is_playing(0), 1);
  EXPECT_EQ(sound_pause(0), 1);
  EXPECT_EQ(sound_pause(0), 1);
  EXPECT_EQ(sound_slot_view(0).pause_count, 2);
  EXPECT_EQ(sound_is_playing(0), 0);
  EXPECT_EQ(sound_replay(0), 1);
  EXPECT_EQ(sound_is_playing(0), 0) << "two pauses need two replays";
  EXPECT_EQ(sound_replay(0), 1);
  EXPECT_EQ(sound_is_playing(0), 1);
  EXPECT_EQ(sound_replay(0), 1);  // nothing outstanding: no change
  EXPECT_EQ(sound_is_playing(0), 1);

  // Position: set while playing, read back as it advances.
  EXPECT_EQ(sound_set_position(0, 500), 1);
  int p = sound_get_position(0);
  EXPECT_GE(p, 480);
  EXPECT_LE(p, 560);
  wait_ms(200);
  EXPECT_GE(sound_get_position(0), p + 100);
  EXPECT_EQ(sound_set_position(0, 5000), 0) << "past the end";
  EXPECT_EQ(sound_stop(0), 1);
  EXPECT_EQ(sound_is_playing(0), 0);
  EXPECT_EQ(sound_get_position(0), 0);

  // A static sound that does not loop ends by itself.
  write_file("short.wav", wav_bytes(tone16(440, 0.1, 22050), rate_format(22050)));
  ASSERT_EQ(sound_load(1, "short.wav"), 1);
  sound_play(1, 0);
  wait_ms(300);
  EXPECT_EQ(sound_is_playing(1), 0);
  EXPECT_EQ(sound_stop(-1), 1);
  EXPECT_EQ(sound_pause(-1), 1);
  EXPECT_EQ(sound_free(-1), 1);
  EXPECT_FALSE(sound_slot_view(0).loaded);
}

TEST_F(SoundSlots, EffectsNeedABufferOfAtLeast150Milliseconds) {
  start();
  EffectRecord echo{};
  write_file("short.wav", wav_bytes(tone16(440, 0.1, 10000), rate_format(10000)));  // 100 ms
  ASSERT_EQ(sound_load(0, "short.wav"), 1);
  EXPECT_EQ(sound_set_effect(0, kEcho, &echo), 1);
  sound_play(0, 0);
  EXPECT_FALSE(sound_slot_view(0).effects_capable);
  EXPECT_EQ(sound_slot_view(0).effects_attached, 0);

  EXPECT_EQ(sound_set_margin(50), 1);  // 100 + 50 = 150 ms
  ASSERT_EQ(sound_load(0, "short.wav"), 1);
  sound_set_effect(0, kEcho, &echo);
  sound_set_effect(0, kGargle, &echo);
  sound_play(0, 0);
  EXPECT_TRUE(sound_slot_view(0).effects_capable);
  EXPECT_EQ(sound_slot_view(0).effects_attached, 2);
  sound_set_effect(0, kEcho, nullptr);
  sound_set_effect(0, kGargle, nullptr);
  sound_play(0, 0);
  EXPECT_EQ(sound_slot_view(0).effects_attached, 0) << "clearing the last effect removes it";
  EXPECT_EQ(sound_set_effect(9, kEcho, &echo), 0) << "free slot";

  sound_set_margin(0);
  ASSERT_EQ(sound_load_stream(1, "short.wav"), 1);
  sound_set_effect(1, kReverb, &echo);
  sound_play(1, 0);
  EXPECT_EQ(sound_slot_view(1).effects_attached, 1) << "streams always take effects";
}

TEST_F(SoundSlots, StreamsPositionsTextAndTheirEnd) {
  start();
  write_file("a.wav", wav_bytes(tone16(440, 0.5, 8000), rate_format(8000)));
  ASSERT_EQ(sound_load_stream(0, "a.wav"), 1);
  EXPECT_EQ(sound_set_loop(0, 100), 1);
  EXPECT_EQ(sound_set_loop(0, 100000), 1) << "out of range: accepted, ignored";
  EXPECT_EQ(sound_set_position(0, 200), 1);
  ASSERT_EQ(sound_play(0, 0), 1);
  int p = sound_get_position(0);
  EXPECT_GE(p, 190);
  EXPECT_LE(p, 260);
  EXPECT_EQ(sound_set_position(0, 0), 0) << "refused while playing";
  std::string text = "junk";
  EXPECT_EQ(sound_get_text(0, text), 0);
  EXPECT_EQ(text, "");
  wait_ms(1600);
  EXPECT_EQ(sound_is_playing(0), 0) << "a stream that does not loop ends";
  EXPECT_EQ(sound_set_loop(1, 0), 0);
  write_file("b.wav", wav_bytes(tone16(440, 0.5, 8000), rate_format(8000)));
  ASSERT_EQ(sound_load(1, "b.wav"), 1);
  EXPECT_EQ(sound_set_loop(1, 0), 0) << "static sounds have no loop point";

  // Ogg streams carry their comment; a replayed Ogg stream plays again.
  write_file("t.wav", wav_bytes(tone16(440, 0.5, 22050), rate_format(22050)));
  if (!make_ogg(dir_ / "t.wav", dir_ / "t.ogg", "hello world")) GTEST_SKIP() << "oggenc missing";
  ASSERT_EQ(sound_load_stream(2, "t.ogg"), 1);
  EXPECT_EQ(sound_get_text(2, text), 1);
  EXPECT_EQ(text, "hello world");
  EXPECT_EQ(sound_get_length(2), 500);
  EXPECT_EQ(sound_get_frequency(2), 22050);
  ASSERT_EQ(sound_load(3, "t.ogg"), 1);
  EXPECT_EQ(sound_get_text(3, text), 1);
  EXPECT_EQ(text, "hello world");
  for (int round = 0; round < 2; ++round) {
    sound_play(2, 0);
    wait_ms(200);
    EXPECT_EQ(sound_is_playing(2), 1) << round;
    EXPECT_GE(sound_get_position(2), 100) << round;
    wait_ms(1600);
    EXPECT_EQ(sound_is_playing(2), 0) << round;
  }
}

TEST_F(SoundSlots, WithoutGlobalFocusSoundsHoldWhileInactive) {
  SoundStart local;
  local.global_focus = false;
  ASSERT_TRUE(InitSound(local));
  write_file("a.wav", wav_bytes(tone16(440, 2.0, 22050), rate_format(22050)));
  ASSERT_EQ(sound_load(0, "a.wav"), 1);
  sound_play(0, 0);
  sound_activity(false);
  int held = sound_get_position(0);
  wait_ms(300);
  EXPECT_LE(sound_get_position(0), held + 30) << "held while inactive";
  EXPECT_EQ(sound_is_playing(0), 1);
  sound_activity(true);
  wait_ms(300);
  EXPECT_GE(sound_get_position(0), held + 200);
}

TEST_F(SoundSlots, ALoopingStreamWhoseDecoderFailsEnds) {
  start();
  write_file("t.wav", wav_bytes(tone16(440, 3.0, 22050), rate_format(22050)));
  if (!make_ogg(dir_ / "t.wav", dir_ / "t.ogg", "")) GTEST_SKIP() << "oggenc missing";
  std::string ogg = read_file(dir_ / "t.ogg");
  // The headers stay whole; every audio page after them is damaged.
  for (std::size_t i = 6000; i < ogg.size(); i += 5) ogg[i] = static_cast<char>(ogg[i] ^ 0x5A);
  write_file("bad.ogg", ogg);
  ASSERT_EQ(sound_load_stream(0, "bad.ogg"), 1);
  ASSERT_EQ(sound_play(0, 1), 1);
  for (int i = 0; i < 60 && sound_is_playing(0); ++i) wait_ms(100);
  EXPECT_EQ(sound_is_playing(0), 0) << "a loop that yields nothing ends";
  EXPECT_EQ(sound_free(0), 1);
}

TEST_F(SoundSlots, RecordedOutputShowsLevelsPanAndPitch) {
  start(true);
  write_file("t.wav", wav_bytes(tone16(1000, 0.3, 44100, 0.5), rate_format(44100)));
  ASSERT_EQ(sound_load(0, "t.wav"), 1);
  sound_play(0, 0);
  wait_ms(400);
  sound_set_volume(0, 50);
  sound_play(0, 0);
  wait_ms(400);
  sound_set_volume(0, 100);
  sound_set_pan(0, -100);
  sound_play(0, 0);
  wait_ms(400);
  sound_set_pan(0, 0);
  sound_set_frequency(0, 88200);
  sound_play(0, 0);
  wait_ms(400);
  ShutdownSound();
  Recording r = read_recording(dir_ / "out.wav");
  ASSERT_GT(r.rate, 0u);
  // Find the four tones by their onsets.
  std::vector<std::pair<std::size_t, std::size_t>> parts;
  std::size_t at = 0;
  while (parts.size() < 4) {
    std::size_t on = onset(r.left, 0.05f, at);
    if (on >= r.left.size()) on = onset(r.right, 0.05f, at);
    ASSERT_LT(on, r.left.size()) << parts.size();
    std::size_t end = on;
    std::size_t quiet = 0;
    while (end < r.left.size() && quiet < r.rate / 50) {
      quiet = (std::fabs(r.left[end]) < 0.01f && std::fabs(r.right[end]) < 0.01f) ? quiet + 1 : 0;
      ++end;
    }
    parts.push_back({on, end - quiet});
    at = end;
  }
  auto mid = [&](int i) {
    return std::make_pair(parts[i].first + r.rate / 50, parts[i].second - r.rate / 50);
  };
  auto [a0, a1] = mid(0);
  auto [b0, b1] = mid(1);
  auto [c0, c1] = mid(2);
  auto [d0, d1] = mid(3);
  EXPECT_NEAR(peak(r.left, a0, a1), 0.5f, 0.01f);
  EXPECT_NEAR(peak(r.left, b0, b1) / peak(r.left, a0, a1), 0.5f, 0.005f);
  EXPECT_NEAR(peak(r.left, c0, c1), 0.5f, 0.01f);
  EXPECT_LT(peak(r.right, c0, c1), 0.001f) << "pan -100 leaves the right channel silent";
  double f1 = frequency(r.left, a0, a1, r.rate), f2 = frequency(r.left, d0, d1, r.rate);
  EXPECT_NEAR(f1, 1000.0, 5.0);
  EXPECT_NEAR(f2 / f1, 2.0, 0.02);
  EXPECT_NEAR(double(parts[3].second - parts[3].first) / double(parts[0].second - parts[0].first),
              0.5, 0.03)
      << "twice the rate, half the time";
}

}  // namespace
