// Sound files: WAV and Ogg Vorbis headers and data, decoded to the end.
#include <vector>

#include "audio/sound_file.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::audio;
  talven::fuzz::quiet();
  auto file = SoundFile::open(std::vector<std::uint8_t>(data, data + size));
  if (!file) return 0;
  std::vector<std::uint8_t> out(4096);
  for (int i = 0; i < 256 && file->fill(out.data(), std::uint32_t(out.size())) == out.size(); ++i) {
  }
  file->seek(file->length() / 2);
  file->fill(out.data(), std::uint32_t(out.size()));
  (void)file->comment();
  return 0;
}
