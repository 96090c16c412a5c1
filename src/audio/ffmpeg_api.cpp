#include "audio/ffmpeg_api.h"

#include <cstring>
#include <mutex>

#include "audio/shared_library.h"
#include "audio_sonames.h"

namespace talven::audio::ff {

namespace {

constexpr const char* kNames[] = {
#define TALVEN_FF_NAME(name) #name,
    TALVEN_FFMPEG_FUNCTIONS(TALVEN_FF_NAME)
#undef TALVEN_FF_NAME
};
static_assert(sizeof(kNames) / sizeof(kNames[0]) * sizeof(void*) == sizeof(Api));

struct Loaded {
  Api api{};
  bool ok = false;
  std::string why;
};

const Loaded& loaded() {
  static Loaded l;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* const libraries[] = {TALVEN_SONAME_AVFORMAT, TALVEN_SONAME_SWSCALE, TALVEN_SONAME_SWRESAMPLE};
    constexpr int kCount = int(sizeof(kNames) / sizeof(kNames[0]));
    void* found[kCount];
    l.ok = load_library_functions(libraries, 3, kNames, kCount, found, &l.why);
    if (l.ok) std::memcpy(&l.api, found, sizeof found);
    if (l.ok) l.api.av_log_set_level(AV_LOG_QUIET);
  });
  return l;
}

}  // namespace

const Api* api(std::string* why) {
  const Loaded& l = loaded();
  if (!l.ok && why) *why = l.why;
  return l.ok ? &l.api : nullptr;
}

}  // namespace talven::audio::ff
