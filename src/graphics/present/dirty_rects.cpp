// The dirty-rectangle list: the areas of a page that changed since the list
// was emptied, and drt_copy, which restores just those areas from another
// plane (typically a clean background) without copying any pixel twice.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "graphics/kernels/kernels.h"
#include "graphics/present/pages.h"

namespace talven::graphics {

namespace {

struct DirtyList {
  std::array<Rect, kDirtyRectCapacity> rects;
  int count = 0;
};

DirtyList& dirty() {
  static DirtyList list;
  return list;
}

// Smallest rectangle holding both; an empty one does not count.
Rect union_rect(const Rect& a, const Rect& b) {
  if (a.empty()) return b.empty() ? Rect{} : b;
  if (b.empty()) return a;
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

// Copies the pixels [x0, x1) of destination row y from the source pixels at
// (x + ox, y + oy). The depth pair is checked by the caller.
struct SpanCopier {
  Plane* dst;
  const Plane* src;
  std::int64_t ox, oy;
  int src_bytes, dst_bytes;

  void operator()(int y, int x0, int x1) const {
    const int n = x1 - x0;
    std::uint8_t* d = dst->row(y) + std::size_t(x0) * dst_bytes;
    const std::uint8_t* s = src->row(int(y + oy)) + std::size_t(x0 + ox) * src_bytes;
    if (src_bytes == dst_bytes) {
      std::memcpy(d, s, std::size_t(n) * dst_bytes);
      return;
    }
    // 8-bit source into 24 or 32 bits through its colour table; a 32-bit
    // destination gets opaque pixels, as an 8-bit source has no alpha.
    const std::uint8_t* table = src->colors();
    for (int i = 0; i < n; ++i, d += dst_bytes) {
      const std::uint8_t* e = table + 4 * s[i];
      d[0] = e[0];
      d[1] = e[1];
      d[2] = e[2];
      if (dst_bytes == 4) d[3] = 255;
    }
  }
};

bool pair_supported(int src_bpp, int dst_bpp) {
  const bool known = src_bpp == 8 || src_bpp == 16 || src_bpp == 24 || src_bpp == 32;
  if (!known) return false;
  return src_bpp == dst_bpp || (src_bpp == 8 && (dst_bpp == 24 || dst_bpp == 32));
}

// Copies every pixel covered by `rects` (all inside the destination
// rectangle, none empty) once, sweeping the rows top to bottom.
void sweep(std::vector<Rect>& rects, const SpanCopier& copy) {
  std::sort(rects.begin(), rects.end(), [](const Rect& a, const Rect& b) { return a.top < b.top; });
  std::vector<Rect> active;  // covering the current row, sorted by left edge
  std::size_t next = 0;
  int y = rects.front().top;
  while (next < rects.size() || !active.empty()) {
    if (active.empty() && rects[next].top > y) y = rects[next].top;
    while (next < rects.size() && rects[next].top <= y) {
      const Rect& r = rects[next++];
      auto at = std::upper_bound(active.begin(), active.end(), r,
                                 [](const Rect& a, const Rect& b) { return a.left < b.left; });
      active.insert(at, r);
    }
    int left = active.front().left, right = active.front().right;
    for (std::size_t i = 1; i < active.size(); ++i) {
      if (active[i].left <= right) {
        right = std::max(right, active[i].right);
      } else {
        copy(y, left, right);
        left = active[i].left;
        right = active[i].right;
      }
    }
    copy(y, left, right);
    ++y;
    std::erase_if(active, [y](const Rect& r) { return r.bottom <= y; });
  }
}

}  // namespace

void drt_init() { dirty().count = 0; }

bool drt_set(const Rect& r) {
  DirtyList& list = dirty();
  if (list.count < kDirtyRectCapacity) {
    list.rects[list.count++] = r;
    return true;
  }
  Rect merged = list.rects[0];
  for (int i = 1; i < list.count; ++i) merged = union_rect(merged, list.rects[i]);
  list.rects[0] = union_rect(merged, r);
  list.count = 1;
  return false;
}

int drt_count() { return dirty().count; }
const Rect* drt_rects() { return dirty().rects.data(); }

bool drt_copy(std::int32_t dst_slot, std::int32_t x, std::int32_t y, std::int32_t src_slot,
              const Rect* src_rect) {
  DirtyList& list = dirty();
  const int count = list.count;
  list.count = 0;
  Plane* dst = plane_at(dst_slot);
  const Plane* src = plane_at(src_slot);
  if (!dst || !src) return false;
  if (count == 0 || !pair_supported(src->bpp, dst->bpp)) return true;

  // Destination rectangle in 64 bits (script values may be far apart), cut
  // to the destination's clip and to where the source has pixels.
  const Rect s = src_rect ? *src_rect : src->bounds();
  const std::int64_t ox = std::int64_t(s.left) - x, oy = std::int64_t(s.top) - y;
  std::int64_t l = x, t = y, r = x + s.width(), b = y + s.height();
  l = std::max({l, std::int64_t(dst->clip.left), -ox});
  t = std::max({t, std::int64_t(dst->clip.top), -oy});
  r = std::min({r, std::int64_t(dst->clip.right), src->width - ox});
  b = std::min({b, std::int64_t(dst->clip.bottom), src->height - oy});
  if (r <= l || b <= t) return true;
  const Rect area{std::int32_t(l), std::int32_t(t), std::int32_t(r), std::int32_t(b)};

  const SpanCopier copy{dst, src, ox, oy, src->bpp / 8, dst->bpp / 8};
  std::vector<Rect> cut;
  for (int i = 0; i < count; ++i) {
    Rect c = intersect(list.rects[i], area);
    if (c.empty()) continue;
    if (c.left == area.left && c.top == area.top && c.right == area.right &&
        c.bottom == area.bottom) {
      for_rows(area.top, area.bottom, area.width(),
               [&](int row) { copy(row, area.left, area.right); });
      return true;
    }
    cut.push_back(c);
  }
  if (!cut.empty()) sweep(cut, copy);
  return true;
}

}  // namespace talven::graphics
