// The SoundFont 2 synthesiser: General MIDI on 16 channels, played from a
// font read by sf2_font.h, rendered as interleaved stereo floats.
//
// Channel 10 plays bank 128 (drums); the others play the bank that
// controller 0 (else 32) selected at the last program change. A note starts
// one voice per matching instrument zone under every matching preset zone:
// instrument generators are absolute (the zone's over the instrument's
// global zone over the defaults), preset generators add to them (the
// zone's over the preset's global zone). The default modulators apply:
// velocity to attenuation (concave, 96 dB) and to filter cutoff (-2400
// cents), controllers 7 and 11 to attenuation (-40·log10(value/127) dB),
// controller 10 to pan, controller 1 to vibrato depth (50 cents), the
// pitch wheel over the range RPN 0 sets (2 semitones at first); zones may
// restate the amounts of the two velocity modulators and of controller 1
// (layered like generators). Other modulators, key and channel pressure,
// reverb and chorus are not played. Envelopes, LFOs, pitch and the
// low-pass filter are updated every kControlFrames frames; samples are
// read with 4-point interpolation. At most kMaxVoices sound at once (and
// kMaxLayers for one note): a new note takes the place of the quietest
// released voice, else the quietest voice. Output is a function of the
// events and render calls alone (no clock, no randomness).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/midi/midi_player.h"
#include "audio/midi/sf2_font.h"

namespace talven::audio::midi {

class Sf2Synth : public Synth {
 public:
  static constexpr int kMaxVoices = 256;
  static constexpr int kControlFrames = 64;
  static constexpr int kMaxLayers = 32;  // voices one note starts at most

  Sf2Synth(std::shared_ptr<const sf2::Font> font, std::uint32_t rate);
  ~Sf2Synth() override;

  void event(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
  void all_sounds_off() override;
  void render(float* stereo, std::size_t frames) override;

  // Voices sounding now (tests, measurements).
  int active_voices() const;

  struct Voice;
  struct Channel;

 private:
  void note_on(int ch, int key, int velocity);
  void note_off(int ch, int key);
  void controller(int ch, int number, int value);
  void program_change(int ch, int program);
  void start_voice(int ch, int key, int velocity, const sf2::Zone& preset_global,
                   const sf2::Zone& preset_zone, const sf2::Instrument& instrument,
                   const sf2::Zone& zone);
  Voice& free_voice();

  std::shared_ptr<const sf2::Font> font_;
  double rate_;
  std::vector<Channel> channels_;
  std::vector<Voice> voices_;
  std::uint64_t next_serial_ = 1;   // voices and notes, in order
  std::uint64_t current_note_ = 0;  // the note whose voices are starting
  std::vector<float> mix_;          // one voice's block before panning
};

}  // namespace talven::audio::midi
