// The eight sound effects, our own DSP on a voice's stereo float signal:
// chorus, compressor, distortion, echo, flanger, gargle, parametric
// equaliser and reverb.
//
// Scripts give each effect as a parameter record of 32-bit fields (floats
// unless marked int) in the order below; the record is kept as raw bytes
// and turned into an effect when the sound plays. Every field is clamped to
// its documented range, and a field that is not a number takes its default:
//
//   chorus      wet/dry 0..100 (50), depth 0..100 (10), feedback -99..99 (25),
//               frequency 0..10 Hz (1.1), waveform int 0 triangle / 1 sine (1),
//               delay 0..20 ms (16), phase int 0..4 = -180,-90,0,90,180 deg (3)
//   compressor  gain -60..60 dB (0), attack 0.01..500 ms (10), release
//               50..3000 ms (200), threshold -60..0 dB (-20), ratio 1..100 (3),
//               predelay 0..4 ms (4)
//   distortion  gain -60..0 dB (-18), edge 0..100 (15), post-EQ centre
//               100..8000 Hz (2400), post-EQ bandwidth 100..8000 Hz (2400),
//               pre-lowpass cutoff 100..8000 Hz (8000)
//   echo        wet/dry 0..100 (50), feedback 0..100 (50), left delay
//               1..2000 ms (500), right delay 1..2000 ms (500), pan delay int 0/1 (0)
//   flanger     wet/dry 0..100 (50), depth 0..100 (100), feedback -99..99 (-50),
//               frequency 0..10 Hz (0.25), waveform int (1), delay 0..4 ms (2),
//               phase int 0..4 (2)
//   gargle      rate int 1..1000 Hz (20), wave shape int 0 triangle / 1 square (0)
//   param. EQ   centre 80..16000 Hz (8000), bandwidth 1..36 semitones (12),
//               gain -15..15 dB (0)
//   reverb      input gain -96..0 dB (0), reverb mix -96..0 dB (0), reverb
//               time 0.001..3000 ms (1000), high-frequency time ratio
//               0.001..0.999 (0.001)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/mixer.h"

namespace talven::audio {

enum EffectKind : int {
  kChorus = 0,
  kCompressor,
  kDistortion,
  kEcho,
  kFlanger,
  kGargle,
  kParamEq,
  kReverb,
  kEffectCount
};

// Bytes of each kind's parameter record.
std::size_t effect_record_size(int kind);
constexpr std::size_t kMaxEffectRecord = 28;
using EffectRecord = std::array<std::uint8_t, kMaxEffectRecord>;

// The record's fields as numbers after clamping and defaults (ints as
// floats), in record order; `out` holds at least 7 values.
void effect_parameters(int kind, const EffectRecord& record, float* out);

// The effect for a record at an output rate.
std::unique_ptr<Effect> make_effect(int kind, const EffectRecord& record, std::uint32_t rate);

}  // namespace talven::audio
