#include "host/app/devices.h"
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

void devices_start() {
  lib::system_start(device_options().untrusted);  // system library (untrusted switch)
  net::net_start();  // network
  audio::sound_start({device_options().windowed, device_options().audio_out,
                      device_options().audio_fast});  // sound
  audio::midi::midi_device_start(config().module_dir.c_str());  // MIDI
  audio::video::media_device_start(host::main_window_minimized);  // video (plays into the sound mixer when sound is on)
  input::InputStart input_options;  // input
  input_options.windowed = device_options().windowed;
  input_options.input_file = device_options().input_file;
  input_options.record_input = device_options().record_input;
  input_options.window = {host::main_sdl_window,         host::main_client_size,     host::is_full_screen,
                          host::request_cursor_visible,  host::request_cursor_confine, host::request_cursor_warp};
  input_options.attach_events = host::set_input_event_hook;
  input::input_start(input_options);
  audio::cd::cd_device_start(config().module_dir.c_str());  // CD audio
}

void devices_release() {
  audio::video::media_release();  // video
  audio::sound_release();  // sound buffers
  audio::midi::midi_release();  // MIDI
  audio::cd::cd_release();  // CD audio
  net::net_close();  // network link
  lib::regex_release();  // regular expressions
  graphics::fonts_release();  // fonts
  lib::native_release();  // native libraries
  graphics::render3d_shutdown();  // 3D renderer
  graphics::effects_release();  // mesh effects
}

void devices_shutdown() {
  audio::cd::cd_device_shutdown();  // CD audio
  input::input_shutdown();  // input
  audio::video::media_device_shutdown();  // video
  audio::midi::midi_device_shutdown();  // MIDI
  audio::sound_shutdown();  // sound
  net::net_shutdown();  // network
}

void devices_activity(bool active) {
  (void)active;
  audio::sound_focus(active);  // sound
  // MIDI
  // video
  // CD audio
  input::input_activity(active);  // input
}

void devices_application_paused(bool active) {
  if (!active) {
    audio::midi::midi_application_paused(false);  // MIDI
    audio::video::media_application_paused(false);  // video
    audio::cd::cd_application_paused(false);  // CD audio
  } else {
    audio::cd::cd_application_paused(true);  // CD audio
    audio::video::media_application_paused(true);  // video
    audio::midi::midi_application_paused(true);  // MIDI
  }
}

}  // namespace talven
