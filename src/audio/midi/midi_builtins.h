// The MIDI builtins (midi_*), the main-thread messages that serve them
// (1144 to 1154) and MIDI's start, release, shut-down and pause hooks.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::audio::midi {

// Main thread, after sound has started: reads DirectMusic, GlobalSound and
// SoundFont from the configuration; `game_dir` is the game's folder.
bool midi_device_start(const char* game_dir);
void midi_release();   // frees what is loaded
void midi_device_shutdown();
// Pausing and resuming the application (inactive with GlobalFocus 0).
void midi_application_paused(bool active);

std::uint32_t bi_midi_load(Addr args);
std::uint32_t bi_midi_free(Addr args);
std::uint32_t bi_midi_play(Addr args);
std::uint32_t bi_midi_stop(Addr args);
std::uint32_t bi_midi_pause(Addr args);
std::uint32_t bi_midi_replay(Addr args);
std::uint32_t bi_midi_setvol(Addr args);
std::uint32_t bi_midi_getvol(Addr args);
std::uint32_t bi_midi_isplay(Addr args);
std::uint32_t bi_midi_getpos(Addr args);
std::uint32_t bi_midi_repeat(Addr args);

}  // namespace talven::audio::midi
