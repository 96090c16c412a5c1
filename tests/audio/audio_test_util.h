// Test sounds made on the spot (WAV bytes, Ogg through oggenc) and the
// measurements the audio tests take of rendered or recorded output.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace talven::test {

inline void put16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
inline void put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A RIFF WAVE file around raw sample bytes, with the header fields as given.
struct WavFormat {
  std::uint16_t tag = 1, channels = 1, bits = 16;
  std::uint32_t rate = 44100;
  std::int64_t avg = -1, align = -1;   // -1: computed
  std::string extra_chunk_before_fmt;  // whole chunk bytes, e.g. a LIST
};

inline WavFormat rate_format(std::uint32_t rate) {
  WavFormat w;
  w.rate = rate;
  return w;
}

template <typename F>
WavFormat format_with(F change) {
  WavFormat w;
  change(w);
  return w;
}

inline std::string wav_bytes(const std::string& samples, const WavFormat& w = {}) {
  std::uint16_t align =
      static_cast<std::uint16_t>(w.align >= 0 ? w.align : w.channels * w.bits / 8);
  std::uint32_t avg = static_cast<std::uint32_t>(w.avg >= 0 ? w.avg : w.rate * align);
  std::string body = "WAVE" + w.extra_chunk_before_fmt + "fmt ";
  put32(body, 16);
  put16(body, w.tag);
  put16(body, w.channels);
  put32(body, w.rate);
  put32(body, avg);
  put16(body, align);
  put16(body, w.bits);
  body += "data";
  put32(body, static_cast<std::uint32_t>(samples.size()));
  body += samples;
  std::string out = "RIFF";
  put32(out, static_cast<std::uint32_t>(body.size()));
  return out + body;
}

// 16-bit samples of a sine (all channels alike).
inline std::string tone16(double freq, double seconds, std::uint32_t rate, double amplitude = 0.5,
                          int channels = 1) {
  std::string s;
  std::size_t n = static_cast<std::size_t>(seconds * rate);
  for (std::size_t i = 0; i < n; ++i) {
    auto v = static_cast<std::int16_t>(
        std::lrint(amplitude * 32767.0 * std::sin(2 * std::numbers::pi * freq * i / rate)));
    for (int c = 0; c < channels; ++c) put16(s, static_cast<std::uint16_t>(v));
  }
  return s;
}

inline std::string silence16(double seconds, std::uint32_t rate, int channels = 1) {
  return std::string(static_cast<std::size_t>(seconds * rate) * 2 * channels, '\0');
}

inline void write_file(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Encodes a WAV file to Ogg Vorbis with oggenc; false when it is missing.
inline bool make_ogg(const std::filesystem::path& wav, const std::filesystem::path& ogg,
                     const std::string& comment) {
  std::string cmd = "oggenc -Q -q 4 ";
  if (!comment.empty()) cmd += "-c 'COMMENT=" + comment + "' ";
  cmd += "-o '" + ogg.string() + "' '" + wav.string() + "' 2>/dev/null";
  return std::system(cmd.c_str()) == 0 && std::filesystem::exists(ogg);
}

// Stereo float frames of a recorded 16-bit stereo WAV (as the recorder
// writes it); empty when the file is not one.
struct Recording {
  std::uint32_t rate = 0;
  std::vector<float> left, right;
};

inline Recording read_recording(const std::filesystem::path& p) {
  Recording r;
  std::string b = read_file(p);
  if (b.size() < 44 || b.compare(0, 4, "RIFF") != 0) return r;
  std::memcpy(&r.rate, b.data() + 24, 4);
  std::size_t n = (b.size() - 44) / 4;
  for (std::size_t i = 0; i < n; ++i) {
    std::int16_t l, rr;
    std::memcpy(&l, b.data() + 44 + 4 * i, 2);
    std::memcpy(&rr, b.data() + 46 + 4 * i, 2);
    r.left.push_back(l / 32768.0f);
    r.right.push_back(rr / 32768.0f);
  }
  return r;
}

// Peak absolute value over [from, to).
inline float peak(const std::vector<float>& x, std::size_t from, std::size_t to) {
  float p = 0;
  for (std::size_t i = from; i < std::min(to, x.size()); ++i) p = std::max(p, std::fabs(x[i]));
  return p;
}

inline double rms(const std::vector<float>& x, std::size_t from, std::size_t to) {
  double s = 0;
  std::size_t n = 0;
  for (std::size_t i = from; i < std::min(to, x.size()); ++i, ++n) s += double(x[i]) * x[i];
  return n ? std::sqrt(s / n) : 0.0;
}

// Frequency from rising zero crossings over [from, to).
inline double frequency(const std::vector<float>& x, std::size_t from, std::size_t to,
                        std::uint32_t rate) {
  std::size_t first = 0, last = 0, count = 0;
  for (std::size_t i = from + 1; i < std::min(to, x.size()); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      if (!count) first = i;
      last = i;
      ++count;
    }
  }
  if (count < 2) return 0;
  return double(count - 1) * rate / double(last - first);
}

// First index at or after `from` whose absolute value exceeds the level.
inline std::size_t onset(const std::vector<float>& x, float level, std::size_t from = 0) {
  for (std::size_t i = from; i < x.size(); ++i)
    if (std::fabs(x[i]) > level) return i;
  return x.size();
}

}  // namespace talven::test
