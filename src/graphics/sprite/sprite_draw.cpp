// sp_draw: composes the selected layers onto the active page, redrawing
// only what changed.
//
// One call runs in three passes under the presentation lock:
//   1. preparation: transforms of new and changed sprites, their old and
//      new bounds into the dirty list, and for every untouched sprite on
//      the page the pieces of it those areas cover (it must be redrawn
//      there, over whatever the background copy puts back);
//   2. the background copy of the dirty areas (drt_copy, or a converting
//      copy when the background and the page differ in depth);
//   3. drawing in layer and list order: changed sprites whole, covered
//      sprites piece by piece with the page clip narrowed to each piece.
// The bounds of everything drawn or erased make up the changed area that
// the script hands to update.
//
// Transforms are 16.16 fixed point with the kernels' sine table. Vectors
// (a child's offset, the pivot) turn the way gblit turns pictures, so the
// pivot point of a turned sprite stays where its position puts it and a
// child stays on the same spot of its turning parent.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"
#include "graphics/present/pages.h"
#include "graphics/sprite/sprite_store.h"
#include "script/thread_owned.h"

namespace talven::graphics {

using namespace sprite_detail;

namespace {

// Positions are kept within +-2^30 pixels and sizes and pivots within 2^24,
// so that every product below fits in 64 bits.
constexpr std::int64_t kPositionLimit = std::int64_t(1) << 46;
constexpr std::int64_t kSizeLimit = std::int64_t(1) << 24;

std::int64_t clamp_pos(std::int64_t v) { return std::clamp(v, -kPositionLimit, kPositionLimit); }
std::int64_t clamp_size(std::int64_t v) { return std::clamp(v, -kSizeLimit, kSizeLimit); }
std::int32_t clamp32(std::int64_t v) {
  return std::int32_t(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

struct Transform {
  std::int64_t x = 0, y = 0;    // 16.16 position of the pivot on the page
  std::int64_t sx = 0, sy = 0;  // 16.16 effective scales
  std::uint16_t angle = 0;
};

void rotate(std::int64_t a, std::int64_t b, std::uint16_t angle, std::int64_t& ra,
            std::int64_t& rb) {
  const KernelTables& t = kernel_tables();
  const std::int64_t sn = t.sine[angle & 2047], cs = t.sine[(angle & 2047) + 512];
  ra = clamp_pos(std::int64_t((__int128(a) * cs - __int128(b) * sn) >> 16));
  rb = clamp_pos(std::int64_t((__int128(a) * sn + __int128(b) * cs) >> 16));
}

Transform transform_of(SpriteStore& s, SpriteRecord* r) {
  std::vector<SpriteRecord*>& chain = script::thread_owned<std::vector<SpriteRecord*>>([] {});
  chain.clear();
  for (SpriteRecord* a = r; a && int(chain.size()) < kMaxChainDepth; a = parent_of(s, a))
    chain.push_back(a);
  const SpriteRecord* root = chain.back();
  Transform t;
  const int layer = root->layer;
  const std::int64_t ox = layer < kSpriteLayers ? s.origin_x[layer] : 0;
  const std::int64_t oy = layer < kSpriteLayers ? s.origin_y[layer] : 0;
  t.x = clamp_pos((shifted(root->x, root->shift) - ox) * 65536);
  t.y = clamp_pos((shifted(root->y, root->shift) - oy) * 65536);
  t.sx = root->scale_x;
  t.sy = root->scale_y;
  t.angle = root->angle;
  for (int i = int(chain.size()) - 2; i >= 0; --i) {
    const SpriteRecord* c = chain[i];
    std::int64_t ra, rb;
    rotate(shifted(c->x, c->shift) * t.sx, shifted(c->y, c->shift) * t.sy, t.angle, ra, rb);
    t.x = clamp_pos(t.x + ra);
    t.y = clamp_pos(t.y + rb);
    t.sx = clamp32((t.sx * c->scale_x) >> 16);
    t.sy = clamp32((t.sy * c->scale_y) >> 16);
    t.angle = std::uint16_t(t.angle + c->angle);
  }
  return t;
}

// Box and bounds of a sprite under a transform.
void place(const SpriteRecord& r, const Transform& t, Rect& box, Rect& bounds) {
  const std::int64_t w = clamp_size(std::llabs(r.source.width()));
  const std::int64_t h = clamp_size(std::llabs(r.source.height()));
  std::int64_t cx, cy;
  rotate((w - 2 * clamp_size(r.pivot_x)) * t.sx / 2, (h - 2 * clamp_size(r.pivot_y)) * t.sy / 2,
         t.angle, cx, cy);
  cx = clamp_pos(cx + t.x);
  cy = clamp_pos(cy + t.y);
  const std::int64_t bw = std::llabs(w * t.sx) >> 16, bh = std::llabs(h * t.sy) >> 16;
  const std::int64_t left = (cx - (bw << 15) + 0x8000) >> 16,
                     top = (cy - (bh << 15) + 0x8000) >> 16;
  box = Rect{clamp32(left), clamp32(top), clamp32(left + bw), clamp32(top + bh)};
  std::int64_t bl = left, bt = top, br = left + bw, bb = top + bh;
  if (t.angle & 2047) {
    // As gblit places a turned picture.
    const KernelTables& tab = kernel_tables();
    const std::int64_t sn = tab.sine[t.angle & 2047], cs = tab.sine[(t.angle & 2047) + 512];
    const std::int64_t rw = (std::llabs(bw * cs) + std::llabs(bh * sn) + 0x8000) >> 16;
    const std::int64_t rh = (std::llabs(bh * cs) + std::llabs(bw * sn) + 0x8000) >> 16;
    bl = left + bw / 2 - rw / 2;
    bt = top + bh / 2 - rh / 2;
    br = bl + rw;
    bb = bt + rh;
  }
  if (r.shift) --bl, --bt, ++br, ++bb;
  bounds = Rect{clamp32(bl), clamp32(bt), clamp32(br), clamp32(bb)};
}

void compute(SpriteStore& s, SpriteRecord* r) {
  const Transform t = transform_of(s, r);
  r->effective_scale_x = clamp32(t.sx);
  r->effective_scale_y = clamp32(t.sy);
  r->effective_angle = t.angle;
  place(*r, t, r->box, r->bounds);
}

// ---- covered pieces ------------------------------------------------------------

CoveredPiece* piece_at(SpriteStore& s, Addr a) {
  if (a < s.pieces) return nullptr;
  const Addr off = a - s.pieces;
  if (off % sizeof(CoveredPiece) || off / sizeof(CoveredPiece) >= Addr(s.pieces_used))
    return nullptr;
  return host<CoveredPiece>(a);
}

// The parts of `w` outside `p` (which it overlaps): above, below, left,
// right.
void cut_outside(const Rect& w, const Rect& p, std::vector<Rect>& out) {
  if (p.top > w.top) out.push_back(Rect{w.left, w.top, w.right, p.top});
  if (p.bottom < w.bottom) out.push_back(Rect{w.left, p.bottom, w.right, w.bottom});
  const std::int32_t y0 = std::max(w.top, p.top), y1 = std::min(w.bottom, p.bottom);
  if (p.left > w.left) out.push_back(Rect{w.left, y0, p.left, y1});
  if (p.right < w.right) out.push_back(Rect{p.right, y0, w.right, y1});
}

// Adds the part of `r` not yet in the sprite's chain, as disjoint pieces.
void add_piece(SpriteStore& s, SpriteRecord* c, const Rect& r) {
  std::vector<Rect>& work = script::thread_owned<std::vector<Rect>>([] {});
  std::vector<Rect>& next = script::thread_owned<std::vector<Rect>>([] {});
  work.assign(1, r);
  int steps = 0;
  for (CoveredPiece* p = piece_at(s, c->covered); p && steps < kCoveredPieceCount;
       p = piece_at(s, p->next), ++steps) {
    next.clear();
    for (const Rect& w : work) {
      if (overlaps(w, p->rect)) cut_outside(w, p->rect, next);
      else next.push_back(w);
    }
    work.swap(next);
    if (work.empty()) return;
  }
  for (const Rect& w : work) {
    if (s.pieces_used >= kCoveredPieceCount) return;  // full: further pieces are dropped
    const Addr a = s.pieces + Addr(s.pieces_used++) * sizeof(CoveredPiece);
    CoveredPiece* p = host<CoveredPiece>(a);
    p->rect = w;
    p->next = c->covered;
    c->covered = a;
  }
}

// Every untouched sprite on the page under `r` gets the overlap to redraw.
void record_pieces(SpriteStore& s, const std::vector<SpriteRecord*>& candidates, const Rect& r) {
  if (r.empty()) return;
  for (SpriteRecord* c : candidates) {
    if (c->flags & kSpriteChanged) continue;
    const Rect o = intersect(c->bounds, r);
    if (o.empty()) continue;
    c->flags |= kSpriteCovered;
    add_piece(s, c, o);
  }
}

// A changed sprite moves its descendants: they are marked with the
// inherited bit so that they are placed again too.
void propagate_changes(SpriteStore& s) {
  std::vector<std::uint32_t>& mark = script::thread_owned<std::vector<std::uint32_t>>([] {});
  thread_local std::uint32_t generation = 0;
  std::vector<SpriteRecord*>& stack = script::thread_owned<std::vector<SpriteRecord*>>([] {});
  if (mark.size() != std::size_t(kSpriteCount)) mark.assign(kSpriteCount, 0);
  if (++generation == 0) {
    std::fill(mark.begin(), mark.end(), 0);
    generation = 1;
  }
  for (int i = 0; i < kSpriteCount; ++i) {
    if (!s.linked[i] || mark[i] == generation) continue;
    SpriteRecord* r = host<SpriteRecord>(s.records + Addr(i) * sizeof(SpriteRecord));
    if (!(r->flags & kSpriteChanged) || !r->children) continue;
    mark[i] = generation;
    stack.assign(1, r);
    while (!stack.empty()) {
      SpriteRecord* x = stack.back();
      stack.pop_back();
      std::uint32_t cap = 0;
      if (!x->children || !load32(x->children - 4, cap)) continue;
      const std::uint32_t n = std::min({x->child_count, cap, std::uint32_t(kSpriteCount)});
      const std::uint8_t* items = span(x->children, 4ull * n);
      if (!items) continue;
      for (std::uint32_t k = 0; k < n; ++k) {
        Addr a;
        std::memcpy(&a, items + 4 * k, 4);
        SpriteRecord* c = sprite_at(a);
        if (!c) continue;
        const int ci = sprite_index(s, c);
        if (!s.linked[ci] || mark[ci] == generation) continue;
        mark[ci] = generation;
        c->flags |= kSpriteInherited;
        stack.push_back(c);
      }
    }
  }
}

// Sub-pixel part of a position with `shift` fraction bits, in 1/65536.
std::int32_t fraction16(std::int32_t v, std::uint8_t shift) {
  if (shift == 0) return 0;
  if (shift >= 31) shift = 31;
  if (shift <= 16) return std::int32_t((std::uint32_t(v) << (16 - shift)) & 0xFFFF);
  return std::int32_t((v >> (shift - 16)) & 0xFFFF);
}

void draw_sprite(Plane* page, std::int32_t page_slot, const SpriteRecord& r) {
  Plane* src = plane_at(r.plane);
  if (!src) return;
  BlendMode m;
  m.mode = r.blend[0];
  m.op = r.blend[1];
  m.opacity = r.blend[2];
  m.extra = r.blend[3];
  std::memcpy(&m.param1, r.blend + 4, 4);
  std::memcpy(&m.param2, r.blend + 8, 4);
  const Rect sr = r.source;
  const int angle = r.effective_angle & 2047;
  const bool unit = r.effective_scale_x == 0x10000 && r.effective_scale_y == 0x10000;
  if (unit && !angle && !r.shift && !r.mirror_x && !r.mirror_y) {
    gcopy(page_slot, r.box.left, r.box.top, r.plane, &sr, &m);
    return;
  }
  Rect d = r.box;
  if ((r.mirror_x != 0) != (r.effective_scale_x < 0)) std::swap(d.left, d.right);
  if ((r.mirror_y != 0) != (r.effective_scale_y < 0)) std::swap(d.top, d.bottom);
  const bool real = !unit || angle || r.shift;
  const bool several = std::llabs(sr.width()) * std::llabs(sr.height()) > 1;
  Plane* mask = mask_of(r.plane);
  if ((r.flags & kSpriteSmoothing) && several && real)
    rotated_copy(page, &d, src, &sr, mask, &m, r.effective_angle, true, fraction16(r.x, r.shift),
                 fraction16(r.y, r.shift));
  else if (angle) rotated_copy(page, &d, src, &sr, mask, &m, r.effective_angle, false);
  else stretch_copy(page, d, src, sr, mask, &m);
}

// Frees a record taken off by sp_reset (or marked for removal by a script):
// out of its list, its links cut both ways.
void release(SpriteStore& s, SpriteRecord* r) {
  const Addr ra = sprite_addr(r);
  detach(s, r);
  if (r->children) {
    std::uint32_t cap = 0;
    if (load32(r->children - 4, cap)) {
      const std::uint32_t n = std::min(r->child_count, cap);
      if (const std::uint8_t* items = span(r->children, 4ull * n))
        for (std::uint32_t k = 0; k < n; ++k) {
          Addr a;
          std::memcpy(&a, items + 4 * k, 4);
          if (SpriteRecord* c = sprite_at(a); c && c->parent == ra) c->parent = 0;
        }
    }
  }
  free_child_array(r);
  remove_sprite_hit_areas(r);
  list_remove(s, r);
  *r = SpriteRecord{};
}

// drt_copy copies between equal depths and from 8 bits up to 24 or 32;
// for any other pair (a 24-bit picture under a 32-bit page, say) each dirty
// rectangle is converted by a plain gcopy instead, so that the background
// is never silently left out.
void copy_background(const SpriteStore& s, std::int32_t page_slot, const Plane& page,
                     const Plane& bg) {
  const bool raw = bg.bpp == page.bpp || (bg.bpp == 8 && (page.bpp == 24 || page.bpp == 32));
  if (raw) {
    const Rect src{s.bg_x, s.bg_y, bg.width, bg.height};
    drt_copy(page_slot, 0, 0, s.background, &src);
    return;
  }
  const BlendMode copy;
  const Rect* rects = drt_rects();
  for (int i = 0; i < drt_count(); ++i) {
    const Rect d = intersect(rects[i], page.clip);
    if (d.empty()) continue;
    const Rect src{clamp32(std::int64_t(d.left) + s.bg_x), clamp32(std::int64_t(d.top) + s.bg_y),
                   clamp32(std::int64_t(d.right) + s.bg_x),
                   clamp32(std::int64_t(d.bottom) + s.bg_y)};
    gcopy(page_slot, d.left, d.top, s.background, &src, &copy);
  }
}

}  // namespace

bool sp_rect(Addr sprite, Rect& box) {
  SpriteStore* s = store();
  SpriteRecord* r = sprite_at(sprite);
  if (!s || !r || !s->linked[sprite_index(*s, r)]) return false;
  Rect bounds;
  place(*r, transform_of(*s, r), box, bounds);
  return true;
}

bool sp_draw(std::uint32_t mask, Rect* changed) {
  SpriteStore* s = store();
  if (!s) return false;
  std::lock_guard<std::mutex> hold(presentation_lock());
  const std::int32_t page_slot = active_page();
  Plane* page = plane_at(page_slot);
  if (!page) return false;
  const Rect clip = page->clip;
  s->pieces_used = 0;
  propagate_changes(*s);

  auto& lists = script::thread_owned<std::array<std::vector<SpriteRecord*>, kSpriteLayers>>([] {});
  std::vector<SpriteRecord*>& candidates = script::thread_owned<std::vector<SpriteRecord*>>([] {});
  candidates.clear();
  auto selected = [mask](int layer) { return (mask >> layer) & 1; };
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    layer_sprites(*s, layer, lists[layer]);
    if (!selected(layer)) continue;
    for (SpriteRecord* r : lists[layer]) {
      r->covered = 0;
      r->flags &= ~kSpriteCovered;
      if (r->state == kSpriteShown && (r->flags & kSpriteOnPage) && !(r->flags & kSpriteChanged))
        candidates.push_back(r);
    }
  }

  // 1. Preparation.
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    if (!selected(layer)) continue;
    for (SpriteRecord* r : lists[layer]) {
      if (r->state == kSpriteShown) {
        if (!(r->flags & kSpriteOnPage)) {
          compute(*s, r);
          if (overlaps(r->bounds, clip)) {
            r->flags |= kSpriteChangedBit;
            record_pieces(*s, candidates, r->bounds);
            drt_set(r->bounds);
          }
        } else if (r->flags & kSpriteChanged) {
          const Rect old = r->bounds;
          compute(*s, r);
          const Rect& now = r->bounds;
          if (old.left != now.left || old.top != now.top || old.right != now.right ||
              old.bottom != now.bottom) {
            record_pieces(*s, candidates, old);
            drt_set(old);
            add_changed(*s, old);
          }
          record_pieces(*s, candidates, now);
          drt_set(now);
        }
      } else if (r->flags & kSpriteOnPage) {
        r->flags &= ~(kSpriteChanged | kSpriteCovered | kSpriteOnPage);
        record_pieces(*s, candidates, r->bounds);
        drt_set(r->bounds);
        add_changed(*s, r->bounds);
      }
    }
  }

  // 2. The background under the dirty areas. A page is never its own
  // background: the copy would change nothing.
  if (std::uint32_t(s->background) < kPlaneSlots) {
    const Plane* bg = plane_at(s->background);
    if (bg && bg != page) copy_background(*s, page_slot, *page, *bg);
    drt_init();
  }

  // 3. Drawing; records taken off are freed in every layer.
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    const bool sel = selected(layer);
    for (SpriteRecord* r : lists[layer]) {
      if (r->flags & kSpriteRemoval) {
        release(*s, r);
        continue;
      }
      if (!sel) continue;
      if (r->state == kSpriteShown) {
        if (r->flags & kSpriteChanged) {
          r->flags &= ~(kSpriteChanged | kSpriteCovered);
          if (overlaps(r->bounds, clip)) {
            draw_sprite(page, page_slot, *r);
            add_changed(*s, r->bounds);
            r->flags |= kSpriteOnPage;
          } else {
            r->flags &= ~kSpriteOnPage;
          }
        } else if (r->flags & kSpriteCovered) {
          int steps = 0;
          for (CoveredPiece* p = piece_at(*s, r->covered); p && steps < kCoveredPieceCount;
               p = piece_at(*s, p->next), ++steps) {
            page->clip = intersect(clip, p->rect);
            if (!page->clip.empty()) draw_sprite(page, page_slot, *r);
          }
          page->clip = clip;
          r->flags &= ~(kSpriteCovered | kSpriteChangedBit);
        }
      } else if (r->flags & kSpriteOnPage) {
        add_changed(*s, r->bounds);
        r->flags &= ~(kSpriteChanged | kSpriteCovered | kSpriteOnPage);
      }
    }
  }

  Rect area = intersect(s->changed_area, clip);
  if (area.empty()) area = Rect{};
  if (changed) *changed = area;
  s->changed_area = Rect{};
  return true;
}

}  // namespace talven::graphics
