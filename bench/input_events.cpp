// The input device's event path against SDL's own event queue: the same
// mix of key, motion, button and wheel events applied to the device (the
// work the window does per event, plus a getkey read every 16 events) and,
// as the reference, pushed through and polled from SDL's queue. Read the
// ratio of the two items-per-second figures: how the device's handling of
// an event compares with the cheapest thing SDL does with one.
#include <benchmark/benchmark.h>
#include <SDL.h>

#include <memory>

#include "base/config.h"
#include "input/input_device.h"
#include "input/keymap.h"

namespace {

using namespace talven::input;

constexpr int kBatch = 1024;

InputEvent mix(int i) {
  InputEvent e;
  switch (i % 4) {
    case 0:
    case 1: {
      const KeyRow* r = key_by_name(i % 8 < 4 ? "A" : "Left");
      e.type = i % 4 == 0 ? InputEvent::KeyDown : InputEvent::KeyUp;
      e.scancode = r->scancode;
      e.vk = r->vk;
      e.dik = r->dik;
      break;
    }
    case 2:
      e.type = InputEvent::Motion;
      e.x = i % 640;
      e.y = i % 480;
      e.dx = 1;
      break;
    default:
      e.type = InputEvent::Wheel;
      e.wheel = 120;
      break;
  }
  return e;
}

void BM_DeviceEvents(benchmark::State& state) {
  talven::config().Width = 640;
  talven::config().Height = 480;
  InputDevice device(std::make_unique<NullInputBackend>(), state.range(0) != 0, 640, 480);
  InputEvent events[kBatch];
  for (int i = 0; i < kBatch; ++i) events[i] = mix(i);
  std::uint8_t keys[256];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      device.apply(events[i], true);
      if (i % 16 == 15) device.get_key(keys);
    }
    benchmark::DoNotOptimize(keys);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DeviceEvents)->Arg(0)->Arg(1);

void BM_SdlQueueReference(benchmark::State& state) {
  if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) {
    state.SkipWithError("SDL events unavailable");
    return;
  }
  SDL_Event events[kBatch];
  for (int i = 0; i < kBatch; ++i) {
    SDL_Event& e = events[i];
    e = SDL_Event{};
    switch (i % 4) {
      case 0:
      case 1:
        e.type = i % 4 == 0 ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.keysym.scancode = SDL_SCANCODE_A;
        break;
      case 2:
        e.type = SDL_MOUSEMOTION;
        e.motion.x = i % 640;
        break;
      default:
        e.type = SDL_MOUSEWHEEL;
        e.wheel.y = 1;
        break;
    }
  }
  SDL_Event out;
  for (auto _ : state) {
    // In chunks well below the queue's limit, polled empty after each.
    for (int base = 0; base < kBatch; base += 64) {
      for (int i = base; i < base + 64; ++i) SDL_PushEvent(&events[i]);
      while (SDL_PollEvent(&out)) benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  SDL_QuitSubSystem(SDL_INIT_EVENTS);
}
BENCHMARK(BM_SdlQueueReference);

}  // namespace

BENCHMARK_MAIN();
