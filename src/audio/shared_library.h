// Libraries a device loads on first use instead of at start-up. FFmpeg and
// FluidSynth bring well over a hundred shared libraries with them; linked
// into the program they cost every process (tools, `talven check`, games
// without video) tens of milliseconds and megabytes before main().
#pragma once

#include <string>

namespace talven::audio {

// Opens the libraries (run-time names such as "libavformat.so.59") and
// resolves each of `count` names into `out`, looking in each library in
// turn. Libraries stay loaded for the life of the process. False, with the
// first failure in `why`, when a library or a name is missing.
bool load_library_functions(const char* const* libraries, int library_count, const char* const* names, int count,
                            void** out, std::string* why);

}  // namespace talven::audio
