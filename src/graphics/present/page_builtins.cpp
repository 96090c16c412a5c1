// Page and dirty-rectangle builtins: argument records around pages.h.
#include "graphics/present/page_builtins.h"

#include "graphics/plane/builtin_args.h"
#include "graphics/present/pages.h"

namespace talven::graphics {

bool bi_setorg(std::int32_t x, std::int32_t y) {
  set_origin(x, y);
  return true;
}

bool bi_update(Addr rect) {
  const RectArg area(rect);
  return area.ok() && present_update(area.get());
}

bool bi_drt_init() {
  drt_init();
  return true;
}

bool bi_drt_set(Addr rect) {
  Rect r;
  if (!rect || !load_rect(rect, r)) return false;
  return drt_set(r);
}

bool bi_drt_copy(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src,
                 Addr src_rect) {
  const RectArg area(src_rect);
  return area.ok() && drt_copy(dst, x, y, src, area.get());
}

}  // namespace talven::graphics
