#include "host/window_icon.h"

#include "graphics/plane/image_io.h"
#include "storage/file_layer.h"

namespace talven::host {

IconImage icon_from_plane(const graphics::Plane& plane) {
  IconImage icon;
  icon.width = plane.width;
  icon.height = plane.height;
  icon.argb.resize(static_cast<std::size_t>(plane.width) * static_cast<std::size_t>(plane.height));
  bool any_alpha = false;
  if (plane.bpp == 32) {
    for (int y = 0; y < plane.height && !any_alpha; ++y) {
      const std::uint8_t* row = plane.row(y);
      for (int x = 0; x < plane.width; ++x) {
        if (row[4 * x + 3] != 0) {
          any_alpha = true;
          break;
        }
      }
    }
  }
  std::size_t i = 0;
  for (int y = 0; y < plane.height; ++y) {
    const std::uint8_t* row = plane.row(y);
    for (int x = 0; x < plane.width; ++x, ++i) {
      const std::uint32_t alpha = any_alpha ? row[4 * x + 3] : 0xFFu;
      icon.argb[i] = alpha << 24 | (graphics::get_pixel_rgb(plane, x, y) & 0xFFFFFFu);
    }
  }
  return icon;
}

std::optional<IconImage> load_window_icon(std::string_view path, std::string* why) {
  // Checked first so that a missing icon is one start-up line, not a file
  // notice of the data layer.
  if (!storage::DataFileExists(path)) {
    *why = "no such file";
    return std::nullopt;
  }
  graphics::PlanePtr plane = graphics::LoadPlane(path);
  if (!plane || plane->width <= 0 || plane->height <= 0) {
    *why = "not a PNG or BMP image that can be read";
    return std::nullopt;
  }
  return icon_from_plane(*plane);
}

}  // namespace talven::host
