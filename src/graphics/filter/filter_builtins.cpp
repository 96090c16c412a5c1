// Script-facing filter builtins: read the rectangles and points the
// arguments point to, call the filter.
#include "graphics/filter/filter_builtins.h"

#include <type_traits>

#include "graphics/filter/filters.h"
#include "graphics/plane/builtin_args.h"

namespace talven::graphics {

namespace {

// op(dst, dst area, src, src area, extra...) for two plane slots with
// their rectangle arguments; 0 when a rectangle cannot be read.
template <class... Extra>
std::int32_t between_areas(int (*op)(Plane*, const Rect*, Plane*, const Rect*, Extra...),
                           std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect,
                           std::type_identity_t<Extra>... extra) {
  const RectArg dr(dst_rect), sr(src_rect);
  if (!dr.ok() || !sr.ok()) return 0;
  return op(plane_at(dst), dr.get(), plane_at(src), sr.get(), extra...);
}

// op(dst, x, y, src, src area, extra...): a source area drawn at (x, y);
// 0 when the rectangle cannot be read.
template <class... Extra>
std::int32_t from_area(int (*op)(Plane*, std::int32_t, std::int32_t, Plane*, const Rect*, Extra...),
                       std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                       Addr src_rect, std::type_identity_t<Extra>... extra) {
  const RectArg sr(src_rect);
  if (!sr.ok()) return 0;
  return op(plane_at(dst), x, y, plane_at(src), sr.get(), extra...);
}

}  // namespace

std::int32_t bi_freemap(std::int32_t dst, Addr corners, std::int32_t src, Addr src_rect,
                        std::int32_t key) {
  Point64 points[4];
  const Point64* pp = nullptr;
  if (corners) {
    std::int32_t raw[8];
    if (!read_bytes(corners, raw, sizeof raw)) return 0;
    for (int i = 0; i < 4; ++i) points[i] = {raw[2 * i], raw[2 * i + 1]};
    pp = points;
  }
  const RectArg sr(src_rect);
  if (!sr.ok()) return 0;
  return freemap(plane_at(dst), pp, plane_at(src), sr.get(), key);
}

std::int32_t bi_smooth(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect,
                       std::int32_t key) {
  return between_areas(smooth, dst, dst_rect, src, src_rect, key);
}

std::int32_t bi_rotate(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect,
                       std::int32_t angle, std::int32_t key) {
  return between_areas(rotate, dst, dst_rect, src, src_rect, angle, key);
}

std::int32_t bi_tiled(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect,
                      std::int32_t angle, std::int32_t zoom) {
  return between_areas(tiled, dst, dst_rect, src, src_rect, angle, zoom);
}

std::int32_t bi_scroll(std::int32_t plane, Addr rect, std::int32_t dx, std::int32_t dy) {
  return on_area(scroll, plane, rect, dx, dy);
}

std::int32_t bi_noise(std::int32_t plane, Addr rect, std::int32_t amount) {
  return on_area(noise, plane, rect, amount);
}
std::int32_t bi_slice(std::int32_t plane, Addr rect, std::int32_t amount) {
  return on_area(slice, plane, rect, amount);
}

std::int32_t bi_gradation(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                          Addr src_rect) {
  return from_area(gradation, dst, x, y, src, src_rect);
}

std::int32_t bi_mosaic(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                       Addr src_rect, std::int32_t block_w, std::int32_t block_h) {
  return from_area(mosaic, dst, x, y, src, src_rect, block_w, block_h);
}

std::int32_t bi_monotone(std::int32_t plane, Addr rect, std::uint32_t dark, std::uint32_t light) {
  return on_area(monotone, plane, rect, dark, light);
}

std::int32_t bi_blur(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                     Addr src_rect, std::int32_t radius) {
  return from_area(blur, dst, x, y, src, src_rect, radius);
}

std::int32_t bi_fire(std::int32_t plane, Addr rect) { return on_area(fire, plane, rect); }

}  // namespace talven::graphics
