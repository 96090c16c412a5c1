#include "audio/sound_builtins.h"

#include "audio/sound.h"
#include "base/config.h"
#include "runtime/builtins.h"
#include "runtime/main_thread.h"

namespace talven::audio {

namespace {

constexpr std::uint32_t kMsgLoad = 1164;
constexpr std::uint32_t kMsgLoadStream = 1165;
constexpr std::uint32_t kMsgFree = 1166;
constexpr std::uint32_t kMsgPlay = 1167;
constexpr std::uint32_t kMsgStop = 1168;
constexpr std::uint32_t kMsgPause = 1169;
constexpr std::uint32_t kMsgReplay = 1170;
constexpr std::uint32_t kMsgMasterSetVolume = 1171;
constexpr std::uint32_t kMsgMasterGetVolume = 1172;
constexpr std::uint32_t kMsgMasterSetPan = 1173;
constexpr std::uint32_t kMsgMasterGetPan = 1174;
constexpr std::uint32_t kMsgSetVolume = 1175;
constexpr std::uint32_t kMsgGetVolume = 1176;
constexpr std::uint32_t kMsgSetPan = 1177;
constexpr std::uint32_t kMsgGetPan = 1178;
constexpr std::uint32_t kMsgSetFrequency = 1179;
constexpr std::uint32_t kMsgGetFrequency = 1180;
constexpr std::uint32_t kMsgIsPlaying = 1181;
constexpr std::uint32_t kMsgSetLoop = 1182;
constexpr std::uint32_t kMsgSetPosition = 1183;
constexpr std::uint32_t kMsgGetPosition = 1184;
constexpr std::uint32_t kMsgGetLength = 1185;
constexpr std::uint32_t kMsgGetText = 1186;
constexpr std::uint32_t kMsgSetMargin = 1187;
constexpr std::uint32_t kMsgFirstEffect = 1188;  // chorus ... reverb: 1188 to 1195

constexpr std::uint32_t effect_msg(int kind) { return kMsgFirstEffect + static_cast<std::uint32_t>(kind); }

std::int32_t no_of(std::uint32_t w) { return static_cast<std::int32_t>(w); }

// A path in script memory; empty when the address is bad.
std::string_view path_at(Addr a) {
  auto s = cstr(a, 4096);
  return s ? *s : std::string_view();
}

std::int32_t serve_load(std::uint32_t w, std::uint32_t l) { return sound_load(no_of(w), path_at(l)); }
std::int32_t serve_load_stream(std::uint32_t w, std::uint32_t l) { return sound_load_stream(no_of(w), path_at(l)); }
std::int32_t serve_free(std::uint32_t w, std::uint32_t) { return sound_free(no_of(w)); }
std::int32_t serve_play(std::uint32_t w, std::uint32_t l) { return sound_play(no_of(w), no_of(l)); }
std::int32_t serve_stop(std::uint32_t w, std::uint32_t) { return sound_stop(no_of(w)); }
std::int32_t serve_pause(std::uint32_t w, std::uint32_t) { return sound_pause(no_of(w)); }
std::int32_t serve_replay(std::uint32_t w, std::uint32_t) { return sound_replay(no_of(w)); }
std::int32_t serve_master_set_volume(std::uint32_t, std::uint32_t l) { return sound_set_volume(-1, no_of(l)); }
std::int32_t serve_master_get_volume(std::uint32_t, std::uint32_t) { return sound_get_volume(-1); }
std::int32_t serve_master_set_pan(std::uint32_t, std::uint32_t l) { return sound_set_pan(-1, no_of(l)); }
std::int32_t serve_master_get_pan(std::uint32_t, std::uint32_t) { return sound_get_pan(-1); }
std::int32_t serve_set_volume(std::uint32_t w, std::uint32_t l) { return sound_set_volume(no_of(w), no_of(l)); }
std::int32_t serve_get_volume(std::uint32_t w, std::uint32_t) { return sound_get_volume(no_of(w)); }
std::int32_t serve_set_pan(std::uint32_t w, std::uint32_t l) { return sound_set_pan(no_of(w), no_of(l)); }
std::int32_t serve_get_pan(std::uint32_t w, std::uint32_t) { return sound_get_pan(no_of(w)); }
std::int32_t serve_set_frequency(std::uint32_t w, std::uint32_t l) { return sound_set_frequency(no_of(w), no_of(l)); }
std::int32_t serve_get_frequency(std::uint32_t w, std::uint32_t) { return sound_get_frequency(no_of(w)); }
std::int32_t serve_is_playing(std::uint32_t w, std::uint32_t) { return sound_is_playing(no_of(w)); }
std::int32_t serve_set_loop(std::uint32_t w, std::uint32_t l) { return sound_set_loop(no_of(w), no_of(l)); }
std::int32_t serve_set_position(std::uint32_t w, std::uint32_t l) { return sound_set_position(no_of(w), no_of(l)); }
std::int32_t serve_get_position(std::uint32_t w, std::uint32_t) { return sound_get_position(no_of(w)); }
std::int32_t serve_get_length(std::uint32_t w, std::uint32_t) { return sound_get_length(no_of(w)); }
std::int32_t serve_set_margin(std::uint32_t w, std::uint32_t) { return sound_set_margin(no_of(w)); }

std::int32_t serve_get_text(std::uint32_t w, std::uint32_t l) {
  std::string text;
  if (!sound_slot_view(no_of(w)).loaded) return 0;
  if (!store8(l, 0)) return 0;  // emptied first
  std::int32_t ok = sound_get_text(no_of(w), text);
  if (!ok) return 0;
  return write_cstr(l, text, static_cast<std::uint32_t>(text.size() + 1)) ? 1 : 0;
}

template <int kKind>
std::int32_t serve_effect(std::uint32_t w, std::uint32_t l) {
  if (l == 0) return sound_set_effect(no_of(w), kKind, nullptr);
  EffectRecord record{};
  if (!read_bytes(l, record.data(), static_cast<std::uint32_t>(effect_record_size(kKind)))) return 0;
  return sound_set_effect(no_of(w), kKind, &record);
}

struct Route {
  std::uint32_t message;
  runtime::MainThreadHandler handler;
};

constexpr Route kRoutes[] = {
    {kMsgLoad, serve_load},
    {kMsgLoadStream, serve_load_stream},
    {kMsgFree, serve_free},
    {kMsgPlay, serve_play},
    {kMsgStop, serve_stop},
    {kMsgPause, serve_pause},
    {kMsgReplay, serve_replay},
    {kMsgMasterSetVolume, serve_master_set_volume},
    {kMsgMasterGetVolume, serve_master_get_volume},
    {kMsgMasterSetPan, serve_master_set_pan},
    {kMsgMasterGetPan, serve_master_get_pan},
    {kMsgSetVolume, serve_set_volume},
    {kMsgGetVolume, serve_get_volume},
    {kMsgSetPan, serve_set_pan},
    {kMsgGetPan, serve_get_pan},
    {kMsgSetFrequency, serve_set_frequency},
    {kMsgGetFrequency, serve_get_frequency},
    {kMsgIsPlaying, serve_is_playing},
    {kMsgSetLoop, serve_set_loop},
    {kMsgSetPosition, serve_set_position},
    {kMsgGetPosition, serve_get_position},
    {kMsgGetLength, serve_get_length},
    {kMsgGetText, serve_get_text},
    {kMsgSetMargin, serve_set_margin},
    {effect_msg(kChorus), serve_effect<kChorus>},
    {effect_msg(kCompressor), serve_effect<kCompressor>},
    {effect_msg(kDistortion), serve_effect<kDistortion>},
    {effect_msg(kEcho), serve_effect<kEcho>},
    {effect_msg(kFlanger), serve_effect<kFlanger>},
    {effect_msg(kGargle), serve_effect<kGargle>},
    {effect_msg(kParamEq), serve_effect<kParamEq>},
    {effect_msg(kReverb), serve_effect<kReverb>},
};

void install_handlers(bool on) {
  for (const Route& r : kRoutes) runtime::set_main_thread_handler(r.message, on ? r.handler : nullptr);
}

std::uint32_t call(std::uint32_t message, std::uint32_t w, std::uint32_t l) {
  return static_cast<std::uint32_t>(runtime::main_thread_call(message, w, l));
}

std::uint32_t a0(Addr args) { return runtime::arg_word(args, 0); }
std::uint32_t a1(Addr args) { return runtime::arg_word(args, 1); }
bool master(Addr args) { return a0(args) == 0xFFFFFFFFu; }

}  // namespace

bool sound_start(const SoundDeviceStart& options) {
  install_handlers(true);
  const Config& c = config();
  SoundStart start;
  start.enabled = c.DirectSound != 0;
  start.global_focus = c.GlobalSound != 0;
  start.device = options.windowed;
  start.fast = options.audio_fast;
  start.record_path = options.audio_out;
  return InitSound(start);
}

void sound_release() { release_sound_buffers(); }

void sound_shutdown() {
  ShutdownSound();
  install_handlers(false);
}

void sound_focus(bool active) { sound_activity(active); }

std::uint32_t bi_snd_load(Addr args) { return call(kMsgLoad, a0(args), a1(args)); }
std::uint32_t bi_snd_loads(Addr args) { return call(kMsgLoadStream, a0(args), a1(args)); }
std::uint32_t bi_snd_free(Addr args) { return call(kMsgFree, a0(args), 0); }
std::uint32_t bi_snd_play(Addr args) { return call(kMsgPlay, a0(args), a1(args)); }
std::uint32_t bi_snd_stop(Addr args) { return call(kMsgStop, a0(args), 0); }
std::uint32_t bi_snd_pause(Addr args) { return call(kMsgPause, a0(args), 0); }
std::uint32_t bi_snd_replay(Addr args) { return call(kMsgReplay, a0(args), 0); }
std::uint32_t bi_snd_setvol(Addr args) {
  return call(master(args) ? kMsgMasterSetVolume : kMsgSetVolume, a0(args), a1(args));
}
std::uint32_t bi_snd_getvol(Addr args) { return call(master(args) ? kMsgMasterGetVolume : kMsgGetVolume, a0(args), 0); }
std::uint32_t bi_snd_setpan(Addr args) {
  return call(master(args) ? kMsgMasterSetPan : kMsgSetPan, a0(args), a1(args));
}
std::uint32_t bi_snd_getpan(Addr args) { return call(master(args) ? kMsgMasterGetPan : kMsgGetPan, a0(args), 0); }
std::uint32_t bi_snd_setfreq(Addr args) { return call(kMsgSetFrequency, a0(args), a1(args)); }
std::uint32_t bi_snd_getfreq(Addr args) { return call(kMsgGetFrequency, a0(args), 0); }
std::uint32_t bi_snd_isplay(Addr args) { return call(kMsgIsPlaying, a0(args), 0); }
std::uint32_t bi_snd_setloop(Addr args) { return call(kMsgSetLoop, a0(args), a1(args)); }
std::uint32_t bi_snd_setpos(Addr args) { return call(kMsgSetPosition, a0(args), a1(args)); }
std::uint32_t bi_snd_getpos(Addr args) { return call(kMsgGetPosition, a0(args), 0); }
std::uint32_t bi_snd_getlen(Addr args) { return call(kMsgGetLength, a0(args), 0); }
std::uint32_t bi_snd_gettext(Addr args) { return call(kMsgGetText, a0(args), a1(args)); }
std::uint32_t bi_snd_setmargin(Addr args) { return call(kMsgSetMargin, a0(args), 0); }
std::uint32_t bi_snd_setchorus(Addr args) { return call(effect_msg(kChorus), a0(args), a1(args)); }
std::uint32_t bi_snd_setcompressor(Addr args) { return call(effect_msg(kCompressor), a0(args), a1(args)); }
std::uint32_t bi_snd_setdistortion(Addr args) { return call(effect_msg(kDistortion), a0(args), a1(args)); }
std::uint32_t bi_snd_setecho(Addr args) { return call(effect_msg(kEcho), a0(args), a1(args)); }
std::uint32_t bi_snd_setflanger(Addr args) { return call(effect_msg(kFlanger), a0(args), a1(args)); }
std::uint32_t bi_snd_setgargle(Addr args) { return call(effect_msg(kGargle), a0(args), a1(args)); }
std::uint32_t bi_snd_setparameq(Addr args) { return call(effect_msg(kParamEq), a0(args), a1(args)); }
std::uint32_t bi_snd_setreverb(Addr args) { return call(effect_msg(kReverb), a0(args), a1(args)); }

}  // namespace talven::audio
