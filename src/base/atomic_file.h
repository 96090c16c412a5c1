// Whole-file writes that never leave a half-written file behind.
//
// The data goes to a temporary file in the same directory, is flushed to
// disk, and is then renamed over the target, so a crash or a full disk
// leaves either the old file or the new one, never a mixture.
#pragma once

#include <string>
#include <string_view>

namespace talven {

// Writes data to host path `path` atomically. On failure the old file (if
// any) is untouched, no temporary file is left, and errno-style text is put
// in *error when given.
bool write_file_atomic(const std::string& path, std::string_view data,
                       std::string* error = nullptr);

// The temporary files of saves to `path`: NAME.tmpXXXXXX beside it. A save
// holds a lock on its temporary file while it writes, so one whose lock can
// be taken was left by a save that died; those are removed when the next
// save of the same target starts.
// Creates the locked temporary file and puts its name in `temp`; -1 on failure.
int create_save_temporary(const std::string& path, std::string& temp);
void remove_stale_temporaries(const std::string& path);

// Flushes the directory holding `path`, so that a rename into it survives a
// power loss. False when the directory cannot be opened or flushed.
bool sync_directory_of(const std::string& path);

// Reads a whole host file; false when it cannot be opened or read.
bool read_file(const std::string& path, std::string& out);

}  // namespace talven
