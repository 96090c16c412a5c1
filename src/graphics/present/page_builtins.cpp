// Page and dirty-rectangle builtins: argument decoding around pages.h.
#include "graphics/present/page_builtins.h"

#include "graphics/present/pages.h"
#include "runtime/builtins.h"

namespace talven::graphics {

namespace {

using runtime::arg_word;
using runtime::read_arg_words;

std::int32_t s32(std::uint32_t v) { return std::int32_t(v); }

}  // namespace

std::uint32_t bi_setorg(Addr args) {
  std::uint32_t w[2];
  if (!read_arg_words(args, 2, w)) return 0;
  set_origin(s32(w[0]), s32(w[1]));
  return 1;
}

std::uint32_t bi_vpage(Addr args) { return SetViewPage(s32(arg_word(args, 0))) ? 1 : 0; }

std::uint32_t bi_apage(Addr args) { return SetActivePage(s32(arg_word(args, 0))) ? 1 : 0; }

std::uint32_t bi_update(Addr args) {
  Rect r;
  const Rect* rect;
  if (!optional_rect(arg_word(args, 0), r, rect)) return 0;
  return present_update(rect) ? 1 : 0;
}

std::uint32_t bi_drt_init(Addr) {
  drt_init();
  return 1;
}

std::uint32_t bi_drt_set(Addr args) {
  Rect r;
  std::uint32_t addr = arg_word(args, 0);
  if (!addr || !load_rect(addr, r)) return 0;
  return drt_set(r) ? 1 : 0;
}

std::uint32_t bi_drt_copy(Addr args) {
  std::uint32_t w[5];
  if (!read_arg_words(args, 5, w)) return 0;
  Rect r;
  const Rect* rect;
  if (!optional_rect(w[4], r, rect)) return 0;
  return drt_copy(s32(w[0]), s32(w[1]), s32(w[2]), s32(w[3]), rect) ? 1 : 0;
}

}  // namespace talven::graphics
