// Script-facing mesh effect builtins: read the records the arguments point
// to, widen the float arguments, call the effect.
#include "graphics/effect/effect_builtins.h"

#include "graphics/effect/effects.h"
#include "graphics/plane/builtin_args.h"

namespace talven::graphics {

Addr bi_ef_init(std::int32_t slot, std::int32_t dst, Addr dst_rect, std::int32_t src,
                Addr src_rect) {
  const RectArg dr(dst_rect), sr(src_rect);
  if (!dr.ok() || !sr.ok()) {
    // A refused call still ends the slot's old effect, as a failing init does.
    effect_free(slot);
    return 0;
  }
  return effect_init(slot, dst, dr.get(), src, sr.get());
}

bool bi_ef_info(std::int32_t slot, Addr out) {
  std::int32_t columns, rows;
  Addr mesh;
  if (!effect_info(slot, columns, rows, mesh)) return false;
  const std::uint32_t fields[3] = {std::uint32_t(columns), std::uint32_t(rows), mesh};
  return write_bytes(out, fields, sizeof fields);
}

std::int32_t bi_ef_rotate(std::int32_t slot, float cx, float cy, float scale, float angle) {
  return effect_rotate(slot, cx, cy, scale, angle);
}
std::int32_t bi_ef_tunnel(std::int32_t slot, float depth, float angle, float offset) {
  return effect_tunnel(slot, depth, angle, offset);
}
std::int32_t bi_ef_land(std::int32_t slot, float scale, float angle1, float angle2, float height) {
  return effect_land(slot, scale, angle1, angle2, height);
}
std::int32_t bi_ef_ball(std::int32_t slot, float scale, float angle1, float angle2,
                        float distance) {
  return effect_ball(slot, scale, angle1, angle2, distance);
}
std::int32_t bi_ef_whirl(std::int32_t slot, float twist) { return effect_whirl(slot, twist); }
std::int32_t bi_ef_raster(std::int32_t slot, float phase, float wavelength, float amplitude) {
  return effect_raster(slot, phase, wavelength, amplitude);
}
std::int32_t bi_ef_blob(std::int32_t slot, float x, float y, float radius, float depth) {
  return effect_blob(slot, x, y, radius, depth);
}
std::int32_t bi_ef_water(std::int32_t slot, float damping) { return effect_water(slot, damping); }
std::int32_t bi_ef_lens(std::int32_t slot, float x, float y, float radius, float strength) {
  return effect_lens(slot, x, y, radius, strength);
}

}  // namespace talven::graphics
