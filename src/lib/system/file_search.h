// File search and the platform records of files: Windows wildcard matching,
// directory listings as WIN32_FIND_DATAA records, attribute bits, FILETIME
// and SYSTEMTIME.
//
// A pattern is a game path whose last component may hold wildcards; the
// folder before it is resolved through the game-path layer. Names are
// compared as CP932 characters without regard to case. The wildcard rules
// are the platform's:
//   *    any run of characters;
//   ?    one character, or none where the name has a dot or ends;
//   .    before ? or * or at the end of the pattern: a dot, or the end of
//        the name (so "*.*" matches every name and "*." names without a dot);
//   *    before a dot: any run that does not take the name's last dot.
//
// Searches are snapshots taken at find_first, listed "." and ".." first and
// then by name without regard to case; handles are small integers 1..256.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/address_space.h"
#include "lib/system/host_files.h"
#include "lib/system/system_paths.h"

namespace talven::lib::system {

constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;

constexpr std::uint32_t kFindDataSize = 318;  // WIN32_FIND_DATAA without its tail padding
constexpr std::uint32_t kSystemTimeSize = 16;

// False for patterns or names of kMaxPath bytes or more.
bool wildcard_match(std::string_view pattern, std::string_view name);

// The generated 8.3 name of a long name, or "" when the name is already a
// valid 8.3 name (capitals only where it has letters).
std::string short_name(std::string_view name);

struct FoundEntry {
  std::string name;      // CP932
  std::string alt_name;  // 8.3 name or ""
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t created = 0, accessed = 0, written = 0;  // FILETIME values
};

// Attribute bits of a host file (read-only when it cannot be written, hidden
// for dot-names and files the host marks hidden, directory, else archive).
std::uint32_t attributes_of(std::string_view name, const HostFile& file);

// Every entry of the pattern's folder that the pattern matches. False when
// the pattern is unusable or its folder does not exist (or is refused).
bool find_entries(std::string_view pattern, std::vector<FoundEntry>& out, const char* builtin);

// Writes the record (kFindDataSize bytes); false when it does not fit.
bool write_find_data(Addr record, const FoundEntry& entry);

// 100-nanosecond ticks since 1601-01-01 UTC.
std::uint64_t filetime_from_unix(std::int64_t seconds, std::int64_t nanoseconds);
void unix_from_filetime(std::uint64_t filetime, std::int64_t& seconds, std::int64_t& nanoseconds);

struct SystemTime {
  std::uint16_t year, month, day_of_week, day, hour, minute, second, milliseconds;
};
// Local time of a moment; false when out of the record's range.
bool local_system_time(std::int64_t seconds, std::int64_t nanoseconds, SystemTime& out);
// The moment a local time names; false for an invalid record.
bool moment_of_local_time(const SystemTime& t, std::int64_t& seconds, std::int64_t& nanoseconds);

// The search handle table.
std::int32_t open_search(std::vector<FoundEntry> entries);  // handle, or -1 when full
const FoundEntry* next_found(std::int32_t handle);          // null at the end or for a bad handle
bool close_search(std::int32_t handle);
void close_all_searches();

}  // namespace talven::lib::system
