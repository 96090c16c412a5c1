// Script-facing filter builtins: decode, call the filter, encode.
#include "graphics/filter/filter_builtins.h"

#include "graphics/filter/filters.h"
#include "runtime/builtins.h"

namespace talven::graphics {

namespace {

bool read_args(Addr args, unsigned n, std::uint32_t* w) { return runtime::read_arg_words(args, n, w); }

std::int32_t s32(std::uint32_t v) { return std::int32_t(v); }

}  // namespace

std::uint32_t bi_freemap(Addr args) {
  std::uint32_t w[5];
  if (!read_args(args, 5, w)) return 0;
  Point64 points[4];
  const Point64* pp = nullptr;
  if (w[1]) {
    std::int32_t raw[8];
    if (!read_bytes(w[1], raw, sizeof raw)) return 0;
    for (int i = 0; i < 4; ++i) points[i] = {raw[2 * i], raw[2 * i + 1]};
    pp = points;
  }
  Rect sr;
  const Rect* sp;
  if (!optional_rect(w[3], sr, sp)) return 0;
  return std::uint32_t(freemap(plane_at(s32(w[0])), pp, plane_at(s32(w[2])), sp, s32(w[4])));
}

std::uint32_t bi_smooth(Addr args) {
  std::uint32_t w[5];
  if (!read_args(args, 5, w)) return 0;
  Rect dr, sr;
  const Rect *dp, *sp;
  if (!optional_rect(w[1], dr, dp) || !optional_rect(w[3], sr, sp)) return 0;
  return std::uint32_t(smooth(plane_at(s32(w[0])), dp, plane_at(s32(w[2])), sp, s32(w[4])));
}

std::uint32_t bi_rotate(Addr args) {
  std::uint32_t w[6];
  if (!read_args(args, 6, w)) return 0;
  Rect dr, sr;
  const Rect *dp, *sp;
  if (!optional_rect(w[1], dr, dp) || !optional_rect(w[3], sr, sp)) return 0;
  return std::uint32_t(rotate(plane_at(s32(w[0])), dp, plane_at(s32(w[2])), sp, s32(w[4]), s32(w[5])));
}

std::uint32_t bi_tiled(Addr args) {
  std::uint32_t w[6];
  if (!read_args(args, 6, w)) return 0;
  Rect dr, sr;
  const Rect *dp, *sp;
  if (!optional_rect(w[1], dr, dp) || !optional_rect(w[3], sr, sp)) return 0;
  return std::uint32_t(tiled(plane_at(s32(w[0])), dp, plane_at(s32(w[2])), sp, s32(w[4]), s32(w[5])));
}

std::uint32_t bi_scroll(Addr args) {
  std::uint32_t w[4];
  if (!read_args(args, 4, w)) return 0;
  Rect r;
  const Rect* rp;
  if (!optional_rect(w[1], r, rp)) return 0;
  return std::uint32_t(scroll(plane_at(s32(w[0])), rp, s32(w[2]), s32(w[3])));
}

namespace {

std::uint32_t rect_amount(Addr args, int (*filter)(Plane*, const Rect*, std::int32_t)) {
  std::uint32_t w[3];
  if (!read_args(args, 3, w)) return 0;
  Rect r;
  const Rect* rp;
  if (!optional_rect(w[1], r, rp)) return 0;
  return std::uint32_t(filter(plane_at(s32(w[0])), rp, s32(w[2])));
}

}  // namespace

std::uint32_t bi_noise(Addr args) { return rect_amount(args, noise); }
std::uint32_t bi_slice(Addr args) { return rect_amount(args, slice); }

std::uint32_t bi_gradation(Addr args) {
  std::uint32_t w[5];
  if (!read_args(args, 5, w)) return 0;
  Rect sr;
  const Rect* sp;
  if (!optional_rect(w[4], sr, sp)) return 0;
  return std::uint32_t(gradation(plane_at(s32(w[0])), s32(w[1]), s32(w[2]), plane_at(s32(w[3])), sp));
}

std::uint32_t bi_mosaic(Addr args) {
  std::uint32_t w[7];
  if (!read_args(args, 7, w)) return 0;
  Rect sr;
  const Rect* sp;
  if (!optional_rect(w[4], sr, sp)) return 0;
  return std::uint32_t(mosaic(plane_at(s32(w[0])), s32(w[1]), s32(w[2]), plane_at(s32(w[3])), sp,
                              s32(w[5]), s32(w[6])));
}

std::uint32_t bi_monotone(Addr args) {
  std::uint32_t w[4];
  if (!read_args(args, 4, w)) return 0;
  Rect r;
  const Rect* rp;
  if (!optional_rect(w[1], r, rp)) return 0;
  return std::uint32_t(monotone(plane_at(s32(w[0])), rp, w[2], w[3]));
}

std::uint32_t bi_blur(Addr args) {
  std::uint32_t w[6];
  if (!read_args(args, 6, w)) return 0;
  Rect sr;
  const Rect* sp;
  if (!optional_rect(w[4], sr, sp)) return 0;
  return std::uint32_t(blur(plane_at(s32(w[0])), s32(w[1]), s32(w[2]), plane_at(s32(w[3])), sp, s32(w[5])));
}

std::uint32_t bi_fire(Addr args) {
  std::uint32_t w[2];
  if (!read_args(args, 2, w)) return 0;
  Rect r;
  const Rect* rp;
  if (!optional_rect(w[1], r, rp)) return 0;
  return std::uint32_t(fire(plane_at(s32(w[0])), rp));
}

}  // namespace talven::graphics
