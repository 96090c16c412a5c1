// The media builtins (media_*), the main-thread messages that serve them
// (1204 to 1213) and the media device's start, release and pause hooks.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::audio::video {

// After sound: plays into its mixer when sound is on. `window_minimized`
// tells whether the main window is minimised (null: never).
void media_device_start(bool (*window_minimized)());
void media_release();       // closes the media file
void media_device_shutdown();
void media_application_paused(bool active);

std::uint32_t bi_media_open(Addr args);
std::uint32_t bi_media_close(Addr args);
std::uint32_t bi_media_play(Addr args);
std::uint32_t bi_media_stop(Addr args);
std::uint32_t bi_media_pause(Addr args);
std::uint32_t bi_media_replay(Addr args);
std::uint32_t bi_media_isplay(Addr args);
std::uint32_t bi_media_repeat(Addr args);
std::uint32_t bi_media_size(Addr args);
std::uint32_t bi_media_setvol(Addr args);

}  // namespace talven::audio::video
