// Game paths: the Windows-style names that scripts and game data use.
//
// A game path uses '\' or '/' as separator, CP932 names and any letter case,
// and is relative to the current directory unless it is absolute. The host
// file system is case-sensitive and stores UTF-8 names, so each component is
// matched against the directory listing: first as the UTF-8 conversion of the
// CP932 name, then as the raw bytes, then case-insensitively (CP932 rules,
// which fold ASCII and full-width Latin letters). Directory listings are
// cached and revalidated by the directory's modification time.
//
// "/"-rooted paths are host paths; a drive prefix is dropped ("C:\a" is "/a",
// "C:a" is "a"), and a bare drive root names nothing.
//
// Every file the runtime opens for a game goes through resolve_game_path().
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talven {

// The absolute host path of an existing file or directory, or nullopt when
// some component does not exist.
std::optional<std::string> resolve_game_path(std::string_view game_path);

// The host path to create or overwrite a file: every existing component is
// matched as above, the remaining ones are converted to UTF-8 as given. The
// parent directory need not exist (callers create it when they mean to).
// Empty when the path cannot be mapped: an empty name, or a drive path
// ("C:\...") whose folder does not exist on the host or is its root.
std::string host_path_for_write(std::string_view game_path);

// Forget cached listings (all, or the one for a host directory); called after
// the runtime itself creates, renames or removes entries.
void invalidate_path_cache();
void invalidate_path_cache(const std::string& host_dir);

}  // namespace talven
