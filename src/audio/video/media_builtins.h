// The media device's start, release and pause hooks, and the media_*
// builtins that are not the player's own functions (media.h). The builtin
// table runs every media_* builtin on the main thread.
#pragma once

#include <cstdint>

#include "base/address_space.h"

namespace talven::audio::video {

// After sound: plays into its mixer when sound is on. `window_minimized`
// tells whether the main window is minimised (null: never).
void media_device_start(bool (*window_minimized)());
void media_release();  // closes the media file
void media_device_shutdown();
void media_application_paused(bool active);

// A path in script memory; a bad address closes what is open and fails.
std::int32_t bi_media_open(Addr path);
// Four signed words (left, top, right, bottom); null: the whole screen.
std::int32_t bi_media_size(Addr rect);

}  // namespace talven::audio::video
