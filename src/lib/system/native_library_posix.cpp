// Native libraries through dlopen: "NAME.dll" is looked for as the shared
// objects NAME.so and libNAME.so.
#include <dlfcn.h>
#include <ffi.h>

#include "base/cp932.h"
#include "lib/system/native_library.h"

namespace talven::lib::system {

std::vector<std::string> library_file_names(const std::string& file) {
  if (file.size() > 4 &&
      cp932::compare_nocase(std::string_view(file).substr(file.size() - 4), ".dll") == 0) {
    std::string stem = file.substr(0, file.size() - 4);
    return {stem + ".so", "lib" + stem + ".so"};
  }
  return {file};
}

void* open_native_library(const std::string& path) {
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* native_library_symbol(void* library, const char* name) {
  ::dlerror();
  return ::dlsym(library, name);
}

void close_native_library(void* library) { ::dlclose(library); }

int native_call_abi() { return FFI_DEFAULT_ABI; }

}  // namespace talven::lib::system
