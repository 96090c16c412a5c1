// The device subsystems (text, sound, MIDI, video, CD audio, input, network,
// the system library's regular expressions and native libraries, 3D, mesh
// effects) as the runtime's start and stop see them.
//
// Each device keeps its own state in its own folder; this file only calls
// its hooks in the fixed order of the start-up and shut-down sequence, so a
// device lands by filling in its lines here and nowhere else in host/app.
// Every hook runs on the main thread and must be idempotent (a runtime that
// is started again first runs the stop hooks once).
#pragma once

#include <string>

namespace talven {

// What the command line asks of the devices.
struct DeviceOptions {
  bool windowed = false;          // a display and a window exist
  std::string audio_out;          // --audio-out: mixed sound recorded as WAV here
  bool audio_fast = false;        // --audio-fast: the null audio device runs as fast as the game
  std::string input_file;         // --input: recorded input replayed into the run
  std::string record_input;       // --record-input: a windowed run's input recorded here
  bool untrusted = false;         // --untrusted: system calls confined to the game's folders
};

DeviceOptions& device_options();

// Brings up the devices the configuration enables, in order: network,
// sound, MIDI, input, CD audio. A device that cannot start stays off; the
// game runs on.
void devices_start();

// The runtime stop steps of the devices, in order: video, sound buffers,
// MIDI, CD audio, the network link, regular expressions, fonts, native
// libraries, the 3D renderer, mesh effects.
void devices_release();

// Shuts the devices down after the scripts' heap is freed: CD audio, input,
// MIDI, sound, network.
void devices_shutdown();

// Every change of input focus (the window gained or lost it): sound, MIDI,
// video and CD audio pause or resume, input is re-acquired.
void devices_activity(bool active);

// The application pauses (inactive with GlobalFocus 0, or around a display
// mode change) or goes on: MIDI, video and CD audio pause and resume, in
// that order and back.
void devices_application_paused(bool active);

}  // namespace talven
