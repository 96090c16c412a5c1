// Script-facing copy and fill builtins: decode, call the kernels, encode.
#include "graphics/kernels/kernel_builtins.h"

#include <cstring>
#include <vector>

#include "graphics/kernels/kernels.h"
#include "runtime/builtins.h"

namespace talven::graphics {

namespace {

// Largest gpoly point count read from script memory.
constexpr std::uint32_t kMaxPolyPoints = 1u << 20;

bool read_args(Addr args, int n, std::uint32_t* w) {
  return runtime::read_arg_words(args, static_cast<unsigned>(n), w);
}

std::int32_t s32(std::uint32_t v) { return std::int32_t(v); }

std::uint32_t blit(Addr args, bool bilinear) {
  std::uint32_t w[6];
  if (!read_args(args, 6, w)) return 0;
  Rect dr, sr;
  const Rect *dp, *sp;
  BlendMode mode;
  if (!optional_rect(w[1], dr, dp) || !optional_rect(w[3], sr, sp) || !load_blend_mode(w[4], mode)) return 0;
  std::int32_t src_slot = s32(w[2]);
  return std::uint32_t(rotated_copy(plane_at(s32(w[0])), dp, plane_at(src_slot), sp,
                                    mask_of(src_slot), &mode, s32(w[5]), bilinear));
}

}  // namespace

std::uint32_t bi_gcopy(Addr args) {
  std::uint32_t w[6];
  if (!read_args(args, 6, w)) return 0;
  Rect sr;
  const Rect* sp;
  BlendMode mode;
  if (!optional_rect(w[4], sr, sp) || !load_blend_mode(w[5], mode)) return 0;
  return std::uint32_t(gcopy(s32(w[0]), s32(w[1]), s32(w[2]), s32(w[3]), sp, &mode));
}

std::uint32_t bi_gblit(Addr args) { return blit(args, false); }
std::uint32_t bi_gblita(Addr args) { return blit(args, true); }

std::uint32_t bi_gclear(Addr args) {
  std::uint32_t w[3];
  if (!read_args(args, 3, w)) return 0;
  Rect r;
  const Rect* rp;
  if (!optional_rect(w[1], r, rp)) return 0;
  return std::uint32_t(solid_fill(plane_at(s32(w[0])), rp, w[2]));
}

std::uint32_t bi_gfill(Addr args) {
  std::uint32_t w[6];
  if (!read_args(args, 6, w)) return 0;
  return std::uint32_t(gfill(plane_at(s32(w[0])), s32(w[1]), s32(w[2]), s32(w[3]), s32(w[4]), w[5]));
}

std::uint32_t bi_gline(Addr args) {
  std::uint32_t w[6];
  if (!read_args(args, 6, w)) return 0;
  return std::uint32_t(gline(plane_at(s32(w[0])), s32(w[1]), s32(w[2]), s32(w[3]), s32(w[4]), w[5]));
}

std::uint32_t bi_gpoly(Addr args) {
  std::uint32_t w[4];
  if (!read_args(args, 4, w)) return 0;
  std::int32_t count = s32(w[2]);
  if (count < 3 || std::uint32_t(count) > kMaxPolyPoints) return 0;
  const std::uint8_t* p = span(w[1], 8ull * std::uint32_t(count));
  if (!p) return 0;
  std::vector<std::int32_t> pts(std::size_t(count) * 2);
  std::memcpy(pts.data(), p, pts.size() * 4);
  return std::uint32_t(gpoly(plane_at(s32(w[0])), pts.data(), count, w[3]));
}

}  // namespace talven::graphics
