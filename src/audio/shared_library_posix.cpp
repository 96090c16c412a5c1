// Shared libraries on POSIX systems: dlopen with every symbol bound at once
// and kept local to the library.
#include <dlfcn.h>

#include "audio/shared_library_system.h"

namespace talven::audio::library_system {

void* open(const char* name, std::string* why) {
  void* h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!h && why) {
    const char* e = dlerror();
    *why = e ? e : std::string("cannot load ") + name;
  }
  return h;
}

void* find(void* library, const char* function) { return dlsym(library, function); }

}  // namespace talven::audio::library_system
