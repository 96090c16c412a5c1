// The mixer: every sound the runtime makes is summed here into one stereo
// float stream at the output rate, which a back end (an SDL audio device, or
// the null device of headless runs) pulls in blocks on its own thread.
//
// Voices. A voice plays a VoiceSource: an object that hands out float stereo
// frames (interleaved left, right) at its own rate when the mixer thread
// pulls. The mixer resamples each voice to the output rate (4-point cubic
// interpolation stepped in 32.32 fixed point, so a voice's position is
// exact), runs
// the voice's effect chain, applies its volume and pan, and adds it in; the
// master volume and pan apply to the sum. A source that returns fewer frames
// than asked has ended: the voice stops by itself.
//
// How later devices use it (MIDI, CD tracks, video sound):
//   auto src = std::make_shared<MySource>(...);     // pull() renders frames
//   VoiceId v = mixer.add_voice(src, 44100, true);  // rate; follows focus?
//   mixer.set_level(v, attenuation, pan);           // hundredths of a dB
//   mixer.start(v);  ... mixer.stop(v);  mixer.remove_voice(v);
//   mixer.position(v) counts the source frames really consumed.
// pull() runs on the mixer thread under the mixer's lock: it must not block
// for long nor call back into the mixer. Sources that are fed from another
// thread keep their own lock (PcmBuffer below does).
//
// Units. Levels are attenuations in hundredths of a decibel on the runtime's
// scale, where 1000 units halve the amplitude (gain = 10^(a / 3322)); −10000
// and below is silence. A pan b attenuates the right channel by −b when b < 0
// and the left by b when b > 0, so ±10000 leaves one side silent.
//
// Focus. Voices created without global focus are held (silent, positions
// frozen, still "playing") while the application is inactive.
//
// Threads: control calls come from the main thread (and feeder threads for
// PcmBuffer data); render() from the back end's thread. One mutex guards the
// voice table; nobody waits on the mixer thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace talven::audio {

constexpr std::uint32_t kDefaultOutputRate = 48000;
constexpr int kMaxVoices = 128;
constexpr std::int32_t kSilence = -10000;  // attenuation of silence

// Linear gain of an attenuation (0 at or below kSilence).
float attenuation_gain(std::int32_t attenuation);
// Left and right gains of a pan (both 1 at 0).
void pan_gains(std::int32_t pan, float& left, float& right);

class VoiceSource {
 public:
  virtual ~VoiceSource() = default;
  // Writes up to `frames` stereo frames into out (2 floats each) and returns
  // how many it wrote; fewer than asked means the source has ended.
  virtual std::size_t pull(float* out, std::size_t frames) = 0;
};

// An effect on a voice's resampled stereo signal at the output rate.
class Effect {
 public:
  virtual ~Effect() = default;
  virtual void process(float* stereo, std::size_t frames) = 0;
};
using EffectChain = std::vector<std::unique_ptr<Effect>>;

// A sound held as PCM bytes: 8-bit unsigned or 16-bit signed, mono or
// stereo, as a platform sound buffer holds them. It plays from a byte cursor,
// once or looping; a static sound is filled once, a stream's ring is
// refilled by a feeder thread while it plays.
class PcmBuffer : public VoiceSource {
 public:
  PcmBuffer(std::uint16_t channels, std::uint16_t bits, std::uint32_t rate,
            std::vector<std::uint8_t> bytes);

  std::uint16_t channels() const { return channels_; }
  std::uint16_t bits() const { return bits_; }
  std::uint32_t rate() const { return rate_; }
  std::uint32_t block_align() const { return block_align_; }
  std::uint32_t size() const;  // bytes

  // The play cursor in bytes (a whole block).
  std::uint32_t cursor() const;
  // False when the offset lies past the end.
  bool set_cursor(std::uint32_t byte_offset);
  void set_looping(bool looping);
  // Copies bytes into the buffer at offset (clipped to its size).
  void write(std::uint32_t offset, const std::uint8_t* data, std::uint32_t len);

  std::size_t pull(float* out, std::size_t frames) override;

 private:
  mutable std::mutex lock_;
  std::uint16_t channels_;
  std::uint16_t bits_;
  std::uint32_t rate_;
  std::uint32_t block_align_;
  std::vector<std::uint8_t> bytes_;
  std::uint32_t frames_;     // whole frames in bytes_
  std::uint32_t frame_ = 0;  // cursor in frames
  bool looping_ = false;
};

using VoiceId = std::int32_t;  // -1: none

class Mixer {
 public:
  explicit Mixer(std::uint32_t output_rate = kDefaultOutputRate);
  ~Mixer();

  std::uint32_t output_rate() const { return output_rate_; }
  // The back end may learn its real rate only when it opens.
  void set_output_rate(std::uint32_t rate);

  // A new stopped voice at full level; -1 when every voice is taken.
  VoiceId add_voice(std::shared_ptr<VoiceSource> source, std::uint32_t rate,
                    bool global_focus = true);
  void remove_voice(VoiceId id);

  // Starts (or resumes) playing; `restart` also forgets the resampler's
  // history, for a play from a new position.
  void start(VoiceId id, bool restart = false);
  void stop(VoiceId id);
  bool playing(VoiceId id) const;

  void set_rate(VoiceId id, std::uint32_t rate);  // 1..: source frames per second
  std::uint32_t rate(VoiceId id) const;
  void set_level(VoiceId id, std::int32_t attenuation, std::int32_t pan);
  void set_effects(VoiceId id, EffectChain chain);
  // Source frames consumed since the voice was added.
  std::uint64_t position(VoiceId id) const;

  void set_master(std::int32_t attenuation, std::int32_t pan);
  void set_active(bool active);  // application focus

  // Mixes `frames` output frames (stereo, interleaved) into out.
  void render(float* out, std::size_t frames);
  // Output frames rendered so far.
  std::uint64_t rendered() const { return rendered_.load(std::memory_order_acquire); }

  // Sleeps until the mixer has rendered past `seen` frames or the timeout
  // passes; returns rendered(). Feeder threads wait here between checks.
  std::uint64_t wait_rendered(std::uint64_t seen, int timeout_ms);
  // Wakes everyone in wait_rendered (at shut-down of a feeder).
  void wake_waiters();

 private:
  struct Voice;
  Voice* find(VoiceId id) const;
  void mix_voice(Voice& v, float* out, std::size_t frames);

  std::uint32_t output_rate_;
  mutable std::mutex lock_;
  std::unique_ptr<Voice[]> voices_;
  std::uint32_t next_serial_ = 1;
  float master_left_ = 1.0f;
  float master_right_ = 1.0f;
  bool active_ = true;
  std::vector<float> scratch_;
  std::vector<float> input_;
  std::atomic<std::uint64_t> rendered_{0};
  std::mutex tick_lock_;
  std::condition_variable tick_;
};

}  // namespace talven::audio
