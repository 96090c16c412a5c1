#include "audio/sound.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "audio/mixer.h"
#include "audio/sound_file.h"
#include "base/messages.h"
#include "storage/file_layer.h"

namespace talven::audio {

// ---- units --------------------------------------------------------------------

std::int32_t volume_to_attenuation(std::int32_t volume) {
  double x = std::clamp(volume, 0, 100) / 100.0;
  if (x <= 0.002) return kSilence;
  return static_cast<std::int32_t>(3322.0 * std::log10(x));  // truncated toward zero
}

std::int32_t attenuation_to_volume(std::int32_t attenuation) {
  if (attenuation <= kSilence) return 0;
  return static_cast<std::int32_t>(100.0 * std::pow(10.0, attenuation / 3322.0));
}

std::int32_t pan_to_platform(std::int32_t pan) {
  pan = std::clamp(pan, -100, 100);
  double x = 1.0 - std::abs(pan) / 100.0;
  std::int32_t d = x <= 0.002 ? kSilence : static_cast<std::int32_t>(3322.0 * std::log10(x));
  return pan <= 0 ? d : -d;
}

std::int32_t platform_to_pan(std::int32_t b) {
  double r = (1.0 - std::pow(10.0, -std::abs(static_cast<double>(b)) / 3322.0)) * 100.0;
  std::int32_t v = static_cast<std::int32_t>(r);
  return b < 0 ? -v : v;
}

std::uint32_t clamp_frequency(std::int32_t frequency) {
  if (frequency == 0) return 0;
  return static_cast<std::uint32_t>(std::clamp(frequency, 100, 100000));
}

namespace {

constexpr std::uint32_t kMaxStaticBytes = 0x40000000;  // 1 GiB of decoded sound

struct SoundSlot {
  std::string name;  // empty: free
  std::int32_t play_looping = 0;
  std::int32_t pause_count = 0;
  std::shared_ptr<PcmBuffer> buffer;
  VoiceId voice = -1;
  bool effects_capable = false;
  std::int32_t attenuation = 0;
  std::int32_t pan = 0;
  std::int32_t effects_attached = 0;

  // streams
  bool is_stream = false;
  std::thread feeder;
  std::atomic<bool> feeder_exit{false};
  std::atomic<bool> ended{false};
  bool loop = false;
  std::atomic<std::uint32_t> fed{0};
  std::uint32_t stream_size = 0;
  std::mutex decoder_lock;  // the decoder: feeder fills, main thread seeks
  std::unique_ptr<SoundFile> source;
  std::vector<std::uint8_t> scratch;  // the feeder's half being decoded
  std::string comment;                // Ogg: the "COMMENT=" text, kept from the load
  std::uint32_t start_pos = 0;
  std::atomic<std::uint32_t> loop_start{0};

  WaveFormat format;
  std::uint32_t length = 0;
  std::uint64_t total_samples = 0;
  bool is_ogg = false;
  std::uint32_t effect_mask = 0;
  EffectRecord effects[kEffectCount] = {};
};

struct SoundState {
  bool on = false;
  bool global_focus = true;
  std::unique_ptr<Mixer> mixer;
  std::unique_ptr<AudioOutput> output;
  std::int32_t margin_ms = 0;
  std::int32_t master_attenuation = 0;
  std::int32_t master_pan = 0;
  SoundSlot slots[kSoundSlots];
};

SoundState& state() {
  static SoundState s;
  return s;
}

bool valid_no(std::int32_t no) { return no >= 0 && no < kSoundSlots; }

// Brings an output paced by the game clock up to the present, so that what
// an operation starts, stops or reads happens at the game time it is made.
void keep_up(SoundState& s) {
  if (s.output) s.output->catch_up();
}

// The slot when sound is on and the slot is loaded.
SoundSlot* loaded(std::int32_t no) {
  SoundState& s = state();
  if (!s.on || !valid_no(no)) return nullptr;
  keep_up(s);
  SoundSlot& slot = s.slots[no];
  return slot.buffer ? &slot : nullptr;
}

// What a platform sound buffer accepts: PCM, one or two channels of 8 or 16
// bits, a rate it can play, and sizes that agree with each other.
bool buffer_format_ok(const WaveFormat& f) {
  if (f.format_tag != 1 || (f.channels != 1 && f.channels != 2)) return false;
  if (f.bits_per_sample != 8 && f.bits_per_sample != 16) return false;
  if (f.block_align != f.channels * f.bits_per_sample / 8) return false;
  if (f.samples_per_sec < 100 || f.samples_per_sec > 200000) return false;
  return f.avg_bytes_per_sec == f.samples_per_sec * f.block_align;
}

std::unique_ptr<SoundFile> read_sound_file(std::string_view path) {
  std::string bytes;
  if (!storage::ReadWholeExpFile(path, bytes)) return nullptr;
  return SoundFile::open(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void stop_feeder(SoundSlot& slot) {
  if (!slot.feeder.joinable()) return;
  slot.feeder_exit = true;
  state().mixer->wake_waiters();
  slot.feeder.join();
  slot.feeder_exit = false;
}

void free_slot(SoundSlot& slot) {
  SoundState& s = state();
  if (!slot.buffer) return;
  s.mixer->stop(slot.voice);
  if (slot.is_stream) {
    s.mixer->set_level(slot.voice, kSilence, 0);
    stop_feeder(slot);
  }
  s.mixer->remove_voice(slot.voice);
  slot.voice = -1;
  slot.buffer.reset();
  {
    std::lock_guard guard(slot.decoder_lock);
    slot.source.reset();
  }
  slot.scratch = {};
  slot.name.clear();
  slot.comment.clear();
  slot.is_stream = false;
  slot.is_ogg = false;
  slot.play_looping = slot.pause_count = 0;
  slot.attenuation = slot.pan = 0;
  slot.effects_attached = 0;
  slot.start_pos = 0;
  slot.loop_start = 0;
  slot.fed = 0;
  slot.ended = false;
  slot.length = 0;
  slot.total_samples = 0;
  slot.effect_mask = 0;
}

// Creates the slot's buffer and voice around `bytes`.
bool make_buffer(SoundSlot& slot, const WaveFormat& f, std::vector<std::uint8_t> bytes) {
  SoundState& s = state();
  auto buffer = std::make_shared<PcmBuffer>(f.channels, f.bits_per_sample, f.samples_per_sec,
                                            std::move(bytes));
  VoiceId voice = s.mixer->add_voice(buffer, f.samples_per_sec, s.global_focus);
  if (voice < 0) {
    report_message(1, "DirectSound::CreateSoundBuffer に失敗しました。");
    return false;
  }
  slot.buffer = std::move(buffer);
  slot.voice = voice;
  slot.format = f;
  return true;
}

// Fills half h of a stream's ring from the decoder.
void fill_half(SoundSlot& slot, int h) {
  SoundState& s = state();
  if (slot.ended) {
    s.mixer->stop(slot.voice);  // the sound is over
    return;
  }
  const std::uint32_t half = slot.stream_size / 2;
  std::uint8_t* dst = slot.scratch.data();
  {
    std::lock_guard guard(slot.decoder_lock);
    if (!slot.source) return;
    std::uint32_t pos = 0;
    bool restarted = false;
    while (pos < half) {
      std::uint32_t asked = half - pos;
      std::uint32_t got = slot.source->fill(dst + pos, asked);
      pos += got;
      if (got == asked) {
        restarted = false;
        continue;
      }
      if (got > 0) restarted = false;
      if (slot.loop && !restarted) {
        slot.source->seek(slot.loop_start);
        restarted = true;
        continue;
      }
      // Not looping, or a loop that gives nothing even from its start: the
      // data has run out.
      if (got == 0) slot.ended = true;
      break;
    }
  }
  slot.buffer->write(static_cast<std::uint32_t>(h) * half, dst, half);
  slot.fed += half;
}

void feeder_main(SoundSlot* slot) {
  Mixer& mixer = *state().mixer;
  const std::uint32_t half = slot->stream_size / 2;
  int next = 1;  // the first half was filled at play
  std::uint64_t seen = mixer.rendered();
  while (!slot->feeder_exit) {
    std::uint32_t cursor = slot->buffer->cursor();
    if (cursor < half && next == 1) {
      fill_half(*slot, 1);
      next = 0;
    } else if (cursor >= half && next == 0) {
      fill_half(*slot, 0);
      next = 1;
    }
    seen = mixer.wait_rendered(seen, 10);
  }
}

void apply_effects(SoundSlot& slot) {
  SoundState& s = state();
  EffectChain chain;
  if (slot.effects_capable && slot.effect_mask) {
    for (int kind = 0; kind < kEffectCount; ++kind) {
      if (slot.effect_mask & (1u << kind))
        chain.push_back(make_effect(kind, slot.effects[kind], s.mixer->output_rate()));
    }
  }
  slot.effects_attached = static_cast<std::int32_t>(chain.size());
  s.mixer->set_effects(slot.voice, std::move(chain));
}

template <typename Op>
std::int32_t for_slots(std::int32_t no, Op op) {
  SoundState& s = state();
  if (!s.on) return 0;
  if (no == -1) {
    keep_up(s);
    for (SoundSlot& slot : s.slots)
      if (slot.buffer) op(slot);
    return 1;
  }
  SoundSlot* slot = loaded(no);
  if (!slot) return 0;
  op(*slot);
  return 1;
}

}  // namespace

// ---- start and stop -------------------------------------------------------------

bool InitSound(const SoundStart& start) {
  ShutdownSound();
  SoundState& s = state();
  if (!start.enabled) return false;
  s.mixer = std::make_unique<Mixer>(kDefaultOutputRate);
  OutputOptions options;
  options.device = start.device;
  options.fast = start.fast;
  options.record_path = start.record_path;
  s.output = open_audio_output(*s.mixer, options);
  if (!s.output) {
    s.mixer.reset();
    return false;  // no audio device: sound stays off, silently
  }
  s.global_focus = start.global_focus;
  s.margin_ms = 0;
  s.master_attenuation = 0;
  s.master_pan = 0;
  s.on = true;
  return true;
}

void release_sound_buffers() {
  SoundState& s = state();
  if (!s.mixer) return;
  for (SoundSlot& slot : s.slots) free_slot(slot);
}

void ShutdownSound() {
  SoundState& s = state();
  release_sound_buffers();
  if (s.output) s.output->close();
  s.output.reset();
  s.mixer.reset();
  s.on = false;
}

void sound_activity(bool active) {
  SoundState& s = state();
  if (s.mixer) s.mixer->set_active(active);
}

bool sound_on() { return state().on; }

Mixer* sound_mixer() {
  SoundState& s = state();
  return s.on ? s.mixer.get() : nullptr;
}

// ---- loading ------------------------------------------------------------------

std::int32_t sound_load(std::int32_t no, std::string_view path) {
  SoundState& s = state();
  if (!s.on || !valid_no(no) || path.empty()) return 0;
  SoundSlot& slot = s.slots[no];
  free_slot(slot);
  std::unique_ptr<SoundFile> file = read_sound_file(path);
  if (!file) return 0;
  const WaveFormat& f = file->format();
  if (!buffer_format_ok(f)) {
    report_message(1, "DirectSound::CreateSoundBuffer に失敗しました。");
    return 0;
  }
  const std::uint32_t ba = f.block_align;
  const std::uint64_t margin = static_cast<std::uint64_t>(f.samples_per_sec) *
                               static_cast<std::uint64_t>(s.margin_ms) / 1000 * ba;
  // Decode in pieces, so that a length the file only claims is never
  // allocated: the buffer holds the samples that are really there.
  std::vector<std::uint8_t> bytes;
  const std::uint32_t want = std::min(file->length(), kMaxStaticBytes);
  if (!file->is_ogg()) bytes.reserve(want);
  std::uint8_t piece[65536];
  while (bytes.size() < want) {
    std::uint32_t n =
        std::min<std::uint32_t>(sizeof piece, want - static_cast<std::uint32_t>(bytes.size()));
    std::uint32_t got = file->fill(piece, n);
    bytes.insert(bytes.end(), piece, piece + got);
    if (got < n) break;
  }
  bytes.resize(bytes.size() - bytes.size() % ba);
  if (bytes.size() + margin > kMaxStaticBytes) {
    report_message(1, "DirectSound::CreateSoundBuffer に失敗しました。");
    return 0;
  }
  const std::uint64_t total = bytes.size() + margin;
  bytes.resize(static_cast<std::size_t>(total), f.bits_per_sample == 8 ? 128 : 0);
  if (!make_buffer(slot, f, std::move(bytes))) return 0;
  slot.effects_capable = total * 1000 / f.avg_bytes_per_sec > 149;
  slot.is_ogg = file->is_ogg();
  slot.comment = file->comment();
  slot.length = file->length();
  slot.total_samples = file->total_samples();
  slot.name.assign(path.substr(0, 259));
  slot.is_stream = false;
  s.mixer->set_level(slot.voice, 0, 0);
  return 1;
}

std::int32_t sound_load_stream(std::int32_t no, std::string_view path) {
  SoundState& s = state();
  if (!s.on || !valid_no(no) || path.empty()) return 0;
  SoundSlot& slot = s.slots[no];
  free_slot(slot);
  std::unique_ptr<SoundFile> file = read_sound_file(path);
  if (!file) return 0;
  const WaveFormat& f = file->format();
  if (!buffer_format_ok(f)) {
    report_message(1, "DirectSound::CreateSoundBuffer に失敗しました。");
    return 0;
  }
  slot.stream_size = f.avg_bytes_per_sec * 2;
  std::vector<std::uint8_t> ring(slot.stream_size, f.bits_per_sample == 8 ? 128 : 0);
  if (!make_buffer(slot, f, std::move(ring))) return 0;
  slot.buffer->set_looping(true);
  slot.scratch.assign(slot.stream_size / 2, 0);
  slot.effects_capable = true;
  slot.is_ogg = file->is_ogg();
  slot.comment = file->comment();
  slot.length = file->length();
  slot.total_samples = file->total_samples();
  {
    std::lock_guard guard(slot.decoder_lock);
    slot.source = std::move(file);
  }
  slot.name.assign(path.substr(0, 259));
  slot.is_stream = true;
  slot.start_pos = 0;
  slot.loop_start = 0;
  s.mixer->set_level(slot.voice, 0, 0);
  return 1;
}

std::int32_t sound_free(std::int32_t no) {
  return for_slots(no, [](SoundSlot& slot) { free_slot(slot); });
}

// ---- playing ------------------------------------------------------------------

std::int32_t sound_play(std::int32_t no, std::int32_t loop) {
  SoundSlot* slot = loaded(no);
  if (!slot) return 0;
  Mixer& mixer = *state().mixer;
  slot->play_looping = loop != 0;
  slot->pause_count = 0;
  mixer.stop(slot->voice);
  if (!slot->is_stream) {
    slot->buffer->set_cursor(0);
    apply_effects(*slot);
    slot->buffer->set_looping(loop != 0);
    mixer.start(slot->voice, true);
    return 1;
  }
  stop_feeder(*slot);
  slot->buffer->set_cursor(0);
  apply_effects(*slot);
  slot->play_looping = 1;
  slot->ended = false;
  slot->loop = loop != 0;
  slot->fed = 0;
  {
    // A stream plays from the position last set (0 unless snd_setpos gave
    // one), whatever an earlier play left in the decoder.
    std::lock_guard guard(slot->decoder_lock);
    slot->source->seek(slot->start_pos);
  }
  fill_half(*slot, 0);
  mixer.start(slot->voice, true);
  slot->feeder_exit = false;
  try {
    slot->feeder = std::thread(feeder_main, slot);
  } catch (...) {
    mixer.stop(slot->voice);
    return 0;
  }
  return 1;
}

std::int32_t sound_stop(std::int32_t no) {
  return for_slots(no, [](SoundSlot& slot) {
    Mixer& mixer = *state().mixer;
    if (mixer.playing(slot.voice)) {
      mixer.stop(slot.voice);
      slot.buffer->set_cursor(0);
    }
  });
}

std::int32_t sound_pause(std::int32_t no) {
  return for_slots(no, [](SoundSlot& slot) {
    Mixer& mixer = *state().mixer;
    if (slot.pause_count > 0) {
      ++slot.pause_count;
    } else if (mixer.playing(slot.voice)) {
      slot.pause_count = 1;
      mixer.stop(slot.voice);
    }
  });
}

std::int32_t sound_replay(std::int32_t no) {
  return for_slots(no, [](SoundSlot& slot) {
    if (slot.pause_count == 0) return;
    if (--slot.pause_count == 0) state().mixer->start(slot.voice);
  });
}

// ---- levels and rate ------------------------------------------------------------

std::int32_t sound_set_volume(std::int32_t no, std::int32_t volume) {
  SoundState& s = state();
  if (!s.on) return 0;
  std::int32_t a = volume_to_attenuation(volume);
  if (no == -1) {
    s.master_attenuation = a;
    s.mixer->set_master(a, s.master_pan);
    return 0;
  }
  if (SoundSlot* slot = loaded(no)) {
    slot->attenuation = a;
    s.mixer->set_level(slot->voice, slot->attenuation, slot->pan);
  }
  return 0;
}

std::int32_t sound_get_volume(std::int32_t no) {
  SoundState& s = state();
  if (!s.on) return 0;
  if (no == -1) return attenuation_to_volume(s.master_attenuation);
  SoundSlot* slot = loaded(no);
  return slot ? attenuation_to_volume(slot->attenuation) : 0;
}

std::int32_t sound_set_pan(std::int32_t no, std::int32_t pan) {
  SoundState& s = state();
  if (!s.on) return 0;
  std::int32_t b = pan_to_platform(pan);
  if (no == -1) {
    s.master_pan = b;
    s.mixer->set_master(s.master_attenuation, b);
    return 0;
  }
  if (SoundSlot* slot = loaded(no)) {
    slot->pan = b;
    s.mixer->set_level(slot->voice, slot->attenuation, slot->pan);
  }
  return 0;
}

std::int32_t sound_get_pan(std::int32_t no) {
  SoundState& s = state();
  if (!s.on) return 0;
  if (no == -1) return platform_to_pan(s.master_pan);
  SoundSlot* slot = loaded(no);
  return slot ? platform_to_pan(slot->pan) : 0;
}

std::int32_t sound_set_frequency(std::int32_t no, std::int32_t frequency) {
  SoundState& s = state();
  if (!s.on) return 0;
  std::uint32_t f = clamp_frequency(frequency);
  auto set = [&](SoundSlot& slot) {
    s.mixer->set_rate(slot.voice, f ? f : slot.format.samples_per_sec);
  };
  if (no == -1) {
    for (SoundSlot& slot : s.slots)
      if (slot.buffer) set(slot);
  } else if (SoundSlot* slot = loaded(no)) {
    set(*slot);
  }
  return 0;
}

std::int32_t sound_get_frequency(std::int32_t no) {
  SoundSlot* slot = loaded(no);
  return slot ? static_cast<std::int32_t>(state().mixer->rate(slot->voice)) : 0;
}

std::int32_t sound_is_playing(std::int32_t no) {
  SoundSlot* slot = loaded(no);
  return slot && state().mixer->playing(slot->voice) ? 1 : 0;
}

// ---- positions ------------------------------------------------------------------

namespace {

// Bytes of `ms` milliseconds, truncated to a whole block; -1 when negative.
std::int64_t block_bytes(const SoundSlot& slot, std::int32_t ms) {
  if (ms < 0) return -1;
  const std::uint64_t ba = slot.format.block_align;
  std::uint64_t bytes = ba * slot.format.samples_per_sec * static_cast<std::uint64_t>(ms) / 1000;
  return static_cast<std::int64_t>(bytes - bytes % ba);
}

}  // namespace

std::int32_t sound_set_loop(std::int32_t no, std::int32_t ms) {
  SoundSlot* slot = loaded(no);
  if (!slot || !slot->is_stream) return 0;
  std::int64_t bytes = block_bytes(*slot, ms);
  if (bytes >= 0 && bytes < slot->length) slot->loop_start = static_cast<std::uint32_t>(bytes);
  return 1;
}

std::int32_t sound_set_position(std::int32_t no, std::int32_t ms) {
  SoundSlot* slot = loaded(no);
  if (!slot || ms < 0) return 0;
  const WaveFormat& f = slot->format;
  if (!slot->is_stream) {
    std::uint64_t bytes = static_cast<std::uint64_t>(f.samples_per_sec) *
                          static_cast<std::uint64_t>(ms) / 1000 * (f.bits_per_sample / 8) *
                          f.channels;
    return bytes <= 0xFFFFFFFFu && slot->buffer->set_cursor(static_cast<std::uint32_t>(bytes)) ? 1
                                                                                               : 0;
  }
  if (state().mixer->playing(slot->voice)) return 0;
  std::lock_guard guard(slot->decoder_lock);
  if (slot->is_ogg) {
    std::uint64_t sample =
        static_cast<std::uint64_t>(f.samples_per_sec) * static_cast<std::uint64_t>(ms) / 1000;
    if (sample >= slot->total_samples) return 0;
    slot->start_pos = static_cast<std::uint32_t>(sample * f.channels * 2);
    slot->source->seek(slot->start_pos);
    return 1;
  }
  std::int64_t bytes = block_bytes(*slot, ms);
  if (bytes >= slot->source->data_length()) return 0;
  slot->start_pos = static_cast<std::uint32_t>(bytes);
  slot->source->seek(slot->start_pos);
  return 1;
}

std::int32_t sound_get_position(std::int32_t no) {
  SoundSlot* slot = loaded(no);
  if (!slot || !state().mixer->playing(slot->voice)) return 0;
  std::int64_t p;
  std::int64_t cursor = slot->buffer->cursor();
  if (!slot->is_stream) {
    p = cursor;
  } else {
    const std::int64_t size = slot->stream_size;
    const std::int64_t fed = slot->fed;
    std::int64_t o = fed % size - cursor;
    if (o < 1) o += size;
    p = fed + slot->start_pos - o;
    const std::int64_t length = slot->length, loop_start = slot->loop_start;
    if (p >= length)
      p = length > loop_start ? loop_start + (p - loop_start) % (length - loop_start) : length;
  }
  if (p < 0) p = 0;
  double per_ms = slot->format.avg_bytes_per_sec / 1000.0;
  return static_cast<std::int32_t>(std::min(p / per_ms, 2147483647.0));
}

std::int32_t sound_get_length(std::int32_t no) {
  SoundSlot* slot = loaded(no);
  if (!slot) return 0;
  const WaveFormat& f = slot->format;
  std::uint64_t ms;
  if (slot->is_ogg) {
    ms = slot->total_samples * 1000 / f.samples_per_sec;
  } else {
    ms = static_cast<std::uint64_t>(slot->length / f.block_align) * 1000 / f.samples_per_sec;
  }
  return static_cast<std::int32_t>(std::min<std::uint64_t>(ms, 0x7FFFFFFF));
}

std::int32_t sound_get_text(std::int32_t no, std::string& text) {
  SoundSlot* slot = loaded(no);
  if (!slot) return 0;
  text.clear();
  if (!slot->is_ogg) return 0;
  text = slot->comment;
  return 1;
}

std::int32_t sound_set_margin(std::int32_t ms) {
  SoundState& s = state();
  if (!s.on) return 0;
  s.margin_ms = std::clamp(ms, 0, 600000);
  return 1;
}

std::int32_t sound_set_effect(std::int32_t no, int kind, const EffectRecord* record) {
  SoundSlot* slot = loaded(no);
  if (!slot || kind < 0 || kind >= kEffectCount) return 0;
  if (record) {
    slot->effects[kind] = *record;
    slot->effect_mask |= 1u << kind;
  } else {
    slot->effect_mask &= ~(1u << kind);
  }
  return 1;
}

SlotView sound_slot_view(std::int32_t no) {
  SlotView v;
  SoundSlot* slot = loaded(no);
  if (!slot) return v;
  v.loaded = true;
  v.is_stream = slot->is_stream;
  v.effects_capable = slot->effects_capable;
  v.attenuation = slot->attenuation;
  v.pan = slot->pan;
  v.effects_attached = slot->effects_attached;
  v.pause_count = slot->pause_count;
  return v;
}

std::int32_t sound_master_attenuation() { return state().master_attenuation; }

}  // namespace talven::audio
