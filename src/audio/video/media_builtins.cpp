#include "audio/video/media_builtins.h"

#include "audio/sound.h"
#include "audio/video/media.h"
#include "runtime/builtins.h"
#include "runtime/main_thread.h"

namespace talven::audio::video {

namespace {

constexpr std::uint32_t kMsgOpen = 1204;
constexpr std::uint32_t kMsgClose = 1205;
constexpr std::uint32_t kMsgPlay = 1206;
constexpr std::uint32_t kMsgStop = 1207;
constexpr std::uint32_t kMsgPause = 1208;
constexpr std::uint32_t kMsgReplay = 1209;
constexpr std::uint32_t kMsgIsPlaying = 1210;
constexpr std::uint32_t kMsgRepeat = 1211;
constexpr std::uint32_t kMsgSize = 1212;
constexpr std::uint32_t kMsgSetVolume = 1213;

std::int32_t serve_open(std::uint32_t, std::uint32_t l) {
  auto path = cstr(l, 4096);
  if (!path) {
    media_close();
    return 0;
  }
  return media_open(*path);
}
std::int32_t serve_close(std::uint32_t, std::uint32_t) { return media_close(); }
std::int32_t serve_play(std::uint32_t, std::uint32_t) { return media_play(); }
std::int32_t serve_stop(std::uint32_t, std::uint32_t) { return media_stop(); }
std::int32_t serve_pause(std::uint32_t, std::uint32_t) { return media_pause(); }
std::int32_t serve_replay(std::uint32_t, std::uint32_t) { return media_replay(); }
std::int32_t serve_is_playing(std::uint32_t, std::uint32_t) { return media_isplay(); }
std::int32_t serve_repeat(std::uint32_t, std::uint32_t l) { return media_repeat(std::int32_t(l)); }
std::int32_t serve_set_volume(std::uint32_t, std::uint32_t l) { return media_setvol(std::int32_t(l)); }

// The rectangle record: four signed words; null places over the whole screen.
std::int32_t serve_size(std::uint32_t, std::uint32_t l) {
  if (l == 0) return media_size(nullptr);
  std::uint32_t w[4];
  if (!read_bytes(l, w, sizeof w)) return 0;
  const MediaRect r{std::int32_t(w[0]), std::int32_t(w[1]), std::int32_t(w[2]), std::int32_t(w[3])};
  return media_size(&r);
}

struct Route {
  std::uint32_t message;
  runtime::MainThreadHandler handler;
};

constexpr Route kRoutes[] = {
    {kMsgOpen, serve_open},           {kMsgClose, serve_close},   {kMsgPlay, serve_play},
    {kMsgStop, serve_stop},           {kMsgPause, serve_pause},   {kMsgReplay, serve_replay},
    {kMsgIsPlaying, serve_is_playing}, {kMsgRepeat, serve_repeat}, {kMsgSize, serve_size},
    {kMsgSetVolume, serve_set_volume},
};

void install_handlers(bool on) {
  for (const Route& r : kRoutes) runtime::set_main_thread_handler(r.message, on ? r.handler : nullptr);
}

std::uint32_t call(std::uint32_t message, std::uint32_t l = 0) {
  return static_cast<std::uint32_t>(runtime::main_thread_call(message, 0, l));
}

}  // namespace

void media_device_start(bool (*window_minimized)()) {
  media_start(sound_mixer(), window_minimized);
  install_handlers(true);
}

void media_release() { media_close(); }

void media_device_shutdown() {
  media_shutdown();
  install_handlers(false);
}

void media_application_paused(bool active) {
  if (active) media_replay();
  else media_pause();
}

std::uint32_t bi_media_open(Addr args) { return call(kMsgOpen, runtime::arg_word(args, 0)); }
std::uint32_t bi_media_close(Addr) { return call(kMsgClose); }
std::uint32_t bi_media_play(Addr) { return call(kMsgPlay); }
std::uint32_t bi_media_stop(Addr) { return call(kMsgStop); }
std::uint32_t bi_media_pause(Addr) { return call(kMsgPause); }
std::uint32_t bi_media_replay(Addr) { return call(kMsgReplay); }
std::uint32_t bi_media_isplay(Addr) { return call(kMsgIsPlaying); }
std::uint32_t bi_media_repeat(Addr args) { return call(kMsgRepeat, runtime::arg_word(args, 0)); }
std::uint32_t bi_media_size(Addr args) { return call(kMsgSize, runtime::arg_word(args, 0)); }
std::uint32_t bi_media_setvol(Addr args) { return call(kMsgSetVolume, runtime::arg_word(args, 0)); }

}  // namespace talven::audio::video
