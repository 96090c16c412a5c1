// The sound builtins (snd_*), the main-thread messages that serve them
// (1164 to 1195) and the sound device's start, release, shut-down and
// activity hooks.
//
// Each builtin decodes its argument words and sends its message to the main
// thread; the message's serving function reads script memory (paths, effect
// records, the text buffer) through the checked API and calls the slot
// operation of sound.h.
#pragma once

#include <cstdint>
#include <string>

#include "base/address_space.h"

namespace talven::audio {

struct SoundDeviceStart {
  bool windowed = false;    // open the audio device; otherwise the null device
  std::string audio_out;    // record the mixed output here (host path)
  bool audio_fast = false;  // the null device does not keep to the clock
};

// Main thread. Reads DirectSound and GlobalSound from the configuration.
// False when sound stays off.
bool sound_start(const SoundDeviceStart& options);
void sound_release();   // frees every slot
void sound_shutdown();  // closes the device, finishes the recording
void sound_focus(bool active);

std::uint32_t bi_snd_load(Addr args);
std::uint32_t bi_snd_loads(Addr args);
std::uint32_t bi_snd_free(Addr args);
std::uint32_t bi_snd_play(Addr args);
std::uint32_t bi_snd_stop(Addr args);
std::uint32_t bi_snd_pause(Addr args);
std::uint32_t bi_snd_replay(Addr args);
std::uint32_t bi_snd_setvol(Addr args);
std::uint32_t bi_snd_getvol(Addr args);
std::uint32_t bi_snd_setpan(Addr args);
std::uint32_t bi_snd_getpan(Addr args);
std::uint32_t bi_snd_setfreq(Addr args);
std::uint32_t bi_snd_getfreq(Addr args);
std::uint32_t bi_snd_isplay(Addr args);
std::uint32_t bi_snd_setloop(Addr args);
std::uint32_t bi_snd_setpos(Addr args);
std::uint32_t bi_snd_getpos(Addr args);
std::uint32_t bi_snd_getlen(Addr args);
std::uint32_t bi_snd_gettext(Addr args);
std::uint32_t bi_snd_setmargin(Addr args);
std::uint32_t bi_snd_setchorus(Addr args);
std::uint32_t bi_snd_setcompressor(Addr args);
std::uint32_t bi_snd_setdistortion(Addr args);
std::uint32_t bi_snd_setecho(Addr args);
std::uint32_t bi_snd_setflanger(Addr args);
std::uint32_t bi_snd_setgargle(Addr args);
std::uint32_t bi_snd_setparameq(Addr args);
std::uint32_t bi_snd_setreverb(Addr args);

}  // namespace talven::audio
