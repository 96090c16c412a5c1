// The mixer rendered offline: levels and pans in their units, resampling,
// positions, the end of a sound, looping and focus.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound.h"
#include "audio_test_util.h"

namespace {

using namespace talven::audio;
using talven::test::frequency;
using talven::test::peak;
using talven::test::tone16;

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

struct Rendered {
  std::vector<float> left, right;
};

Rendered render(Mixer& m, std::size_t frames) {
  std::vector<float> buf(2 * frames);
  m.render(buf.data(), frames);
  Rendered r;
  for (std::size_t i = 0; i < frames; ++i) {
    r.left.push_back(buf[2 * i]);
    r.right.push_back(buf[2 * i + 1]);
  }
  return r;
}

TEST(SoundUnits, VolumePanAndFrequencyConversions) {
  EXPECT_EQ(volume_to_attenuation(50), -1000);
  EXPECT_EQ(volume_to_attenuation(0), -10000);
  EXPECT_EQ(volume_to_attenuation(100), 0);
  EXPECT_EQ(volume_to_attenuation(150), 0);  // acts as 100
  EXPECT_EQ(volume_to_attenuation(-5), -10000);
  EXPECT_EQ(attenuation_to_volume(-1000), 50);
  EXPECT_EQ(attenuation_to_volume(0), 100);
  EXPECT_EQ(attenuation_to_volume(-10000), 0);
  EXPECT_EQ(attenuation_to_volume(-20000), 0);
  for (int v = 1; v <= 100; v += 7)
    EXPECT_NEAR(attenuation_to_volume(volume_to_attenuation(v)), v, 1) << v;

  EXPECT_EQ(pan_to_platform(-100), -10000);
  EXPECT_EQ(pan_to_platform(100), 10000);
  EXPECT_EQ(pan_to_platform(0), 0);
  EXPECT_EQ(pan_to_platform(-300), -10000);
  EXPECT_EQ(pan_to_platform(-50), -1000);
  EXPECT_EQ(pan_to_platform(50), 1000);
  EXPECT_EQ(platform_to_pan(-1000), -49);  // the rule truncates 49.999
  EXPECT_EQ(platform_to_pan(1000), 49);
  EXPECT_EQ(platform_to_pan(10000), 99);
  EXPECT_EQ(platform_to_pan(0), 0);

  EXPECT_EQ(clamp_frequency(50), 100u);
  EXPECT_EQ(clamp_frequency(0), 0u);
  EXPECT_EQ(clamp_frequency(22050), 22050u);
  EXPECT_EQ(clamp_frequency(500000), 100000u);
  EXPECT_EQ(clamp_frequency(-1), 100u);
}

TEST(Mixer, LevelsFollowTheAttenuationScaleAndPanSilencesOneSide) {
  Mixer m(48000);
  auto buf = std::make_shared<PcmBuffer>(1, 16, 48000, bytes_of(tone16(1000, 1.0, 48000, 0.5)));
  VoiceId v = m.add_voice(buf, 48000);
  ASSERT_GE(v, 0);
  buf->set_looping(true);
  m.start(v);
  Rendered full = render(m, 4800);
  m.set_level(v, volume_to_attenuation(50), 0);
  Rendered half = render(m, 4800);
  EXPECT_NEAR(peak(full.left, 0, 4800), 0.5f, 0.01f);
  EXPECT_NEAR(peak(half.left, 0, 4800) / peak(full.left, 0, 4800), 0.5f, 0.005f);

  m.set_level(v, 0, pan_to_platform(-100));
  Rendered left = render(m, 4800);
  EXPECT_NEAR(peak(left.left, 0, 4800), 0.5f, 0.01f);
  EXPECT_EQ(peak(left.right, 0, 4800), 0.0f);
  m.set_level(v, 0, pan_to_platform(100));
  Rendered right = render(m, 4800);
  EXPECT_EQ(peak(right.left, 0, 4800), 0.0f);

  m.set_level(v, kSilence, 0);
  EXPECT_EQ(peak(render(m, 4800).left, 0, 4800), 0.0f);

  // The master level applies to the sum.
  m.set_level(v, 0, 0);
  m.set_master(volume_to_attenuation(50), pan_to_platform(100));
  Rendered master = render(m, 4800);
  EXPECT_EQ(peak(master.left, 0, 4800), 0.0f);
  EXPECT_NEAR(peak(master.right, 0, 4800), 0.25f, 0.005f);
}

TEST(Mixer, ResamplingKeepsPitchAndADoubledRateDoublesIt) {
  Mixer m(48000);
  // 22050 Hz, 8-bit stereo: the format conversions and the resampler at once.
  std::string samples;
  for (int i = 0; i < 22050; ++i) {
    auto s = static_cast<std::uint8_t>(
        128 + std::lrint(100 * std::sin(2 * std::numbers::pi * 441.0 * i / 22050)));
    samples.push_back(static_cast<char>(s));
    samples.push_back(static_cast<char>(s));
  }
  auto buf = std::make_shared<PcmBuffer>(2, 8, 22050, bytes_of(samples));
  buf->set_looping(true);
  VoiceId v = m.add_voice(buf, 22050);
  m.start(v);
  Rendered r = render(m, 24000);
  EXPECT_NEAR(frequency(r.left, 100, 24000, 48000), 441.0, 2.0);
  EXPECT_NEAR(frequency(r.right, 100, 24000, 48000), 441.0, 2.0);
  m.set_rate(v, 44100);
  Rendered fast = render(m, 24000);
  EXPECT_NEAR(frequency(fast.left, 100, 24000, 48000), 882.0, 4.0);
  EXPECT_EQ(m.rate(v), 44100u);
}

TEST(Mixer, PositionCountsConsumedFramesAndASoundEndsByItself) {
  Mixer m(48000);
  auto buf =
      std::make_shared<PcmBuffer>(1, 16, 24000, bytes_of(tone16(500, 0.5, 24000)));  // 12000 frames
  VoiceId v = m.add_voice(buf, 24000);
  m.start(v);
  render(m, 4800);  // 100 ms
  EXPECT_EQ(m.position(v), 2400u);
  EXPECT_EQ(buf->cursor(), 2 * 2400u);
  EXPECT_TRUE(m.playing(v));
  render(m, 48000);
  EXPECT_FALSE(m.playing(v)) << "a sound that is not looping stops at its end";
  EXPECT_EQ(m.position(v), 12000u);

  // Looping goes on past the end.
  buf->set_cursor(0);
  buf->set_looping(true);
  m.start(v, true);
  render(m, 48000);
  EXPECT_TRUE(m.playing(v));
  EXPECT_EQ(m.position(v), 12000u + 24000u);

  // A stopped voice adds nothing and does not move.
  m.stop(v);
  std::uint32_t at = buf->cursor();
  EXPECT_EQ(peak(render(m, 4800).left, 0, 4800), 0.0f);
  EXPECT_EQ(buf->cursor(), at);
  EXPECT_FALSE(buf->set_cursor(buf->size()));
  EXPECT_TRUE(buf->set_cursor(buf->size() - 2));
}

TEST(Mixer, VoicesWithoutGlobalFocusHoldWhileInactive) {
  Mixer m(48000);
  auto a = std::make_shared<PcmBuffer>(1, 16, 48000, bytes_of(tone16(1000, 1.0, 48000)));
  auto b = std::make_shared<PcmBuffer>(1, 16, 48000, bytes_of(tone16(1000, 1.0, 48000)));
  VoiceId global = m.add_voice(a, 48000, true);
  VoiceId local = m.add_voice(b, 48000, false);
  m.start(global);
  m.start(local);
  m.set_active(false);
  render(m, 4800);
  EXPECT_EQ(m.position(global), 4800u);
  EXPECT_EQ(m.position(local), 0u);
  EXPECT_TRUE(m.playing(local));
  m.set_active(true);
  render(m, 4800);
  EXPECT_EQ(m.position(local), 4800u);
}

TEST(Mixer, VoiceTableLimitsAndStaleIds) {
  Mixer m(48000);
  std::vector<VoiceId> ids;
  for (int i = 0; i < kMaxVoices; ++i) {
    ids.push_back(
        m.add_voice(std::make_shared<PcmBuffer>(1, 16, 8000, std::vector<std::uint8_t>(16)), 8000));
    ASSERT_GE(ids.back(), 0);
  }
  EXPECT_EQ(
      m.add_voice(std::make_shared<PcmBuffer>(1, 16, 8000, std::vector<std::uint8_t>(16)), 8000),
      -1);
  m.remove_voice(ids[5]);
  VoiceId again =
      m.add_voice(std::make_shared<PcmBuffer>(1, 16, 8000, std::vector<std::uint8_t>(16)), 8000);
  ASSERT_GE(again, 0);
  EXPECT_NE(again, ids[5]);
  // The removed id no longer reaches the slot's new voice.
  m.start(ids[5]);
  EXPECT_FALSE(m.playing(again));
  EXPECT_EQ(m.rate(ids[5]), 0u);
}

}  // namespace
