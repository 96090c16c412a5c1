#include "audio/midi/midi_player.h"

#include "audio_sonames.h"
#if TALVEN_HAVE_FLUIDSYNTH
#include "audio/midi/fluidsynth_api.h"
#endif

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <vector>

#include "audio/midi/sf2_font.h"
#include "audio/midi/sf2_synth.h"
#include "audio/midi/smf.h"
#include "audio/midi/system_soundfonts.h"
#include "audio/mixer.h"
#include "base/host_file.h"
#include "base/messages.h"
#include "storage/file_layer.h"

namespace talven::audio::midi {

namespace {

constexpr std::int32_t kMaster = 100;            // the tool's master level, fixed
constexpr std::size_t kMaxMidiFile = 64u << 20;  // larger files are not music

// ---- the synthesisers -----------------------------------------------------------

#if TALVEN_HAVE_FLUIDSYNTH
class FluidSynth : public Synth {
 public:
  static std::unique_ptr<FluidSynth> create(std::uint32_t rate) {
    if (!fl::available()) return nullptr;
    auto s = std::unique_ptr<FluidSynth>(new FluidSynth);
    s->settings_ = fl::new_fluid_settings();
    if (!s->settings_) return nullptr;
    fl::fluid_settings_setnum(s->settings_, "synth.sample-rate", double(rate));
    fl::fluid_settings_setint(s->settings_, "synth.cpu-cores", 1);
    s->synth_ = fl::new_fluid_synth(s->settings_);
    if (!s->synth_) return nullptr;
    return s;
  }
  ~FluidSynth() override {
    if (synth_) fl::delete_fluid_synth(synth_);
    if (settings_) fl::delete_fluid_settings(settings_);
  }
  bool load_soundfont(const std::string& path) {
    return !path.empty() && fl::fluid_synth_sfload(synth_, path.c_str(), 1) != FLUID_FAILED;
  }
  void event(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) override {
    const int ch = status & 0x0F;
    switch (status & 0xF0) {
      case 0x80: fl::fluid_synth_noteoff(synth_, ch, d1); break;
      case 0x90: fl::fluid_synth_noteon(synth_, ch, d1, d2); break;
      case 0xA0: fl::fluid_synth_key_pressure(synth_, ch, d1, d2); break;
      case 0xB0: fl::fluid_synth_cc(synth_, ch, d1, d2); break;
      case 0xC0: fl::fluid_synth_program_change(synth_, ch, d1); break;
      case 0xD0: fl::fluid_synth_channel_pressure(synth_, ch, d1); break;
      case 0xE0: fl::fluid_synth_pitch_bend(synth_, ch, d1 | (d2 << 7)); break;
    }
  }
  void all_sounds_off() override { fl::fluid_synth_all_sounds_off(synth_, -1); }
  void render(float* stereo, std::size_t frames) override {
    fl::fluid_synth_write_float(synth_, int(frames), stereo, 0, 2, stereo, 1, 2);
  }

 private:
  FluidSynth() = default;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
};
#endif

// ---- the sequencer -------------------------------------------------------------

struct TimedEvent {
  std::uint64_t frame;
  std::uint8_t status, data1, data2;
};

// A loaded song as a voice: sends its events at their frames while the
// mixer pulls it, and scales channel volume on the way.
class Song : public VoiceSource {
 public:
  Song(Synth* synth, const MidiSong& song, std::uint32_t rate) : synth_(synth) {
    events_.reserve(song.events.size());
    for (const MidiEvent& e : song.events)
      events_.push_back(
          {std::uint64_t(std::llround(e.seconds * rate)), e.status, e.data1, e.data2});
    length_ = std::uint64_t(std::llround(song.length_seconds * rate));
    if (!events_.empty()) length_ = std::max(length_, events_.back().frame);
    std::fill(std::begin(last_), std::end(last_), std::uint8_t(127));
  }

  std::size_t pull(float* out, std::size_t frames) override {
    std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < frames) {
      while (next_ < events_.size() && events_[next_].frame <= position_) send(events_[next_++]);
      if (next_ >= events_.size() && position_ >= length_) {
        if (!repeat_ || length_ == 0) break;  // the end: the voice stops
        synth_->all_sounds_off();
        next_ = 0;
        position_ = 0;
        continue;
      }
      const std::uint64_t until = next_ < events_.size() ? events_[next_].frame : length_;
      const std::size_t n = std::size_t(std::min<std::uint64_t>(frames - done, until - position_));
      synth_->render(out + 2 * done, n);
      done += n;
      position_ += n;
    }
    return done;
  }

  // Back to the start with nothing sounding.
  void rewind() {
    std::lock_guard lock(mutex_);
    synth_->all_sounds_off();
    next_ = 0;
    position_ = 0;
  }
  void silence() {
    std::lock_guard lock(mutex_);
    synth_->all_sounds_off();
  }
  void set_repeat(bool on) {
    std::lock_guard lock(mutex_);
    repeat_ = on;
  }
  // The new volume, and the scaled channel volumes sent at once.
  void set_volume(std::int32_t volume) {
    std::lock_guard lock(mutex_);
    volume_ = volume;
    for (int ch = 0; ch < 16; ++ch) synth_->event(std::uint8_t(0xB0 | ch), 7, scaled(last_[ch]));
  }
  std::int32_t volume() const {
    std::lock_guard lock(mutex_);
    return volume_;
  }
  std::uint64_t position() const {
    std::lock_guard lock(mutex_);
    return position_;
  }
  std::uint64_t length() const { return length_; }

 private:
  std::uint8_t scaled(std::uint8_t value) const {
    return std::uint8_t(std::int32_t(value) * volume_ * kMaster / 10000);
  }
  void send(const TimedEvent& e) {
    std::uint8_t d2 = e.data2;
    if ((e.status & 0xF0) == 0xB0 && e.data1 == 7) {  // channel volume
      last_[e.status & 0x0F] = d2;
      d2 = scaled(d2);
    }
    synth_->event(e.status, e.data1, d2);
  }

  Synth* synth_;
  std::vector<TimedEvent> events_;
  std::uint64_t length_ = 0;
  mutable std::mutex mutex_;
  std::size_t next_ = 0;
  std::uint64_t position_ = 0;
  bool repeat_ = false;
  std::int32_t volume_ = 100;
  std::uint8_t last_[16];
};

struct MidiState {
  bool on = false;
  Mixer* mixer = nullptr;
  std::unique_ptr<Synth> synth;
  std::uint32_t rate = 0;
  bool global_focus = true;
  std::shared_ptr<Song> song;
  VoiceId voice = -1;
  bool repeat = false;
  std::int32_t pause_count = 0;
};

MidiState& state() {
  static MidiState s;
  return s;
}

bool song_playing() {
  MidiState& s = state();
  return s.song && s.voice >= 0 && s.mixer->playing(s.voice);
}

// FluidSynth when its library loads, else our own synthesiser; the
// SoundFont must load either way.
std::unique_ptr<Synth> make_synth_for(std::uint32_t rate, const std::string& soundfont) {
#if TALVEN_HAVE_FLUIDSYNTH
  if (fl::available()) {
    std::unique_ptr<FluidSynth> synth = FluidSynth::create(rate);
    if (!synth) {
      report_message(1, "DirectMusicPerformance の初期化に失敗しました。");
      return nullptr;
    }
    if (!synth->load_soundfont(soundfont)) {
      report_message(1, "ポートの選択に失敗しました。");
      return nullptr;
    }
    return synth;
  }
#endif
  std::string why;
  std::shared_ptr<const sf2::Font> font;
  if (!soundfont.empty()) font = sf2::load_font(soundfont, &why);
  if (!font) {
    report_message(1, "ポートの選択に失敗しました。");
    return nullptr;
  }
  return std::make_unique<Sf2Synth>(std::move(font), rate);
}

void quiet_fluid_logging() {
#if TALVEN_HAVE_FLUIDSYNTH
  static std::once_flag once;
  std::call_once(once, [] {
    if (!fl::available()) return;
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
      fl::fluid_set_log_function(level, nullptr, nullptr);
  });
#endif
}

}  // namespace

std::string find_soundfont(const std::string& configured, const std::string& game_dir) {
  auto regular = [](const std::string& path) {
    host_file::Info info;
    return host_file::info_of_path(path, info) && info.regular;
  };
  if (!configured.empty()) {
    const bool relative = host_file::fs_path(configured).is_relative();
    const std::string path =
        relative && !game_dir.empty() ? game_dir + "/" + configured : configured;
    if (regular(path)) return path;
  }
  if (!game_dir.empty()) {
    std::vector<std::string> found;
    for (const std::string& name :
         host_file::list_directory(game_dir).value_or(std::vector<std::string>{})) {
      std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
      std::transform(ext.begin(), ext.end(), ext.begin(),
                     [](unsigned char c) { return char(std::tolower(c)); });
      if (ext == ".sf2" && regular(game_dir + "/" + name)) found.push_back(game_dir + "/" + name);
    }
    std::sort(found.begin(), found.end());
    if (!found.empty()) return found.front();
  }
  for (const std::string& p : system_soundfonts())
    if (regular(p)) return p;
  return {};
}

bool midi_start_with(Mixer* mixer, std::unique_ptr<Synth> (*make_synth)(std::uint32_t rate)) {
  midi_shutdown();
  MidiState& s = state();
  if (!mixer) {
    report_message(1, "DirectMusicPerformance の初期化に失敗しました。");
    return false;
  }
  s.rate = mixer->output_rate();
  s.synth = make_synth(s.rate);
  if (!s.synth) return false;
  s.mixer = mixer;
  s.on = true;
  return true;
}

bool midi_start(const MidiStart& start) {
  midi_shutdown();
  if (!start.enabled) return false;
  quiet_fluid_logging();
  static std::string soundfont;
  soundfont = start.soundfont;
  state().global_focus = start.global_focus;
  return midi_start_with(start.mixer,
                         [](std::uint32_t rate) { return make_synth_for(rate, soundfont); });
}

void midi_shutdown() {
  MidiState& s = state();
  if (!s.on) return;
  midi_free();
  s.synth.reset();
  s.mixer = nullptr;
  s.on = false;
  s.repeat = false;
}

bool midi_on() { return state().on; }

std::int32_t midi_load_bytes(std::string_view data) {
  MidiState& s = state();
  if (!s.on) return 0;
  if (!midi_free()) return 0;
  MidiSong song;
  if (!read_smf(data, song)) return 0;
  s.synth->all_sounds_off();
  auto loaded = std::make_shared<Song>(s.synth.get(), song, s.rate);
  VoiceId voice = s.mixer->add_voice(loaded, s.rate, s.global_focus);
  if (voice < 0) return 0;
  s.song = std::move(loaded);
  s.voice = voice;
  s.pause_count = 0;
  return 1;
}

std::int32_t midi_load(std::string_view path) {
  if (!state().on) return 0;
  storage::ExpFilePtr f(storage::OpenExpFile(path));
  if (!f) {
    midi_free();  // a second load frees the first, whether or not it succeeds
    return 0;
  }
  const std::int64_t size = storage::GetExpFileSize(f.get());
  if (size <= 0 || std::uint64_t(size) > kMaxMidiFile) {
    midi_free();
    return 0;
  }
  std::string data(std::size_t(size), '\0');
  std::size_t got = 0;
  if (!storage::ReadExpFile(f.get(), data.data(), data.size(), &got)) got = 0;
  data.resize(got);
  return midi_load_bytes(data);
}

std::int32_t midi_free() {
  MidiState& s = state();
  if (s.voice >= 0) s.mixer->remove_voice(s.voice);  // no pull runs after this
  s.voice = -1;
  s.song.reset();
  if (s.synth) s.synth->all_sounds_off();
  s.pause_count = 0;
  return 1;
}

std::int32_t midi_play() {
  MidiState& s = state();
  s.pause_count = 0;
  if (!s.song) return 1;
  midi_stop();
  s.song->set_repeat(s.repeat);
  s.mixer->start(s.voice, true);
  return 1;
}

std::int32_t midi_stop() {
  MidiState& s = state();
  if (!s.song) return 1;
  s.mixer->stop(s.voice);
  s.song->rewind();
  return 1;
}

std::int32_t midi_pause() {
  MidiState& s = state();
  if (s.pause_count > 0) ++s.pause_count;
  if (!song_playing()) return 1;
  s.pause_count = 1;
  s.mixer->stop(s.voice);  // the song keeps its place
  s.song->silence();
  return 0;
}

std::int32_t midi_replay() {
  MidiState& s = state();
  if (s.pause_count == 0) return 1;
  if (--s.pause_count == 0 && s.song) {
    s.song->set_repeat(s.repeat);
    s.mixer->start(s.voice);
  }
  return 1;
}

std::int32_t midi_setvol(std::int32_t volume) {
  MidiState& s = state();
  volume = std::clamp(volume, 0, 100);
  if (s.song) s.song->set_volume(volume);
  return 1;
}

std::int32_t midi_getvol() {
  MidiState& s = state();
  return s.song ? s.song->volume() : 0;
}

std::int32_t midi_isplay() { return song_playing() ? 1 : 0; }

std::int32_t midi_getpos() {
  MidiState& s = state();
  if (!song_playing() || s.rate == 0) return 0;
  std::uint64_t p = s.song->position();
  if (s.song->length() > 0) p %= s.song->length();
  return std::int32_t(p * 1000 / s.rate);
}

std::int32_t midi_repeat(std::int32_t flag) {
  state().repeat = flag != 0;
  return 1;
}

}  // namespace talven::audio::midi
