// The compressed data format: whole images and the streaming decoder. The
// declared length is never allocated: only the bytes the codes spell are
// held, and the streaming decoder's sink keeps nothing.
#include "fuzz_common.h"
#include "storage/compressed.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::storage;
  talven::fuzz::quiet();
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  std::string decoded;
  std::uint32_t declared = 0;
  const bool expanded = expand_decoded(image, decoded, declared);
  if (expanded && decoded.size() > declared) __builtin_trap();
  auto r = open_memory_bit_reader(image);
  std::uint32_t signature, length;
  if (r && read_bits(*r, 32, signature) && read_bits(*r, 32, length)) {
    std::uint64_t streamed = 0;
    const bool ok = decode_to(
        *r, length, [](const std::uint8_t*, std::size_t) { return true; }, &streamed);
    // Both decoders take the same codes to the same bytes.
    if (expanded && ok && streamed != decoded.size()) __builtin_trap();
  }
  return 0;
}
