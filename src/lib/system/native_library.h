// The host's loader for dll_load: opening a library file, finding its
// functions and closing it, and which files a script's library name is
// looked for under. native_library_posix.cpp uses dlopen and looks for
// "NAME.dll" as NAME.so and libNAME.so; native_library_win32.cpp uses
// LoadLibraryW, takes the names as given and says clearly when a library
// is built for another CPU (a 32-bit DLL in this 64-bit process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talven::lib::system {

// The file names, best first, that a library's file name (UTF-8, no folder)
// is looked for under.
std::vector<std::string> library_file_names(const std::string& file);

// Opens a library by host path (or, without a folder, through the host's
// own library search); null when it does not load.
void* open_native_library(const std::string& path);
void* native_library_symbol(void* library, const char* name);
void close_native_library(void* library);

// The libffi calling convention (an ffi_abi value) of the libraries' C
// functions.
int native_call_abi();

// The machine field of a Windows program image (PE) header, from the first
// bytes of its file; nullopt when they are not such a header.
std::optional<std::uint16_t> pe_machine(const std::uint8_t* data, std::size_t size);
constexpr std::uint16_t kMachineI386 = 0x014c;
constexpr std::uint16_t kMachineAmd64 = 0x8664;

}  // namespace talven::lib::system
