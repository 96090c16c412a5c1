#include "audio/video/media_builtins.h"

#include "audio/sound.h"
#include "audio/video/media.h"

namespace talven::audio::video {

void media_device_start(bool (*window_minimized)()) {
  media_start(sound_mixer(), window_minimized);
}

void media_release() { media_close(); }

void media_device_shutdown() { media_shutdown(); }

void media_application_paused(bool active) {
  if (active) media_replay();
  else media_pause();
}

std::int32_t bi_media_open(Addr path) {
  auto text = cstr(path, 4096);
  if (!text) {
    media_close();
    return 0;
  }
  return media_open(*text);
}

std::int32_t bi_media_size(Addr rect) {
  if (rect == 0) return media_size(nullptr);
  std::uint32_t w[4];
  if (!read_bytes(rect, w, sizeof w)) return 0;
  const MediaRect r{std::int32_t(w[0]), std::int32_t(w[1]), std::int32_t(w[2]), std::int32_t(w[3])};
  return media_size(&r);
}

}  // namespace talven::audio::video
