// Directory archives ("TLV-ARC2"): one file standing for one directory.
//
//   0   8          magic "TLV-ARC2"
//   8   4          seed (plain)
//   12  4          count, scrambled
//   16  4          names_size, scrambled
//   20  12*count   ArchiveEntry records {name_offset, data_offset, data_size},
//                  every word scrambled, in file order
//   ..  names_size zero-terminated names (plain)
//   ..             entry data, plain
//
// All words are little-endian. Scrambling XORs each word with the next word
// of a keystream started from the seed. The directory is sorted by
// compare_entry_names() so that lookups bisect it.
//
// Archives come from outside, so reading checks every size and offset
// against the file: a damaged archive gives kDamaged or a not-found, never
// an allocation beyond the file's size or a read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talven::storage {

constexpr char kArchiveMagic[8] = {'T', 'L', 'V', '-', 'A', 'R', 'C', '2'};
constexpr std::uint32_t kArchiveKey = 0x4B1D7E29;
constexpr std::size_t kArchiveHeaderSize = 20;
constexpr std::size_t kArchiveEntrySize = 12;

struct ArchiveHeader {
  char magic[8];
  std::uint32_t seed;
  std::uint32_t count;
  std::uint32_t names_size;
};

struct ArchiveEntry {
  std::uint32_t name_offset;
  std::uint32_t data_offset;
  std::uint32_t data_size;
};

// The scrambling keystream: each call of next() steps the state and returns it.
struct ArchiveKeystream {
  std::uint32_t state;

  static constexpr std::uint32_t mix(std::uint32_t x) {
    return ((x ^ (x >> 1)) >> 3) ^ ((x ^ (x << 1)) << 3);
  }
  constexpr std::uint32_t next() {
    std::uint32_t t = state ^ kArchiveKey;
    state = t ^ mix(t);
    return state;
  }
};

// The keystream state after `steps` steps from `seed`, without stepping
// through them: each step is an affine map over the bits of the state, so
// powers of two of it are precomputed and combined. Word j of the directory
// is scrambled with the state after 3 + j steps.
std::uint32_t archive_keystream_after(std::uint32_t seed, std::uint64_t steps);

// Order of entry names: case-insensitive CP932 ('A'-'Z' fold to small
// letters, double-byte characters compare upper-cased as 16-bit codes, a
// prefix sorts first). '/' and '\' are different characters.
int compare_entry_names(std::string_view a, std::string_view b);

enum class ArchiveStatus {
  kOk,
  kBadHeader,  // short header or wrong magic
  kNoMemory,   // the directory cannot be allocated
  kDamaged,    // sizes or offsets outside the file, or a read failed
};

// A whole directory read into memory and unscrambled (list and unpack).
struct ArchiveDirectory {
  std::uint32_t seed = 0;
  std::uint32_t count = 0;
  std::uint32_t names_size = 0;
  std::uint64_t file_size = 0;
  std::unique_ptr<ArchiveEntry[]> entries;
  std::unique_ptr<char[]> names;

  // Entry i's name, or nullopt when its offset lies outside the name block
  // or it has no terminator there.
  std::optional<std::string_view> name(std::uint32_t i) const;
  // True when entry i's data lies wholly inside the archive file.
  bool data_in_file(std::uint32_t i) const;
};

// Reads and checks the header and directory of the archive open on `fd`.
ArchiveStatus read_archive_directory(int fd, ArchiveDirectory& dir);

// Looks `name` up in the archive open on `fd`, reading only the header and
// the directory words and names that the bisection visits, so an open costs
// O(log count) whatever the archive's size. kOk with *index -1 when the name
// is not there; kDamaged for sizes outside the file, a damaged name on the
// way or a failed read. *entry gets the entry found.
ArchiveStatus find_archive_entry(int fd, std::string_view name, std::int64_t* index,
                                 ArchiveEntry* entry, std::uint64_t* file_size);

// The same lookup through directories kept in memory: the first lookup in an
// archive reads and unscrambles its whole directory once, later lookups in
// the same file (same device, inode, size and modification time) bisect it
// without reading. A few archives are kept, the least recently used going
// first. Results are those of find_archive_entry() in every case (a
// directory that cannot be read whole is searched on disk as before).
ArchiveStatus find_archive_entry_cached(int fd, std::string_view name, std::int64_t* index,
                                        ArchiveEntry* entry, std::uint64_t* file_size);
// Forgets every kept directory.
void clear_archive_directory_cache();

// One file to pack: its entry name (CP932) and its bytes on the host.
struct ArchiveSource {
  std::string name;
  std::string host_path;
};

// Writes an archive of `sources` to host path `path` (atomically), with the
// entries sorted by compare_entry_names(). False with a reason in *error for
// names that compare equal, an unreadable source, or data past 4 GiB.
bool write_archive(const std::string& path, std::vector<ArchiveSource> sources, std::uint32_t seed,
                   std::string* error);

}  // namespace talven::storage
