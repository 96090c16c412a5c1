// Where the system keeps its General MIDI SoundFonts, one list per platform
// (system_soundfonts_posix.cpp, system_soundfonts_win32.cpp).
#pragma once

#include <string>
#include <vector>

namespace talven::audio::midi {

// Host paths of the system's General MIDI fonts, most wanted first. They
// may not exist; the caller checks.
std::vector<std::string> system_soundfonts();

}  // namespace talven::audio::midi
