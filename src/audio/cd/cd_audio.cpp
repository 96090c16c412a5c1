#include "audio/cd/cd_audio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <climits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/host_file.h"
#include "audio/cd/track_decoder.h"
#include "audio/mixer.h"

namespace talven::audio::cd {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kMaxTracks = 99;
constexpr std::uint64_t kCdBytesPerSecond = 176400;

struct Toc {
  int count = 0;
  int length[kMaxTracks + 1] = {};  // seconds
  bool audio[kMaxTracks + 1] = {};
  std::string file[kMaxTracks + 1];
};

// "track" + 1 or 2 digits (leading zeros allowed) + "." + anything; 0 when
// the name is not a track file's.
int track_number(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (lower.rfind("track", 0) != 0) return 0;
  std::size_t i = 5, start = 5;
  while (i < lower.size() && std::isdigit(static_cast<unsigned char>(lower[i]))) ++i;
  if (i == start || i - start > 3 || i >= lower.size() || lower[i] != '.') return 0;
  const int n = std::stoi(lower.substr(start, i - start));
  return n >= 1 && n <= kMaxTracks ? n : 0;
}

Toc read_toc(const std::string& folder) {
  Toc toc;
  std::error_code ec;
  std::vector<std::pair<int, std::string>> files;
  for (const auto& e : fs::directory_iterator(host_file::fs_path(folder), ec)) {
    if (!e.is_regular_file(ec)) continue;
    const int n = track_number(host_file::from_fs_path(e.path().filename()));
    if (n) files.emplace_back(n, host_file::from_fs_path(e.path()));
  }
  std::sort(files.begin(), files.end());
  for (const auto& [n, path] : files) {
    toc.count = std::max(toc.count, n);
    if (toc.audio[n]) continue;  // a playable file for this number was found already
    if (auto d = TrackDecoder::open(path)) {
      toc.audio[n] = true;
      toc.length[n] = int(d->duration_seconds());
      toc.file[n] = path;
    } else if (toc.file[n].empty()) {
      toc.file[n] = path;
      toc.length[n] = int(std::min<std::uintmax_t>(
          fs::file_size(host_file::fs_path(path), ec) / kCdBytesPerSecond, 1u << 30));
    }
  }
  return toc;
}

class Drive;

// A track as a voice: decodes while the mixer pulls, and tells the drive
// when it has ended.
class TrackSource : public VoiceSource {
 public:
  TrackSource(std::unique_ptr<TrackDecoder> decoder, Drive* drive, std::uint64_t serial)
      : decoder_(std::move(decoder)), drive_(drive), serial_(serial) {}
  std::size_t pull(float* out, std::size_t frames) override;

 private:
  std::unique_ptr<TrackDecoder> decoder_;
  Drive* drive_;
  std::uint64_t serial_;
  bool told_ = false;
};

class Drive {
 public:
  Drive(Mixer* mixer, std::string folder) : mixer_(mixer), folder_(std::move(folder)) {
    toc_ = read_toc(folder_);
    thread_ = std::thread([this] { serve(); });
  }
  ~Drive() {
    {
      std::lock_guard lock(mutex_);
      stop_now();
    }
    {
      std::lock_guard lock(event_mutex_);
      quit_ = true;
    }
    event_cv_.notify_all();
    thread_.join();
  }

  // Called from the mixer thread (under the mixer's lock): only the event
  // lock is taken here.
  void track_ended(std::uint64_t serial) {
    {
      std::lock_guard lock(event_mutex_);
      ended_serial_ = serial;
    }
    event_cv_.notify_all();
  }

  std::int32_t play(std::int32_t track, std::int32_t fade_ms) {
    std::lock_guard lock(mutex_);
    stop_now();
    const bool faded = end_fade();
    if (fade_ms <= 0) {
      if (faded) level_ = kFullLevel;
      return play_track(track) ? 1 : 0;
    }
    level_ = 0;
    if (!play_track(track)) return 0;
    start_fade(+kFadeStep, fade_ms, false);
    return 1;
  }

  std::int32_t stop(std::int32_t fade_ms) {
    std::lock_guard lock(mutex_);
    if (!playing_) return 1;
    const bool faded = end_fade();
    if (fade_ms <= 0) {
      stop_now();
      if (faded) {
        level_ = kFullLevel;
        apply_volume();
      }
      return 1;
    }
    start_fade(-kFadeStep, fade_ms, true);
    return 1;
  }

  std::int32_t pause() {
    std::lock_guard lock(mutex_);
    if (pause_count_ > 0) {
      ++pause_count_;
    } else if (playing_) {
      pause_count_ = 1;
      mixer_->stop(voice_);
    }
    return 1;
  }

  std::int32_t replay() {
    std::lock_guard lock(mutex_);
    if (pause_count_ > 0 && --pause_count_ == 0 && playing_) mixer_->start(voice_);
    return 1;
  }

  std::int32_t set_volume(std::int32_t percent) {
    std::lock_guard lock(mutex_);
    percent_ = std::clamp(percent, 0, 100);
    apply_volume();
    return 1;
  }
  std::int32_t volume() {
    std::lock_guard lock(mutex_);
    return percent_;
  }
  std::int32_t is_playing() {
    std::lock_guard lock(mutex_);
    return playing_ && pause_count_ == 0 ? 1 : 0;
  }

  std::int32_t position(std::int32_t kind) {
    std::lock_guard lock(mutex_);
    if (!playing_) return 0;
    const int cur = track_;
    const std::int64_t p = std::int64_t(mixer_->position(voice_) / kTrackRate);
    std::int64_t r = p;
    if (kind == 1) {
      r = toc_.length[cur] - p - 2;
    } else if (kind == 2) {
      for (int t = 1; t < cur; ++t)
        if (toc_.audio[t]) r += toc_.length[t] - 2;
    } else if (kind == 3) {
      r = toc_.length[cur] - p - 2;
      for (int t = cur + 1; t <= toc_.count; ++t)
        if (toc_.audio[t]) r += toc_.length[t] - 2;
    }
    return std::int32_t(std::clamp<std::int64_t>(r, 0, INT32_MAX));
  }

  std::int32_t length(std::int32_t track) {
    std::lock_guard lock(mutex_);
    if (track == 0) {
      std::int64_t sum = 0;
      for (int t = 1; t <= toc_.count; ++t) sum += toc_.length[t];
      return std::int32_t(std::min<std::int64_t>(sum, INT32_MAX));
    }
    if (track < 0 || track > toc_.count) return 0;
    return toc_.length[track];
  }

  std::int32_t repeat(std::int32_t mode) {
    std::lock_guard lock(mutex_);
    return std::exchange(repeat_, mode);
  }

  // Opening the door takes the disc away; closing it reads the disc again.
  std::int32_t eject() {
    std::lock_guard lock(mutex_);
    door_open_ = !door_open_;
    if (door_open_) {
      stop_now();
      toc_ = Toc{};
    } else {
      toc_ = read_toc(folder_);
    }
    return 1;
  }

  void disc_changed() {
    std::lock_guard lock(mutex_);
    stop_now();
    toc_ = read_toc(folder_);
    door_open_ = false;
  }

  std::int32_t level() {
    std::lock_guard lock(mutex_);
    return level_;
  }

 private:
  // ---- under mutex_ ----
  bool play_track(int track) {
    if (door_open_ || track < 1 || track > toc_.count || !toc_.audio[track]) return false;
    std::unique_ptr<TrackDecoder> decoder = TrackDecoder::open(toc_.file[track]);
    if (!decoder) return false;
    auto source = std::make_shared<TrackSource>(std::move(decoder), this, ++serial_);
    const VoiceId voice = mixer_->add_voice(source, kTrackRate, true);
    if (voice < 0) return false;
    voice_ = voice;
    playing_ = true;
    pause_count_ = 0;
    track_ = track;
    apply_volume();
    mixer_->start(voice_, true);
    return true;
  }

  void stop_now() {
    if (voice_ >= 0) mixer_->remove_voice(voice_);
    voice_ = -1;
    ++serial_;  // an end reported by the old track is stale
    playing_ = false;
    pause_count_ = 0;
    track_ = 0;
  }

  void apply_volume() {
    if (voice_ < 0) return;
    const double gain = double(level_) / kFullLevel * percent_ / 100.0;
    const std::int32_t attenuation =
        gain <= 0 ? kSilence
                  : std::max<std::int32_t>(kSilence,
                                           std::int32_t(std::lround(3322.0 * std::log10(gain))));
    mixer_->set_level(voice_, attenuation, 0);
  }

  // Ends a running fade; true when one was running.
  bool end_fade() {
    const bool was = fade_step_ != 0;
    fade_step_ = 0;
    stop_after_fade_ = false;
    return was;
  }

  void start_fade(int step, std::int32_t ms, bool stop_after) {
    fade_step_ = step;
    stop_after_fade_ = stop_after;
    fade_period_ = std::chrono::milliseconds(std::max(1, ms / 32));
    {
      std::lock_guard lock(event_mutex_);
      next_tick_ = Clock::now() + fade_period_;
      rescheduled_ = true;
    }
    event_cv_.notify_all();
  }

  void fade_tick() {
    level_ = std::clamp(level_ + fade_step_, 0, kFullLevel);
    apply_volume();
    if (level_ == 0 || level_ == kFullLevel) {
      const bool stop_after = stop_after_fade_;
      end_fade();
      if (stop_after) {
        stop_now();
        level_ = kFullLevel;
      }
    }
  }

  void track_end() {
    const int cur = track_;
    const int last = toc_.count - 1;  // the candidates are tracks 1 .. count - 1
    switch (repeat_) {
      case 1:
        if (play_track(cur)) return;
        break;
      case 2:
        for (int t = cur + 1; t <= last; ++t)
          if (toc_.audio[t]) {
            if (play_track(t)) return;
            break;
          }
        break;
      case 3:
        for (int t = cur, i = 0; last >= 1 && i <= toc_.count; ++i) {
          t = t >= last ? 1 : t + 1;
          if (t == cur) break;
          if (toc_.audio[t]) {
            if (play_track(t)) return;
            break;
          }
        }
        break;
      default: break;
    }
    const bool faded = end_fade();
    stop_now();
    if (faded) level_ = kFullLevel;
  }

  // ---- the service thread ----
  void serve() {
    for (;;) {
      std::uint64_t ended = 0;
      {
        std::unique_lock lock(event_mutex_);
        const auto until = next_tick_.value_or(Clock::now() + std::chrono::seconds(1));
        event_cv_.wait_until(lock, until,
                             [&] { return quit_ || ended_serial_ != 0 || rescheduled_; });
        if (quit_) return;
        ended = std::exchange(ended_serial_, 0);
        rescheduled_ = false;
      }
      std::lock_guard lock(mutex_);
      if (ended && ended == serial_ && playing_) track_end();
      std::optional<Clock::time_point> next;
      if (fade_step_ != 0) {
        Clock::time_point tick;
        {
          std::lock_guard event_lock(event_mutex_);
          tick = next_tick_.value_or(Clock::now());
        }
        while (fade_step_ != 0 && Clock::now() >= tick) {
          fade_tick();
          tick += fade_period_;
        }
        if (fade_step_ != 0) next = tick;
      }
      std::lock_guard event_lock(event_mutex_);
      next_tick_ = next;
    }
  }

  Mixer* mixer_;
  std::string folder_;
  std::mutex mutex_;
  Toc toc_;
  VoiceId voice_ = -1;
  std::uint64_t serial_ = 0;
  bool playing_ = false;
  int track_ = 0;
  std::int32_t pause_count_ = 0;
  bool door_open_ = false;
  std::int32_t repeat_ = 0;
  std::int32_t level_ = kFullLevel;
  int fade_step_ = 0;
  bool stop_after_fade_ = false;
  std::chrono::milliseconds fade_period_{1};
  std::int32_t percent_ = 100;

  std::mutex event_mutex_;  // a leaf lock: nothing else is taken under it
  std::condition_variable event_cv_;
  std::uint64_t ended_serial_ = 0;
  std::optional<Clock::time_point> next_tick_;
  bool rescheduled_ = false;  // a fade started: the wait's deadline changed
  bool quit_ = false;
  std::thread thread_;
};

std::size_t TrackSource::pull(float* out, std::size_t frames) {
  const std::size_t n = decoder_->read(out, frames);
  if (n < frames && !told_) {
    told_ = true;
    drive_->track_ended(serial_);
  }
  return n;
}

std::unique_ptr<Drive>& drive() {
  static std::unique_ptr<Drive> d;
  return d;
}

}  // namespace

bool cd_start(Mixer* mixer, const std::string& folder) {
  cd_shutdown();
  if (!mixer) return false;
  drive() = std::make_unique<Drive>(mixer, folder);
  return true;
}

void cd_shutdown() { drive().reset(); }
bool cd_started() { return drive() != nullptr; }

std::int32_t cd_play(std::int32_t track, std::int32_t fade_ms) {
  return drive() ? drive()->play(track, fade_ms) : 0;
}
std::int32_t cd_stop(std::int32_t fade_ms) { return drive() ? drive()->stop(fade_ms) : 0; }
std::int32_t cd_pause() { return drive() ? drive()->pause() : 0; }
std::int32_t cd_replay() { return drive() ? drive()->replay() : 0; }
std::int32_t cd_setvol(std::int32_t percent) { return drive() ? drive()->set_volume(percent) : 1; }
std::int32_t cd_getvol() { return drive() ? drive()->volume() : 100; }
std::int32_t cd_isplay() { return drive() ? drive()->is_playing() : 0; }
std::int32_t cd_getpos(std::int32_t kind) { return drive() ? drive()->position(kind) : 0; }
std::int32_t cd_getlen(std::int32_t track) { return drive() ? drive()->length(track) : 0; }
std::int32_t cd_repeat(std::int32_t mode) {
  static std::int32_t before_start = 0;  // the mode is kept even before the drive starts
  return drive() ? drive()->repeat(mode) : std::exchange(before_start, mode);
}
std::int32_t cd_eject() { return drive() ? drive()->eject() : 0; }
void cd_disc_changed() {
  if (drive()) drive()->disc_changed();
}
std::int32_t cd_fade_level() { return drive() ? drive()->level() : kFullLevel; }

}  // namespace talven::audio::cd
