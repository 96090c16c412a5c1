// Sound files as the sound slots read them: a whole file in memory, either
// Ogg Vorbis (decoded by libvorbisfile through memory callbacks) or a RIFF
// WAVE file with PCM samples. The decoder hands out 16-bit little-endian
// samples for Ogg and the file's own samples for WAV, through fill(), which
// always fills what it is asked for (silence after the end) and says how
// many bytes were real.
//
// Nothing here trusts the file: chunk sizes are clipped to the bytes that
// are there, a WAV's data never reaches past its file, and a decoder that
// keeps failing reads as the end of the sound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talven::audio {

struct WaveFormat {
  std::uint16_t format_tag = 0;
  std::uint16_t channels = 0;
  std::uint32_t samples_per_sec = 0;
  std::uint32_t avg_bytes_per_sec = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits_per_sample = 0;
  std::uint16_t extra_size = 0;
};

class SoundFile {
 public:
  ~SoundFile();

  // Takes the file's bytes; null for a file that is neither Ogg Vorbis nor a
  // PCM WAVE file, or that the decoder refuses.
  static std::unique_ptr<SoundFile> open(std::vector<std::uint8_t> bytes);

  bool is_ogg() const { return ogg_ != nullptr; }
  const WaveFormat& format() const { return format_; }
  // Bytes of the decoded sound (Ogg: total samples × block align).
  std::uint32_t length() const { return length_; }
  std::uint64_t total_samples() const { return total_samples_; }  // Ogg only
  std::uint32_t data_length() const { return data_length_; }      // WAV only

  // Writes n bytes into dst: the next samples, then silence. Returns how
  // many bytes were samples.
  std::uint32_t fill(std::uint8_t* dst, std::uint32_t n);
  // Moves the next fill to a byte position of the decoded sound (WAV: a
  // byte of data; Ogg: the sample byte_pos / block align).
  bool seek(std::uint32_t byte_pos);
  // Ogg: the text after the first "COMMENT=" user comment; empty otherwise.
  std::string comment() const;

 private:
  SoundFile() = default;
  struct Ogg;
  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<Ogg> ogg_;
  WaveFormat format_;
  std::uint32_t length_ = 0;
  std::uint64_t total_samples_ = 0;
  std::uint32_t data_offset_ = 0;
  std::uint32_t data_length_ = 0;
  std::uint32_t read_pos_ = 0;
};

}  // namespace talven::audio
