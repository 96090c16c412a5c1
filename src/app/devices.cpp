#include "app/devices.h"
#include "host/window.h"
#include "audio/cd/cd_builtins.h"
#include "audio/midi/midi_builtins.h"
#include "audio/video/media_builtins.h"
#include "base/config.h"
#include "audio/sound_builtins.h"
#include "graphics/effect/effects.h"
#include "graphics/text/text.h"
#include "input/input_builtins.h"
#include "lib/system/system_builtins.h"
#include "graphics/render3d/render3d_builtins.h"
#include "net/net_link.h"

namespace talven {

DeviceOptions& device_options() {
  static DeviceOptions options;
  return options;
}

namespace {

void start_system_library() { lib::system_start(device_options().untrusted); }

void start_sound() {
  audio::sound_start(
      {device_options().windowed, device_options().audio_out, device_options().audio_fast});
}

void start_midi() { audio::midi::midi_device_start(config().module_dir.c_str()); }

// Video plays into the sound mixer when sound is on, so it starts after it.
void start_video() { audio::video::media_device_start(host::main_window_minimized); }

void start_input() {
  input::InputStart options;
  options.windowed = device_options().windowed;
  options.input_file = device_options().input_file;
  options.record_input = device_options().record_input;
  options.window = {host::main_sdl_window,        host::main_client_size,
                    host::is_full_screen,         host::request_cursor_visible,
                    host::request_cursor_confine, host::request_cursor_warp};
  options.attach_events = host::set_input_event_hook;
  input::input_start(options);
}

void start_cd_audio() { audio::cd::cd_device_start(config().module_dir.c_str()); }

void close_network_link() { net::net_close(); }

// Rows in start order: the devices that play into the sound mixer (MIDI,
// video, CD audio) come after sound, and shut down before it in the reverse
// pass. The release pass is not the mirror of the start: it has always freed
// the video first, then the sound buffers, MIDI, CD audio and the network
// link, then the subsystems that never start (regular expressions, fonts,
// native libraries, 3D, mesh effects). Those steps each free only what their
// own device holds while every device is still up, but the table keeps the
// order the runtime stop has always had, so each release names its turn.
constexpr DeviceRow kDevices[] = {
    {.name = "system library", .start = start_system_library},
    {.name = "network",
     .start = net::net_start,
     .release = close_network_link,
     .release_turn = 5,
     .shutdown = net::net_shutdown},
    {.name = "sound",
     .start = start_sound,
     .release = audio::sound_release,
     .release_turn = 2,
     .shutdown = audio::sound_shutdown,
     .activity = audio::sound_focus},
    {.name = "MIDI",
     .start = start_midi,
     .release = audio::midi::midi_release,
     .release_turn = 3,
     .shutdown = audio::midi::midi_device_shutdown,
     .application_paused = audio::midi::midi_application_paused},
    {.name = "video",
     .start = start_video,
     .release = audio::video::media_release,
     .release_turn = 1,
     .shutdown = audio::video::media_device_shutdown,
     .application_paused = audio::video::media_application_paused},
    {.name = "input",
     .start = start_input,
     .shutdown = input::input_shutdown,
     .activity = input::input_activity},
    {.name = "CD audio",
     .start = start_cd_audio,
     .release = audio::cd::cd_release,
     .release_turn = 4,
     .shutdown = audio::cd::cd_device_shutdown,
     .application_paused = audio::cd::cd_application_paused},
    {.name = "regular expressions", .release = lib::regex_release, .release_turn = 6},
    {.name = "fonts", .release = graphics::fonts_release, .release_turn = 7},
    {.name = "native libraries", .release = lib::native_release, .release_turn = 8},
    {.name = "3D renderer", .release = graphics::render3d_shutdown, .release_turn = 9},
    {.name = "mesh effects", .release = graphics::effects_release, .release_turn = 10},
};
// release_turns_valid(kDevices) is checked by the device tests: GCC cannot
// compare function addresses in a constant expression in sanitizer builds.

}  // namespace

std::span<const DeviceRow> device_table() { return kDevices; }

void devices_start_rows(std::span<const DeviceRow> rows) {
  for (const DeviceRow& row : rows)
    if (row.start) row.start();
}

void devices_release_rows(std::span<const DeviceRow> rows) {
  for (int turn = 1;; ++turn) {
    const DeviceRow* next = nullptr;
    for (const DeviceRow& row : rows)
      if (row.release && row.release_turn == turn) next = &row;
    if (!next) return;
    next->release();
  }
}

void devices_shutdown_rows(std::span<const DeviceRow> rows) {
  for (auto row = rows.rbegin(); row != rows.rend(); ++row)
    if (row->shutdown) row->shutdown();
}

void devices_activity_rows(std::span<const DeviceRow> rows, bool active) {
  for (const DeviceRow& row : rows)
    if (row.activity) row.activity(active);
}

void devices_application_paused_rows(std::span<const DeviceRow> rows, bool active) {
  if (!active) {
    for (const DeviceRow& row : rows)
      if (row.application_paused) row.application_paused(false);
  } else {
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
      if (row->application_paused) row->application_paused(true);
  }
}

void devices_start() { devices_start_rows(kDevices); }
void devices_release() { devices_release_rows(kDevices); }
void devices_shutdown() { devices_shutdown_rows(kDevices); }
void devices_activity(bool active) { devices_activity_rows(kDevices, active); }
void devices_application_paused(bool active) { devices_application_paused_rows(kDevices, active); }

}  // namespace talven
