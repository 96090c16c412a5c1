// Standard MIDI Files (format 0 and 1, and format 2 played track after
// track) read into one time-ordered list of channel events.
//
// The reader trusts nothing: chunk lengths are clipped to the bytes there
// are, a running status without a status before it or an event cut short
// ends its track, SysEx and meta events are skipped by their lengths, and
// a tempo of 0 counts as 1 microsecond per quarter note. The list never
// holds more events than the file has bytes, so no file can make the
// reader work or allocate beyond its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace talven::audio::midi {

struct MidiEvent {
  double seconds = 0;       // from the start of the music
  std::uint8_t status = 0;  // 0x80..0xEF
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;
};

struct MidiSong {
  std::vector<MidiEvent> events;  // ordered by time, file order within a time
  double length_seconds = 0;      // time of the last event of any kind
};

// False for data that is not a Standard MIDI File (no "MThd" header of at
// least 6 bytes, a division of 0, or no track chunk at all).
bool read_smf(std::string_view data, MidiSong& song);

}  // namespace talven::audio::midi
