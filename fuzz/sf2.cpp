// SoundFont 2 files: the reader, then a few notes on every preset's bank
// and program rendered briefly with the font it read.
#include <cmath>
#include <vector>

#include "audio/midi/sf2_font.h"
#include "audio/midi/sf2_synth.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::audio::midi;
  talven::fuzz::quiet();
  std::string why;
  auto font = sf2::read_font(std::span(data, size), &why);
  if (!font) {
    if (why.empty()) __builtin_trap();  // refused without a reason
    return 0;
  }
  Sf2Synth synth(font, 22050);
  std::vector<float> out(2 * 256);
  int notes = 0;
  for (const sf2::Preset& p : font->presets) {
    if (++notes > 8) break;
    const std::uint8_t ch = p.bank == 128 ? 9 : 0;
    synth.event(std::uint8_t(0xB0 | ch), 0, std::uint8_t(p.bank & 0x7F));
    synth.event(std::uint8_t(0xC0 | ch), std::uint8_t(p.program & 0x7F), 0);
    synth.event(std::uint8_t(0x90 | ch), 60, 100);
    synth.event(std::uint8_t(0x90 | ch), 30, 20);
    synth.event(0xE0, 0x7F, 0x7F);
    synth.render(out.data(), 256);
    synth.event(std::uint8_t(0x80 | ch), 60, 0);
    synth.render(out.data(), 200);
    for (float x : out)
      if (!std::isfinite(x)) __builtin_trap();
  }
  return 0;
}
