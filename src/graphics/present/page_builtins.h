// Builtin handlers of the page and dirty-rectangle families, typed
// (runtime/bind.h).
//
// Trap numbers: 77 setorg, 78 vpage, 79 apage, 80 update, 89 drt_init,
// 90 drt_set, 91 drt_copy. vpage and apage are pages.h's SetViewPage and
// SetActivePage themselves. Rectangles are addresses of their records (0
// for none where a rectangle is optional); bad addresses give false.
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/present/pages.h"  // vpage, apage: bound as they are

namespace talven::graphics {

bool bi_setorg(std::int32_t x, std::int32_t y);
bool bi_update(Addr rect);
bool bi_drt_init();
bool bi_drt_set(Addr rect);
bool bi_drt_copy(std::int32_t dst, std::int32_t x, std::int32_t y, std::int32_t src, Addr src_rect);

}  // namespace talven::graphics
