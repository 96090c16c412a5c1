// Script-facing sprite and hit-area builtins: read and write the records
// the arguments point to, call the store.
#include "graphics/sprite/sprite_builtins.h"

#include "graphics/plane/builtin_args.h"
#include "graphics/sprite/sprite.h"
#include "runtime/builtins.h"

namespace talven::graphics {

namespace {

bool store_rect(Addr addr, const Rect& r) { return write_bytes(addr, &r, sizeof(Rect)); }

}  // namespace

bool bi_sp_init(std::uint32_t mask) {
  sp_init(mask);
  return true;
}

bool bi_sp_redraw(std::uint32_t mask) {
  sp_redraw(mask);
  return true;
}

std::uint32_t bi_sp_set(Addr args) {
  std::uint32_t w[7];
  if (!runtime::read_arg_words(args, 7, w)) return dummy_sprite();
  const RectArg source(w[5]);
  std::uint8_t blend[12] = {};
  const bool blend_ok = !w[6] || read_bytes(w[6], blend, sizeof(blend));
  if (!source.ok() || !blend_ok) {
    // Refused like any other bad argument; the layer check makes sp_set
    // answer with the (cleared) dummy.
    return sp_set(kSpriteLayers, 0, 0, 0, 0, nullptr, nullptr);
  }
  return sp_set(std::int32_t(w[0]), std::int32_t(w[1]), std::int32_t(w[2]), std::int32_t(w[3]),
                std::int32_t(w[4]), source.get(), w[6] ? blend : nullptr);
}

bool bi_sp_draw(std::uint32_t mask, Addr changed) {
  if (changed && !valid_range(changed, sizeof(Rect))) return false;
  Rect area;
  if (!sp_draw(mask, &area)) return false;
  if (changed) store_rect(changed, area);
  return true;
}

bool bi_sp_bgorg(std::int32_t x, std::int32_t y) {
  sp_bgorg(x, y);
  return true;
}

bool bi_sp_org(std::uint32_t mask, std::int32_t x, std::int32_t y) {
  sp_org(mask, x, y);
  return true;
}

bool bi_sp_sort(std::uint32_t mask, std::uint32_t keys) {
  sp_sort(mask, keys);
  return true;
}

bool bi_sp_rect(Addr sprite, Addr box_out) {
  Rect box;
  if (!box_out || !valid_range(box_out, sizeof(Rect)) || !sp_rect(sprite, box)) return false;
  return store_rect(box_out, box);
}

bool bi_hit_init(std::uint32_t mask) {
  hit_init(mask);
  return true;
}

Addr bi_hit_set(std::int32_t layer, std::uint32_t mask, Addr sprite, Addr rect,
                std::int32_t value) {
  const RectArg area(rect);
  if (!area.ok()) return 0;
  return hit_set(layer, mask, sprite, area.get(), value);
}

Addr bi_hit_rect(Addr rect, std::uint32_t mask) {
  Rect r;
  if (!load_rect(rect, r)) return 0;
  return hit_rect(r, mask);
}

}  // namespace talven::graphics
