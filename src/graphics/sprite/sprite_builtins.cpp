// Script-facing sprite and hit-area builtins: decode, call the store,
// encode.
#include "graphics/sprite/sprite_builtins.h"

#include "graphics/sprite/sprite.h"
#include "runtime/builtins.h"

namespace talven::graphics {

namespace {

std::uint32_t arg(Addr args, unsigned i) { return runtime::arg_word(args, i); }
std::int32_t iarg(Addr args, unsigned i) { return std::int32_t(runtime::arg_word(args, i)); }

bool store_rect(Addr addr, const Rect& r) {
  return write_bytes(addr, &r, sizeof(Rect));
}

}  // namespace

std::uint32_t bi_sp_flag(Addr args) { return sp_flag(arg(args, 0)); }

std::uint32_t bi_sp_init(Addr args) {
  sp_init(arg(args, 0));
  return 1;
}

std::uint32_t bi_sp_setbg(Addr args) { return std::uint32_t(sp_setbg(iarg(args, 0))); }
std::uint32_t bi_sp_getbg(Addr) { return std::uint32_t(sp_getbg()); }

std::uint32_t bi_sp_redraw(Addr args) {
  sp_redraw(arg(args, 0));
  return 1;
}

std::uint32_t bi_sp_set(Addr args) {
  std::uint32_t w[7];
  if (!runtime::read_arg_words(args, 7, w)) return dummy_sprite();
  Rect r;
  const Rect* rp;
  std::uint8_t blend[12] = {};
  const bool rect_ok = optional_rect(w[5], r, rp);
  const bool blend_ok = !w[6] || read_bytes(w[6], blend, sizeof(blend));
  if (!rect_ok || !blend_ok) {
    // Refused like any other bad argument; the layer check makes sp_set
    // answer with the (cleared) dummy.
    return sp_set(kSpriteLayers, 0, 0, 0, 0, nullptr, nullptr);
  }
  return sp_set(std::int32_t(w[0]), std::int32_t(w[1]), std::int32_t(w[2]), std::int32_t(w[3]),
                std::int32_t(w[4]), rp, w[6] ? blend : nullptr);
}

std::uint32_t bi_sp_reset(Addr args) { return sp_reset(arg(args, 0)) ? 1 : 0; }
std::uint32_t bi_sp_link(Addr args) { return LinkSprite(arg(args, 0), arg(args, 1)) ? 1 : 0; }
std::uint32_t bi_sp_unlink(Addr args) { return sp_unlink(arg(args, 0)) ? 1 : 0; }

std::uint32_t bi_sp_draw(Addr args) {
  const Addr out = arg(args, 1);
  if (out && !valid_range(out, sizeof(Rect))) return 0;
  Rect changed;
  if (!sp_draw(arg(args, 0), &changed)) return 0;
  if (out) store_rect(out, changed);
  return 1;
}

std::uint32_t bi_sp_bgorg(Addr args) {
  sp_bgorg(iarg(args, 0), iarg(args, 1));
  return 1;
}

std::uint32_t bi_sp_org(Addr args) {
  sp_org(arg(args, 0), iarg(args, 1), iarg(args, 2));
  return 1;
}

std::uint32_t bi_sp_sort(Addr args) {
  sp_sort(arg(args, 0), arg(args, 1));
  return 1;
}

std::uint32_t bi_sp_rect(Addr args) {
  const Addr out = arg(args, 1);
  Rect box;
  if (!out || !valid_range(out, sizeof(Rect)) || !sp_rect(arg(args, 0), box)) return 0;
  return store_rect(out, box) ? 1 : 0;
}

std::uint32_t bi_hit_init(Addr args) {
  hit_init(arg(args, 0));
  return 1;
}

std::uint32_t bi_hit_set(Addr args) {
  std::uint32_t w[5];
  if (!runtime::read_arg_words(args, 5, w)) return 0;
  Rect r;
  const Rect* rp;
  if (!optional_rect(w[3], r, rp)) return 0;
  return hit_set(std::int32_t(w[0]), w[1], w[2], rp, std::int32_t(w[4]));
}

std::uint32_t bi_hit_reset(Addr args) { return hit_reset(arg(args, 0)) ? 1 : 0; }
std::uint32_t bi_hit_check(Addr args) { return hit_check(arg(args, 0)); }

std::uint32_t bi_hit_rect(Addr args) {
  Rect r;
  if (!load_rect(arg(args, 0), r)) return 0;
  return hit_rect(r, arg(args, 1));
}

std::uint32_t bi_hit_point(Addr args) { return hit_point(iarg(args, 0), iarg(args, 1), arg(args, 2)); }

}  // namespace talven::graphics
