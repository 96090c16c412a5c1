#include "audio/midi/midi_builtins.h"

#include "audio/midi/midi_player.h"
#include "audio/sound.h"
#include "base/config.h"
#include "runtime/builtins.h"
#include "runtime/main_thread.h"

namespace talven::audio::midi {

namespace {

constexpr std::uint32_t kMsgLoad = 1144;
constexpr std::uint32_t kMsgFree = 1145;
constexpr std::uint32_t kMsgPlay = 1146;
constexpr std::uint32_t kMsgStop = 1147;
constexpr std::uint32_t kMsgPause = 1148;
constexpr std::uint32_t kMsgReplay = 1149;
constexpr std::uint32_t kMsgSetVolume = 1150;
constexpr std::uint32_t kMsgGetVolume = 1151;
constexpr std::uint32_t kMsgIsPlaying = 1152;
constexpr std::uint32_t kMsgGetPosition = 1153;
constexpr std::uint32_t kMsgRepeat = 1154;

std::int32_t serve_load(std::uint32_t, std::uint32_t l) {
  auto path = cstr(l, 4096);
  if (!path) {
    midi_free();
    return 0;
  }
  return midi_load(*path);
}
std::int32_t serve_free(std::uint32_t, std::uint32_t) { return midi_free(); }
std::int32_t serve_play(std::uint32_t, std::uint32_t) { return midi_play(); }
std::int32_t serve_stop(std::uint32_t, std::uint32_t) { return midi_stop(); }
std::int32_t serve_pause(std::uint32_t, std::uint32_t) { return midi_pause(); }
std::int32_t serve_replay(std::uint32_t, std::uint32_t) { return midi_replay(); }
std::int32_t serve_set_volume(std::uint32_t, std::uint32_t l) { return midi_setvol(std::int32_t(l)); }
std::int32_t serve_get_volume(std::uint32_t, std::uint32_t) { return midi_getvol(); }
std::int32_t serve_is_playing(std::uint32_t, std::uint32_t) { return midi_isplay(); }
std::int32_t serve_get_position(std::uint32_t, std::uint32_t) { return midi_getpos(); }
std::int32_t serve_repeat(std::uint32_t, std::uint32_t l) { return midi_repeat(std::int32_t(l)); }

struct Route {
  std::uint32_t message;
  runtime::MainThreadHandler handler;
};

constexpr Route kRoutes[] = {
    {kMsgLoad, serve_load},           {kMsgFree, serve_free},
    {kMsgPlay, serve_play},           {kMsgStop, serve_stop},
    {kMsgPause, serve_pause},         {kMsgReplay, serve_replay},
    {kMsgSetVolume, serve_set_volume}, {kMsgGetVolume, serve_get_volume},
    {kMsgIsPlaying, serve_is_playing}, {kMsgGetPosition, serve_get_position},
    {kMsgRepeat, serve_repeat},
};

void install_handlers(bool on) {
  for (const Route& r : kRoutes) runtime::set_main_thread_handler(r.message, on ? r.handler : nullptr);
}

std::uint32_t call(std::uint32_t message, std::uint32_t l = 0) {
  return static_cast<std::uint32_t>(runtime::main_thread_call(message, 0, l));
}

}  // namespace

bool midi_device_start(const char* game_dir) {
  const Config& c = config();
  install_handlers(true);  // the messages answer even while MIDI is off
  if (!c.DirectMusic) return false;
  MidiStart start;
  start.enabled = true;
  start.mixer = sound_mixer();
  start.soundfont = find_soundfont(c.SoundFont, game_dir ? game_dir : "");
  start.global_focus = c.GlobalSound != 0;
  return midi::midi_start(start);
}

void midi_release() { midi_free(); }

void midi_device_shutdown() {
  midi_shutdown();
  install_handlers(false);
}

void midi_application_paused(bool active) {
  if (!midi_on()) return;
  if (active) midi_replay();
  else midi_pause();
}

std::uint32_t bi_midi_load(Addr args) { return call(kMsgLoad, runtime::arg_word(args, 0)); }
std::uint32_t bi_midi_free(Addr) { return call(kMsgFree); }
std::uint32_t bi_midi_play(Addr) { return call(kMsgPlay); }
std::uint32_t bi_midi_stop(Addr) { return call(kMsgStop); }
std::uint32_t bi_midi_pause(Addr) { return call(kMsgPause); }
std::uint32_t bi_midi_replay(Addr) { return call(kMsgReplay); }
std::uint32_t bi_midi_setvol(Addr args) { return call(kMsgSetVolume, runtime::arg_word(args, 0)); }
std::uint32_t bi_midi_getvol(Addr) { return call(kMsgGetVolume); }
std::uint32_t bi_midi_isplay(Addr) { return call(kMsgIsPlaying); }
std::uint32_t bi_midi_getpos(Addr) { return call(kMsgGetPosition); }
std::uint32_t bi_midi_repeat(Addr args) { return call(kMsgRepeat, runtime::arg_word(args, 0)); }

}  // namespace talven::audio::midi
