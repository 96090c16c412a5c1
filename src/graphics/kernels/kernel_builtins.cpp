// Script-facing copy and fill builtins: read the records the arguments
// point to, call the kernels.
#include "graphics/kernels/kernel_builtins.h"

#include <cstring>
#include <vector>

#include "graphics/kernels/kernels.h"
#include "graphics/plane/builtin_args.h"

namespace talven::graphics {

namespace {

// Largest gpoly point count read from script memory.
constexpr std::uint32_t kMaxPolyPoints = 1u << 20;

int blit(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect, Addr mode_record,
         std::int32_t angle, bool bilinear) {
  const RectArg dr(dst_rect), sr(src_rect);
  BlendMode mode;
  if (!dr.ok() || !sr.ok() || !load_blend_mode(mode_record, mode)) return 0;
  return rotated_copy(plane_at(dst), dr.get(), plane_at(src), sr.get(), mask_of(src), &mode, angle,
                      bilinear);
}

}  // namespace

std::int32_t bi_gcopy(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                      Addr src_rect, Addr mode_record) {
  const RectArg sr(src_rect);
  BlendMode mode;
  if (!sr.ok() || !load_blend_mode(mode_record, mode)) return 0;
  return gcopy(dst, x, y, src, sr.get(), &mode);
}

std::int32_t bi_gblit(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect, Addr mode,
                      std::int32_t angle) {
  return blit(dst, dst_rect, src, src_rect, mode, angle, false);
}

std::int32_t bi_gblita(std::int32_t dst, Addr dst_rect, std::int32_t src, Addr src_rect, Addr mode,
                       std::int32_t angle) {
  return blit(dst, dst_rect, src, src_rect, mode, angle, true);
}

std::int32_t bi_gclear(std::int32_t plane, Addr rect, std::uint32_t color) {
  return on_area(solid_fill, plane, rect, color);
}

std::int32_t bi_gfill(std::int32_t plane, std::int32_t x, std::int32_t y, std::int32_t width,
                      std::int32_t height, std::uint32_t color) {
  return gfill(plane_at(plane), x, y, width, height, color);
}

std::int32_t bi_gline(std::int32_t plane, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                      std::int32_t y2, std::uint32_t color) {
  return gline(plane_at(plane), x1, y1, x2, y2, color);
}

std::int32_t bi_gpoly(std::int32_t plane, Addr points, std::int32_t count, std::uint32_t color) {
  if (count < 3 || std::uint32_t(count) > kMaxPolyPoints) return 0;
  const std::uint8_t* p = span(points, 8ull * std::uint32_t(count));
  if (!p) return 0;
  std::vector<std::int32_t> pts(std::size_t(count) * 2);
  std::memcpy(pts.data(), p, pts.size() * 4);
  return gpoly(plane_at(plane), pts.data(), count, color);
}

}  // namespace talven::graphics
