// Helpers shared by the filter files: pixel views over planes or snapshots,
// rectangle resolution with 64-bit edges, and colour-key tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/plane/plane.h"

namespace talven::graphics::filter_detail {

inline bool filter_depth(const Plane* p) {
  return p && (p->bpp == 8 || p->bpp == 16 || p->bpp == 24 || p->bpp == 32);
}

// Pixels addressed top-down in plane coordinates.
struct View {
  std::uint8_t* base = nullptr;  // pixel (ox, oy)
  std::int64_t stride = 0;       // bytes from one row to the row below
  std::int32_t ox = 0, oy = 0;
  int bytes = 0;
  std::uint8_t* at(std::int64_t x, std::int64_t y) const {
    return base + (y - oy) * stride + (x - ox) * bytes;
  }
  std::uint8_t* row(std::int64_t y) const {
    return base + (y - oy) * stride - std::int64_t(ox) * bytes;
  }
};

inline View plane_view(const Plane& p) {
  return View{p.row(0), -std::int64_t(p.stride), 0, 0, p.bpp / 8};
}

// The source area of a filter. When the source plane is also the
// destination, the area is copied first so that writes never feed reads.
struct SourceArea {
  View view;
  std::vector<std::uint8_t> copy;

  SourceArea(const Plane& src, const Rect& area, bool snapshot) {
    view = plane_view(src);
    if (!snapshot || area.empty()) return;
    const std::int64_t row_bytes = area.width() * view.bytes;
    copy.resize(std::size_t(row_bytes * area.height()));
    for (std::int64_t y = area.top; y < area.bottom; ++y)
      std::memcpy(copy.data() + (y - area.top) * row_bytes, view.at(area.left, y),
                  std::size_t(row_bytes));
    view = View{copy.data(), row_bytes, area.left, area.top, view.bytes};
  }
};

// Source rectangle: null is the whole plane; always cut to the plane.
inline Rect source_rect(const Plane& src, const Rect* r) {
  return r ? intersect(*r, src.bounds()) : src.bounds();
}

// A 64-bit rectangle, for placements that may run past the 32-bit range.
struct Rect64 {
  std::int64_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
};

inline Rect to_rect(const Rect64& r) {
  auto c = [](std::int64_t v) {
    return std::int32_t(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
  };
  return Rect{c(r.left), c(r.top), c(r.right), c(r.bottom)};
}

// The destination area of a copy of `src` (w x h) to (x, y), cut to the
// destination's clip. Empty when nothing is visible.
inline Rect placed_area(const Plane& dst, std::int32_t x, std::int32_t y, const Rect& src) {
  Rect64 r{x, y, std::int64_t(x) + src.width(), std::int64_t(y) + src.height()};
  const Rect& c = dst.clip;
  r.left = std::max<std::int64_t>(r.left, c.left);
  r.top = std::max<std::int64_t>(r.top, c.top);
  r.right = std::min<std::int64_t>(r.right, c.right);
  r.bottom = std::min<std::int64_t>(r.bottom, c.bottom);
  if (r.empty()) return Rect{};
  return to_rect(r);
}

// The key as a pixel value of the source's depth; `on` false without a key.
struct KeyTest {
  bool on = false;
  std::uint32_t value = 0;
  int bytes = 0;

  KeyTest(std::int32_t key, const Plane& src) : bytes(src.bpp / 8) {
    if (key < 0) return;
    on = true;
    const std::uint32_t k = std::uint32_t(key);
    if (bytes == 1) {
      value = color_to_index(k) & 0xFF;
    } else {
      const std::uint32_t rgb = color_to_rgb(k);
      value = bytes == 2 ? rgb15(rgb) : rgb;
    }
  }
  bool match(const std::uint8_t* p) const {
    switch (bytes) {
      case 1: return p[0] == value;
      case 2: return ((p[0] | p[1] << 8) & 0x7FFF) == value;
      default: return std::uint32_t(p[0] | p[1] << 8 | p[2] << 16) == value;
    }
  }
};

inline std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

inline std::int64_t positive_mod(std::int64_t a, std::int64_t m) {
  std::int64_t r = a % m;
  return r < 0 ? r + m : r;
}

}  // namespace talven::graphics::filter_detail
