// The CD audio device's start, shut-down and pause hooks. The cd_*
// builtins are the drive's own functions (cd_audio.h), which the builtin
// table runs on the main thread.
#pragma once

namespace talven::audio::cd {

// Main thread, after sound has started: with the configuration's CD key,
// the drive over CDFolder (relative to the game's folder), else the game's
// "cd" folder.
bool cd_device_start(const char* game_dir);
void cd_release();  // stops play
void cd_device_shutdown();
void cd_application_paused(bool active);

}  // namespace talven::audio::cd
