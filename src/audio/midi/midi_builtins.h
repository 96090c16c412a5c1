// MIDI's start, release, shut-down and pause hooks, and the midi_*
// builtins that are not the player's own functions (midi_player.h). The
// builtin table runs every midi_* builtin on the main thread.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::audio::midi {

// Main thread, after sound has started: reads DirectMusic, GlobalSound and
// SoundFont from the configuration; `game_dir` is the game's folder.
bool midi_device_start(const char* game_dir);
void midi_release();  // frees what is loaded
void midi_device_shutdown();
// Pausing and resuming the application (inactive with GlobalFocus 0).
void midi_application_paused(bool active);

// A path in script memory; a bad address frees what is loaded and fails.
std::int32_t bi_midi_load(Addr path);
// midi_play and midi_stop take an unused argument.
std::int32_t bi_midi_play(std::int32_t unused);
std::int32_t bi_midi_stop(std::int32_t unused);

}  // namespace talven::audio::midi
