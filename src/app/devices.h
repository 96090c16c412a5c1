// The device subsystems (text, sound, MIDI, video, CD audio, input, network,
// the system library's regular expressions and native libraries, 3D, mesh
// effects) as the runtime's start and stop see them.
//
// Each device keeps its own state in its own folder; this file holds one row
// per device in the device table (devices.cpp), so a device lands by adding
// its row there and nowhere else in app/. The table's order is the start
// order; the stop runs it backwards (see DeviceRow for each step's rule).
// Every hook runs on the main thread and must be idempotent (a runtime that
// is started again first runs the stop hooks once).
#pragma once

#include <span>
#include <string>

namespace talven {

// What the command line asks of the devices.
struct DeviceOptions {
  bool windowed = false;     // a display and a window exist
  std::string audio_out;     // --audio-out: mixed sound recorded as WAV here
  bool audio_fast = false;   // --audio-fast: the null audio device runs as fast as the game
  std::string input_file;    // --input: recorded input replayed into the run
  std::string record_input;  // --record-input: a windowed run's input recorded here
  bool untrusted = false;    // --untrusted: system calls confined to the game's folders
};

DeviceOptions& device_options();

// One device in the start and stop sequence; a null hook is a step the
// device does not take. The steps and the order each runs the table in:
//   start               table order (devices_start)
//   release             by release_turn, 1 first (devices_release): the
//                       runtime stop frees what the scripts made while every
//                       device is still up
//   shutdown            reverse table order (devices_shutdown)
//   activity            table order, with the new focus
//   application_paused  table order when the application pauses (false),
//                       reverse when it goes on (true)
struct DeviceRow {
  const char* name = nullptr;
  void (*start)() = nullptr;
  void (*release)() = nullptr;
  int release_turn = 0;  // 1.. for a row with release, 0 without
  void (*shutdown)() = nullptr;
  void (*activity)(bool active) = nullptr;
  void (*application_paused)(bool active) = nullptr;
};

// True when the rows with a release hook carry the turns 1..n, each once,
// and the rows without one carry 0.
constexpr bool release_turns_valid(std::span<const DeviceRow> rows) {
  int releasing = 0;
  for (const DeviceRow& row : rows) {
    if (!row.release) {
      if (row.release_turn != 0) return false;
      continue;
    }
    ++releasing;
    for (const DeviceRow& other : rows)
      if (&other != &row && other.release && other.release_turn == row.release_turn) return false;
  }
  for (const DeviceRow& row : rows)
    if (row.release && (row.release_turn < 1 || row.release_turn > releasing)) return false;
  return true;
}

// The runtime's device table, in start order.
std::span<const DeviceRow> device_table();

// The steps over any table (the functions below run them over
// device_table()). The release runner expects release_turns_valid(rows).
void devices_start_rows(std::span<const DeviceRow> rows);
void devices_release_rows(std::span<const DeviceRow> rows);
void devices_shutdown_rows(std::span<const DeviceRow> rows);
void devices_activity_rows(std::span<const DeviceRow> rows, bool active);
void devices_application_paused_rows(std::span<const DeviceRow> rows, bool active);

// Brings up the devices the configuration enables, in table order. A device
// that cannot start stays off; the game runs on.
void devices_start();

// The runtime stop's release pass, by release turn.
void devices_release();

// Shuts the devices down after the scripts' heap is freed, in reverse table
// order.
void devices_shutdown();

// Every change of input focus (the window gained or lost it): sound follows
// the focus, input is re-acquired.
void devices_activity(bool active);

// The application pauses (inactive with GlobalFocus 0, or around a display
// mode change) or goes on: MIDI, video and CD audio pause in that order and
// resume in the reverse one.
void devices_application_paused(bool active);

}  // namespace talven
