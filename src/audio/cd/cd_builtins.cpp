#include "audio/cd/cd_builtins.h"

#include <filesystem>
#include <string>

#include "audio/cd/cd_audio.h"
#include "audio/sound.h"
#include "base/config.h"
#include "runtime/builtins.h"
#include "runtime/main_thread.h"

namespace talven::audio::cd {

namespace {

constexpr std::uint32_t kMsgPlay = 1124;
constexpr std::uint32_t kMsgStop = 1125;
constexpr std::uint32_t kMsgPause = 1126;
constexpr std::uint32_t kMsgReplay = 1127;
constexpr std::uint32_t kMsgSetVolume = 1128;
constexpr std::uint32_t kMsgGetVolume = 1129;
constexpr std::uint32_t kMsgIsPlaying = 1130;
constexpr std::uint32_t kMsgGetPosition = 1131;
constexpr std::uint32_t kMsgGetLength = 1132;
constexpr std::uint32_t kMsgRepeat = 1133;
constexpr std::uint32_t kMsgEject = 1134;

std::int32_t i(std::uint32_t w) { return static_cast<std::int32_t>(w); }

std::int32_t serve_play(std::uint32_t w, std::uint32_t l) { return cd_play(i(w), i(l)); }
std::int32_t serve_stop(std::uint32_t w, std::uint32_t) { return cd_stop(i(w)); }
std::int32_t serve_pause(std::uint32_t, std::uint32_t) { return cd_pause(); }
std::int32_t serve_replay(std::uint32_t, std::uint32_t) { return cd_replay(); }
std::int32_t serve_set_volume(std::uint32_t w, std::uint32_t) { return cd_setvol(i(w)); }
std::int32_t serve_get_volume(std::uint32_t, std::uint32_t) { return cd_getvol(); }
std::int32_t serve_is_playing(std::uint32_t, std::uint32_t) { return cd_isplay(); }
std::int32_t serve_get_position(std::uint32_t w, std::uint32_t) { return cd_getpos(i(w)); }
std::int32_t serve_get_length(std::uint32_t w, std::uint32_t) { return cd_getlen(i(w)); }
std::int32_t serve_repeat(std::uint32_t w, std::uint32_t) { return cd_repeat(i(w)); }
std::int32_t serve_eject(std::uint32_t, std::uint32_t) { return cd_eject(); }

struct Route {
  std::uint32_t message;
  runtime::MainThreadHandler handler;
};

constexpr Route kRoutes[] = {
    {kMsgPlay, serve_play},           {kMsgStop, serve_stop},
    {kMsgPause, serve_pause},         {kMsgReplay, serve_replay},
    {kMsgSetVolume, serve_set_volume}, {kMsgGetVolume, serve_get_volume},
    {kMsgIsPlaying, serve_is_playing}, {kMsgGetPosition, serve_get_position},
    {kMsgGetLength, serve_get_length}, {kMsgRepeat, serve_repeat},
    {kMsgEject, serve_eject},
};

void install_handlers(bool on) {
  for (const Route& r : kRoutes) runtime::set_main_thread_handler(r.message, on ? r.handler : nullptr);
}

std::uint32_t call(std::uint32_t message, std::uint32_t w = 0, std::uint32_t l = 0) {
  return static_cast<std::uint32_t>(runtime::main_thread_call(message, w, l));
}
std::uint32_t a(Addr args, unsigned n) { return runtime::arg_word(args, n); }

}  // namespace

bool cd_device_start(const char* game_dir) {
  const Config& c = config();
  install_handlers(true);
  if (!c.CD) return false;
  namespace fs = std::filesystem;
  fs::path folder = c.CDFolder.empty() ? fs::path("cd") : fs::path(c.CDFolder);
  if (folder.is_relative() && game_dir && *game_dir) folder = fs::path(game_dir) / folder;
  return cd_start(sound_mixer(), folder.string());
}

void cd_release() {
  if (cd_started()) cd_stop(0);
}

void cd_device_shutdown() {
  cd_shutdown();
  install_handlers(false);
}

void cd_application_paused(bool active) {
  if (!cd_started()) return;
  if (active) cd_replay();
  else cd_pause();
}

std::uint32_t bi_cd_play(Addr args) { return call(kMsgPlay, a(args, 0), a(args, 1)); }
std::uint32_t bi_cd_stop(Addr args) { return call(kMsgStop, a(args, 0)); }
std::uint32_t bi_cd_pause(Addr) { return call(kMsgPause); }
std::uint32_t bi_cd_replay(Addr) { return call(kMsgReplay); }
std::uint32_t bi_cd_setvol(Addr args) { return call(kMsgSetVolume, a(args, 0)); }
std::uint32_t bi_cd_getvol(Addr) { return call(kMsgGetVolume); }
std::uint32_t bi_cd_isplay(Addr) { return call(kMsgIsPlaying); }
std::uint32_t bi_cd_getpos(Addr args) { return call(kMsgGetPosition, a(args, 0)); }
std::uint32_t bi_cd_getlen(Addr args) { return call(kMsgGetLength, a(args, 0)); }
std::uint32_t bi_cd_repeat(Addr args) { return call(kMsgRepeat, a(args, 0)); }
std::uint32_t bi_cd_eject(Addr) { return call(kMsgEject); }

}  // namespace talven::audio::cd
