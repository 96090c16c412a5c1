// Standard MIDI Files: the reader, then the sequence played into a silent
// synthesiser through a mixer rendered by hand.
#include "audio/midi/smf.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven::audio::midi;
  talven::fuzz::quiet();
  MidiSong song;
  if (read_smf(std::string_view(reinterpret_cast<const char*>(data), size), song)) {
    double last = 0;
    for (const MidiEvent& e : song.events)
      if (e.seconds < last || (e.status & 0x80) == 0)
        __builtin_trap();  // out of order or not a status
      else last = e.seconds;
  }
  return 0;
}
