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
  file_ = std::fopen(path.c_str(), "wb");
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

class NullOutput : public AudioOutput {
 public:
  NullOutput(Mixer& mixer, const OutputOptions& options) : mixer_(mixer), fast_(options.fast) {
    if (!options.record_path.empty() && !recorder_.open(options.record_path, mixer.output_rate()))
      std::fprintf(stderr, "talven: cannot record sound to %s\n", options.record_path.c_str());
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
    recorder_.close();
  }

 private:
  void run() {
    using clock = std::chrono::steady_clock;
    const std::uint32_t rate = mixer_.output_rate();
    const std::size_t block = rate / 100;  // 10 ms
    std::vector<float> buf(2 * block);
    const clock::time_point start = clock::now();
    std::uint64_t done = 0;
    std::unique_lock lock(lock_);
    while (!exit_) {
      lock.unlock();
      if (fast_) {
        mixer_.render(buf.data(), block);
        recorder_.write(buf.data(), block);
        done += block;
      } else {
        auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start).count();
        std::uint64_t due = static_cast<std::uint64_t>(elapsed) * rate / 1000000;
        while (done < due) {
          std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, due - done));
          mixer_.render(buf.data(), n);
          recorder_.write(buf.data(), n);
          done += n;
        }
      }
      lock.lock();
      if (fast_) {
        wake_.wait_for(lock, std::chrono::milliseconds(1), [this] { return exit_; });
      } else {
        auto next = start + std::chrono::microseconds((done + block) * 1000000 / rate);
        wake_.wait_until(lock, next, [this] { return exit_; });
      }
    }
  }

  Mixer& mixer_;
  bool fast_;
  WavRecorder recorder_;
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
