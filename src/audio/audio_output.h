// Where the mixer's output goes: the SDL audio device of a windowed run, or
// the null device of headless runs, which consumes samples on its own thread
// in real time (sleeping between blocks) or, in fast mode, as fast as the
// runtime lets it (a short sleep after each block so feeders keep up).
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
  bool fast = false;        // null device: do not keep to the clock
  std::string record_path;  // record the output here when not empty
};

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  virtual void close() = 0;
};

// Opens the output for the options and starts pulling from the mixer; null
// when the device cannot be opened (the caller leaves sound off).
std::unique_ptr<AudioOutput> open_audio_output(Mixer& mixer, const OutputOptions& options);

}  // namespace talven::audio
