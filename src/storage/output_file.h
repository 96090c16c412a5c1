// Streamed output files that replace their target only when complete.
//
// The bytes go to a temporary file beside the target; commit() flushes it to
// disk and renames it over the target. A writer that fails, or is destroyed
// without commit(), removes its temporary file and leaves any old file as it
// was. Used by the compressed-file writer and the archive packer, which
// produce their output piece by piece.
#pragma once

#include <cstddef>
#include <string>

#include "base/host_file.h"

namespace talven::storage {

class AtomicOutput {
 public:
  AtomicOutput() = default;
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // Creates the temporary file for host path `path`. False (errno set) when
  // it cannot be created.
  bool open(const std::string& path);
  // Appends bytes; false on a write error or a full disk.
  bool write(const void* data, std::size_t size);
  // Flushes, keeps the old file's permissions (new files get 0644) and
  // renames over the target. The writer is closed either way.
  bool commit();
  // Drops the temporary file; the target is untouched.
  void abandon();

  bool is_open() const { return out_.is_open(); }
  const std::string& path() const { return path_; }

 private:
  host_file::SaveTemporary out_;  // removes an uncommitted temporary when destroyed
  std::string path_;
};

}  // namespace talven::storage
