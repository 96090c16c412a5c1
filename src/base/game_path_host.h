// What game path resolution needs from the platform: one implementation per
// platform (game_path_posix.cpp, game_path_win32.cpp). Host paths are UTF-8
// with '/' separators.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talven::game_path_host {

// Where a walk starts: drive is the letter of an "X:" prefix or 0, absolute
// whether a separator follows it, bare whether no component follows.
// nullopt when the start names nothing on this host.
std::optional<std::string> start_dir(char drive, bool absolute, bool bare);
// The entry of host folder dir that the CP932 name stands for, as it is
// named in the folder; nullopt when there is none.
std::optional<std::string> match_entry(const std::string& dir, std::string_view name);
// Folder and entry name joined with one separator.
std::string join(const std::string& dir, std::string_view name);
// The folder holding path; a root is its own parent.
std::string parent_of(const std::string& path);
// Whether something of that name exists (a link counts, even if broken),
// and whether it is a folder (both in game_path.cpp, over host_file).
bool entry_exists(const std::string& path);
bool is_directory(const std::string& path);
// Whether a file named with a drive ("X:\folder\file") may be created in
// host folder `folder`.
bool drive_folder_writable(const std::string& folder);

}  // namespace talven::game_path_host
