// The access functions that native libraries receive from dll_load, in the
// layout of `talven_native_api` of sdk/talven_native.h (the header game
// authors compile against; a test keeps the two in step).
#pragma once

#include <cstdint>

namespace talven::lib::system {

constexpr std::uint32_t kNativeApiVersion = 1;

struct NativeApi {
  std::uint32_t version;
  void* (*span)(std::uint32_t address, std::uint32_t length);
  char* (*string)(std::uint32_t address, std::uint32_t max_length);
  std::uint32_t (*address_of)(const void* pointer);
  std::uint32_t (*alloc)(std::uint32_t size);
  int (*release)(std::uint32_t address);
};

// The table handed to every library that exports talven_native_init.
const NativeApi& native_api();

}  // namespace talven::lib::system
