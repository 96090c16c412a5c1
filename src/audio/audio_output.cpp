#include "audio/audio_output.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/game_clock.h"
#include "base/host_file.h"

namespace talven::audio {

// ---- WavRecorder -------------------------------------------------------------

namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = v & 0xFF;
  p[1] = v >> 8;
}
void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

WavRecorder::~WavRecorder() { close(); }

bool WavRecorder::open(const std::string& path, std::uint32_t rate) {
  close();
  file_ = host_file::open_stdio(path, "wb");
  if (!file_) return false;
  rate_ = rate;
  data_bytes_ = 0;
  since_patch_ = 0;
  patch_sizes();
  return true;
}

void WavRecorder::patch_sizes() {
  std::uint8_t h[44];
  std::uint32_t data =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(data_bytes_, 0xFFFFFFFFu - 36));
  std::memcpy(h, "RIFF", 4);
  put32(h + 4, 36 + data);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  put32(h + 16, 16);
  put16(h + 20, 1);
  put16(h + 22, 2);
  put32(h + 24, rate_);
  put32(h + 28, rate_ * 4);
  put16(h + 32, 4);
  put16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  put32(h + 40, data);
  long at = std::ftell(file_);
  std::fseek(file_, 0, SEEK_SET);
  std::fwrite(h, 1, sizeof h, file_);
  if (at > 44) std::fseek(file_, at, SEEK_SET);
  std::fflush(file_);
}

void WavRecorder::write(const float* stereo, std::size_t frames) {
  if (!file_) return;
  std::int16_t buf[2048];
  for (std::size_t done = 0; done < frames;) {
    std::size_t n = std::min<std::size_t>(frames - done, 1024);
    for (std::size_t i = 0; i < 2 * n; ++i) {
      float s = std::clamp(stereo[2 * done + i], -1.0f, 1.0f);
      buf[i] = static_cast<std::int16_t>(std::lrint(s * 32767.0f));
    }
    std::fwrite(buf, sizeof(std::int16_t), 2 * n, file_);
    done += n;
  }
  data_bytes_ += 4 * frames;
  since_patch_ += frames;
  if (since_patch_ >= rate_) {
    since_patch_ = 0;
    patch_sizes();
  }
}

void WavRecorder::close() {
  if (!file_) return;
  patch_sizes();
  std::fclose(file_);
  file_ = nullptr;
}

namespace {

// ---- the null device ----------------------------------------------------------

// Paced by the wall clock (10 ms blocks as they fall due) or, in game-clock
// mode, by the game clock: the output position is the game time since the
// device opened, so it stands still while the clock is paused and the
// recording holds exactly the game's time. In game-clock mode catch_up()
// renders up to the present game time on the caller's thread, so a sound
// started just after it begins at the game time it was started.
class NullOutput : public AudioOutput {
 public:
  NullOutput(Mixer& mixer, const OutputOptions& options)
      : mixer_(mixer), game_paced_(options.fast) {
    if (!options.record_path.empty() && !recorder_.open(options.record_path, mixer.output_rate()))
      std::fprintf(stderr, "talven: cannot record sound to %s\n", options.record_path.c_str());
    buf_.assign(2 * std::max<std::size_t>(1, mixer.output_rate() / 100), 0.0f);  // 10 ms
    game_last_ = runtime::game_clock();
    thread_ = std::thread([this] { run(); });
  }
  ~NullOutput() override { close(); }

  void close() override {
    {
      std::lock_guard guard(lock_);
      exit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    {
      // The recording ends at the game time the output closes.
      std::lock_guard guard(render_lock_);
      if (game_paced_ && !closed_) render_to_game_clock();
      closed_ = true;
      recorder_.close();
    }
  }

  void catch_up() override {
    if (!game_paced_) return;
    std::lock_guard guard(render_lock_);
    if (!closed_) render_to_game_clock();
  }

 private:
  // Renders and records `frames` frames in blocks. Under render_lock_.
  void render_frames(std::uint64_t frames) {
    const std::size_t block = buf_.size() / 2;
    while (frames > 0) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, frames));
      mixer_.render(buf_.data(), n);
      recorder_.write(buf_.data(), n);
      done_ += n;
      frames -= n;
    }
  }

  // Advances the game time by what the game clock moved since the last look
  // (never backwards: the clock is set up again at start) and renders up to
  // it. Under render_lock_.
  void render_to_game_clock() {
    const std::uint32_t now = runtime::game_clock();
    const auto moved = static_cast<std::int32_t>(now - game_last_);  // the clock wraps
    game_last_ = now;
    if (moved > 0) game_ms_ += static_cast<std::uint64_t>(moved);
    const std::uint64_t due = game_ms_ * mixer_.output_rate() / 1000;
    if (due > done_) render_frames(due - done_);
  }

  void run() {
    using clock = std::chrono::steady_clock;
    const std::uint32_t rate = mixer_.output_rate();
    const std::size_t block = buf_.size() / 2;  // 10 ms
    const clock::time_point start = clock::now();
    std::unique_lock lock(lock_);
    while (!exit_) {
      lock.unlock();
      std::uint64_t done = 0;
      {
        std::lock_guard guard(render_lock_);
        if (game_paced_) {
          render_to_game_clock();
        } else {
          auto elapsed =
              std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start).count();
          std::uint64_t due = static_cast<std::uint64_t>(elapsed) * rate / 1000000;
          if (due > done_) render_frames(due - done_);
        }
        done = done_;
      }
      lock.lock();
      if (game_paced_) {
        // Small steps, so that positions and stream feeders follow the game
        // closely between catch-ups.
        wake_.wait_for(lock, std::chrono::milliseconds(1), [this] { return exit_; });
      } else {
        auto next = start + std::chrono::microseconds((done + block) * 1000000 / rate);
        wake_.wait_until(lock, next, [this] { return exit_; });
      }
    }
  }

  Mixer& mixer_;
  const bool game_paced_;
  WavRecorder recorder_;
  // Rendering and recording, from the device's thread or catch_up().
  std::mutex render_lock_;
  std::vector<float> buf_;
  std::uint64_t done_ = 0;       // frames rendered
  std::uint32_t game_last_ = 0;  // the game clock at the last look
  std::uint64_t game_ms_ = 0;    // game time since the device opened
  bool closed_ = false;
  std::mutex lock_;
  std::condition_variable wake_;
  bool exit_ = false;
  std::thread thread_;
};

// ---- the SDL device ----------------------------------------------------------

class SdlOutput : public AudioOutput {
 public:
  bool open(Mixer& mixer, const OutputOptions& options) {
    mixer_ = &mixer;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    subsystem_ = true;
    SDL_AudioSpec want{}, have{};
    want.freq = static_cast<int>(mixer.output_rate());
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = 512;
    want.callback = &SdlOutput::callback;
    want.userdata = this;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device_ == 0) return false;
    mixer.set_output_rate(static_cast<std::uint32_t>(have.freq));
    if (!options.record_path.empty() && !recorder_.open(options.record_path, mixer.output_rate()))
      std::fprintf(stderr, "talven: cannot record sound to %s\n", options.record_path.c_str());
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }
  ~SdlOutput() override { close(); }

  void close() override {
    if (device_) {
      SDL_CloseAudioDevice(device_);  // waits for the callback to return
      device_ = 0;
    }
    recorder_.close();
    if (subsystem_) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      subsystem_ = false;
    }
  }

 private:
  static void callback(void* self, Uint8* stream, int len) {
    auto* out = static_cast<SdlOutput*>(self);
    std::size_t frames = static_cast<std::size_t>(len) / (2 * sizeof(float));
    float* f = reinterpret_cast<float*>(stream);
    out->mixer_->render(f, frames);
    out->recorder_.write(f, frames);
  }

  Mixer* mixer_ = nullptr;
  SDL_AudioDeviceID device_ = 0;
  bool subsystem_ = false;
  WavRecorder recorder_;
};

}  // namespace

std::unique_ptr<AudioOutput> open_audio_output(Mixer& mixer, const OutputOptions& options) {
  if (options.device) {
    auto sdl = std::make_unique<SdlOutput>();
    if (sdl->open(mixer, options)) return sdl;
    return nullptr;
  }
  return std::make_unique<NullOutput>(mixer, options);
}

}  // namespace talven::audio
