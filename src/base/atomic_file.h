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
// in *error when given. Built on host_file::SaveTemporary, which also
// serves writers that produce their output piece by piece.
bool write_file_atomic(const std::string& path, std::string_view data,
                       std::string* error = nullptr);

// Reads a whole host file; false when it cannot be opened or read.
bool read_file(const std::string& path, std::string& out);

}  // namespace talven
