// The compressed data format: whole images and the streaming decoder.
#include "fuzz_common.h"
#include "storage/compressed.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::storage;
  talven::fuzz::quiet();
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  std::string out;
  expand_bytes(image, out);
  auto r = open_memory_bit_reader(image);
  std::uint32_t signature, length;
  if (r && read_bits(*r, 32, signature) && read_bits(*r, 32, length)) {
    std::uint64_t decoded = 0;
    decode_to(
        *r, length, [](const std::uint8_t*, std::size_t) { return true; }, &decoded);
  }
  return 0;
}
