#include "audio/midi/midi_builtins.h"

#include "audio/midi/midi_player.h"
#include "audio/sound.h"
#include "base/config.h"

namespace talven::audio::midi {

bool midi_device_start(const char* game_dir) {
  const Config& c = config();
  if (!c.DirectMusic) return false;
  MidiStart start;
  start.enabled = true;
  start.mixer = sound_mixer();
  start.soundfont = find_soundfont(c.SoundFont, game_dir ? game_dir : "");
  start.global_focus = c.GlobalSound != 0;
  return midi::midi_start(start);
}

void midi_release() { midi_free(); }

void midi_device_shutdown() { midi_shutdown(); }

void midi_application_paused(bool active) {
  if (!midi_on()) return;
  if (active) midi_replay();
  else midi_pause();
}

std::int32_t bi_midi_load(Addr path) {
  auto text = cstr(path, 4096);
  if (!text) {
    midi_free();
    return 0;
  }
  return midi_load(*text);
}

std::int32_t bi_midi_play(std::int32_t) { return midi_play(); }
std::int32_t bi_midi_stop(std::int32_t) { return midi_stop(); }

}  // namespace talven::audio::midi
