// The system's part of the script address space: reserving, committing and
// giving back pages. One implementation per platform
// (address_space_memory_posix.cpp, address_space_memory_win32.cpp); the
// allocator in address_space.cpp calls only these.
//
// Invariants every implementation keeps:
//   - reserve_space() memory is inaccessible until commit_space() covers it;
//   - committed memory reads as zero until it is first written;
//   - discard_space() keeps the range committed and accessible, its contents
//     undefined (the allocator never relies on freed memory being zero);
//   - map_zeroed() memory is read+write and zero, backed only when touched.
#pragma once

#include <cstdint>

namespace talven::space_memory {

// Reserves `bytes` of address space with no access; nullptr on failure.
std::uint8_t* reserve_space(std::uint64_t bytes);
// Makes [p, p + bytes) of a reservation read+write; false on failure.
bool commit_space(std::uint8_t* p, std::uint64_t bytes);
// Hands the physical pages of committed [p, p + bytes) back to the system.
void discard_space(std::uint8_t* p, std::uint64_t bytes);
// Fresh read+write memory of `bytes`, all zero; nullptr on failure.
std::uint8_t* map_zeroed(std::uint64_t bytes);

}  // namespace talven::space_memory
