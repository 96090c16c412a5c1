// Each effect does what its name says, measurably, and its record is
// clamped to the documented ranges.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <numbers>
#include <cstring>
#include <vector>

#include "audio/effects.h"
#include "audio_test_util.h"

namespace {

using namespace talven::audio;

constexpr std::uint32_t kRate = 48000;

EffectRecord record(std::initializer_list<float> fields,
                    std::initializer_list<int> int_positions = {}) {
  EffectRecord r{};
  int i = 0;
  for (float f : fields) {
    bool is_int = false;
    for (int p : int_positions) is_int |= p == i;
    std::uint32_t w = is_int ? static_cast<std::uint32_t>(static_cast<std::int32_t>(f))
                             : std::bit_cast<std::uint32_t>(f);
    std::memcpy(r.data() + 4 * i, &w, 4);
    ++i;
  }
  return r;
}

// Runs a mono signal through an effect; returns the left channel.
std::vector<float> run(int kind, const EffectRecord& r, const std::vector<float>& in) {
  auto fx = make_effect(kind, r, kRate);
  std::vector<float> s(2 * in.size());
  for (std::size_t i = 0; i < in.size(); ++i) s[2 * i] = s[2 * i + 1] = in[i];
  for (std::size_t at = 0; at < in.size(); at += 512)
    fx->process(s.data() + 2 * at, std::min<std::size_t>(512, in.size() - at));
  std::vector<float> out(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = s[2 * i];
  return out;
}

std::vector<float> sine(double freq, double seconds, float amplitude) {
  std::vector<float> x(static_cast<std::size_t>(seconds * kRate));
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] = amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * freq * i / kRate));
  return x;
}

TEST(Effects, EchoRepeatsAfterTheDelayWithTheFeedback) {
  std::vector<float> x(kRate, 0.0f);
  x[100] = 1.0f;
  // wet 50 %, feedback 40 %, 250 ms on both sides
  auto y = run(kEcho, record({50, 40, 250, 250, 0}, {4}), x);
  const std::size_t d = kRate / 4;
  EXPECT_NEAR(y[100], 0.5f, 1e-4);
  EXPECT_NEAR(y[100 + d], 0.5f, 1e-3);
  EXPECT_NEAR(y[100 + 2 * d], 0.5f * 0.4f, 1e-3);
  EXPECT_NEAR(y[100 + 3 * d], 0.5f * 0.16f, 1e-3);
  EXPECT_NEAR(talven::test::peak(y, 200, 100 + d - 10), 0.0f, 1e-6) << "nothing between the echoes";
}

TEST(Effects, ParametricEqualiserChangesTheGainAtItsCentre) {
  auto x = sine(1000, 0.5, 0.25f);
  auto boosted = run(kParamEq, record({1000, 12, 6}), x);
  auto cut = run(kParamEq, record({1000, 12, -12}), x);
  auto far = run(kParamEq, record({8000, 3, 12}), x);
  double base = talven::test::rms(x, kRate / 4, x.size());
  EXPECT_NEAR(talven::test::rms(boosted, kRate / 4, x.size()) / base, std::pow(10.0, 6 / 20.0),
              0.03);
  EXPECT_NEAR(talven::test::rms(cut, kRate / 4, x.size()) / base, std::pow(10.0, -12 / 20.0), 0.01);
  EXPECT_NEAR(talven::test::rms(far, kRate / 4, x.size()) / base, 1.0, 0.05)
      << "far from the centre little changes";
}

TEST(Effects, GargleModulatesTheAmplitudeAtItsRate) {
  auto x = sine(2000, 1.0, 0.5f);
  for (int shape : {0, 1}) {
    auto y = run(kGargle, record({10, static_cast<float>(shape)}, {0, 1}), x);
    // Envelope per millisecond, then count its rises through the middle.
    std::vector<float> env;
    for (std::size_t at = 0; at + 48 <= y.size(); at += 48)
      env.push_back(talven::test::peak(y, at, at + 48));
    int rises = 0;
    for (std::size_t i = 1; i < env.size(); ++i) rises += env[i - 1] < 0.25f && env[i] >= 0.25f;
    EXPECT_NEAR(rises, 10, 1) << "shape " << shape;
    EXPECT_LT(*std::min_element(env.begin(), env.end()), 0.05f);
    EXPECT_GT(*std::max_element(env.begin(), env.end()), 0.45f);
  }
}

TEST(Effects, CompressorReducesGainAboveTheThresholdByTheRatio) {
  // A tone at -6 dB, threshold -20 dB, ratio 4: the output settles at
  // -20 + 14 / 4 = -16.5 dB. Below the threshold nothing changes.
  auto loud = sine(500, 1.0, 0.5f);
  auto y = run(kCompressor, record({0, 10, 200, -20, 4, 0}), loud);
  double level = 20 * std::log10(talven::test::peak(y, kRate / 2, y.size()));
  EXPECT_NEAR(level, -16.5, 1.0);
  auto quiet = sine(500, 1.0, 0.05f);  // -26 dB
  auto q = run(kCompressor, record({0, 10, 200, -20, 4, 0}), quiet);
  EXPECT_NEAR(talven::test::peak(q, kRate / 2, q.size()), 0.05f, 0.002f);
  // Make-up gain lifts the whole signal.
  auto lifted = run(kCompressor, record({6, 10, 200, -20, 4, 0}), quiet);
  EXPECT_NEAR(talven::test::peak(lifted, kRate / 2, q.size()) / 0.05f, std::pow(10.0, 6 / 20.0),
              0.05);
}

TEST(Effects, ReverbAddsATailOfAboutTheReverbTime) {
  // A burst of 50 ms, then silence; time from the burst's end until the
  // tail is 60 dB below its start.
  for (float time : {500.0f, 1500.0f}) {
    std::vector<float> x(3 * kRate, 0.0f);
    for (std::size_t i = 0; i < kRate / 20; ++i)
      x[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 300 * i / kRate));
    auto y = run(kReverb, record({0, 0, time, 0.999f}), x);
    const std::size_t start = kRate / 20 + kRate / 20;
    const std::size_t win = kRate / 50;
    double first = talven::test::rms(y, start, start + win);
    ASSERT_GT(first, 1e-3);
    std::size_t at = start;
    while (at + win < y.size() && talven::test::rms(y, at, at + win) > first * 1e-3) at += win / 2;
    double seconds = double(at - start) / kRate;
    EXPECT_GT(seconds, time / 1000.0 * 0.6) << time;
    EXPECT_LT(seconds, time / 1000.0 * 1.4) << time;
  }
}

TEST(Effects, ChorusFlangerAndDistortionChangeTheSignalAndStayBounded) {
  auto x = sine(440, 0.5, 0.5f);
  for (int kind : {kChorus, kFlanger, kDistortion}) {
    EffectRecord r{};
    // NaN fields take the defaults.
    float nan = std::nanf("");
    for (int i = 0; i < 7; ++i) std::memcpy(r.data() + 4 * i, &nan, 4);
    if (kind != kDistortion) {
      std::int32_t sine_wave = 1, phase = 3;
      std::memcpy(r.data() + 16, &sine_wave, 4);
      std::memcpy(r.data() + 24, &phase, 4);
    }
    auto y = run(kind, r, x);
    double diff = 0;
    for (std::size_t i = kRate / 10; i < x.size(); ++i) diff += std::fabs(y[i] - x[i]);
    EXPECT_GT(diff / x.size(), 0.01) << kind;
    EXPECT_LT(talven::test::peak(y, 0, y.size()), 2.0f) << kind;
  }
}

TEST(Effects, RecordsAreClampedToTheirRanges) {
  float p[7];
  effect_parameters(kEcho, record({150, -10, 0, 5000, 7}, {4}), p);
  EXPECT_EQ(p[0], 100);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 1);
  EXPECT_EQ(p[3], 2000);
  EXPECT_EQ(p[4], 1);
  effect_parameters(kGargle, record({0, -3}, {0, 1}), p);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(p[1], 0);
  effect_parameters(kReverb, record({10, -200, 99999, 2}), p);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], -96);
  EXPECT_EQ(p[2], 3000);
  EXPECT_FLOAT_EQ(p[3], 0.999f);
  effect_parameters(kParamEq, record({1, 100, 40}), p);
  EXPECT_EQ(p[0], 80);
  EXPECT_EQ(p[1], 36);
  EXPECT_EQ(p[2], 15);
  float inf = INFINITY;
  effect_parameters(kCompressor, record({inf, -inf, 0, 5, 0.5f, 9}), p);
  EXPECT_EQ(p[0], 60);
  EXPECT_FLOAT_EQ(p[1], 0.01f);
  EXPECT_EQ(p[2], 50);
  EXPECT_EQ(p[3], 0);
  EXPECT_EQ(p[4], 1);
  EXPECT_EQ(p[5], 4);
  EXPECT_EQ(effect_record_size(kChorus), 28u);
  EXPECT_EQ(effect_record_size(kGargle), 8u);
  EXPECT_EQ(effect_record_size(kReverb), 16u);
  // Extreme records still make working effects.
  auto x = sine(440, 0.2, 0.5f);
  for (int kind = 0; kind < kEffectCount; ++kind) {
    auto y = run(kind, record({1e30f, 1e30f, 1e30f, 1e30f, 1e30f, 1e30f, 1e30f}), x);
    for (float v : y) ASSERT_TRUE(std::isfinite(v)) << kind;
  }
}

}  // namespace
