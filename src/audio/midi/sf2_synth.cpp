#include "audio/midi/sf2_synth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talven::audio::midi {

namespace {

using namespace sf2;

// The output level of one voice at full scale: a few dozen voices sum
// without clipping.
constexpr double kMasterGain = 0.22;
// Fonts are voiced for initialAttenuation counting at 0.4 of its nominal
// centibels.
constexpr double kAttenuationScale = 0.4;
constexpr double kSilentCb = 960;  // 96 dB down counts as silence
constexpr double kInaudible = 1.0 / 65536;

double timecents_seconds(int tc) { return std::exp2(std::clamp(tc, -12000, 8000) / 1200.0); }
double cents_hz(double cents) { return 8.176 * std::exp2(cents / 1200.0); }
double cb_gain(double cb) { return std::pow(10.0, -cb / 200.0); }
// The concave curve of the default modulators: a controller or velocity
// value v attenuates by -40·log10(v/127) dB, 96 dB at most.
double concave_cb(int v) {
  if (v <= 0) return kSilentCb;
  return std::min(kSilentCb, -400.0 * std::log10(v / 127.0));
}

// An envelope's level in [0, 1] through delay, attack, hold, decay, sustain
// and release. Attack rises linearly; decay and release fall by 1 over
// their times (for the volume envelope that is 100 dB; see Voice::vol_gain).
struct Envelope {
  enum Stage : std::uint8_t { kDelay, kAttack, kHold, kDecay, kSustain, kRelease, kDone };
  Stage stage = kDelay;
  double t = 0;  // frames spent in the current stage (delay, attack, hold)
  double delay = 0, attack = 0, hold = 0, decay = 0, release = 0;  // frames
  double sustain = 1;
  double level = 0;

  void advance(double n) {
    while (n > 0) {
      switch (stage) {
        case kDelay:
        case kAttack:
        case kHold: {
          const double len = stage == kDelay ? delay : stage == kAttack ? attack : hold;
          const double step = std::min(n, len - t);
          t += std::max(step, 0.0);
          n -= std::max(step, 0.0);
          if (stage == kAttack) level = len > 0 ? std::min(1.0, t / len) : 1.0;
          if (t >= len) {
            if (stage == kAttack) level = 1;
            stage = Stage(stage + 1);
            t = 0;
          }
          break;
        }
        case kDecay: {
          if (decay <= 0 || level - n / decay <= sustain) {
            const double used = decay > 0 ? (level - sustain) * decay : 0;
            n -= std::max(used, 0.0);
            level = sustain;
            stage = kSustain;
          } else {
            level -= n / decay;
            n = 0;
          }
          break;
        }
        case kRelease:
          level = release > 0 ? level - n / release : 0;
          if (level <= 0) level = 0, stage = kDone;
          n = 0;
          break;
        case kSustain:
        case kDone: n = 0; break;
      }
    }
  }
};

// A triangle from 0 up to 1, down to -1 and back, after its delay.
struct Lfo {
  double delay = 0;  // frames left
  double step = 0;   // cycles per frame
  double phase = 0;

  double value() const {
    if (delay > 0) return 0;
    return phase < 0.25 ? 4 * phase : phase < 0.75 ? 2 - 4 * phase : 4 * phase - 4;
  }
  void advance(double n) {
    const double d = std::min(delay, n);
    delay -= d;
    phase += (n - d) * step;
    phase -= std::floor(phase);
  }
};

bool in_range(const Zone& z, const Zone& global, int key, int vel) {
  const Zone& k = z.has_key_range ? z : global;
  const Zone& v = z.has_vel_range ? z : global;
  return key >= k.key_lo && key <= k.key_hi && vel >= v.vel_lo && vel <= v.vel_hi;
}

}  // namespace

struct Sf2Synth::Channel {
  bool drums = false;
  int bank_msb = 0, bank_lsb = 0;
  const Preset* preset = nullptr;
  int volume = 100, expression = 127, pan = 64, modwheel = 0;
  int bend = 8192;
  int bend_range = 200;  // cents
  int rpn_msb = 127, rpn_lsb = 127;
  bool nrpn = false;
  bool sustain = false;
};

struct Sf2Synth::Voice {
  bool active = false;
  bool released = false;   // the key (and pedal) let go
  bool sustained = false;  // key let go while the pedal holds it
  int channel = 0, key = 0, exclusive = 0;
  std::uint64_t serial = 0, note = 0;

  const std::int16_t* data = nullptr;
  double pos = 0;
  std::int64_t start = 0, end = 0, loop_start = 0, loop_end = 0;
  int mode = 0;  // 0 no loop, 1 loop, 3 loop until released

  double pitch_cents = 0, rate_ratio = 1;
  double vib_to_pitch = 0, mod_lfo_to_pitch = 0, mod_env_to_pitch = 0;
  double mod_lfo_to_fc = 0, mod_env_to_fc = 0, mod_lfo_to_vol = 0, mod_wheel_to_vib = 0;
  double fc_cents = 13500, q = 0.7071, static_cb = 0, pan = 0;
  Envelope vol, mod;
  Lfo vib, mod_lfo;

  bool filter = false;
  double last_fc = -1;
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double gain_l = 0, gain_r = 0;  // at the end of the last block

  bool looping() const { return mode == 1 || (mode == 3 && !released); }
  // The volume envelope as a gain: linear in the attack, 100 dB over the
  // level's range after it.
  double vol_gain() const {
    if (vol.stage <= Envelope::kAttack) return vol.level;
    return vol.level <= 0 ? 0 : std::pow(10.0, (vol.level - 1) * 5);
  }
  void let_go() {
    if (released) return;
    released = true;
    sustained = false;
    if (vol.stage <= Envelope::kAttack)  // the same gain, on the decibel scale
      vol.level = std::max(0.0, 1 + std::log10(std::max(vol.level, 1e-5)) / 5);
    vol.stage = Envelope::kRelease;
    mod.stage = Envelope::kRelease;
  }
  // Sample point j of the voice (loop wrap and ends applied).
  float at(std::int64_t j) const {
    if (looping() && j >= loop_end) j -= loop_end - loop_start;
    if (j < start || j >= end) return 0;
    return data[j];
  }
};

Sf2Synth::Sf2Synth(std::shared_ptr<const Font> font, std::uint32_t rate)
    : font_(std::move(font)),
      rate_(rate ? rate : 44100),
      channels_(16),
      voices_(kMaxVoices),
      mix_(kControlFrames) {
  for (int ch = 0; ch < 16; ++ch) {
    channels_[std::size_t(ch)].drums = ch == 9;
    program_change(ch, 0);
  }
}

Sf2Synth::~Sf2Synth() = default;

int Sf2Synth::active_voices() const {
  return int(
      std::count_if(voices_.begin(), voices_.end(), [](const Voice& v) { return v.active; }));
}

void Sf2Synth::all_sounds_off() {
  for (Voice& v : voices_) v.active = false;
}

void Sf2Synth::event(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
  const int ch = status & 0x0F;
  d1 &= 0x7F;
  d2 &= 0x7F;
  switch (status & 0xF0) {
    case 0x80: note_off(ch, d1); break;
    case 0x90: d2 ? note_on(ch, d1, d2) : note_off(ch, d1); break;
    case 0xB0: controller(ch, d1, d2); break;
    case 0xC0: program_change(ch, d1); break;
    case 0xE0: channels_[std::size_t(ch)].bend = d1 | (d2 << 7); break;
    default: break;  // key and channel pressure do not change the sound
  }
}

void Sf2Synth::program_change(int ch, int program) {
  Channel& c = channels_[std::size_t(ch)];
  if (c.drums) {
    c.preset = font_->find(128, program);
    if (!c.preset) c.preset = font_->find(128, 0);
    return;
  }
  const int bank = c.bank_msb ? c.bank_msb : c.bank_lsb;
  c.preset = font_->find(bank, program);
  if (!c.preset) c.preset = font_->find(0, program);
}

void Sf2Synth::controller(int ch, int number, int value) {
  Channel& c = channels_[std::size_t(ch)];
  auto each_voice = [&](auto f) {
    for (Voice& v : voices_)
      if (v.active && v.channel == ch) f(v);
  };
  switch (number) {
    case 0: c.bank_msb = value; break;
    case 32: c.bank_lsb = value; break;
    case 1: c.modwheel = value; break;
    case 7: c.volume = value; break;
    case 10: c.pan = value; break;
    case 11: c.expression = value; break;
    case 64:
      c.sustain = value >= 64;
      if (!c.sustain)
        each_voice([](Voice& v) {
          if (v.sustained) v.let_go();
        });
      break;
    case 101: c.rpn_msb = value, c.nrpn = false; break;
    case 100: c.rpn_lsb = value, c.nrpn = false; break;
    case 99:
    case 98: c.nrpn = true; break;
    case 6:
      if (!c.nrpn && c.rpn_msb == 0 && c.rpn_lsb == 0)
        c.bend_range = value * 100 + c.bend_range % 100;
      break;
    case 38:
      if (!c.nrpn && c.rpn_msb == 0 && c.rpn_lsb == 0)
        c.bend_range = c.bend_range / 100 * 100 + std::min(value, 99);
      break;
    case 120: each_voice([](Voice& v) { v.active = false; }); break;
    case 121:
      c.modwheel = 0;
      c.expression = 127;
      c.bend = 8192;
      c.rpn_msb = c.rpn_lsb = 127;
      c.nrpn = false;
      c.sustain = false;
      each_voice([](Voice& v) {
        if (v.sustained) v.let_go();
      });
      break;
    case 123:
      for (Voice& v : voices_)
        if (v.active && v.channel == ch) note_off(ch, v.key);
      break;
    default: break;
  }
}

void Sf2Synth::note_off(int ch, int key) {
  const bool pedal = channels_[std::size_t(ch)].sustain;
  for (Voice& v : voices_) {
    if (!v.active || v.channel != ch || v.key != key || v.released || v.sustained) continue;
    if (pedal) v.sustained = true;
    else v.let_go();
  }
}

void Sf2Synth::note_on(int ch, int key, int velocity) {
  const Channel& c = channels_[std::size_t(ch)];
  // The same key struck again lets the earlier note go.
  for (Voice& v : voices_)
    if (v.active && v.channel == ch && v.key == key) v.let_go();
  if (!c.preset) return;
  current_note_ = ++next_serial_;
  int layers = 0;
  for (const Zone& pz : c.preset->zones) {
    if (!in_range(pz, c.preset->global, key, velocity)) continue;
    const Instrument& inst = font_->instruments[std::size_t(pz.target)];
    for (const Zone& iz : inst.zones) {
      if (!in_range(iz, inst.global, key, velocity)) continue;
      if (++layers > kMaxLayers) return;
      start_voice(ch, key, velocity, c.preset->global, pz, inst, iz);
    }
  }
}

Sf2Synth::Voice& Sf2Synth::free_voice() {
  Voice* best = nullptr;
  double best_score = 0;
  for (Voice& v : voices_) {
    if (!v.active) return v;
    // Released voices go first, then the quietest, then the oldest.
    const double score = (v.released ? 0 : 10) + (v.gain_l + v.gain_r) + 1e-12 * double(v.serial);
    if (!best || score < best_score) best = &v, best_score = score;
  }
  return *best;
}

void Sf2Synth::start_voice(int ch, int key, int velocity, const Zone& preset_global,
                           const Zone& preset_zone, const Instrument& instrument,
                           const Zone& zone) {
  int g[kGenCount];
  for (int i = 0; i < kGenCount; ++i) {
    g[i] = zone.sets(i)                ? zone.gen[std::size_t(i)]
           : instrument.global.sets(i) ? instrument.global.gen[std::size_t(i)]
                                       : default_generator(i);
    if (preset_zone.sets(i)) g[i] += preset_zone.gen[std::size_t(i)];
    else if (preset_global.sets(i)) g[i] += preset_global.gen[std::size_t(i)];
  }
  // Default modulator amounts layer the same way.
  double mod[kDefaultModCount];
  for (int m = 0; m < kDefaultModCount; ++m) {
    mod[m] = zone.sets_mod(m)                ? zone.mod[std::size_t(m)]
             : instrument.global.sets_mod(m) ? instrument.global.mod[std::size_t(m)]
                                             : default_mod_amount(m);
    if (preset_zone.sets_mod(m)) mod[m] += preset_zone.mod[std::size_t(m)];
    else if (preset_global.sets_mod(m)) mod[m] += preset_global.mod[std::size_t(m)];
  }
  const Sample& s = font_->samples[std::size_t(zone.target)];
  const std::int64_t size = std::int64_t(font_->data.size());
  auto address = [&](std::int64_t base, int fine, int coarse) {
    return std::clamp<std::int64_t>(base + g[fine] + 32768 * std::int64_t(g[coarse]), 0, size);
  };
  const std::int64_t start = address(s.start, kStartOffset, kStartCoarseOffset);
  const std::int64_t end = address(s.end, kEndOffset, kEndCoarseOffset);
  if (start >= end) return;
  std::int64_t loop_start =
      std::clamp(address(s.loop_start, kStartLoopOffset, kStartLoopCoarseOffset), start, end);
  std::int64_t loop_end =
      std::clamp(address(s.loop_end, kEndLoopOffset, kEndLoopCoarseOffset), start, end);
  int mode = g[kSampleModes] & 3;
  if (mode == 2 || !s.has_loop || loop_end <= loop_start) mode = 0;

  // Exclusive classes: a new note of a class cuts off the channel's others.
  const int exclusive = g[kExclusiveClass];
  if (exclusive != 0)
    for (Voice& v : voices_)
      if (v.active && v.channel == ch && v.exclusive == exclusive && v.note != current_note_)
        v.active = false;

  const int k = g[kKeynum] >= 0 && g[kKeynum] <= 127 ? g[kKeynum] : key;
  const int vel = g[kVelocity] > 0 && g[kVelocity] <= 127 ? g[kVelocity] : velocity;
  const int root = g[kRootKey] >= 0 && g[kRootKey] <= 127 ? g[kRootKey]
                   : s.original_key <= 127                ? s.original_key
                                                          : 60;

  Voice& v = free_voice();
  v = Voice{};
  v.active = true;
  v.channel = ch;
  v.key = key;
  v.exclusive = exclusive;
  v.serial = ++next_serial_;
  v.note = current_note_;
  v.data = font_->data.data();
  v.start = start;
  v.end = end;
  v.loop_start = loop_start;
  v.loop_end = loop_end;
  v.mode = mode;
  v.pos = double(start);
  v.pitch_cents = double(g[kScaleTuning]) * (k - root) + 100.0 * g[kCoarseTune] + g[kFineTune] +
                  s.pitch_correction;
  v.rate_ratio = s.rate / rate_;
  v.vib_to_pitch = g[kVibLfoToPitch];
  v.mod_lfo_to_pitch = g[kModLfoToPitch];
  v.mod_env_to_pitch = g[kModEnvToPitch];
  v.mod_lfo_to_fc = g[kModLfoToFilterFc];
  v.mod_env_to_fc = g[kModEnvToFilterFc];
  v.mod_lfo_to_vol = g[kModLfoToVolume];
  v.fc_cents = g[kFilterFc] + mod[kVelocityToFilterFc] * (127 - vel) / 127;
  v.mod_wheel_to_vib = mod[kModWheelToVibrato];
  const int q_cb = std::clamp(g[kFilterQ], 0, 960);
  v.q = std::max(0.7071, std::pow(10.0, q_cb / 200.0));
  v.filter = v.fc_cents < 13500 || q_cb > 0 || v.mod_lfo_to_fc != 0 || v.mod_env_to_fc != 0;
  v.static_cb = kAttenuationScale * std::clamp(g[kAttenuation], 0, 1440) +
                concave_cb(vel) * mod[kVelocityToAttenuation] / kSilentCb;
  v.pan = std::clamp(g[kPan], -500, 500);

  auto frames = [&](int tc) { return timecents_seconds(tc) * rate_; };
  v.vol.delay = frames(g[kVolEnvDelay]);
  v.vol.attack = frames(g[kVolEnvAttack]);
  v.vol.hold = frames(g[kVolEnvHold] + (60 - k) * g[kKeyToVolEnvHold]);
  v.vol.decay = frames(g[kVolEnvDecay] + (60 - k) * g[kKeyToVolEnvDecay]);
  v.vol.sustain = 1 - std::clamp(g[kVolEnvSustain], 0, 1440) / 1000.0;
  v.vol.release = frames(g[kVolEnvRelease]);
  v.mod.delay = frames(g[kModEnvDelay]);
  v.mod.attack = frames(g[kModEnvAttack]);
  v.mod.hold = frames(g[kModEnvHold] + (60 - k) * g[kKeyToModEnvHold]);
  v.mod.decay = frames(g[kModEnvDecay] + (60 - k) * g[kKeyToModEnvDecay]);
  v.mod.sustain = 1 - std::clamp(g[kModEnvSustain], 0, 1000) / 1000.0;
  v.mod.release = frames(g[kModEnvRelease]);
  auto lfo = [&](Lfo& l, int delay, int freq) {
    l.delay = frames(delay);
    l.step = cents_hz(std::clamp(freq, -16000, 4500)) / rate_;
  };
  lfo(v.vib, g[kVibLfoDelay], g[kVibLfoFreq]);
  lfo(v.mod_lfo, g[kModLfoDelay], g[kModLfoFreq]);
}

void Sf2Synth::render(float* stereo, std::size_t frames) {
  std::fill(stereo, stereo + 2 * frames, 0.0f);
  for (std::size_t done = 0; done < frames;) {
    const std::size_t n = std::min<std::size_t>(frames - done, kControlFrames);
    float* out = stereo + 2 * done;
    done += n;
    for (Voice& v : voices_) {
      if (!v.active) continue;
      const Channel& c = channels_[std::size_t(v.channel)];

      // Control values at the block's start.
      const double mod_env = v.mod.level, vib = v.vib.value(), mod_lfo = v.mod_lfo.value();
      const double cents = v.pitch_cents + (c.bend - 8192) / 8192.0 * c.bend_range +
                           vib * (v.vib_to_pitch + v.mod_wheel_to_vib * c.modwheel / 127) +
                           mod_lfo * v.mod_lfo_to_pitch + mod_env * v.mod_env_to_pitch;
      const double step = std::min(128.0, std::exp2(cents / 1200) * v.rate_ratio);
      if (v.filter) {
        const double fc =
            std::clamp(cents_hz(v.fc_cents + mod_lfo * v.mod_lfo_to_fc + mod_env * v.mod_env_to_fc),
                       20.0, 0.45 * rate_);
        if (std::abs(fc - v.last_fc) > 1e-3 * fc) {
          v.last_fc = fc;
          const double w = 2 * std::numbers::pi * fc / rate_;
          const double alpha = std::sin(w) / (2 * v.q), cw = std::cos(w), a0 = 1 + alpha;
          v.b0 = v.b2 = (1 - cw) / 2 / a0;
          v.b1 = (1 - cw) / a0;
          v.a1 = -2 * cw / a0;
          v.a2 = (1 - alpha) / a0;
        }
      }

      // Samples, interpolated through four points.
      bool ended = false;
      std::size_t made = 0;
      for (; made < n; ++made) {
        const std::int64_t i = std::int64_t(v.pos);
        const double f = v.pos - double(i);
        const bool loop = v.looping();
        const std::int64_t limit = loop ? v.loop_end : v.end;
        double p0, p1, p2, p3;
        if (i - 1 >= v.start && i + 2 < limit) {
          const std::int16_t* d = v.data + i;
          p0 = d[-1], p1 = d[0], p2 = d[1], p3 = d[2];
        } else {
          p0 = v.at(i - 1), p1 = v.at(i), p2 = v.at(i + 1), p3 = v.at(i + 2);
        }
        const double y =
            p1 +
            0.5 * f *
                (p2 - p0 + f * (2 * p0 - 5 * p1 + 4 * p2 - p3 + f * (3 * (p1 - p2) + p3 - p0)));
        double out_y = y * (1.0 / 32768);
        if (v.filter) {
          const double z = v.b0 * out_y + v.b1 * v.x1 + v.b2 * v.x2 - v.a1 * v.y1 - v.a2 * v.y2;
          v.x2 = v.x1, v.x1 = out_y, v.y2 = v.y1, v.y1 = z;
          out_y = z;
        }
        mix_[made] = float(out_y);
        v.pos += step;
        if (loop && v.pos >= double(v.loop_end)) {
          const double len = double(v.loop_end - v.loop_start);
          v.pos = double(v.loop_start) + std::fmod(v.pos - double(v.loop_start), len);
        } else if (!loop && v.pos >= double(v.end)) {
          ended = true;
          ++made;
          break;
        }
      }
      std::fill(mix_.begin() + std::ptrdiff_t(made), mix_.begin() + std::ptrdiff_t(n), 0.0f);

      // Envelopes and LFOs move on; the gain ramps to its value at the end.
      v.vol.advance(double(n));
      v.mod.advance(double(n));
      v.vib.advance(double(n));
      v.mod_lfo.advance(double(n));
      const double cb = v.static_cb + concave_cb(c.volume) + concave_cb(c.expression) +
                        mod_lfo * v.mod_lfo_to_vol;
      const double amp = v.vol_gain() * cb_gain(cb) * kMasterGain;
      const double pan = std::clamp(v.pan + (c.pan - 64) / 64.0 * 500, -500.0, 500.0) + 500;
      const double angle = pan / 1000 * (std::numbers::pi / 2);
      const double to_l = amp * std::cos(angle), to_r = amp * std::sin(angle);
      const double dl = (to_l - v.gain_l) / double(n), dr = (to_r - v.gain_r) / double(n);
      double gl = v.gain_l, gr = v.gain_r;
      for (std::size_t j = 0; j < n; ++j) {
        gl += dl;
        gr += dr;
        out[2 * j] += float(gl * mix_[j]);
        out[2 * j + 1] += float(gr * mix_[j]);
      }
      v.gain_l = to_l;
      v.gain_r = to_r;
      // A voice ends with its sample or envelope, or once released below
      // the last bit of 16-bit output.
      const bool silent_sustain = v.vol.stage == Envelope::kSustain && v.vol.sustain <= 0;
      const bool inaudible = v.released && amp < kInaudible;
      if (ended || v.vol.stage == Envelope::kDone || silent_sustain || inaudible) v.active = false;
    }
  }
}

}  // namespace talven::audio::midi
