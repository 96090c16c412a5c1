#include "audio/effects.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace talven::audio {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Field {
  bool is_int;
  float min, max, def;
};

// The fields of each record, in record order.
constexpr Field kChorusFields[] = {{false, 0, 100, 50},  {false, 0, 100, 10}, {false, -99, 99, 25},
                                   {false, 0, 10, 1.1f}, {true, 0, 1, 1},     {false, 0, 20, 16},
                                   {true, 0, 4, 3}};
constexpr Field kCompressorFields[] = {{false, -60, 60, 0},    {false, 0.01f, 500, 10},
                                       {false, 50, 3000, 200}, {false, -60, 0, -20},
                                       {false, 1, 100, 3},     {false, 0, 4, 4}};
constexpr Field kDistortionFields[] = {{false, -60, 0, -18},
                                       {false, 0, 100, 15},
                                       {false, 100, 8000, 2400},
                                       {false, 100, 8000, 2400},
                                       {false, 100, 8000, 8000}};
constexpr Field kEchoFields[] = {{false, 0, 100, 50},
                                 {false, 0, 100, 50},
                                 {false, 1, 2000, 500},
                                 {false, 1, 2000, 500},
                                 {true, 0, 1, 0}};
constexpr Field kFlangerFields[] = {
    {false, 0, 100, 50}, {false, 0, 100, 100}, {false, -99, 99, -50}, {false, 0, 10, 0.25f},
    {true, 0, 1, 1},     {false, 0, 4, 2},     {true, 0, 4, 2}};
constexpr Field kGargleFields[] = {{true, 1, 1000, 20}, {true, 0, 1, 0}};
constexpr Field kParamEqFields[] = {
    {false, 80, 16000, 8000}, {false, 1, 36, 12}, {false, -15, 15, 0}};
constexpr Field kReverbFields[] = {{false, -96, 0, 0},
                                   {false, -96, 0, 0},
                                   {false, 0.001f, 3000, 1000},
                                   {false, 0.001f, 0.999f, 0.001f}};

struct FieldList {
  const Field* fields;
  std::size_t count;
};

FieldList fields_of(int kind) {
  switch (kind) {
    case kChorus: return {kChorusFields, 7};
    case kCompressor: return {kCompressorFields, 6};
    case kDistortion: return {kDistortionFields, 5};
    case kEcho: return {kEchoFields, 5};
    case kFlanger: return {kFlangerFields, 7};
    case kGargle: return {kGargleFields, 2};
    case kParamEq: return {kParamEqFields, 3};
    case kReverb: return {kReverbFields, 4};
    default: return {nullptr, 0};
  }
}

float db_gain(float db) { return static_cast<float>(std::pow(10.0, db / 20.0)); }

// A delay line read at fractional delays.
class DelayLine {
 public:
  void resize(std::size_t n) {
    buf_.assign(std::max<std::size_t>(n, 4), 0.0f);
    pos_ = 0;
  }
  void push(float x) {
    buf_[pos_] = x;
    if (++pos_ == buf_.size()) pos_ = 0;
  }
  // The sample pushed `delay` samples ago (1 = the newest).
  float read(double delay) const {
    delay = std::clamp(delay, 1.0, static_cast<double>(buf_.size() - 1));
    std::size_t whole = static_cast<std::size_t>(delay);
    float t = static_cast<float>(delay - whole);
    float a = at(whole), b = at(whole + 1);
    return a + (b - a) * t;
  }

 private:
  float at(std::size_t back) const {
    std::size_t n = buf_.size();
    return buf_[(pos_ + n - back % n) % n];
  }
  std::vector<float> buf_;
  std::size_t pos_ = 0;
};

// Low-frequency oscillator in -1..1: 0 triangle, 1 sine.
float lfo(int waveform, double phase) {
  phase -= std::floor(phase);
  if (waveform == 1) return static_cast<float>(std::sin(2 * kPi * phase));
  // triangle starting at 0 like the sine
  double p = phase + 0.25;
  p -= std::floor(p);
  return static_cast<float>(p < 0.5 ? 4 * p - 1 : 3 - 4 * p);
}

// Chorus and flanger: a delay modulated by the oscillator, with feedback,
// mixed with the dry signal.
class ModulatedDelay : public Effect {
 public:
  ModulatedDelay(const float* p, std::uint32_t rate) {
    wet_ = p[0] / 100.0f;
    depth_ = p[1] / 100.0f;
    feedback_ = p[2] / 100.0f;
    step_ = p[3] / rate;
    waveform_ = static_cast<int>(p[4]);
    delay_ = p[5] * rate / 1000.0;
    offset_ = (static_cast<int>(p[6]) - 2) * 0.25;  // quarter turns between the channels
    std::size_t n = static_cast<std::size_t>(2 * delay_ + 8);
    for (auto& line : lines_) line.resize(n);
  }
  void process(float* s, std::size_t frames) override {
    for (std::size_t i = 0; i < frames; ++i) {
      for (int c = 0; c < 2; ++c) {
        double d = delay_ * (1.0 + depth_ * lfo(waveform_, phase_ + (c ? offset_ : 0.0))) + 1.0;
        float delayed = lines_[c].read(d);
        float x = s[2 * i + c];
        lines_[c].push(x + feedback_ * delayed);
        s[2 * i + c] = x * (1.0f - wet_) + delayed * wet_;
      }
      phase_ += step_;
      if (phase_ >= 1.0) phase_ -= 1.0;
    }
  }

 private:
  float wet_, depth_, feedback_;
  double step_, delay_, offset_, phase_ = 0;
  int waveform_;
  DelayLine lines_[2];
};

// Echo: a delay per channel with feedback; with pan delay the feedback
// crosses to the other channel, so successive echoes swap sides.
class Echo : public Effect {
 public:
  Echo(const float* p, std::uint32_t rate) {
    wet_ = p[0] / 100.0f;
    feedback_ = p[1] / 100.0f;
    delay_[0] = std::max(1.0, std::round(p[2] * rate / 1000.0));
    delay_[1] = std::max(1.0, std::round(p[3] * rate / 1000.0));
    swap_ = p[4] != 0;
    lines_[0].resize(static_cast<std::size_t>(delay_[0]) + 2);
    lines_[1].resize(static_cast<std::size_t>(delay_[1]) + 2);
  }
  void process(float* s, std::size_t frames) override {
    for (std::size_t i = 0; i < frames; ++i) {
      float d0 = lines_[0].read(delay_[0]), d1 = lines_[1].read(delay_[1]);
      float l = s[2 * i], r = s[2 * i + 1];
      lines_[0].push(l + feedback_ * (swap_ ? d1 : d0));
      lines_[1].push(r + feedback_ * (swap_ ? d0 : d1));
      s[2 * i] = l * (1.0f - wet_) + d0 * wet_;
      s[2 * i + 1] = r * (1.0f - wet_) + d1 * wet_;
    }
  }

 private:
  float wet_, feedback_;
  double delay_[2];
  bool swap_;
  DelayLine lines_[2];
};

// Gargle: amplitude modulation by a triangle or square wave at the rate.
class Gargle : public Effect {
 public:
  Gargle(const float* p, std::uint32_t rate)
      : period_(std::max<std::uint32_t>(1, static_cast<std::uint32_t>(rate / p[0]))),
        square_(p[1] != 0) {}
  void process(float* s, std::size_t frames) override {
    const std::uint32_t half = std::max<std::uint32_t>(1, period_ / 2);
    for (std::size_t i = 0; i < frames; ++i) {
      float m;
      if (square_) {
        m = pos_ < half ? 1.0f : 0.0f;
      } else {
        m = pos_ < half ? static_cast<float>(pos_) / half
                        : static_cast<float>(period_ - pos_) / (period_ - half);
      }
      s[2 * i] *= m;
      s[2 * i + 1] *= m;
      if (++pos_ >= period_) pos_ = 0;
    }
  }

 private:
  std::uint32_t period_;
  bool square_;
  std::uint32_t pos_ = 0;
};

// One biquad section per channel (direct form I).
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  double x1[2] = {0, 0}, x2[2] = {0, 0}, y1[2] = {0, 0}, y2[2] = {0, 0};
  float run(int c, float x) {
    double y = b0 * x + b1 * x1[c] + b2 * x2[c] - a1 * y1[c] - a2 * y2[c];
    x2[c] = x1[c];
    x1[c] = x;
    y2[c] = y1[c];
    y1[c] = y;
    return static_cast<float>(y);
  }
  void set(double nb0, double nb1, double nb2, double a0, double na1, double na2) {
    b0 = nb0 / a0;
    b1 = nb1 / a0;
    b2 = nb2 / a0;
    a1 = na1 / a0;
    a2 = na2 / a0;
  }
  // Peaking equaliser: gain_db at f0, bandwidth in octaves.
  void peaking(double f0, double octaves, double gain_db, double rate) {
    double a = std::pow(10.0, gain_db / 40.0);
    double w0 = 2 * kPi * f0 / rate;
    double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2 * octaves * w0 / std::sin(w0));
    set(1 + alpha * a, -2 * std::cos(w0), 1 - alpha * a, 1 + alpha / a, -2 * std::cos(w0),
        1 - alpha / a);
  }
  void lowpass(double f0, double rate) {
    double w0 = 2 * kPi * f0 / rate, alpha = std::sin(w0) / (2 * 0.7071), c = std::cos(w0);
    set((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
  }
  void bandpass(double f0, double q, double rate) {
    double w0 = 2 * kPi * f0 / rate, alpha = std::sin(w0) / (2 * q), c = std::cos(w0);
    set(alpha, 0, -alpha, 1 + alpha, -2 * c, 1 - alpha);
  }
};

double below_nyquist(double f, std::uint32_t rate) { return std::min(f, 0.45 * rate); }

class ParamEq : public Effect {
 public:
  ParamEq(const float* p, std::uint32_t rate) {
    eq_.peaking(below_nyquist(p[0], rate), p[1] / 12.0, p[2], rate);
  }
  void process(float* s, std::size_t frames) override {
    for (std::size_t i = 0; i < frames; ++i) {
      s[2 * i] = eq_.run(0, s[2 * i]);
      s[2 * i + 1] = eq_.run(1, s[2 * i + 1]);
    }
  }

 private:
  Biquad eq_;
};

// Compressor: a peak follower on both channels with the attack and release
// times; above the threshold the level grows by 1/ratio of the input's
// growth. The signal is delayed by the predelay so the gain can act before
// a sudden peak; the gain field is make-up gain.
class Compressor : public Effect {
 public:
  Compressor(const float* p, std::uint32_t rate) {
    makeup_db_ = p[0];
    attack_ = static_cast<float>(std::exp(-1.0 / (p[1] * rate / 1000.0)));
    release_ = static_cast<float>(std::exp(-1.0 / (p[2] * rate / 1000.0)));
    threshold_db_ = p[3];
    slope_ = 1.0f / p[4] - 1.0f;
    predelay_ = static_cast<std::size_t>(p[5] * rate / 1000.0);
    for (auto& line : lines_) line.resize(predelay_ + 2);
  }
  void process(float* s, std::size_t frames) override {
    for (std::size_t i = 0; i < frames; ++i) {
      float l = s[2 * i], r = s[2 * i + 1];
      float peak = std::max(std::fabs(l), std::fabs(r));
      float k = peak > env_ ? attack_ : release_;
      env_ = k * env_ + (1.0f - k) * peak;
      float gain_db = makeup_db_;
      if (env_ > 1e-6f) {
        float level = 20.0f * std::log10(env_);
        if (level > threshold_db_) gain_db += (level - threshold_db_) * slope_;
      }
      float g = db_gain(gain_db);
      if (predelay_) {
        lines_[0].push(l);
        lines_[1].push(r);
        l = lines_[0].read(static_cast<double>(predelay_));
        r = lines_[1].read(static_cast<double>(predelay_));
      }
      s[2 * i] = l * g;
      s[2 * i + 1] = r * g;
    }
  }

 private:
  float makeup_db_, attack_, release_, threshold_db_, slope_;
  float env_ = 0;
  std::size_t predelay_;
  DelayLine lines_[2];
};

// Distortion: low-pass before a soft clipper driven by the edge, the added
// harmonics emphasised around the post-EQ band, then the output gain.
class Distortion : public Effect {
 public:
  Distortion(const float* p, std::uint32_t rate) {
    gain_ = db_gain(p[0]);
    drive_ = 1.0f + p[1] * 0.5f;
    norm_ = 1.0f / std::tanh(drive_);
    double centre = below_nyquist(p[2], rate);
    post_.bandpass(centre, std::max(0.1, centre / p[3]), rate);
    pre_.lowpass(below_nyquist(p[4], rate), rate);
  }
  void process(float* s, std::size_t frames) override {
    for (std::size_t i = 0; i < frames; ++i) {
      for (int c = 0; c < 2; ++c) {
        float x = pre_.run(c, s[2 * i + c]);
        float y = std::tanh(drive_ * x) * norm_;
        s[2 * i + c] = gain_ * (y + post_.run(c, y - x));
      }
    }
  }

 private:
  float gain_, drive_, norm_;
  Biquad pre_, post_;
};

// Reverb: per channel four damped comb filters in parallel and two
// all-passes in series. Each comb's feedback makes it fall by 60 dB in the
// reverb time; its damping makes the highest frequencies fall in the reverb
// time times the high-frequency ratio.
class Reverb : public Effect {
 public:
  Reverb(const float* p, std::uint32_t rate) {
    in_gain_ = db_gain(p[0]);
    wet_ = db_gain(p[1]);
    dry_ = std::sqrt(std::max(0.0f, 1.0f - wet_ * wet_));
    const double time_ms = p[2], ratio = p[3];
    static constexpr double kCombMs[4] = {29.7, 37.1, 41.1, 43.7};
    static constexpr double kAllpassMs[2] = {5.0, 1.7};
    for (int c = 0; c < 2; ++c) {
      for (int k = 0; k < 4; ++k) {
        Comb& comb = combs_[c][k];
        double ms = kCombMs[k] + c * 0.5;  // a little apart for width
        std::size_t n = std::max<std::size_t>(1, static_cast<std::size_t>(ms * rate / 1000.0));
        comb.buf.assign(n, 0.0f);
        double real_ms = n * 1000.0 / rate;
        double g = std::pow(10.0, -3.0 * real_ms / time_ms);
        double g_high = std::pow(10.0, -3.0 * real_ms / (time_ms * ratio));
        double r = g > 0 ? g_high / g : 1.0;
        comb.feedback = static_cast<float>(g);
        comb.damp = static_cast<float>(std::min(0.98, (1 - r) / (1 + r)));
      }
      for (int k = 0; k < 2; ++k) {
        std::size_t n = std::max<std::size_t>(
            1, static_cast<std::size_t>((kAllpassMs[k] + c * 0.3) * rate / 1000.0));
        allpass_[c][k].buf.assign(n, 0.0f);
      }
    }
  }
  void process(float* s, std::size_t frames) override {
    for (std::size_t i = 0; i < frames; ++i) {
      for (int c = 0; c < 2; ++c) {
        float x = s[2 * i + c];
        float in = x * in_gain_;
        float sum = 0;
        for (Comb& comb : combs_[c]) {
          float y = comb.buf[comb.pos];
          comb.store = y * (1 - comb.damp) + comb.store * comb.damp;
          comb.buf[comb.pos] = in + comb.store * comb.feedback;
          if (++comb.pos == comb.buf.size()) comb.pos = 0;
          sum += y;
        }
        float y = sum * 0.25f;
        for (Allpass& ap : allpass_[c]) {
          float b = ap.buf[ap.pos];
          float v = y + 0.5f * b;
          ap.buf[ap.pos] = v;
          if (++ap.pos == ap.buf.size()) ap.pos = 0;
          y = b - 0.5f * v;
        }
        s[2 * i + c] = x * dry_ + y * wet_;
      }
    }
  }

 private:
  struct Comb {
    std::vector<float> buf;
    std::size_t pos = 0;
    float feedback = 0, damp = 0, store = 0;
  };
  struct Allpass {
    std::vector<float> buf;
    std::size_t pos = 0;
  };
  float in_gain_, wet_, dry_;
  Comb combs_[2][4];
  Allpass allpass_[2][2];
};

}  // namespace

std::size_t effect_record_size(int kind) { return 4 * fields_of(kind).count; }

void effect_parameters(int kind, const EffectRecord& record, float* out) {
  FieldList list = fields_of(kind);
  for (std::size_t i = 0; i < list.count; ++i) {
    const Field& f = list.fields[i];
    std::uint32_t w;
    std::memcpy(&w, record.data() + 4 * i, 4);
    float v;
    if (f.is_int) {
      v = static_cast<float>(std::clamp<std::int64_t>(static_cast<std::int32_t>(w),
                                                      static_cast<std::int64_t>(f.min),
                                                      static_cast<std::int64_t>(f.max)));
    } else {
      v = std::bit_cast<float>(w);
      v = std::isnan(v) ? f.def : std::clamp(v, f.min, f.max);
    }
    out[i] = v;
  }
}

std::unique_ptr<Effect> make_effect(int kind, const EffectRecord& record, std::uint32_t rate) {
  float p[7] = {};
  effect_parameters(kind, record, p);
  if (rate == 0) rate = kDefaultOutputRate;
  switch (kind) {
    case kChorus:
    case kFlanger: return std::make_unique<ModulatedDelay>(p, rate);
    case kCompressor: return std::make_unique<Compressor>(p, rate);
    case kDistortion: return std::make_unique<Distortion>(p, rate);
    case kEcho: return std::make_unique<Echo>(p, rate);
    case kGargle: return std::make_unique<Gargle>(p, rate);
    case kParamEq: return std::make_unique<ParamEq>(p, rate);
    case kReverb: return std::make_unique<Reverb>(p, rate);
    default: return nullptr;
  }
}

}  // namespace talven::audio
