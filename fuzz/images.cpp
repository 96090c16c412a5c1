// Image files: BMP, PNG and JPEG readers on the same bytes.
#include "fuzz_common.h"
#include "graphics/plane/image_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::graphics;
  talven::fuzz::quiet();
  MemorySource bmp(data, size), png(data, size), jpeg(data, size);
  read_bmp(bmp);
  read_png(png);
  read_jpeg(jpeg);
  return 0;
}
