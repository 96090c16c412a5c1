// Directory archives from outside: the header, the scrambled directory and
// the names are read through a memory file, every entry looked up.
#include <sys/mman.h>
#include <unistd.h>

#include "fuzz_common.h"
#include "storage/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::storage;
  talven::fuzz::quiet();
  int fd = ::memfd_create("archive", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (::write(fd, data, size) == static_cast<ssize_t>(size)) {
    ArchiveDirectory dir;
    if (read_archive_directory(fd, dir) == ArchiveStatus::kOk) {
      for (std::uint32_t i = 0; i < dir.count && i < 64; ++i) {
        auto name = dir.name(i);
        std::int64_t index;
        ArchiveEntry e;
        std::uint64_t file_size;
        if (name) find_archive_entry(fd, *name, &index, &e, &file_size);
        (void)dir.data_in_file(i);
      }
    }
    std::int64_t index;
    ArchiveEntry e;
    std::uint64_t file_size;
    find_archive_entry(fd, "a/b.png", &index, &e, &file_size);
    clear_archive_directory_cache();
    find_archive_entry_cached(fd, "data.bin", &index, &e, &file_size);
  }
  ::close(fd);
  return 0;
}
