// CD audio as a virtual drive: the disc is a folder of track files
// ("track02.ogg", "Track03.wav", "track4.flac" ...; letter case does not
// matter). The highest track number is the track count; a number without a
// playable file is a data track (its length is the file's size at CD rate,
// 176400 bytes a second, or 0 when there is no file). Track lengths are the
// files' durations in whole seconds.
//
// A track plays into a voice of the mixer from its start to its end. Fades
// step the level by ±313 of 10000 every ms / 32 milliseconds (32 steps cover
// the range); the voice's level is level × percentage, as the CD volume of
// the system mixer would be. At the end of a track the repeat mode chooses
// what follows. A service thread runs the fade ticks and the end-of-track
// actions; it sleeps between them.
//
// The operations are called on the main thread (the builtins reach it through
// main-thread calls); one mutex guards the drive's state.
#pragma once

#include <cstdint>
#include <string>

namespace talven::audio {
class Mixer;
}

namespace talven::audio::cd {

constexpr int kFadeStep = 313;
constexpr int kFullLevel = 10000;

// Starts the drive over the folder (host path); false without a mixer.
bool cd_start(Mixer* mixer, const std::string& folder);
void cd_shutdown();
bool cd_started();

std::int32_t cd_play(std::int32_t track, std::int32_t fade_ms);
std::int32_t cd_stop(std::int32_t fade_ms);
std::int32_t cd_pause();
std::int32_t cd_replay();
std::int32_t cd_setvol(std::int32_t percent);
std::int32_t cd_getvol();
std::int32_t cd_isplay();
std::int32_t cd_getpos(std::int32_t kind);
std::int32_t cd_getlen(std::int32_t track);
std::int32_t cd_repeat(std::int32_t mode);
std::int32_t cd_eject();

// Reads the folder again, as when a disc is inserted (the door closes).
void cd_disc_changed();
// The fade level now (tests).
std::int32_t cd_fade_level();

}  // namespace talven::audio::cd
