#include "storage/archive.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "base/cp932.h"
#include "base/host_file.h"
#include "storage/output_file.h"

namespace talven::storage {

namespace {

std::uint32_t get_le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_le32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// One affine map x -> M x ^ constant over 32-bit words; column[i] = M e_i.
struct Affine {
  std::uint32_t column[32];
  std::uint32_t constant;

  std::uint32_t linear(std::uint32_t x) const {
    std::uint32_t r = 0;
    for (; x; x &= x - 1) r ^= column[std::countr_zero(x)];
    return r;
  }
  std::uint32_t operator()(std::uint32_t x) const { return linear(x) ^ constant; }
};

// power[k] is 2^k keystream steps. A step is s -> L(s ^ K) with L(x) =
// x ^ mix(x) linear, and the directory is at most 3 * 2^32 + 2 words long.
struct KeystreamJumps {
  Affine power[35];

  KeystreamJumps() {
    auto lin = [](std::uint32_t x) { return x ^ ArchiveKeystream::mix(x); };
    for (int i = 0; i < 32; ++i) power[0].column[i] = lin(1u << i);
    power[0].constant = lin(kArchiveKey);
    for (int k = 0; k + 1 < 35; ++k) {
      const Affine& a = power[k];
      for (int i = 0; i < 32; ++i) power[k + 1].column[i] = a.linear(a.column[i]);
      power[k + 1].constant = a(a.constant);
    }
  }
};

struct HeaderFields {
  std::uint32_t seed, count, names_size;
  std::uint64_t file_size;
};

// Reads the header and checks that the directory and names lie in the file,
// which bounds every later allocation and read by the archive's real size.
ArchiveStatus read_header(int fd, HeaderFields& h) {
  host_file::Info st;
  if (!host_file::info_of(fd, st)) return ArchiveStatus::kDamaged;
  h.file_size = st.size;
  unsigned char header[kArchiveHeaderSize];
  if (!host_file::read_exact_at(fd, header, sizeof header, 0) ||
      std::memcmp(header, kArchiveMagic, sizeof kArchiveMagic) != 0)
    return ArchiveStatus::kBadHeader;
  h.seed = get_le32(header + 8);
  ArchiveKeystream keys{h.seed};
  h.count = get_le32(header + 12) ^ keys.next();
  h.names_size = get_le32(header + 16) ^ keys.next();
  if (kArchiveHeaderSize + std::uint64_t{h.count} * kArchiveEntrySize + h.names_size > h.file_size)
    return ArchiveStatus::kDamaged;
  return ArchiveStatus::kOk;
}

}  // namespace

std::uint32_t archive_keystream_after(std::uint32_t seed, std::uint64_t steps) {
  static const KeystreamJumps jumps;
  std::uint32_t s = seed;
  for (int k = 0; steps && k < 35; ++k, steps >>= 1)
    if (steps & 1) s = jumps.power[k](s);
  return s;
}

int compare_entry_names(std::string_view a, std::string_view b) {
  return cp932::compare_nocase(a, b);
}

std::optional<std::string_view> ArchiveDirectory::name(std::uint32_t i) const {
  if (i >= count) return std::nullopt;
  std::uint32_t offset = entries[i].name_offset;
  if (offset >= names_size) return std::nullopt;
  const char* start = names.get() + offset;
  const void* zero = std::memchr(start, 0, names_size - offset);
  if (!zero) return std::nullopt;
  return std::string_view(start, static_cast<std::size_t>(static_cast<const char*>(zero) - start));
}

bool ArchiveDirectory::data_in_file(std::uint32_t i) const {
  if (i >= count) return false;
  return static_cast<std::uint64_t>(entries[i].data_offset) + entries[i].data_size <= file_size;
}

ArchiveStatus read_archive_directory(int fd, ArchiveDirectory& dir) {
  HeaderFields h;
  if (ArchiveStatus status = read_header(fd, h); status != ArchiveStatus::kOk) return status;
  dir.seed = h.seed;
  dir.count = h.count;
  dir.names_size = h.names_size;
  dir.file_size = h.file_size;
  ArchiveKeystream keys{archive_keystream_after(h.seed, 2)};
  const std::uint64_t directory_bytes = std::uint64_t{dir.count} * kArchiveEntrySize;

  dir.entries.reset(new (std::nothrow) ArchiveEntry[dir.count ? dir.count : 1]);
  if (!dir.entries) return ArchiveStatus::kNoMemory;
  std::unique_ptr<unsigned char[]> raw(new (std::nothrow) unsigned char[directory_bytes + 1]);
  if (!raw) return ArchiveStatus::kNoMemory;
  if (!host_file::read_exact_at(fd, raw.get(), directory_bytes, kArchiveHeaderSize))
    return ArchiveStatus::kDamaged;
  dir.names.reset(new (std::nothrow) char[dir.names_size ? dir.names_size : 1]);
  if (!dir.names) return ArchiveStatus::kDamaged;
  if (!host_file::read_exact_at(fd, dir.names.get(), dir.names_size,
                                kArchiveHeaderSize + directory_bytes))
    return ArchiveStatus::kDamaged;

  const unsigned char* p = raw.get();
  for (std::uint32_t i = 0; i < dir.count; ++i, p += kArchiveEntrySize) {
    dir.entries[i].name_offset = get_le32(p) ^ keys.next();
    dir.entries[i].data_offset = get_le32(p + 4) ^ keys.next();
    dir.entries[i].data_size = get_le32(p + 8) ^ keys.next();
  }
  return ArchiveStatus::kOk;
}

ArchiveStatus find_archive_entry(int fd, std::string_view wanted, std::int64_t* index,
                                 ArchiveEntry* entry, std::uint64_t* file_size) {
  *index = -1;
  HeaderFields h;
  if (ArchiveStatus status = read_header(fd, h); status != ArchiveStatus::kOk) return status;
  *file_size = h.file_size;
  const std::uint64_t names_start = kArchiveHeaderSize + std::uint64_t{h.count} * kArchiveEntrySize;
  std::string name;
  std::int64_t low = 0, high = static_cast<std::int64_t>(h.count) - 1;
  while (low <= high) {
    const std::int64_t middle = (low + high) / 2;
    unsigned char raw[kArchiveEntrySize];
    if (!host_file::read_exact_at(
            fd, raw, sizeof raw,
            kArchiveHeaderSize + static_cast<std::uint64_t>(middle) * kArchiveEntrySize))
      return ArchiveStatus::kDamaged;
    ArchiveKeystream keys{
        archive_keystream_after(h.seed, 2 + 3 * static_cast<std::uint64_t>(middle))};
    ArchiveEntry e;
    e.name_offset = get_le32(raw) ^ keys.next();
    e.data_offset = get_le32(raw + 4) ^ keys.next();
    e.data_size = get_le32(raw + 8) ^ keys.next();
    // The name runs to its terminator, which must lie inside the name block.
    if (e.name_offset >= h.names_size) return ArchiveStatus::kDamaged;
    name.clear();
    std::uint64_t at = names_start + e.name_offset;
    std::uint64_t left = h.names_size - e.name_offset;
    for (;;) {
      char chunk[256];
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof chunk));
      if (n == 0) return ArchiveStatus::kDamaged;
      if (!host_file::read_exact_at(fd, chunk, n, at)) return ArchiveStatus::kDamaged;
      const void* zero = std::memchr(chunk, 0, n);
      if (zero) {
        name.append(chunk, static_cast<std::size_t>(static_cast<const char*>(zero) - chunk));
        break;
      }
      name.append(chunk, n);
      at += n;
      left -= n;
    }
    const int order = compare_entry_names(wanted, name);
    if (order == 0) {
      *index = middle;
      *entry = e;
      return ArchiveStatus::kOk;
    }
    if (order < 0) high = middle - 1;
    else low = middle + 1;
  }
  return ArchiveStatus::kOk;
}

namespace {

struct CachedDirectory {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_sec = 0;
  std::int64_t modified_nsec = 0;
  std::uint64_t last_use = 0;
  std::shared_ptr<const ArchiveDirectory> dir;
};

constexpr std::size_t kCachedDirectories = 8;

std::mutex g_cache_mutex;
std::vector<CachedDirectory> g_cache;
std::uint64_t g_cache_clock = 0;

bool same_file(const CachedDirectory& c, const host_file::Info& st) {
  return c.device == st.device && c.inode == st.file_id && c.size == st.size &&
         c.modified_sec == st.modified_sec && c.modified_nsec == st.modified_nsec;
}

std::shared_ptr<const ArchiveDirectory> cached_directory(int fd) {
  host_file::Info st;
  if (!host_file::info_of(fd, st)) return nullptr;
  {
    std::lock_guard lock(g_cache_mutex);
    for (CachedDirectory& c : g_cache)
      if (same_file(c, st)) {
        c.last_use = ++g_cache_clock;
        return c.dir;
      }
  }
  auto dir = std::make_shared<ArchiveDirectory>();
  if (read_archive_directory(fd, *dir) != ArchiveStatus::kOk) return nullptr;
  std::lock_guard lock(g_cache_mutex);
  CachedDirectory entry{st.device,        st.file_id,      st.size, st.modified_sec,
                        st.modified_nsec, ++g_cache_clock, dir};
  if (g_cache.size() < kCachedDirectories) {
    g_cache.push_back(std::move(entry));
  } else {
    auto oldest = std::min_element(
        g_cache.begin(), g_cache.end(),
        [](const CachedDirectory& a, const CachedDirectory& b) { return a.last_use < b.last_use; });
    *oldest = std::move(entry);
  }
  return dir;
}

}  // namespace

ArchiveStatus find_archive_entry_cached(int fd, std::string_view wanted, std::int64_t* index,
                                        ArchiveEntry* entry, std::uint64_t* file_size) {
  std::shared_ptr<const ArchiveDirectory> dir = cached_directory(fd);
  if (!dir) return find_archive_entry(fd, wanted, index, entry, file_size);
  *index = -1;
  *file_size = dir->file_size;
  std::int64_t low = 0, high = static_cast<std::int64_t>(dir->count) - 1;
  while (low <= high) {
    const std::int64_t middle = (low + high) / 2;
    const std::optional<std::string_view> name = dir->name(static_cast<std::uint32_t>(middle));
    if (!name) return ArchiveStatus::kDamaged;
    const int order = compare_entry_names(wanted, *name);
    if (order == 0) {
      *index = middle;
      *entry = dir->entries[middle];
      return ArchiveStatus::kOk;
    }
    if (order < 0) high = middle - 1;
    else low = middle + 1;
  }
  return ArchiveStatus::kOk;
}

void clear_archive_directory_cache() {
  std::lock_guard lock(g_cache_mutex);
  g_cache.clear();
}

bool write_archive(const std::string& path, std::vector<ArchiveSource> sources, std::uint32_t seed,
                   std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };

  std::sort(sources.begin(), sources.end(), [](const ArchiveSource& a, const ArchiveSource& b) {
    return compare_entry_names(a.name, b.name) < 0;
  });
  for (std::size_t i = 1; i < sources.size(); ++i)
    if (compare_entry_names(sources[i - 1].name, sources[i].name) == 0)
      return fail("entry names \"" + cp932::to_utf8_lossy(sources[i - 1].name) + "\" and \"" +
                  cp932::to_utf8_lossy(sources[i].name) + "\" are the same to the archive");
  if (sources.size() > (0xFFFFFFFFu - kArchiveHeaderSize) / kArchiveEntrySize)
    return fail("too many files");

  std::vector<std::uint64_t> sizes;
  std::string names;
  std::vector<std::uint32_t> name_offsets;
  for (const ArchiveSource& s : sources) {
    if (s.name.empty() || s.name.find('\0') != std::string::npos)
      return fail("bad entry name for " + s.host_path);
    host_file::Info st;
    if (!host_file::info_of_path(s.host_path, st) || !st.regular)
      return fail("cannot read " + s.host_path);
    sizes.push_back(st.size);
    name_offsets.push_back(static_cast<std::uint32_t>(names.size()));
    names += s.name;
    names += '\0';
  }

  const std::uint64_t count = sources.size();
  std::uint64_t offset = kArchiveHeaderSize + count * kArchiveEntrySize + names.size();
  std::vector<ArchiveEntry> entries;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (offset + sizes[i] > 0xFFFFFFFFu) return fail("the archive would pass 4 GiB");
    entries.push_back({name_offsets[i], static_cast<std::uint32_t>(offset),
                       static_cast<std::uint32_t>(sizes[i])});
    offset += sizes[i];
  }

  std::string head(kArchiveMagic, sizeof kArchiveMagic);
  ArchiveKeystream keys{seed};
  put_le32(head, seed);
  put_le32(head, static_cast<std::uint32_t>(count) ^ keys.next());
  put_le32(head, static_cast<std::uint32_t>(names.size()) ^ keys.next());
  for (const ArchiveEntry& e : entries) {
    put_le32(head, e.name_offset ^ keys.next());
    put_le32(head, e.data_offset ^ keys.next());
    put_le32(head, e.data_size ^ keys.next());
  }
  head += names;

  AtomicOutput out;
  if (!out.open(path)) return fail("cannot create " + path + ": " + std::strerror(errno));
  if (!out.write(head.data(), head.size())) return fail("cannot write " + path);
  std::unique_ptr<char[]> chunk(new char[1 << 16]);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const int fd = host_file::open_read(sources[i].host_path);
    if (fd < 0) return fail("cannot read " + sources[i].host_path);
    std::uint64_t left = sizes[i];
    bool ok = true;
    while (ok && left > 0) {
      const std::int64_t n = host_file::read(
          fd, chunk.get(), static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 16)));
      ok = n > 0 && out.write(chunk.get(), static_cast<std::size_t>(n));
      if (ok) left -= static_cast<std::uint64_t>(n);
    }
    char extra;
    // A file that changed size while packing would break the directory.
    if (ok && host_file::read(fd, &extra, 1) != 0) ok = false;
    host_file::close(fd);
    if (!ok) return fail("cannot read " + sources[i].host_path + " (or it changed while packing)");
  }
  if (!out.commit()) return fail("cannot write " + path + ": " + std::strerror(errno));
  return true;
}

}  // namespace talven::storage
