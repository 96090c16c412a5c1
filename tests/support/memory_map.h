// The process's memory regions and their protection, for tests that check
// that no memory is writable and executable at once: /proc/self/maps on
// Linux, VirtualQuery's walk of the address space on Windows (there only
// the memory the process allocated itself, not the images mapped into it).
// Protection is written "rwx" style: "r-x", "rw-", "---".
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace talven::test {

struct MemoryRegion {
  std::uintptr_t start = 0, end = 0;
  std::string perms;  // "rwx" style, at least three characters
};

#ifdef _WIN32
namespace detail {
inline std::string perms_of(DWORD protect) {
  switch (protect & 0xFF) {
    case PAGE_READONLY: return "r--";
    case PAGE_READWRITE:
    case PAGE_WRITECOPY: return "rw-";
    case PAGE_EXECUTE: return "--x";
    case PAGE_EXECUTE_READ: return "r-x";
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY: return "rwx";
    default: return "---";
  }
}
}  // namespace detail
#endif

// Whether this host can list the regions at all.
inline bool memory_map_readable() {
#ifdef _WIN32
  return true;
#else
  return std::ifstream("/proc/self/maps").good();
#endif
}

inline std::vector<MemoryRegion> memory_regions() {
  std::vector<MemoryRegion> out;
#ifdef _WIN32
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  auto at = reinterpret_cast<std::uintptr_t>(info.lpMinimumApplicationAddress);
  const auto top = reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress);
  MEMORY_BASIC_INFORMATION m;
  while (at < top && ::VirtualQuery(reinterpret_cast<void*>(at), &m, sizeof m) == sizeof m) {
    const auto base = reinterpret_cast<std::uintptr_t>(m.BaseAddress);
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE)
      out.push_back({base, base + m.RegionSize, detail::perms_of(m.Protect)});
    if (base + m.RegionSize <= at) break;
    at = base + m.RegionSize;
  }
#else
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    char perms[8] = {};
    unsigned long start = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx %7s", &start, &end, perms) != 3) continue;
    out.push_back({start, end, perms});
  }
#endif
  return out;
}

}  // namespace talven::test
