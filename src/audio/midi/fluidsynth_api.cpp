#include "audio/midi/fluidsynth_api.h"

#include <iterator>

#include "audio/shared_library.h"
#include "audio_sonames.h"

namespace talven::audio::fl {

namespace {

constexpr const char* kNames[] = {
#define TALVEN_FL_NAME(name) #name,
    TALVEN_FLUID_FUNCTIONS(TALVEN_FL_NAME)
#undef TALVEN_FL_NAME
};

}  // namespace

const Api* api(std::string* why) {
  static LoadedApi<Api, std::size(kNames)> loaded{{TALVEN_SONAME_FLUIDSYNTH}, kNames};
  return loaded.get(why);
}

}  // namespace talven::audio::fl
