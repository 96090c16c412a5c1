#include "audio/mixer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talven::audio {

float attenuation_gain(std::int32_t attenuation) {
  if (attenuation <= kSilence) return 0.0f;
  if (attenuation >= 0) return 1.0f;
  return static_cast<float>(std::pow(10.0, attenuation / 3322.0));
}

void pan_gains(std::int32_t pan, float& left, float& right) {
  left = right = 1.0f;
  if (pan < 0) right = attenuation_gain(pan);
  if (pan > 0) left = attenuation_gain(-pan);
}

// ---- PcmBuffer --------------------------------------------------------------

PcmBuffer::PcmBuffer(std::uint16_t channels, std::uint16_t bits, std::uint32_t rate,
                     std::vector<std::uint8_t> bytes)
    : channels_(channels == 2 ? 2 : 1),
      bits_(bits == 8 ? 8 : 16),
      rate_(rate),
      block_align_(channels_ * (bits_ / 8u)),
      bytes_(std::move(bytes)) {
  frames_ = static_cast<std::uint32_t>(bytes_.size() / block_align_);
}

std::uint32_t PcmBuffer::size() const { return static_cast<std::uint32_t>(bytes_.size()); }

std::uint32_t PcmBuffer::cursor() const {
  std::lock_guard guard(lock_);
  return frame_ * block_align_;
}

bool PcmBuffer::set_cursor(std::uint32_t byte_offset) {
  std::lock_guard guard(lock_);
  if (byte_offset >= bytes_.size() && !(byte_offset == 0 && bytes_.empty())) return false;
  frame_ = byte_offset / block_align_;
  return true;
}

void PcmBuffer::set_looping(bool looping) {
  std::lock_guard guard(lock_);
  looping_ = looping;
}

void PcmBuffer::write(std::uint32_t offset, const std::uint8_t* data, std::uint32_t len) {
  std::lock_guard guard(lock_);
  if (offset >= bytes_.size()) return;
  len = std::min<std::uint32_t>(len, static_cast<std::uint32_t>(bytes_.size()) - offset);
  std::memcpy(bytes_.data() + offset, data, len);
}

std::size_t PcmBuffer::pull(float* out, std::size_t frames) {
  std::lock_guard guard(lock_);
  std::size_t done = 0;
  while (done < frames) {
    if (frame_ >= frames_) {
      if (!looping_ || frames_ == 0) break;
      frame_ = 0;
    }
    std::size_t n = std::min<std::size_t>(frames - done, frames_ - frame_);
    const std::uint8_t* p = bytes_.data() + static_cast<std::size_t>(frame_) * block_align_;
    float* o = out + 2 * done;
    if (bits_ == 16) {
      if (channels_ == 2) {
        for (std::size_t i = 0; i < 2 * n; ++i) {
          std::int16_t s;
          std::memcpy(&s, p + 2 * i, 2);
          o[i] = s * (1.0f / 32768.0f);
        }
      } else {
        for (std::size_t i = 0; i < n; ++i) {
          std::int16_t s;
          std::memcpy(&s, p + 2 * i, 2);
          o[2 * i] = o[2 * i + 1] = s * (1.0f / 32768.0f);
        }
      }
    } else {
      if (channels_ == 2) {
        for (std::size_t i = 0; i < 2 * n; ++i)
          o[i] = (static_cast<int>(p[i]) - 128) * (1.0f / 128.0f);
      } else {
        for (std::size_t i = 0; i < n; ++i)
          o[2 * i] = o[2 * i + 1] = (static_cast<int>(p[i]) - 128) * (1.0f / 128.0f);
      }
    }
    frame_ += static_cast<std::uint32_t>(n);
    done += n;
  }
  return done;
}

// ---- Mixer ------------------------------------------------------------------

struct Mixer::Voice {
  std::shared_ptr<VoiceSource> source;
  VoiceId id = -1;
  bool used = false;
  bool playing = false;
  bool global_focus = true;
  std::uint32_t rate = kDefaultOutputRate;
  std::uint64_t step = 1ull << 32;  // source frames per output frame, 32.32
  std::uint64_t frac = 0;
  float held[8] = {};  // the four newest source frames
  float left = 1.0f, right = 1.0f;
  EffectChain effects;
  std::uint64_t consumed = 0;
};

Mixer::Mixer(std::uint32_t output_rate)
    : output_rate_(output_rate ? output_rate : kDefaultOutputRate),
      voices_(new Voice[kMaxVoices]) {}

Mixer::~Mixer() = default;

void Mixer::set_output_rate(std::uint32_t rate) {
  std::lock_guard guard(lock_);
  if (!rate) return;
  output_rate_ = rate;
  for (int i = 0; i < kMaxVoices; ++i) {
    Voice& v = voices_[i];
    if (v.used) v.step = (static_cast<std::uint64_t>(v.rate) << 32) / output_rate_;
  }
}

Mixer::Voice* Mixer::find(VoiceId id) const {
  if (id < 0) return nullptr;
  Voice& v = voices_[id & 0x7F];
  return v.used && v.id == id ? &v : nullptr;
}

VoiceId Mixer::add_voice(std::shared_ptr<VoiceSource> source, std::uint32_t rate,
                         bool global_focus) {
  if (!source) return -1;
  std::lock_guard guard(lock_);
  for (int i = 0; i < kMaxVoices; ++i) {
    Voice& v = voices_[i];
    if (v.used) continue;
    v = Voice();
    v.source = std::move(source);
    v.used = true;
    v.global_focus = global_focus;
    v.id = static_cast<VoiceId>(((next_serial_++ & 0x7FFFFF) << 7) | static_cast<std::uint32_t>(i));
    v.rate = std::max<std::uint32_t>(rate, 1);
    v.step = (static_cast<std::uint64_t>(v.rate) << 32) / output_rate_;
    return v.id;
  }
  return -1;
}

void Mixer::remove_voice(VoiceId id) {
  std::shared_ptr<VoiceSource> keep;  // released outside the lock
  EffectChain effects;
  {
    std::lock_guard guard(lock_);
    Voice* v = find(id);
    if (!v) return;
    keep = std::move(v->source);
    effects = std::move(v->effects);
    *v = Voice();
  }
}

void Mixer::start(VoiceId id, bool restart) {
  std::lock_guard guard(lock_);
  Voice* v = find(id);
  if (!v) return;
  if (restart) {
    v->frac = 0;
    std::fill(std::begin(v->held), std::end(v->held), 0.0f);
  }
  v->playing = true;
}

void Mixer::stop(VoiceId id) {
  std::lock_guard guard(lock_);
  if (Voice* v = find(id)) v->playing = false;
}

bool Mixer::playing(VoiceId id) const {
  std::lock_guard guard(lock_);
  Voice* v = find(id);
  return v && v->playing;
}

void Mixer::set_rate(VoiceId id, std::uint32_t rate) {
  std::lock_guard guard(lock_);
  Voice* v = find(id);
  if (!v || !rate) return;
  v->rate = rate;
  v->step = (static_cast<std::uint64_t>(rate) << 32) / output_rate_;
}

std::uint32_t Mixer::rate(VoiceId id) const {
  std::lock_guard guard(lock_);
  Voice* v = find(id);
  return v ? v->rate : 0;
}

void Mixer::set_level(VoiceId id, std::int32_t attenuation, std::int32_t pan) {
  float l, r;
  pan_gains(pan, l, r);
  float g = attenuation_gain(attenuation);
  std::lock_guard guard(lock_);
  if (Voice* v = find(id)) {
    v->left = g * l;
    v->right = g * r;
  }
}

void Mixer::set_effects(VoiceId id, EffectChain chain) {
  EffectChain old;
  {
    std::lock_guard guard(lock_);
    Voice* v = find(id);
    if (!v) return;
    old = std::move(v->effects);
    v->effects = std::move(chain);
  }
}

std::uint64_t Mixer::position(VoiceId id) const {
  std::lock_guard guard(lock_);
  Voice* v = find(id);
  return v ? v->consumed : 0;
}

void Mixer::set_master(std::int32_t attenuation, std::int32_t pan) {
  float l, r;
  pan_gains(pan, l, r);
  float g = attenuation_gain(attenuation);
  std::lock_guard guard(lock_);
  master_left_ = g * l;
  master_right_ = g * r;
}

void Mixer::set_active(bool active) {
  std::lock_guard guard(lock_);
  active_ = active;
}

namespace {

// Catmull-Rom weights of the four frames around a point, for 2^kPhaseBits
// positions between two frames (the phase error stays near -75 dB).
constexpr int kPhaseBits = 11;

const float* cubic_table() {
  alignas(16) static float table[4 << kPhaseBits];
  static bool made = [] {
    for (int i = 0; i < (1 << kPhaseBits); ++i) {
      const double t = (i + 0.5) / (1 << kPhaseBits), t2 = t * t, t3 = t2 * t;
      table[4 * i] = static_cast<float>(0.5 * (-t3 + 2 * t2 - t));
      table[4 * i + 1] = static_cast<float>(0.5 * (3 * t3 - 5 * t2) + 1);
      table[4 * i + 2] = static_cast<float>(0.5 * (-3 * t3 + 4 * t2 + t));
      table[4 * i + 3] = static_cast<float>(0.5 * (t3 - t2));
    }
    return true;
  }();
  (void)made;
  return table;
}

// Catmull-Rom interpolation of stereo frames at pos, pos + step, ...
// (32.32 fixed point, relative to in[0] as the window's first frame).
// kAdd: add to out with the gains; otherwise store.
template <bool kAdd>
void resample(const float* __restrict in, float* __restrict out, std::size_t frames,
              std::uint64_t pos, std::uint64_t step, float l, float r) {
#if defined(__SSE2__)
  // Both channels at once: frames k..k+3 are two 4-float loads, weighted
  // [w0 w0 w1 w1] and [w2 w2 w3 w3] from the phase table, then the halves
  // are summed.
  const float* table = cubic_table();
  const __m128 gains = _mm_setr_ps(l, r, 0.0f, 0.0f);
  for (std::size_t i = 0; i < frames; ++i, pos += step) {
    const float* p = in + 2 * static_cast<std::size_t>(pos >> 32);
    const __m128 w = _mm_load_ps(table + 4 * ((pos & 0xFFFFFFFFu) >> (32 - kPhaseBits)));
    __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(p), _mm_unpacklo_ps(w, w)),
                          _mm_mul_ps(_mm_loadu_ps(p + 4), _mm_unpackhi_ps(w, w)));
    v = _mm_add_ps(v, _mm_movehl_ps(v, v));  // [left, right, ...]
    float* o = out + 2 * i;
    if (kAdd) {
      __m128 old = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(o)));
      _mm_store_sd(reinterpret_cast<double*>(o),
                   _mm_castps_pd(_mm_add_ps(old, _mm_mul_ps(v, gains))));
    } else {
      _mm_store_sd(reinterpret_cast<double*>(o), _mm_castps_pd(v));
    }
  }
#else
  for (std::size_t i = 0; i < frames; ++i, pos += step) {
    const float* p = in + 2 * static_cast<std::size_t>(pos >> 32);
    const float t =
        static_cast<float>(static_cast<std::int64_t>(pos & 0xFFFFFFFFu)) * (1.0f / 4294967296.0f);
    const float t2 = t * t, t3 = t2 * t;
    const float w0 = 0.5f * (-t3 + 2.0f * t2 - t);
    const float w1 = 0.5f * (3.0f * t3 - 5.0f * t2) + 1.0f;
    const float w2 = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
    const float w3 = 0.5f * (t3 - t2);
    const float a = w0 * p[0] + w1 * p[2] + w2 * p[4] + w3 * p[6];
    const float b = w0 * p[1] + w1 * p[3] + w2 * p[5] + w3 * p[7];
    if (kAdd) {
      out[2 * i] += a * l;
      out[2 * i + 1] += b * r;
    } else {
      out[2 * i] = a;
      out[2 * i + 1] = b;
    }
  }
#endif
}

}  // namespace

// Resamples one block of a voice (4-point cubic interpolation between the
// two middle frames of each window) and adds it to out with its gains;
// a voice with effects goes through scratch_ and its effect chain first.
// The voice keeps the last four source frames as the next block's history,
// so the output lags the source by three frames.
void Mixer::mix_voice(Voice& v, float* out, std::size_t frames) {
  const std::uint64_t end = v.frac + v.step * frames;
  const std::size_t advances = static_cast<std::size_t>(end >> 32);
  // input_ = [four held frames, advances new frames]
  if (input_.size() < 2 * (advances + 4)) input_.resize(2 * (advances + 4));
  float* in = input_.data();
  std::memcpy(in, v.held, sizeof v.held);
  std::size_t got = advances ? v.source->pull(in + 8, advances) : 0;
  if (got < advances) {
    std::memset(in + 8 + 2 * got, 0, sizeof(float) * 2 * (advances - got));
    v.playing = false;  // the source has ended
  }
  v.consumed += got;
  const float l = v.left, r = v.right;
  const bool direct = v.effects.empty();  // straight into out, gains applied on the way
  float* s = direct ? nullptr : scratch_.data();
  if (v.step == (1ull << 32) && v.frac == 0) {
    const float* p = in + 2;
    if (direct) {
      for (std::size_t i = 0; i < frames; ++i) {
        out[2 * i] += p[2 * i] * l;
        out[2 * i + 1] += p[2 * i + 1] * r;
      }
    } else {
      std::memcpy(s, p, sizeof(float) * 2 * frames);
    }
  } else if (direct) {
    resample<true>(in, out, frames, v.frac, v.step, l, r);
  } else {
    resample<false>(in, s, frames, v.frac, v.step, 1.0f, 1.0f);
  }
  v.frac = end & 0xFFFFFFFFu;
  std::memcpy(v.held, in + 2 * advances, sizeof v.held);
  if (direct) return;
  for (auto& effect : v.effects) effect->process(s, frames);
  for (std::size_t i = 0; i < frames; ++i) {
    out[2 * i] += s[2 * i] * l;
    out[2 * i + 1] += s[2 * i + 1] * r;
  }
}

void Mixer::render(float* out, std::size_t frames) {
  std::memset(out, 0, sizeof(float) * 2 * frames);
  {
    std::lock_guard guard(lock_);
    constexpr std::size_t kBlock = 1024;
    if (scratch_.size() < 2 * kBlock) scratch_.resize(2 * kBlock);
    for (std::size_t done = 0; done < frames;) {
      std::size_t n = std::min(kBlock, frames - done);
      for (int i = 0; i < kMaxVoices; ++i) {
        Voice& v = voices_[i];
        if (!v.used || !v.playing || (!active_ && !v.global_focus)) continue;
        mix_voice(v, out + 2 * done, n);
      }
      done += n;
    }
    if (master_left_ != 1.0f || master_right_ != 1.0f) {
      for (std::size_t i = 0; i < frames; ++i) {
        out[2 * i] *= master_left_;
        out[2 * i + 1] *= master_right_;
      }
    }
  }
  rendered_.fetch_add(frames, std::memory_order_acq_rel);
  { std::lock_guard guard(tick_lock_); }
  tick_.notify_all();
}

std::uint64_t Mixer::wait_rendered(std::uint64_t seen, int timeout_ms) {
  std::unique_lock lock(tick_lock_);
  tick_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return rendered() != seen; });
  return rendered();
}

void Mixer::wake_waiters() {
  { std::lock_guard guard(tick_lock_); }
  tick_.notify_all();
}

}  // namespace talven::audio
