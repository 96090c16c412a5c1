#include "storage/file_layer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/cp932.h"
#include "base/game_path.h"
#include "base/host_file.h"
#include "base/config.h"
#include "base/messages.h"
#include "storage/archive.h"
#include "storage/compressed.h"

namespace talven::storage {

struct FastFile {
  std::int32_t in_archive = 0;
  int handle = -1;
  std::uint32_t base = 0;
  std::uint32_t size = 0;
  // Archive entries: absolute read position in the archive file. Reads go
  // by offset, so the entry never depends on the handle's own position.
  std::uint64_t position = 0;
};

struct ExpFile {
  std::int32_t in_memory = 0;
  // Decoded bytes. A stream that stopped early leaves data.size below size:
  // the bytes past it read as zeros without ever being allocated.
  ByteBuffer data;
  std::int64_t position = 0;
  std::int64_t size = 0;
  FastFile* file = nullptr;
};

namespace {

constexpr unsigned kLevel = 2;
constexpr const char* kOpenFailed = "ファイルのオープンに失敗しました。FILE - %s";
constexpr const char* kReadFailed = "ファイルの読み込みに失敗しました。FILE - %s";
constexpr const char* kSeekFailed = "ファイルのシークに失敗しました。FILE - %s";
constexpr const char* kFastNoMemory = "OpenFastFile : メモリ不足です。";
constexpr const char* kExpNoMemory = "OpenExpFile : メモリ不足です。";

// Opens an existing regular file named by a game path for sequential reading.
int open_game_file(const std::string& game_path) {
  std::optional<std::string> host = resolve_game_path(game_path);
  if (!host) return -1;
  int fd = host_file::open_read(*host);
  if (fd < 0) return -1;
  host_file::Info st;
  if (!host_file::info_of(fd, st) || !st.regular) {
    host_file::close(fd);
    return -1;
  }
  host_file::advise_sequential(fd);
  return fd;
}

enum class Lookup { kFound, kNotHere, kFailed };

// Looks for `entry` in the archive `archive_path`. kNotHere when the archive
// does not exist or lacks the entry; kFailed after reporting a message.
Lookup open_in_archive(const std::string& path, const std::string& archive_path,
                       std::string_view entry, FastFile& file) {
  int fd = open_game_file(archive_path);
  if (fd < 0) return Lookup::kNotHere;
  std::int64_t index = -1;
  ArchiveEntry found{};
  std::uint64_t file_size = 0;
  const ArchiveStatus status = find_archive_entry_cached(fd, entry, &index, &found, &file_size);
  if (status == ArchiveStatus::kOk && index < 0) {
    host_file::close(fd);
    return Lookup::kNotHere;
  }
  if (status != ArchiveStatus::kOk) {
    report_message(kLevel, kReadFailed, path.c_str());
    host_file::close(fd);
    return Lookup::kFailed;
  }
  if (std::uint64_t{found.data_offset} + found.data_size > file_size) {
    report_message(kLevel, kSeekFailed, path.c_str());
    host_file::close(fd);
    return Lookup::kFailed;
  }
  file.in_archive = 1;
  file.handle = fd;
  file.base = found.data_offset;
  file.size = found.data_size;
  file.position = file.base;
  return Lookup::kFound;
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

int file_system_mode() {
  int mode = config().FileSystem & (kFileSystemArchives | kFileSystemLoose);
  return mode ? mode : kFileSystemArchives | kFileSystemLoose;
}

FastFile* OpenFastFile(std::string_view path_in) {
  const std::string path(path_in.substr(0, path_in.find('\0')));
  std::unique_ptr<FastFile> file(new (std::nothrow) FastFile);
  if (!file) {
    report_message(kLevel, "%s", kFastNoMemory);
    return nullptr;
  }
  const int mode = file_system_mode();

  if (mode & kFileSystemLoose) {
    file->handle = open_game_file(path);
    if (file->handle >= 0) return file.release();
    if (!(mode & kFileSystemArchives)) {
      report_message(kLevel, kOpenFailed, path.c_str());
      return nullptr;
    }
  }

  // Each separator after the first character (and before the last byte)
  // splits the path into an archive named after the directory and an entry
  // name, shortest archive path first. Double-byte characters are stepped
  // over whole, so a trail byte of 0x5C is never taken for a separator.
  if (!path.empty()) {
    for (std::size_t i = cp932::next(path, 0); i + 1 < path.size(); i = cp932::next(path, i)) {
      if (!is_separator(path[i])) continue;
      std::string archive_path = path.substr(0, i) + ".bin";
      std::string_view entry = std::string_view(path).substr(i + 1);
      switch (open_in_archive(path, archive_path, entry, *file)) {
        case Lookup::kFound: return file.release();
        case Lookup::kFailed: return nullptr;
        case Lookup::kNotHere: break;
      }
    }
  }
  report_message(kLevel, kOpenFailed, path.c_str());
  return nullptr;
}

bool DataFileExists(std::string_view path_in) {
  const std::string path(path_in.substr(0, path_in.find('\0')));
  const int mode = file_system_mode();
  if (mode & kFileSystemLoose) {
    const int fd = open_game_file(path);
    if (fd >= 0) {
      host_file::close(fd);
      return true;
    }
  }
  if (!(mode & kFileSystemArchives) || path.empty()) return false;
  for (std::size_t i = cp932::next(path, 0); i + 1 < path.size(); i = cp932::next(path, i)) {
    if (!is_separator(path[i])) continue;
    FastFile probe;
    const Lookup found = open_in_archive(path, path.substr(0, i) + ".bin",
                                         std::string_view(path).substr(i + 1), probe);
    if (found == Lookup::kFound) {
      host_file::close(probe.handle);
      return true;
    }
    // A damaged archive that holds the entry was reported: the caller's own
    // open reports it again rather than quietly using something else.
    if (found == Lookup::kFailed) return true;
  }
  return false;
}

int CloseFastFile(FastFile* file) {
  if (!file) return 0;
  if (file->handle >= 0) host_file::close(file->handle);
  delete file;
  return 1;
}

int ReadFastFile(FastFile* file, void* buffer, std::size_t count, std::size_t* bytes_read) {
  if (bytes_read) *bytes_read = 0;
  if (!file || file->handle < 0) return 0;
  if (count == 0) return 1;
  if (!buffer) return 0;
  char* p = static_cast<char*>(buffer);
  std::size_t total = 0;
  if (file->in_archive) {
    const std::uint64_t end = std::uint64_t{file->base} + file->size;
    count = static_cast<std::size_t>(
        std::min<std::uint64_t>(count, end - std::min(end, file->position)));
    while (total < count) {
      const std::int64_t n =
          host_file::read_at(file->handle, p + total, count - total, file->position);
      if (n < 0) return 0;
      if (n == 0) break;  // the archive is shorter than it was when opened
      total += static_cast<std::size_t>(n);
      file->position += static_cast<std::uint64_t>(n);
    }
  } else {
    while (total < count) {
      const std::int64_t n = host_file::read(file->handle, p + total, count - total);
      if (n < 0) return 0;
      if (n == 0) break;
      total += static_cast<std::size_t>(n);
    }
  }
  if (bytes_read) *bytes_read = total;
  return 1;
}

std::int64_t SeekFastFile(FastFile* file, std::int64_t offset, int origin) {
  if (!file || file->handle < 0) return -1;
  if (!file->in_archive) {
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    // An unknown origin moves nothing and answers with the offset asked for,
    // as it does for archive entries.
    if (origin < 0 || origin > 2) return offset;
    const std::int64_t result = host_file::seek(file->handle, offset, kWhence[origin]);
    return result < 0 ? -1 : result;
  }
  const std::int64_t base = file->base;
  const std::int64_t size = file->size;
  std::int64_t target;
  switch (origin) {
    case kSeekSet:
      if (offset < 0 || offset > size) return -1;
      target = base + offset;
      break;
    case kSeekCur:
      if (__builtin_add_overflow(static_cast<std::int64_t>(file->position), offset, &target) ||
          target < base || target > base + size)
        return -1;
      break;
    case kSeekEnd:
      if (offset > 0 || offset < -size) return -1;
      target = base + size + offset;
      break;
    default:
      // An unknown origin moves nothing and answers with the offset asked for.
      return offset;
  }
  file->position = static_cast<std::uint64_t>(target);
  return target - base;
}

std::int64_t GetFastFileSize(FastFile* file) {
  if (!file || file->handle < 0) return -1;
  if (file->in_archive) return file->size;
  host_file::Info st;
  if (!host_file::info_of(file->handle, st)) return -1;
  return static_cast<std::int64_t>(st.size);
}

ExpFile* OpenExpFile(std::string_view path_in) {
  const std::string path(path_in.substr(0, path_in.find('\0')));
  std::unique_ptr<ExpFile> file(new (std::nothrow) ExpFile);
  if (!file) {
    report_message(kLevel, "%s", kExpNoMemory);
    return nullptr;
  }
  std::unique_ptr<BitReader> reader = open_bit_reader(path);
  if (!reader) return nullptr;

  std::uint32_t signature = 0;
  if (!read_bits(*reader, 32, signature) || signature != kCompressedSignature) {
    // Plain data: keep the file and start again from its first byte.
    file->file = reader->release_file();
    if (SeekFastFile(file->file, 0, kSeekSet) != 0) {
      CloseFastFile(file->file);
      file->file = OpenFastFile(path);
      if (!file->file) return nullptr;
    }
    return file.release();
  }

  // A length of 0 cannot be allocated, and one beyond the signed 32-bit
  // range cannot be a file the readers above can handle.
  std::uint32_t length = 0;
  if (!read_bits(*reader, 32, length) || length == 0 || length > kMaxDecodedLength) return nullptr;
  // Only what the codes spell is held; codes that end before `length` bytes
  // leave a zero tail that reads serve without allocating it, so a length
  // larger than the codes costs nothing here.
  if (!decode(*reader, length, file->data)) return nullptr;
  file->in_memory = 1;
  file->position = 0;
  file->size = length;
  return file.release();
}

int CloseExpFile(ExpFile* file) {
  if (!file) return 0;
  CloseFastFile(file->file);
  delete file;
  return 1;
}

int ReadExpFile(ExpFile* file, void* buffer, std::size_t count, std::size_t* bytes_read) {
  if (!file || !buffer) {
    if (bytes_read) *bytes_read = 0;
    return 0;
  }
  if (!file->in_memory) return ReadFastFile(file->file, buffer, count, bytes_read);
  const std::uint64_t left = static_cast<std::uint64_t>(file->size - file->position);
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
  char* out = static_cast<char*>(buffer);
  const std::size_t pos = static_cast<std::size_t>(file->position);
  const std::size_t decoded = pos < file->data.size ? std::min(n, file->data.size - pos) : 0;
  if (decoded) std::memcpy(out, file->data.data + pos, decoded);
  if (n > decoded) std::memset(out + decoded, 0, n - decoded);
  file->position += static_cast<std::int64_t>(n);
  if (bytes_read) *bytes_read = n;
  return 1;
}

std::int64_t SeekExpFile(ExpFile* file, std::int64_t offset, int origin) {
  if (!file) return -1;
  if (!file->in_memory) return SeekFastFile(file->file, offset, origin);
  std::int64_t target;
  switch (origin) {
    case kSeekSet: target = offset; break;
    case kSeekCur:
      if (__builtin_add_overflow(file->position, offset, &target)) return -1;
      break;
    case kSeekEnd:
      if (__builtin_add_overflow(file->size, offset, &target)) return -1;
      break;
    default: return file->position;
  }
  if (target < 0 || target > file->size) return -1;
  file->position = target;
  return target;
}

std::int64_t GetExpFileSize(ExpFile* file) {
  if (!file) return -1;
  return file->in_memory ? file->size : GetFastFileSize(file->file);
}

bool ReadWholeExpFile(std::string_view path, std::string& out) {
  out.clear();
  ExpFilePtr file(OpenExpFile(path));
  if (!file) return false;
  try {
    std::int64_t size = GetExpFileSize(file.get());
    if (size > 0) out.reserve(static_cast<std::size_t>(size));
    char chunk[65536];
    for (;;) {
      std::size_t got = 0;
      if (!ReadExpFile(file.get(), chunk, sizeof chunk, &got)) return false;
      if (got == 0) return true;
      out.append(chunk, got);
    }
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

}  // namespace talven::storage
