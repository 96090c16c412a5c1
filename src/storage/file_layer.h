// The data file layer: every file a game reads is opened here.
//
// A game's data lies loose in directories or inside directory archives (one
// "NAME.bin" per directory NAME, holding the files below it). FastFile gives
// the raw bytes of a loose file or an archive entry; ExpFile opens through
// FastFile and, when the bytes are in the compressed form, decodes them into
// memory first. Both read, seek and report their size the same way wherever
// the file came from.
//
// Paths are game paths: CP932, '\' or '/' separators, any letter case.
// Which places are searched follows config().FileSystem (bit 0: archives,
// bit 1: loose files; neither bit means both). Open failures report a level-2
// message and return null; read and seek failures only return 0 or -1.
// Every function accepts a null handle and returns its failure value.
//
// Handles are host-side only (scripts see pack-handle numbers, never these).
// A handle is used by one caller at a time; the layer keeps no shared state.
//
// Typical use:
//   talven::storage::ExpFilePtr f(talven::storage::OpenExpFile("data\\a.txt"));
//   if (!f) return false;
//   std::int64_t size = GetExpFileSize(f.get());
//   ReadExpFile(f.get(), buffer, size, &got);
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace talven::storage {

// FileSystem mode bits.
constexpr int kFileSystemArchives = 1;
constexpr int kFileSystemLoose = 2;

// Seek origins.
constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;

struct FastFile;
struct ExpFile;

// Raw bytes of a loose file or an archive entry. The path stops at its first
// zero byte, if any.
FastFile* OpenFastFile(std::string_view path);
// Whether OpenFastFile would find the path (loose or in an archive), without
// the open-failure notice: for callers that fall back to something of their
// own when a file is absent. An archive that cannot be read still reports
// (and counts as holding the file, so that opening it fails visibly).
bool DataFileExists(std::string_view path);
// 1 after closing, 0 for null.
int CloseFastFile(FastFile* file);
// Nonzero on success. Reads at most `count` bytes; an archive entry's read
// stops at the entry's end, so reading at the end succeeds with 0 bytes.
// `bytes_read` may be null.
int ReadFastFile(FastFile* file, void* buffer, std::size_t count, std::size_t* bytes_read);
// New position (relative to the entry's start for archive entries), or -1.
std::int64_t SeekFastFile(FastFile* file, std::int64_t offset, int origin);
// Size in bytes, -1 for null or when it cannot be known.
std::int64_t GetFastFileSize(FastFile* file);

// Bytes of a data file, decoded when stored compressed.
ExpFile* OpenExpFile(std::string_view path);
int CloseExpFile(ExpFile* file);
// 1 on success, 0 for a null handle or buffer.
int ReadExpFile(ExpFile* file, void* buffer, std::size_t count, std::size_t* bytes_read);
std::int64_t SeekExpFile(ExpFile* file, std::int64_t offset, int origin);
std::int64_t GetExpFileSize(ExpFile* file);

// Owning handles.
struct FastFileCloser {
  void operator()(FastFile* f) const { CloseFastFile(f); }
};
struct ExpFileCloser {
  void operator()(ExpFile* f) const { CloseExpFile(f); }
};
using FastFilePtr = std::unique_ptr<FastFile, FastFileCloser>;
using ExpFilePtr = std::unique_ptr<ExpFile, ExpFileCloser>;

// Reads a whole data file (decoded) from its current position to its end.
// False when it cannot be opened or read; open failures were reported.
bool ReadWholeExpFile(std::string_view path, std::string& out);

// The mode in effect: config().FileSystem with "neither bit" taken as both.
int file_system_mode();

}  // namespace talven::storage
