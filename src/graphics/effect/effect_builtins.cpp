// Script-facing mesh effect builtins: decode, call the effect, encode.
#include "graphics/effect/effect_builtins.h"

#include <bit>

#include "graphics/effect/effects.h"
#include "runtime/builtins.h"

namespace talven::graphics {

namespace {

std::int32_t s32(std::uint32_t v) { return std::int32_t(v); }
double f32(std::uint32_t v) { return double(std::bit_cast<float>(v)); }

// Slot plus n float arguments.
template <unsigned N>
bool read_floats(Addr args, std::int32_t& slot, double (&f)[N]) {
  std::uint32_t w[N + 1];
  if (!runtime::read_arg_words(args, N + 1, w)) return false;
  slot = s32(w[0]);
  for (unsigned i = 0; i < N; ++i) f[i] = f32(w[i + 1]);
  return true;
}

std::uint32_t slot_only(Addr args, int (*op)(std::int32_t)) {
  std::uint32_t w[1];
  if (!runtime::read_arg_words(args, 1, w)) return 0;
  return std::uint32_t(op(s32(w[0])));
}

}  // namespace

std::uint32_t bi_ef_init(Addr args) {
  std::uint32_t w[5];
  if (!runtime::read_arg_words(args, 5, w)) return 0;
  Rect dr, sr;
  if ((w[2] && !load_rect(w[2], dr)) || (w[4] && !load_rect(w[4], sr))) {
    effect_free(s32(w[0]));
    return 0;
  }
  return effect_init(s32(w[0]), s32(w[1]), w[2] ? &dr : nullptr, s32(w[3]), w[4] ? &sr : nullptr);
}

std::uint32_t bi_ef_free(Addr args) { return slot_only(args, effect_free); }
std::uint32_t bi_ef_copy(Addr args) { return slot_only(args, effect_copy); }
std::uint32_t bi_ef_clear(Addr args) { return slot_only(args, effect_clear); }

std::uint32_t bi_ef_info(Addr args) {
  std::uint32_t w[2];
  if (!runtime::read_arg_words(args, 2, w)) return 0;
  std::int32_t columns, rows;
  Addr mesh;
  if (!effect_info(s32(w[0]), columns, rows, mesh)) return 0;
  const std::uint32_t out[3] = {std::uint32_t(columns), std::uint32_t(rows), mesh};
  return write_bytes(w[1], out, sizeof out) ? 1 : 0;
}

std::uint32_t bi_ef_rotate(Addr args) {
  std::int32_t slot;
  double f[4];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_rotate(slot, f[0], f[1], f[2], f[3]));
}

std::uint32_t bi_ef_tunnel(Addr args) {
  std::int32_t slot;
  double f[3];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_tunnel(slot, f[0], f[1], f[2]));
}

std::uint32_t bi_ef_land(Addr args) {
  std::int32_t slot;
  double f[4];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_land(slot, f[0], f[1], f[2], f[3]));
}

std::uint32_t bi_ef_ball(Addr args) {
  std::int32_t slot;
  double f[4];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_ball(slot, f[0], f[1], f[2], f[3]));
}

std::uint32_t bi_ef_whirl(Addr args) {
  std::int32_t slot;
  double f[1];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_whirl(slot, f[0]));
}

std::uint32_t bi_ef_raster(Addr args) {
  std::int32_t slot;
  double f[3];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_raster(slot, f[0], f[1], f[2]));
}

std::uint32_t bi_ef_blob(Addr args) {
  std::int32_t slot;
  double f[4];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_blob(slot, f[0], f[1], f[2], f[3]));
}

std::uint32_t bi_ef_water(Addr args) {
  std::int32_t slot;
  double f[1];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_water(slot, f[0]));
}

std::uint32_t bi_ef_lens(Addr args) {
  std::int32_t slot;
  double f[4];
  if (!read_floats(args, slot, f)) return 0;
  return std::uint32_t(effect_lens(slot, f[0], f[1], f[2], f[3]));
}

}  // namespace talven::graphics
