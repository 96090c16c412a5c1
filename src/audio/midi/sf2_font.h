// SoundFont 2 files (RIFF "sfbk") read into presets, instruments, zones and
// 16-bit sample data for the synthesiser (sf2_synth.h).
//
// The reader trusts nothing. Every chunk must lie inside its parent and the
// file; the hydra's records must have their sizes and terminal records; bag
// and generator indexes must rise and stay in range. Such faults refuse the
// file with a reason. Faults that touch one part only are sanitised: a zone
// naming a missing instrument or sample is dropped, a sample whose points
// leave the sample data is clipped to it (its loop dropped when the loop no
// longer fits), a sample of no length or rate is dropped. Files above 1 GiB
// are refused, and nothing is allocated beyond what the file holds. A
// modulator list whose indexes are out of order is ignored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace talven::audio::midi::sf2 {

// Generator numbers of the format (the ones the synthesiser reads).
enum Gen : int {
  kStartOffset = 0,
  kEndOffset = 1,
  kStartLoopOffset = 2,
  kEndLoopOffset = 3,
  kStartCoarseOffset = 4,
  kModLfoToPitch = 5,
  kVibLfoToPitch = 6,
  kModEnvToPitch = 7,
  kFilterFc = 8,
  kFilterQ = 9,
  kModLfoToFilterFc = 10,
  kModEnvToFilterFc = 11,
  kEndCoarseOffset = 12,
  kModLfoToVolume = 13,
  kChorusSend = 15,
  kReverbSend = 16,
  kPan = 17,
  kModLfoDelay = 21,
  kModLfoFreq = 22,
  kVibLfoDelay = 23,
  kVibLfoFreq = 24,
  kModEnvDelay = 25,
  kModEnvAttack = 26,
  kModEnvHold = 27,
  kModEnvDecay = 28,
  kModEnvSustain = 29,
  kModEnvRelease = 30,
  kKeyToModEnvHold = 31,
  kKeyToModEnvDecay = 32,
  kVolEnvDelay = 33,
  kVolEnvAttack = 34,
  kVolEnvHold = 35,
  kVolEnvDecay = 36,
  kVolEnvSustain = 37,
  kVolEnvRelease = 38,
  kKeyToVolEnvHold = 39,
  kKeyToVolEnvDecay = 40,
  kInstrument = 41,
  kKeyRange = 43,
  kVelRange = 44,
  kStartLoopCoarseOffset = 45,
  kKeynum = 46,
  kVelocity = 47,
  kAttenuation = 48,
  kEndLoopCoarseOffset = 50,
  kCoarseTune = 51,
  kFineTune = 52,
  kSampleId = 53,
  kSampleModes = 54,
  kScaleTuning = 56,
  kExclusiveClass = 57,
  kRootKey = 58,
  kGenCount = 61,
};

// The value a generator has when no zone sets it.
std::int16_t default_generator(int gen);

// The default modulators whose amounts a zone's modulator list may restate
// (a restated amount of 0 turns one off). Other modulators are not played.
enum DefaultMod : int {
  kVelocityToAttenuation = 0,  // concave, 960 cB
  kVelocityToFilterFc = 1,     // linear, -2400 cents
  kModWheelToVibrato = 2,      // controller 1, 50 cents
  kDefaultModCount = 3,
};
std::int16_t default_mod_amount(int mod);

struct Sample {
  std::string name;
  // Indexes into Font::data: start < end <= data.size(); when has_loop,
  // start <= loop_start < loop_end <= end.
  std::uint32_t start = 0, end = 0, loop_start = 0, loop_end = 0;
  bool has_loop = false;
  std::uint32_t rate = 44100;
  std::uint8_t original_key = 60;
  std::int8_t pitch_correction = 0;  // cents
};

// One zone's generators. `set` has bit g when the zone sets generator g;
// ranges are kept apart from the other generators.
struct Zone {
  std::array<std::int16_t, kGenCount> gen{};
  std::uint64_t set = 0;
  std::uint8_t key_lo = 0, key_hi = 127, vel_lo = 0, vel_hi = 127;
  bool has_key_range = false, has_vel_range = false;
  int target = -1;  // instrument (preset zones) or sample (instrument zones)
  std::array<std::int16_t, kDefaultModCount> mod{};  // amounts restated ...
  std::uint8_t mod_set = 0;                          // ... with bit m set

  bool sets(int g) const { return (set >> g) & 1; }
  bool sets_mod(int m) const { return (mod_set >> m) & 1; }
};

struct Instrument {
  std::string name;
  Zone global;
  std::vector<Zone> zones;  // each with a valid sample
};

struct Preset {
  std::string name;
  std::uint16_t program = 0, bank = 0;
  Zone global;
  std::vector<Zone> zones;  // each with a valid instrument
};

struct Font {
  std::vector<std::int16_t> data;  // the smpl chunk
  std::vector<Sample> samples;
  std::vector<Instrument> instruments;
  std::vector<Preset> presets;

  // The preset of this bank and program, or nullptr.
  const Preset* find(int bank, int program) const;
};

constexpr std::uint64_t kMaxFontBytes = std::uint64_t(1) << 30;

// The font in `bytes`, or nullptr with the reason in *why.
std::shared_ptr<const Font> read_font(std::span<const std::uint8_t> bytes, std::string* why);
// The font in a host file, or nullptr with the reason in *why.
std::shared_ptr<const Font> load_font(const std::string& host_path, std::string* why);

}  // namespace talven::audio::midi::sf2
