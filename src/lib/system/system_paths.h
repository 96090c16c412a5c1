// Paths for the system builtins: path arguments, the Windows form of host
// paths handed back to scripts, and the confinement of untrusted games.
//
// Scripts name files the Windows way (CP932, '\' or '/', any case); every
// name goes through the game-path layer. Path arguments of 260 bytes or more
// are refused, as the platform's fixed path buffers would. Paths given back
// to scripts are host paths written with '\' separators in CP932
// ("\home\player\Documents\"), which the game-path layer reads back as the
// same host path.
//
// Untrusted games (the Untrusted key or the --untrusted switch) may touch
// files only inside the game's folder and the folder of config_path (the
// per-user save folder), and may not start programs or load native
// libraries. A refusal is reported at level 2.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/address_space.h"

namespace talven::lib::system {

constexpr std::uint32_t kMaxPath = 260;  // a path and its terminator

// The CP932 text of a path argument: nullopt for null, wild or unterminated
// addresses and for texts of kMaxPath bytes or more.
std::optional<std::string> path_arg(Addr address);

// The Windows form of an absolute host path: '\' separators, CP932 names.
// nullopt when a name does not convert to CP932.
std::optional<std::string> windows_path(const std::string& host_path);

// The untrusted switch (set at start from the switch or the Untrusted key).
void set_untrusted(bool on);
bool untrusted();

// True when a host path may be used: always for trusted games; for untrusted
// ones when it lies in the game's folder or the save folder (after symbolic
// links are followed as far as the path exists). A refusal is reported with
// the builtin's name and the path.
bool path_allowed(const std::string& host_path, const char* builtin);

// How host paths compare. POSIX: byte for byte, '/' separating names.
// Windows: '\' and '/' are the same separator, letters compare without
// regard to ASCII case (drive letters too), and the long-path prefixes
// \\?\ and \\?\UNC\ name the same paths as the forms without them.
enum class PathRules { kPosix, kWindows };
// The rules of the system talven runs on (system_paths_posix.cpp,
// system_paths_win32.cpp).
PathRules host_path_rules();
// Whether the absolute, normalized host path `path` is `root` or lies below
// it, under `rules`. An empty root holds nothing; a root that is a whole
// file system ("/", "C:\") holds every path on it.
bool path_inside(std::string_view path, std::string_view root, PathRules rules);
// False (with the report) when the game is untrusted: for exec, shell and
// dll_load, which nothing makes safe.
bool action_allowed(const char* builtin, std::string_view what);

// A path argument resolved to an existing host path and allowed.
std::optional<std::string> existing_path(Addr address, const char* builtin);
// A path argument mapped for creating or replacing (the parent folder need
// not exist), and allowed.
std::optional<std::string> target_path(Addr address, const char* builtin);

}  // namespace talven::lib::system
