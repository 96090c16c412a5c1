// Libraries a device loads on first use instead of at start-up. FFmpeg and
// FluidSynth bring well over a hundred shared libraries with them; linked
// into the program they cost every process (tools, `talven check`, games
// without video) tens of milliseconds and megabytes before main().
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace talven::audio {

// Opens the libraries (run-time names such as "libavformat.so.59") and
// resolves each of `count` names into `out`, looking in each library in
// turn. Libraries stay loaded for the life of the process. False, with the
// first failure in `why`, when a library or a name is missing.
bool load_library_functions(const char* const* libraries, int library_count,
                            const char* const* names, int count, void** out, std::string* why);

// A table of function pointers (`Api`, one member per name, in order)
// loaded once, on the first call of get(); get() gives nullptr, with the
// reason in *why, when the libraries or a function are missing.
template <typename Api, std::size_t N>
class LoadedApi {
 public:
  static_assert(N * sizeof(void*) == sizeof(Api), "one name per member");
  LoadedApi(std::initializer_list<const char*> libraries, const char* const (&names)[N])
      : libraries_(libraries), names_(names) {}
  const Api* get(std::string* why) {
    std::call_once(once_, [this] {
      void* found[N];
      ok_ = load_library_functions(libraries_.data(), int(libraries_.size()), names_, int(N), found,
                                   &why_);
      if (ok_) std::memcpy(&api_, found, sizeof found);
    });
    if (!ok_ && why) *why = why_;
    return ok_ ? &api_ : nullptr;
  }

 private:
  std::vector<const char*> libraries_;
  const char* const* names_;
  std::once_flag once_;
  Api api_{};
  bool ok_ = false;
  std::string why_;
};

}  // namespace talven::audio
