// Hit areas: rectangles in 32 layers, optionally following a sprite, tested
// against each other (hit_check), against a rectangle and against a point.
// Records come from a fixed pool in the sprite store's block.
#include <algorithm>
#include <cstring>

#include "graphics/sprite/sprite_store.h"

namespace talven::graphics {

using namespace sprite_detail;

namespace {

Addr hit_head_addr(const SpriteStore& s, int layer) {
  return s.hit_heads + Addr(layer) * sizeof(HitArea);
}

int hit_index(const SpriteStore& s, Addr a) { return int((a - s.hits) / sizeof(HitArea)); }

// A pool record or a layer head (what `previous` may name).
HitArea* hit_node(SpriteStore& s, Addr a) {
  if (a < s.hit_heads || a >= s.hits + kHitPoolSize * sizeof(HitArea)) return nullptr;
  if ((a - s.hit_heads) % sizeof(HitArea)) return nullptr;
  return host<HitArea>(a);
}

HitArea* live_area(SpriteStore& s, Addr a) {
  HitArea* h = hit_area_at(a);
  return h && s.hit_live[hit_index(s, a)] ? h : nullptr;
}

void layer_areas(SpriteStore& s, int layer, std::vector<HitArea*>& out) {
  out.clear();
  HitArea* h = live_area(s, host<HitArea>(hit_head_addr(s, layer))->next);
  while (h && int(out.size()) < kHitPoolSize) {
    out.push_back(h);
    h = live_area(s, h->next);
  }
}

void remove_area(SpriteStore& s, HitArea* h) {
  const Addr ha = hit_area_addr(h);
  HitArea* prev = hit_node(s, h->previous);
  HitArea* next = live_area(s, h->next);
  if (prev && prev->next == ha) prev->next = next ? h->next : 0;
  if (next && next->previous == ha) next->previous = prev ? h->previous : 0;
  if (SpriteRecord* sp = sprite_at(h->sprite)) {
    Addr* link = &sp->hit_areas;
    for (int steps = 0; *link && steps < kHitPoolSize; ++steps) {
      if (*link == ha) {
        *link = h->next_of_sprite;
        break;
      }
      HitArea* n = hit_area_at(*link);
      if (!n) break;
      link = &n->next_of_sprite;
    }
  }
  *h = HitArea{};
  s.hit_live[hit_index(s, ha)] = 0;
}

std::int32_t clamp32(std::int64_t v) {
  return std::int32_t(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

// The area's rectangle on the page; false when it follows a sprite that is
// not shown (such areas take no part in queries).
bool placed(SpriteStore& s, const HitArea* h, Rect& out) {
  out = h->rect;
  if (!h->sprite) return true;
  SpriteRecord* sp = sprite_at(h->sprite);
  if (!sp || sp->state != kSpriteShown) return false;
  std::int64_t dx = 0, dy = 0;
  int depth = 0;
  for (SpriteRecord* a = sp; a && depth < kMaxChainDepth; a = parent_of(s, a), ++depth) {
    dx += std::int64_t(shifted(a->x, a->shift)) - a->pivot_x;
    dy += std::int64_t(shifted(a->y, a->shift)) - a->pivot_y;
  }
  out = Rect{clamp32(out.left + dx), clamp32(out.top + dy), clamp32(out.right + dx),
             clamp32(out.bottom + dy)};
  return true;
}

// The first live, active area of the selected layers accepted by `test`.
template <typename Test>
Addr first_area(SpriteStore& s, std::uint32_t mask, const HitArea* except, Test&& test) {
  std::vector<HitArea*> list;
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    if (!((mask >> layer) & 1)) continue;
    layer_areas(s, layer, list);
    for (HitArea* h : list) {
      Rect r;
      if (h == except || h->mask == 0 || !placed(s, h, r)) continue;
      if (test(r)) return hit_area_addr(h);
    }
  }
  return 0;
}

}  // namespace

HitArea* hit_area_at(Addr addr) {
  SpriteStore* s = store();
  if (!s || addr < s->hits || addr >= s->hits + kHitPoolSize * sizeof(HitArea)) return nullptr;
  if ((addr - s->hits) % sizeof(HitArea)) return nullptr;
  return host<HitArea>(addr);
}

Addr hit_area_addr(const HitArea* h) { return script_space().address_of(h); }

void hit_init(std::uint32_t mask) {
  SpriteStore* s = store();
  if (!s) return;
  std::vector<HitArea*> list;
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    if (!((mask >> layer) & 1)) continue;
    layer_areas(*s, layer, list);
    for (HitArea* h : list) remove_area(*s, h);
  }
}

Addr hit_set(std::int32_t layer, std::uint32_t mask, Addr sprite, const Rect* rect,
             std::int32_t value) {
  SpriteStore* s = store();
  if (!s || std::uint32_t(layer) >= kSpriteLayers) return 0;
  SpriteRecord* sp = nullptr;
  if (sprite) {
    sp = sprite_at(sprite);
    if (!sp || !s->linked[sprite_index(*s, sp)]) return 0;
  }
  const int found = take_free_entry(s->hit_live, s->hit_hint);
  if (found < 0) return 0;
  const Addr ha = s->hits + Addr(found) * sizeof(HitArea);
  HitArea* h = host<HitArea>(ha);
  *h = HitArea{};
  h->layer = layer;
  h->mask = mask;
  if (rect) h->rect = *rect;
  else if (sp) h->rect = Rect{0, 0, clamp32(sp->source.width()), clamp32(sp->source.height())};
  h->sprite = sprite;
  h->value = value;
  // At the end of the layer's list.
  Addr last_addr = hit_head_addr(*s, layer);
  HitArea* last = host<HitArea>(last_addr);
  for (int steps = 0; steps < kHitPoolSize; ++steps) {
    HitArea* n = live_area(*s, last->next);
    if (!n) break;
    last_addr = last->next;
    last = n;
  }
  last->next = ha;
  h->previous = last_addr;
  s->hit_live[found] = 1;
  if (sp) {
    h->next_of_sprite = sp->hit_areas;
    sp->hit_areas = ha;
  }
  return ha;
}

bool hit_reset(Addr area) {
  SpriteStore* s = store();
  HitArea* h = hit_area_at(area);
  if (!s || !h) return false;
  if (s->hit_live[hit_index(*s, area)]) remove_area(*s, h);
  return true;
}

Addr hit_check(Addr area) {
  SpriteStore* s = store();
  HitArea* h = s ? live_area(*s, area) : nullptr;
  Rect own;
  if (!h || h->mask == 0 || !placed(*s, h, own)) return 0;
  return first_area(*s, h->mask, h, [&](const Rect& r) { return overlaps(r, own); });
}

Addr hit_rect(const Rect& rect, std::uint32_t mask) {
  SpriteStore* s = store();
  if (!s) return 0;
  return first_area(*s, mask, nullptr, [&](const Rect& r) { return overlaps(r, rect); });
}

Addr hit_point(std::int32_t x, std::int32_t y, std::uint32_t mask) {
  SpriteStore* s = store();
  if (!s) return 0;
  return first_area(*s, mask, nullptr, [&](const Rect& r) {
    return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
  });
}

void remove_sprite_hit_areas(SpriteRecord* sp) {
  SpriteStore* s = store();
  if (!s) return;
  Addr a = sp->hit_areas;
  for (int steps = 0; a && steps < kHitPoolSize; ++steps) {
    HitArea* h = hit_area_at(a);
    if (!h) break;
    const Addr next = h->next_of_sprite;
    if (s->hit_live[hit_index(*s, a)]) remove_area(*s, h);
    a = next;
  }
  sp->hit_areas = 0;
}

void clear_hit_areas() {
  SpriteStore* s = store();
  if (!s) return;
  std::memset(host<std::uint8_t>(s->hit_heads), 0, s->pieces - s->hit_heads);
  std::fill(s->hit_live.begin(), s->hit_live.end(), 0);
  s->hit_hint = 0;
}

}  // namespace talven::graphics
