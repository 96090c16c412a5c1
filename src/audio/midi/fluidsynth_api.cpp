#include "audio/midi/fluidsynth_api.h"

#include <cstring>
#include <mutex>

#include "audio/shared_library.h"
#include "audio_sonames.h"

namespace talven::audio::fl {

namespace {

constexpr const char* kNames[] = {
#define TALVEN_FL_NAME(name) #name,
    TALVEN_FLUID_FUNCTIONS(TALVEN_FL_NAME)
#undef TALVEN_FL_NAME
};
constexpr int kCount = int(sizeof(kNames) / sizeof(kNames[0]));
static_assert(kCount * sizeof(void*) == sizeof(Api));

struct Loaded {
  Api api{};
  bool ok = false;
  std::string why;
};

const Loaded& loaded() {
  static Loaded l;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* const libraries[] = {TALVEN_SONAME_FLUIDSYNTH};
    void* found[kCount];
    l.ok = load_library_functions(libraries, 1, kNames, kCount, found, &l.why);
    if (l.ok) std::memcpy(&l.api, found, sizeof found);
  });
  return l;
}

}  // namespace

const Api* api(std::string* why) {
  const Loaded& l = loaded();
  if (!l.ok && why) *why = l.why;
  return l.ok ? &l.api : nullptr;
}

}  // namespace talven::audio::fl
