// MIDI music: one Standard MIDI File at a time, played by our own sequencer
// through a software synthesiser playing a General MIDI SoundFont (FluidSynth
// where it is built in and its library loads, else our own, sf2_synth.h)
// into a voice of the mixer.
//
// The sequencer sends every channel event at its sample time while the
// mixer pulls the voice, so the music's position is the samples really
// consumed. Channel volume (controller 7) is scaled on the way: the last
// value the music set for each of the 16 channels is kept, and what is sent
// is last × volume × master / 10000 (master is fixed at 100); a new volume
// re-sends the scaled values of all 16 channels at once. A song loaded anew
// starts at volume 100.
//
// Every operation runs on the main thread (the builtins reach it through
// main-thread calls); the mixer thread renders under the song's own lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace talven::audio {
class Mixer;
}

namespace talven::audio::midi {

// What the sequencer plays into: the synthesiser, or a recorder in tests.
class Synth {
 public:
  virtual ~Synth() = default;
  virtual void event(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
  virtual void all_sounds_off() = 0;
  // Renders frames of interleaved stereo floats.
  virtual void render(float* stereo, std::size_t frames) = 0;
};

struct MidiStart {
  bool enabled = false;      // configuration: DirectMusic
  Mixer* mixer = nullptr;    // null: sound is off, and MIDI with it
  std::string soundfont;     // host path of the SoundFont to load
  bool global_focus = true;  // configuration: GlobalSound
};

// The SoundFont a run uses: the configuration's SoundFont (a game path),
// else the first .sf2 file in the game's folder, else the system's General
// MIDI font. Empty when none exists.
std::string find_soundfont(const std::string& configured, const std::string& game_dir);

// Brings MIDI up; reports the start-up messages at level 1 and stays off on
// failure. `make_synth` replaces the synthesiser (tests).
bool midi_start(const MidiStart& start);
bool midi_start_with(Mixer* mixer, std::unique_ptr<Synth> (*make_synth)(std::uint32_t rate));
void midi_shutdown();
bool midi_on();

// The builtins' operations, with their results.
std::int32_t midi_load(std::string_view path);
std::int32_t midi_load_bytes(std::string_view data);
std::int32_t midi_free();
std::int32_t midi_play();
std::int32_t midi_stop();
std::int32_t midi_pause();
std::int32_t midi_replay();
std::int32_t midi_setvol(std::int32_t volume);
std::int32_t midi_getvol();
std::int32_t midi_isplay();
std::int32_t midi_getpos();
std::int32_t midi_repeat(std::int32_t flag);

}  // namespace talven::audio::midi
