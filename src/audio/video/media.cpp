#include "audio/video/media.h"

#include "audio/ffmpeg_api.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/mixer.h"
#include "base/config.h"
#include "base/game_path.h"
#include "base/messages.h"
#include "graphics/present/pages.h"

namespace talven::audio::video {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kAudioAheadSeconds = 1.0;  // room for decoded sound ahead of the mixer
// The decoder reads on while less sound than this is decoded ahead, so a
// late wake-up of the decoder thread never leaves the mixer without sound.
constexpr double kAudioLowSeconds = 0.5;
constexpr std::size_t kMaxPendingPictures = 16;  // decoded pictures waiting for their time
constexpr int kMaxPictureSide = 16384;

// Decoded sound waiting for the mixer. While the media runs, a dry ring
// reads as silence, so the clock (frames consumed) keeps going.
class SoundRing : public VoiceSource {
 public:
  explicit SoundRing(std::uint32_t rate) : capacity_(std::size_t(rate * kAudioAheadSeconds) * 2) {
    data_.resize(capacity_);
  }
  std::size_t pull(float* out, std::size_t frames) override {
    std::lock_guard lock(mutex_);
    const std::size_t have = std::min(frames, size_ / 2);
    for (std::size_t i = 0; i < have * 2; ++i) {
      out[i] = data_[head_];
      head_ = (head_ + 1) % capacity_;
    }
    size_ -= have * 2;
    std::fill(out + have * 2, out + frames * 2, 0.0f);
    played_ += frames;
    space_.notify_all();
    return frames;
  }
  // Waits (sleeping) for room; false when `keep_waiting` says to give up.
  template <typename Pred>
  bool push(const float* in, std::size_t frames, Pred keep_waiting) {
    std::unique_lock lock(mutex_);
    std::size_t done = 0;
    while (done < frames) {
      const std::size_t room = (capacity_ - size_) / 2;
      if (room == 0) {
        space_.wait_for(lock, std::chrono::milliseconds(20));
        lock.unlock();
        const bool go_on = keep_waiting();
        lock.lock();
        if (!go_on) return false;
        continue;
      }
      const std::size_t n = std::min(room, frames - done);
      for (std::size_t i = 0; i < n * 2; ++i) {
        data_[(head_ + size_) % capacity_] = in[done * 2 + i];
        ++size_;
      }
      done += n;
    }
    return true;
  }
  void reset() {
    std::lock_guard lock(mutex_);
    head_ = size_ = 0;
    played_ = 0;
  }
  std::uint64_t played() const {
    std::lock_guard lock(mutex_);
    return played_;
  }
  bool empty() const {
    std::lock_guard lock(mutex_);
    return size_ == 0;
  }
  std::size_t queued_frames() const {
    std::lock_guard lock(mutex_);
    return size_ / 2;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable space_;
  std::vector<float> data_;
  std::size_t capacity_, head_ = 0, size_ = 0;
  std::uint64_t played_ = 0;
};

enum class Run { kStopped, kRunning, kPaused };

struct Media {
  // FFmpeg objects, used by the decoder thread (and by open/close with the
  // thread not running).
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  int video_stream = -1, audio_stream = -1;
  SwrContext* resampler = nullptr;
  SwsContext* scaler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  AVFrame* last_picture = nullptr;  // for placing again while stopped
  // Decoded pictures and their times, in decoding order (decoder thread).
  std::deque<std::pair<double, AVFrame*>> pending;
  double duration = 0;

  Mixer* mixer = nullptr;
  std::shared_ptr<SoundRing> ring;
  VoiceId voice = -1;
  std::uint32_t rate = 48000;

  // Shared with the decoder thread under `mutex`.
  std::mutex mutex;
  std::condition_variable wake;
  Run run = Run::kStopped;
  bool rewind = false;  // go back to the start before running
  bool quit = false;
  bool repeat = false;
  MediaRect rect{};  // screen coordinates
  bool rect_changed = false;
  // The steady clock, for media without sound.
  double clock_base = 0;
  Clock::time_point clock_started{};
  std::vector<std::uint32_t> picture;
  MediaCounters counters;

  std::atomic<bool> playing{false};
  std::int32_t pause_count = 0;
  std::int32_t attenuation = 0;
  std::thread thread;

  ~Media() {
    {
      std::lock_guard lock(mutex);
      quit = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
    if (voice >= 0 && mixer) mixer->remove_voice(voice);
    clear_pending();
    ff::av_frame_free(&last_picture);
    ff::av_frame_free(&frame);
    ff::av_packet_free(&packet);
    ff::sws_freeContext(scaler);
    ff::swr_free(&resampler);
    ff::avcodec_free_context(&video);
    ff::avcodec_free_context(&audio);
    ff::avformat_close_input(&format);
  }

  // Seconds of media played (under `mutex` or from the decoder thread).
  double clock_seconds() {
    if (ring) return double(ring->played()) / rate;
    double t = clock_base;
    if (run == Run::kRunning)
      t += std::chrono::duration<double>(Clock::now() - clock_started).count();
    return t;
  }
  void freeze_clock() {  // under mutex, leaving kRunning
    if (!ring && run == Run::kRunning)
      clock_base += std::chrono::duration<double>(Clock::now() - clock_started).count();
  }

  // Scales a decoded picture to the rectangle and shows it over the screen.
  void show(const AVFrame* f) {
    MediaRect r;
    {
      std::lock_guard lock(mutex);
      r = rect;
    }
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide || f->width <= 0 ||
        f->height <= 0)
      return;
    scaler = ff::sws_getCachedContext(scaler, f->width, f->height, AVPixelFormat(f->format), w, h,
                                      AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) return;
    picture.resize(std::size_t(w) * std::size_t(h));
    std::uint8_t* dst[4] = {reinterpret_cast<std::uint8_t*>(picture.data()), nullptr, nullptr,
                            nullptr};
    int stride[4] = {w * 4, 0, 0, 0};
    ff::sws_scale(scaler, f->data, f->linesize, 0, f->height, dst, stride);
    graphics::show_overlay(picture.data(), w, h, r.left, r.top);
  }

  void keep_picture(const AVFrame* f) {
    if (!last_picture) last_picture = ff::av_frame_alloc();
    if (!last_picture) return;
    ff::av_frame_unref(last_picture);
    ff::av_frame_ref(last_picture, f);
  }

  void rewind_streams() {
    ff::av_seek_frame(format, -1, format->start_time != AV_NOPTS_VALUE ? format->start_time : 0,
                      AVSEEK_FLAG_BACKWARD);
    if (video) ff::avcodec_flush_buffers(video);
    if (audio) ff::avcodec_flush_buffers(audio);
    if (ring) ring->reset();
    clear_pending();
    std::lock_guard lock(mutex);
    clock_base = 0;
    clock_started = Clock::now();
  }

  // The decoder thread's wait: true to go on decoding, false to stop.
  bool wait_until_running() {
    std::unique_lock lock(mutex);
    wake.wait(lock, [&] { return quit || (run == Run::kRunning) || rewind; });
    return !quit;
  }
  bool still_running() {
    std::lock_guard lock(mutex);
    return !quit && !rewind && run != Run::kStopped;
  }

  void clear_pending() {
    for (auto& p : pending) ff::av_frame_free(&p.second);
    pending.clear();
  }

  // Seconds of decoded sound the mixer has not yet taken.
  double audio_ahead() const { return ring ? double(ring->queued_frames()) / rate : 0.0; }

  // Sleeps until the next pending picture is due, at most 20 ms.
  void wait_for_next() {
    std::unique_lock lock(mutex);
    if (quit || rewind || run != Run::kRunning) return;
    double ahead = 0.02;
    if (!pending.empty()) ahead = std::min(ahead, pending.front().first - clock_seconds());
    if (ahead > 0) wake.wait_for(lock, std::chrono::duration<double>(ahead));
  }

  // Shows the newest picture whose time has come. Earlier due pictures are
  // dropped, and so is a picture late by more than a frame, rather than
  // letting the video drift behind its sound.
  void present_due() {
    if (pending.empty()) return;
    double now;
    {
      std::lock_guard lock(mutex);
      now = clock_seconds();
    }
    AVFrame* due = nullptr;
    double due_at = 0;
    std::uint64_t dropped = 0;
    while (!pending.empty() && pending.front().first <= now) {
      if (due) {
        ff::av_frame_free(&due);
        ++dropped;
      }
      due_at = pending.front().first;
      due = pending.front().second;
      pending.pop_front();
    }
    if (!due) return;
    const double step =
        video_stream >= 0 ? av_q2d(av_inv_q(format->streams[video_stream]->avg_frame_rate)) : 0;
    const double late_by = std::isfinite(step) && step > 0 ? step : 0.04;
    const bool late = due_at >= 0 && now - due_at > late_by;
    if (!late) show(due);
    std::lock_guard lock(mutex);
    counters.dropped += dropped + (late ? 1 : 0);
    counters.shown += late ? 0 : 1;
    keep_picture(due);
    ff::av_frame_free(&due);
  }

  double seconds_of(const AVFrame* f, int stream) const {
    const AVRational tb = format->streams[stream]->time_base;
    std::int64_t pts = f->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) pts = f->pts;
    if (pts == AV_NOPTS_VALUE || tb.den == 0) return -1;
    double s = double(pts) * tb.num / tb.den;
    const std::int64_t start = format->streams[stream]->start_time;
    if (start != AV_NOPTS_VALUE) s -= double(start) * tb.num / tb.den;
    return s;
  }

  // Every frame the decoder has ready; false when play stopped meanwhile.
  bool drain(AVCodecContext* codec, int stream) {
    while (ff::avcodec_receive_frame(codec, frame) == 0) {
      if (codec == audio) {
        const int out_max = ff::swr_get_out_samples(resampler, frame->nb_samples);
        if (out_max > 0) {
          std::vector<float> pcm(std::size_t(out_max) * 2);
          std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(pcm.data())};
          const int got = ff::swr_convert(resampler, out, out_max,
                                          const_cast<const std::uint8_t**>(frame->extended_data),
                                          frame->nb_samples);
          if (got > 0 &&
              !ring->push(pcm.data(), std::size_t(got), [&] { return still_running(); })) {
            ff::av_frame_unref(frame);
            return false;
          }
        }
      } else {
        // A picture without a time is shown at once.
        const double t = seconds_of(frame, stream);
        AVFrame* copy = ff::av_frame_clone(frame);
        if (copy) pending.emplace_back(t < 0 ? 0.0 : t, copy);
      }
      ff::av_frame_unref(frame);
    }
    return true;
  }

  // Reads while the picture queue has room and sound runs low (or no
  // picture waits); otherwise sleeps until the next picture is due.
  void decode_loop() {
    while (wait_until_running()) {
      {
        std::unique_lock lock(mutex);
        if (rewind) {
          rewind = false;
          lock.unlock();
          rewind_streams();
          continue;
        }
      }
      present_due();
      const bool want_read = pending.size() < kMaxPendingPictures &&
                             (pending.empty() || !ring || audio_ahead() < kAudioLowSeconds);
      if (!want_read) {
        wait_for_next();
        continue;
      }
      const int r = ff::av_read_frame(format, packet);
      if (r < 0) {
        // The end: drain the decoders, show the last pictures in time, let
        // the sound play out, then repeat from the start or stop.
        for (AVCodecContext* c : {video, audio})
          if (c) {
            ff::avcodec_send_packet(c, nullptr);
            drain(c, c == video ? video_stream : audio_stream);
          }
        while (!pending.empty() && still_running()) {
          present_due();
          wait_for_next();
        }
        while (ring && !ring->empty() && still_running()) {
          std::unique_lock lock(mutex);
          wake.wait_for(lock, std::chrono::milliseconds(20));
        }
        std::unique_lock lock(mutex);
        if (quit) return;
        if (rewind || run == Run::kStopped) continue;
        if (repeat) {
          lock.unlock();
          rewind_streams();
          continue;
        }
        freeze_clock();
        run = Run::kStopped;
        playing = false;
        lock.unlock();
        if (mixer && voice >= 0) mixer->stop(voice);
        continue;
      }
      AVCodecContext* codec = packet->stream_index == video_stream   ? video
                              : packet->stream_index == audio_stream ? audio
                                                                     : nullptr;
      if (codec && ff::avcodec_send_packet(codec, packet) >= 0) drain(codec, packet->stream_index);
      ff::av_packet_unref(packet);
    }
  }
};

std::unique_ptr<Media>& current() {
  static std::unique_ptr<Media> m;
  return m;
}

Mixer*& media_mixer() {
  static Mixer* m = nullptr;
  return m;
}

bool (*g_window_minimized)() = nullptr;
std::int32_t g_attenuation = 0;  // the media volume outlives each file
bool g_repeat = false;
MediaRect g_rect{};  // empty: the whole screen
bool g_rect_set = false;

MediaRect placement() {
  if (g_rect_set && g_rect.right > g_rect.left && g_rect.bottom > g_rect.top) return g_rect;
  return MediaRect{0, 0, graphics::screen_width(), graphics::screen_height()};
}

AVCodecContext* open_decoder(AVFormatContext* format, int stream) {
  const AVCodec* codec = ff::avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext* c = ff::avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  c->thread_count = 1;
  if (ff::avcodec_parameters_to_context(c, format->streams[stream]->codecpar) < 0 ||
      ff::avcodec_open2(c, codec, nullptr) < 0) {
    ff::avcodec_free_context(&c);
    return nullptr;
  }
  return c;
}

bool fail(const char* message) {
  report_message(1, "%s", message);
  return false;
}

// Opens and cues a file; the message of the step that failed otherwise.
bool open_media(Media& m, const std::string& host_path) {
  if (ff::avformat_open_input(&m.format, host_path.c_str(), nullptr, nullptr) < 0 ||
      ff::avformat_find_stream_info(m.format, nullptr) < 0)
    return fail("レンダーファイルのオープンに失敗しました。");
  m.video_stream = ff::av_find_best_stream(m.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  m.audio_stream = ff::av_find_best_stream(m.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (m.video_stream >= 0 && !(m.video = open_decoder(m.format, m.video_stream)))
    m.video_stream = -1;
  if (m.audio_stream >= 0 && !(m.audio = open_decoder(m.format, m.audio_stream)))
    m.audio_stream = -1;
  if (m.video_stream < 0 && m.audio_stream < 0)
    return fail("レンダーファイルのオープンに失敗しました。");
  m.packet = ff::av_packet_alloc();
  m.frame = ff::av_frame_alloc();
  if (!m.packet || !m.frame) return fail("GraphBuilder の作成に失敗しました。");
  if (m.audio && m.mixer) {
    m.rate = m.mixer->output_rate();
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (m.audio->ch_layout.nb_channels <= 0 ||
        ff::swr_alloc_set_opts2(&m.resampler, &stereo, AV_SAMPLE_FMT_FLT, int(m.rate),
                                &m.audio->ch_layout, m.audio->sample_fmt, m.audio->sample_rate, 0,
                                nullptr) < 0 ||
        ff::swr_init(m.resampler) < 0)
      return fail("BasicAudio の作成に失敗しました。");
    m.ring = std::make_shared<SoundRing>(m.rate);
    m.voice = m.mixer->add_voice(m.ring, m.rate, true);
    if (m.voice < 0) return fail("BasicAudio の作成に失敗しました。");
    m.mixer->set_level(m.voice, m.attenuation, 0);
  } else if (m.audio) {
    ff::avcodec_free_context(&m.audio);  // no sound device: pictures only
    m.audio_stream = -1;
  }
  if (m.format->duration != AV_NOPTS_VALUE) m.duration = double(m.format->duration) / AV_TIME_BASE;
  m.rect = placement();
  // Cue: the first picture is shown at once.
  if (m.video) {
    while (ff::av_read_frame(m.format, m.packet) >= 0) {
      bool shown = false;
      if (m.packet->stream_index == m.video_stream &&
          ff::avcodec_send_packet(m.video, m.packet) >= 0 &&
          ff::avcodec_receive_frame(m.video, m.frame) == 0) {
        m.show(m.frame);
        m.keep_picture(m.frame);
        ff::av_frame_unref(m.frame);
        shown = true;
      }
      ff::av_packet_unref(m.packet);
      if (shown) break;
    }
  }
  m.rewind_streams();
  return true;
}

}  // namespace

std::int32_t media_volume_to_attenuation(std::int32_t volume) {
  if (volume <= 0) return kSilence;
  if (volume >= 100) return 0;
  return std::int32_t(5000.0 * std::log10(volume / 100.0));
}

void media_start(Mixer* mixer, bool (*window_minimized)()) {
  media_shutdown();
  media_mixer() = mixer;
  g_window_minimized = window_minimized;
  g_attenuation = 0;
  g_repeat = false;
  g_rect_set = false;  // FFmpeg itself is loaded (and quietened) by the first media_open
}

void media_shutdown() {
  media_close();
  media_mixer() = nullptr;
}

std::int32_t media_open(std::string_view path) {
  media_close();
  if (g_window_minimized && g_window_minimized()) return 0;
  std::optional<std::string> host_path = resolve_game_path(path);
  // Without FFmpeg's libraries no file can be opened.
  if (!host_path || !ff::available()) {
    report_message(1, "%s", "レンダーファイルのオープンに失敗しました。");
    return 0;
  }
  auto m = std::make_unique<Media>();
  m->mixer = media_mixer();
  m->attenuation = g_attenuation;
  m->repeat = g_repeat;
  if (!open_media(*m, *host_path)) {
    graphics::hide_overlay();
    return 0;
  }
  Media* raw = m.get();
  m->thread = std::thread([raw] { raw->decode_loop(); });
  current() = std::move(m);
  return 1;
}

std::int32_t media_close() {
  if (!current()) return 1;
  // TALVEN_MEDIA_STATS=1 prints the pictures shown and dropped (benchmarks).
  if (const char* stats = std::getenv("TALVEN_MEDIA_STATS"); stats && *stats == '1') {
    const MediaCounters c = media_counters();
    std::fprintf(stderr, "talven: media pictures shown %llu dropped %llu\n",
                 (unsigned long long)c.shown, (unsigned long long)c.dropped);
  }
  current().reset();
  graphics::hide_overlay();
  return 1;
}

std::int32_t media_play() {
  Media* m = current().get();
  if (!m) return 0;
  {
    std::lock_guard lock(m->mutex);
    m->rewind = true;
    m->run = Run::kRunning;
    m->clock_base = 0;
    m->clock_started = Clock::now();
  }
  m->pause_count = 0;
  m->playing = true;
  if (m->voice >= 0) {
    m->mixer->set_level(m->voice, m->attenuation, 0);  // play restores the media volume
    m->mixer->start(m->voice, true);
  }
  m->wake.notify_all();
  return 1;
}

std::int32_t media_stop() {
  Media* m = current().get();
  if (!m) return 0;
  if (m->voice >= 0) {
    m->mixer->set_level(m->voice, kSilence, 0);  // muted first, so the stop makes no click
    m->mixer->stop(m->voice);
  }
  {
    std::lock_guard lock(m->mutex);
    m->freeze_clock();
    m->run = Run::kStopped;
  }
  m->playing = false;
  m->wake.notify_all();
  return 1;
}

std::int32_t media_pause() {
  Media* m = current().get();
  if (!m || !m->playing) return 0;
  if (++m->pause_count == 1) {
    if (m->voice >= 0) m->mixer->stop(m->voice);
    std::lock_guard lock(m->mutex);
    m->freeze_clock();
    if (m->run == Run::kRunning) m->run = Run::kPaused;
  }
  return 1;
}

std::int32_t media_replay() {
  Media* m = current().get();
  if (!m || !m->playing) return 0;
  if (m->pause_count > 0 && --m->pause_count == 0) {
    {
      std::lock_guard lock(m->mutex);
      if (m->run == Run::kPaused) {
        m->run = Run::kRunning;
        m->clock_started = Clock::now();
      }
    }
    if (m->voice >= 0) m->mixer->start(m->voice);
    m->wake.notify_all();
  }
  return 1;
}

std::int32_t media_isplay() {
  Media* m = current().get();
  return m && m->playing ? 1 : 0;
}

std::int32_t media_repeat(std::int32_t flag) {
  g_repeat = flag != 0;
  if (Media* m = current().get()) {
    std::lock_guard lock(m->mutex);
    m->repeat = g_repeat;
  }
  return 1;
}

std::int32_t media_size(const MediaRect* rect) {
  if (rect) {
    g_rect = *rect;
    g_rect_set = true;
  } else {
    g_rect_set = false;
  }
  Media* m = current().get();
  if (!m || !m->video) return 1;
  bool idle;
  {
    std::lock_guard lock(m->mutex);
    m->rect = placement();
    idle = m->run != Run::kRunning;
  }
  if (idle && m->last_picture) {
    // The decoder thread is waiting: the picture is placed again here.
    graphics::hide_overlay();
    m->show(m->last_picture);
  }
  return 1;
}

std::int32_t media_setvol(std::int32_t volume) {
  g_attenuation = media_volume_to_attenuation(volume);
  if (Media* m = current().get()) {
    m->attenuation = g_attenuation;
    if (m->voice >= 0) m->mixer->set_level(m->voice, g_attenuation, 0);
  }
  return 1;
}

MediaCounters media_counters() {
  Media* m = current().get();
  if (!m) return {};
  std::lock_guard lock(m->mutex);
  return m->counters;
}

}  // namespace talven::audio::video
