#include "audio/sound_builtins.h"

#include "audio/sound.h"
#include "base/config.h"

namespace talven::audio {

namespace {

// A path in script memory; empty when the address is bad.
std::string_view path_at(Addr a) {
  auto s = cstr(a, 4096);
  return s ? *s : std::string_view();
}

}  // namespace

bool sound_start(const SoundDeviceStart& options) {
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

void sound_shutdown() { ShutdownSound(); }

void sound_focus(bool active) { sound_activity(active); }

std::int32_t bi_snd_load(std::int32_t no, Addr path) { return sound_load(no, path_at(path)); }
std::int32_t bi_snd_loads(std::int32_t no, Addr path) {
  return sound_load_stream(no, path_at(path));
}

std::int32_t bi_snd_gettext(std::int32_t no, Addr buffer) {
  std::string text;
  if (!sound_slot_view(no).loaded) return 0;
  if (!store8(buffer, 0)) return 0;  // emptied first
  std::int32_t ok = sound_get_text(no, text);
  if (!ok) return 0;
  return write_cstr(buffer, text, static_cast<std::uint32_t>(text.size() + 1)) ? 1 : 0;
}

std::int32_t snd_set_effect(std::int32_t no, int kind, Addr record) {
  if (record == 0) return sound_set_effect(no, kind, nullptr);
  EffectRecord bytes{};
  if (!read_bytes(record, bytes.data(), static_cast<std::uint32_t>(effect_record_size(kind))))
    return 0;
  return sound_set_effect(no, kind, &bytes);
}

}  // namespace talven::audio
