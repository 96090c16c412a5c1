// Where the mixer's output goes: the SDL audio device of a windowed run, or
// the null device of headless runs, which consumes samples on its own thread
// in real time (sleeping between blocks) or, in game-clock mode
// (--audio-fast), by the game clock: one second of sound for each second of
// game time, standing still while the clock is paused, so a recording is as
// long as the game ran and every sound sits at the game time it started.
// Either one can also record the mixed output as a 16-bit stereo WAV file.
//
// Owned by the sound device (sound.cpp); nothing else opens audio.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "audio/mixer.h"

namespace talven::audio {

// Records stereo float frames as 16-bit PCM WAV; the header's sizes are kept
// true every second and at close, so a file cut short still reads.
class WavRecorder {
 public:
  ~WavRecorder();
  bool open(const std::string& path, std::uint32_t rate);
  void write(const float* stereo, std::size_t frames);
  void close();
  bool is_open() const { return file_ != nullptr; }

 private:
  void patch_sizes();
  std::FILE* file_ = nullptr;
  std::uint32_t rate_ = 0;
  std::uint64_t data_bytes_ = 0;
  std::uint64_t since_patch_ = 0;
};

struct OutputOptions {
  bool device = false;      // open the SDL audio device (windowed runs)
  bool fast = false;        // null device: paced by the game clock, not the wall clock
  std::string record_path;  // record the output here when not empty
};

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  virtual void close() = 0;
  // Brings the output up to the present before a change to the voices, for
  // outputs paced by the game clock (a no-op for the others). Any thread.
  virtual void catch_up() {}
};

// Opens the output for the options and starts pulling from the mixer; null
// when the device cannot be opened (the caller leaves sound off).
std::unique_ptr<AudioOutput> open_audio_output(Mixer& mixer, const OutputOptions& options);

}  // namespace talven::audio
