// Native libraries: dll_load, dll_unload, dll_proc and dll_call over the
// host's loader (native_library.h) and libffi.
//
// 256 module slots (0 free). A module name is looked for under the host's
// file names for it (on POSIX hosts "NAME.dll", any case, as NAME.so and
// then libNAME.so; on Windows as given) in the game's folder (or in the
// folder the name gives), then through the system's library search. A library that exports
// talven_native_init (sdk/talven_native.h) receives the checked access
// functions to script memory right after loading.
//
// Function addresses given to scripts are handles, never host pointers:
// a handle names a function of one loaded module, and stops working when
// that module is unloaded (a call through it then gives 0). dll_call passes
// its words as 32-bit integer arguments and returns the 32-bit result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talven::lib::system {

constexpr int kDllSlots = 256;
constexpr std::size_t kMaxCallWords = 64;  // arguments of one dll_call

// The slot, or -1 when every slot is taken or nothing loads.
std::int32_t dll_load(std::string_view name);
bool dll_unload(std::int32_t slot);
// A function handle, or 0.
std::uint32_t dll_proc(std::int32_t slot, std::string_view name);
// Calls a handle with the words as arguments; 0 when nothing was called
// (a null, unknown or stale handle, or too many words).
std::uint32_t dll_call(std::uint32_t function, const std::uint32_t* words, std::size_t count);
void dll_release_all();

}  // namespace talven::lib::system
