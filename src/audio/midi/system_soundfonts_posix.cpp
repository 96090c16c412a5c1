// The General MIDI fonts the system's packages install.
#include "audio/midi/system_soundfonts.h"

namespace talven::audio::midi {

std::vector<std::string> system_soundfonts() {
  return {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
          "/usr/share/sounds/sf2/FluidR3_GM.sf2"};
}

}  // namespace talven::audio::midi
