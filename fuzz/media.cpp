// Media files: opened from a file in a scratch folder, played without a sound
// device (pictures on the steady clock, scaled into a small rectangle) until a
// few hundred pictures were decoded, the file ended or a short time passed,
// then closed. Odd-sized inputs play on repeat, so the end rewinds.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "audio/video/media.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::audio::video;
  talven::fuzz::quiet();
  static const bool ready = [] {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("talven_fuzz_media_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);
    media_start(nullptr);
    const MediaRect small{0, 0, 40, 30};
    media_size(&small);
    return true;
  }();
  if (!ready) return 0;
  {
    std::ofstream out("clip", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  media_repeat(size & 1);
  if (media_open("clip") != 1) return 0;
  media_play();
  // Each input is bounded in time: 80 ms of playing at most.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(80);
  while (std::chrono::steady_clock::now() < until && media_isplay()) {
    const MediaCounters c = media_counters();
    if (c.shown + c.dropped >= 300) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  media_pause();
  media_replay();
  media_stop();
  media_close();
  return 0;
}
