// A sound file decoded as a stream of float stereo frames at 44100 Hz
// (FFmpeg: Ogg Vorbis, WAV, FLAC and whatever else its demuxers know).
// Used for the virtual CD's track files; nothing is read ahead beyond the
// packet being decoded, so a track of any length costs little memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace talven::audio::cd {

constexpr int kTrackRate = 44100;

class TrackDecoder {
 public:
  ~TrackDecoder();
  // Null when the file cannot be opened or holds no decodable sound.
  static std::unique_ptr<TrackDecoder> open(const std::string& host_path);

  // The length from the container, in seconds (0 when unknown).
  double duration_seconds() const { return duration_; }
  // Writes up to `frames` frames; fewer at the end or on a damaged stream.
  std::size_t read(float* out, std::size_t frames);
  // Moves to a time in seconds; false when the stream cannot seek.
  bool seek(double seconds);

 private:
  TrackDecoder() = default;
  bool refill();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  double duration_ = 0;
};

}  // namespace talven::audio::cd
