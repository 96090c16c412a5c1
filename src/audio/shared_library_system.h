// The system's loader behind load_library_functions(): one file per
// platform (shared_library_posix.cpp, shared_library_win32.cpp).
#pragma once

#include <string>

namespace talven::audio::library_system {

// Loads the library by its run-time name and keeps it for the life of the
// process; nullptr, with the loader's reason in *why (when given), on
// failure.
void* open(const char* name, std::string* why);
// The address of an exported function, or nullptr.
void* find(void* library, const char* function);

}  // namespace talven::audio::library_system
