#include "audio/shared_library.h"

#include <vector>

#include "audio/shared_library_system.h"

namespace talven::audio {

bool load_library_functions(const char* const* libraries, int library_count,
                            const char* const* names, int count, void** out, std::string* why) {
  std::vector<void*> handles;
  for (int i = 0; i < library_count; ++i) {
    void* h = library_system::open(libraries[i], why);
    if (!h) return false;
    handles.push_back(h);
  }
  for (int n = 0; n < count; ++n) {
    out[n] = nullptr;
    for (void* h : handles)
      if ((out[n] = library_system::find(h, names[n]))) break;
    if (!out[n]) {
      if (why) *why = std::string("missing function ") + names[n];
      return false;
    }
  }
  return true;
}

}  // namespace talven::audio
