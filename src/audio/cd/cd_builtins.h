// The CD audio builtins (cd_*), the main-thread messages that serve them
// (1124 to 1134) and the virtual drive's start, shut-down and pause hooks.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::audio::cd {

// Main thread, after sound has started: with the configuration's CD key,
// the drive over CDFolder (relative to the game's folder), else the game's
// "cd" folder.
bool cd_device_start(const char* game_dir);
void cd_release();  // stops play
void cd_device_shutdown();
void cd_application_paused(bool active);

std::uint32_t bi_cd_play(Addr args);
std::uint32_t bi_cd_stop(Addr args);
std::uint32_t bi_cd_pause(Addr args);
std::uint32_t bi_cd_replay(Addr args);
std::uint32_t bi_cd_setvol(Addr args);
std::uint32_t bi_cd_getvol(Addr args);
std::uint32_t bi_cd_isplay(Addr args);
std::uint32_t bi_cd_getpos(Addr args);
std::uint32_t bi_cd_getlen(Addr args);
std::uint32_t bi_cd_repeat(Addr args);
std::uint32_t bi_cd_eject(Addr args);

}  // namespace talven::audio::cd
