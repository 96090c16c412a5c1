#include "host/app/devices.h"

namespace talven {

DeviceOptions& device_options() {
  static DeviceOptions options;
  return options;
}

void devices_start() {
  // network
  // sound
  // MIDI
  // input
  // CD audio
}

void devices_release() {
  // video
  // sound buffers
  // MIDI
  // CD audio
  // network link
  // regular expressions
  // fonts
  // native libraries
  // 3D renderer
  // mesh effects
}

void devices_shutdown() {
  // CD audio
  // input
  // MIDI
  // sound
  // network
}

void devices_activity(bool active) {
  (void)active;
  // sound
  // MIDI
  // video
  // CD audio
  // input
}

}  // namespace talven
