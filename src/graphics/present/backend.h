// The seam between presentation and the platform.
//
// `update` converts the view page into the frame: a screen-sized buffer of
// 32-bit pixels (bytes blue, green, red, unused), rows top-down. The backend
// shows it: the SDL window scales it into the window (letterboxed in full
// screen) or draws it 1:1; headless runs install no backend and the frame
// simply stays in memory (screenshots are taken from it).
//
// present() is called on the thread that called `update`, under the
// presentation lock; a backend that must draw on the main thread copies what
// it needs and hands it over.
#pragma once

#include <cstdint>

namespace talven::graphics {

struct FrameRegion {
  std::int32_t left, top, right, bottom;  // right and bottom exclusive
};

class PresentBackend {
 public:
  virtual ~PresentBackend() = default;
  // `frame` holds width * height pixels; `changed` is the part that differs
  // from the last call (the whole frame after a resize or reset).
  virtual void present(const std::uint32_t* frame, int width, int height,
                       const FrameRegion& changed) = 0;
};

// Installs the backend (null: headless). The caller keeps ownership.
void set_present_backend(PresentBackend* backend);

}  // namespace talven::graphics
