// The sound device's start, release, shut-down and activity hooks, and the
// snd_* builtins that are not slot operations of sound.h themselves.
//
// The builtin table runs every snd_* builtin on the main thread: most are
// the slot operations of sound.h (slot -1 for volume and pan is the master
// level); those below read script memory (paths, effect records, the text
// buffer) through the checked API first.
#pragma once

#include <cstdint>
#include <string>

#include "base/address_space.h"

namespace talven::audio {

struct SoundDeviceStart {
  bool windowed = false;    // open the audio device; otherwise the null device
  std::string audio_out;    // record the mixed output here (host path)
  bool audio_fast = false;  // the null device is paced by the game clock
};

// Main thread. Reads DirectSound and GlobalSound from the configuration.
// False when sound stays off.
bool sound_start(const SoundDeviceStart& options);
void sound_release();   // frees every slot
void sound_shutdown();  // closes the device, finishes the recording
void sound_focus(bool active);

// A path in script memory (a bad address reads as the empty path).
std::int32_t bi_snd_load(std::int32_t no, Addr path);
std::int32_t bi_snd_loads(std::int32_t no, Addr path);
// The sound's comment into buffer: emptied first, 0 when it has none.
std::int32_t bi_snd_gettext(std::int32_t no, Addr buffer);

// The effect of kind kKind (effects.h) from its record; null removes it.
std::int32_t snd_set_effect(std::int32_t no, int kind, Addr record);
template <int kKind>
std::int32_t bi_snd_seteffect(std::int32_t no, Addr record) {
  return snd_set_effect(no, kKind, record);
}

}  // namespace talven::audio
