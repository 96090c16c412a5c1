#include "audio/ffmpeg_api.h"

#include <iterator>

#include "audio/shared_library.h"
#include "audio_sonames.h"

namespace talven::audio::ff {

namespace {

constexpr const char* kNames[] = {
#define TALVEN_FF_NAME(name) #name,
    TALVEN_FFMPEG_FUNCTIONS(TALVEN_FF_NAME)
#undef TALVEN_FF_NAME
};

}  // namespace

const Api* api(std::string* why) {
  // Every library that defines one of the functions is named: Windows
  // looks a function up only in the DLL it is asked of, not in the DLLs
  // that one loads in turn.
  static LoadedApi<Api, std::size(kNames)> loaded{
      {TALVEN_SONAME_AVFORMAT, TALVEN_SONAME_AVCODEC, TALVEN_SONAME_AVUTIL, TALVEN_SONAME_SWSCALE,
       TALVEN_SONAME_SWRESAMPLE},
      kNames};
  static const bool quiet = [] {
    if (const Api* a = loaded.get(nullptr)) a->av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)quiet;
  return loaded.get(why);
}

}  // namespace talven::audio::ff
