// CPU time per second of mixed audio, 44100 Hz stereo output, 64 voices of
// 16-bit sounds at mixed rates (11025, 22050, 44100, 48000 Hz; mono and
// stereo), all looping:
//
//   talven_plain    64 plain voices, resampled while mixing
//   talven_full     the same, half of them at a changed rate (pitch x1.12)
//                   and 8 of them with one effect each (all eight kinds)
//   sdl_mixer_plain SDL2_mixer mixing the same 64 sounds (converted to the
//                   output format when loaded, as SDL2_mixer does), driven
//                   by SDL's disk driver writing to /dev/null with no delay
//
// The reported time of each run is the process CPU time spent for one
// second of output; "cpu_percent" is that as a share of one core. The ratio
// talven_plain / sdl_mixer_plain is the comparison; talven_full shows the
// whole load against the 5 % goal.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/effects.h"
#include "audio/mixer.h"

#if TALVEN_BENCH_REFS
#include <SDL.h>
#include <SDL_mixer.h>
#endif

namespace {

using namespace talven::audio;

constexpr std::uint32_t kOut = 44100;
constexpr int kVoices = 64;

struct Sound {
  std::uint32_t rate;
  std::uint16_t channels;
  std::vector<std::uint8_t> pcm;
};

const std::vector<Sound>& sounds() {
  static std::vector<Sound> all = [] {
    std::vector<Sound> v;
    const std::uint32_t rates[4] = {11025, 22050, 44100, 48000};
    for (int i = 0; i < kVoices; ++i) {
      Sound s;
      s.rate = rates[i % 4];
      s.channels = static_cast<std::uint16_t>(1 + (i / 4) % 2);
      std::size_t frames = s.rate * 2;  // two seconds
      for (std::size_t f = 0; f < frames; ++f) {
        auto sample =
            static_cast<std::int16_t>(2000 * std::sin(2 * M_PI * (200 + 37 * i) * f / s.rate));
        for (int c = 0; c < s.channels; ++c) {
          s.pcm.push_back(static_cast<std::uint8_t>(sample & 0xFF));
          s.pcm.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
        }
      }
      v.push_back(std::move(s));
    }
    return v;
  }();
  return all;
}

double process_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

void run_talven(benchmark::State& state, bool full) {
  Mixer mixer(kOut);
  int i = 0;
  for (const Sound& s : sounds()) {
    auto buf = std::make_shared<PcmBuffer>(s.channels, 16, s.rate, s.pcm);
    buf->set_looping(true);
    VoiceId v = mixer.add_voice(buf, s.rate);
    mixer.set_level(v, -3000, (i % 3 - 1) * 500);
    if (full && i % 2) mixer.set_rate(v, s.rate * 112 / 100);
    if (full && i % 8 == 0) {
      EffectRecord r{};
      for (int k = 0; k < 7; ++k) {
        float nan = std::nanf("");
        std::memcpy(r.data() + 4 * k, &nan, 4);
      }
      if (i / 8 == kGargle) {
        std::int32_t rate = 20, shape = 0;
        std::memcpy(r.data(), &rate, 4);
        std::memcpy(r.data() + 4, &shape, 4);
      }
      EffectChain chain;
      chain.push_back(make_effect(i / 8, r, kOut));
      mixer.set_effects(v, std::move(chain));
    }
    mixer.start(v);
    ++i;
  }
  std::vector<float> out(2 * 1024);
  for (auto _ : state) {
    double start = process_cpu_seconds();
    for (std::uint32_t done = 0; done < kOut; done += 1024)
      mixer.render(out.data(), std::min<std::uint32_t>(1024, kOut - done));
    double used = process_cpu_seconds() - start;
    benchmark::DoNotOptimize(out.data());
    state.SetIterationTime(used);
    state.counters["cpu_percent"] = used * 100.0;
  }
}

void talven_plain(benchmark::State& state) { run_talven(state, false); }
void talven_full(benchmark::State& state) { run_talven(state, true); }
BENCHMARK(talven_plain)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(talven_full)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);

#if TALVEN_BENCH_REFS
std::atomic<std::uint64_t> sdl_frames{0};

void count_frames(void*, Uint8*, int len) { sdl_frames += static_cast<std::uint64_t>(len) / 4; }

std::string wav_file(const Sound& s) {
  auto put = [](std::string& o, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) o.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::string o = "RIFF";
  put(o, static_cast<std::uint32_t>(36 + s.pcm.size()), 4);
  o += "WAVEfmt ";
  put(o, 16, 4);
  put(o, 1, 2);
  put(o, s.channels, 2);
  put(o, s.rate, 4);
  put(o, s.rate * s.channels * 2, 4);
  put(o, s.channels * 2u, 2);
  put(o, 16, 2);
  o += "data";
  put(o, static_cast<std::uint32_t>(s.pcm.size()), 4);
  o.append(s.pcm.begin(), s.pcm.end());
  return o;
}

void sdl_mixer_plain(benchmark::State& state) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  SDL_LogSetOutputFunction([](void*, int, SDL_LogPriority, const char*) {},
                           nullptr);  // the driver's notices
  if (SDL_Init(SDL_INIT_AUDIO) != 0 || Mix_OpenAudio(kOut, AUDIO_S16SYS, 2, 1024) != 0) {
    state.SkipWithError("SDL2_mixer could not open the disk driver");
    return;
  }
  Mix_AllocateChannels(kVoices);
  std::vector<Mix_Chunk*> chunks;
  for (const Sound& s : sounds()) {
    std::string file = wav_file(s);
    chunks.push_back(
        Mix_LoadWAV_RW(SDL_RWFromConstMem(file.data(), static_cast<int>(file.size())), 1));
  }
  for (int i = 0; i < kVoices; ++i) {
    Mix_Volume(i, 45);
    Mix_PlayChannel(i, chunks[i], -1);
  }
  Mix_SetPostMix(count_frames, nullptr);
  for (auto _ : state) {
    std::uint64_t from = sdl_frames;
    double start = process_cpu_seconds();
    while (sdl_frames - from < kOut) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    double used = process_cpu_seconds() - start;
    double audio_seconds = double(sdl_frames - from) / kOut;
    state.SetIterationTime(used / audio_seconds);
    state.counters["cpu_percent"] = used / audio_seconds * 100.0;
  }
  Mix_SetPostMix(nullptr, nullptr);
  Mix_HaltChannel(-1);
  for (Mix_Chunk* c : chunks) Mix_FreeChunk(c);
  Mix_CloseAudio();
  SDL_Quit();
}
BENCHMARK(sdl_mixer_plain)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(0.5);
#endif

}  // namespace

BENCHMARK_MAIN();
