// The main window's icon: the image named by the Icon configuration key,
// read through the data-file layer (so it may lie in an archive) and turned
// into the 32-bit pixels the window system takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/plane/plane.h"

namespace talven::host {

// Pixels as 0xAARRGGBB, rows top to bottom.
struct IconImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
};

// The pixels of a plane. 32-bit planes keep their alpha unless every pixel
// has alpha 0 (32-bit bitmaps that leave the byte unused), which is taken as
// opaque; other depths are opaque.
IconImage icon_from_plane(const graphics::Plane& plane);

// Reads the icon at game path `path` (PNG or BMP, by its extension);
// nullopt with the reason in *why when it is missing or cannot be read.
std::optional<IconImage> load_window_icon(std::string_view path, std::string* why);

}  // namespace talven::host
