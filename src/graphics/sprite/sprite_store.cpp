// The sprite store: records, layer lists, parent-child links, layer
// origins, the background and sorting. Drawing is in sprite_draw.cpp.
#include "graphics/sprite/sprite_store.h"

#include <algorithm>
#include <cstring>

#include "graphics/present/pages.h"
#include "base/config.h"
#include "base/messages.h"

namespace talven::graphics {

using namespace sprite_detail;

namespace sprite_detail {

namespace {

constexpr std::uint32_t kHeadsSize = kSpriteLayers * sizeof(SpriteRecord);
constexpr std::uint32_t kRecordsSize = kSpriteCount * sizeof(SpriteRecord);
constexpr std::uint32_t kHitHeadsSize = kSpriteLayers * sizeof(HitArea);
constexpr std::uint32_t kHitsSize = kHitPoolSize * sizeof(HitArea);
constexpr std::uint32_t kPiecesSize = kCoveredPieceCount * sizeof(CoveredPiece);

}  // namespace

SpriteStore* store() {
  static SpriteStore s;
  if (s.base) return &s;
  const std::uint32_t size =
      kHeadsSize + kRecordsSize + sizeof(SpriteRecord) + kHitHeadsSize + kHitsSize + kPiecesSize;
  Addr base = script_zalloc(size);
  if (!base) return nullptr;
  s.base = base;
  s.size = size;
  s.heads = base;
  s.records = s.heads + kHeadsSize;
  s.dummy = s.records + kRecordsSize;
  s.hit_heads = s.dummy + sizeof(SpriteRecord);
  s.hits = s.hit_heads + kHitHeadsSize;
  s.pieces = s.hits + kHitsSize;
  s.linked.assign(kSpriteCount, 0);
  s.hit_live.assign(kHitPoolSize, 0);
  return &s;
}

SpriteRecord* head(SpriteStore& s, int layer) { return host<SpriteRecord>(head_addr(s, layer)); }
Addr head_addr(SpriteStore& s, int layer) { return s.heads + Addr(layer) * sizeof(SpriteRecord); }

int sprite_index(SpriteStore& s, const SpriteRecord* r) {
  return int((reinterpret_cast<const std::uint8_t*>(r) - (script_space().base() + s.records)) /
             std::ptrdiff_t(sizeof(SpriteRecord)));
}

SpriteRecord* list_node(SpriteStore& s, Addr a) {
  if (a < s.heads || a >= s.records + kRecordsSize) return nullptr;
  if ((a - s.heads) % sizeof(SpriteRecord)) return nullptr;
  return host<SpriteRecord>(a);
}

namespace {

// The next record of a list, when the link names a linked record.
SpriteRecord* next_linked(SpriteStore& s, Addr a) {
  SpriteRecord* r = sprite_at(a);
  return r && s.linked[sprite_index(s, r)] ? r : nullptr;
}

}  // namespace

void layer_sprites(SpriteStore& s, int layer, std::vector<SpriteRecord*>& out) {
  out.clear();
  SpriteRecord* r = next_linked(s, head(s, layer)->next);
  while (r && int(out.size()) < kSpriteCount) {
    out.push_back(r);
    r = next_linked(s, r->next);
  }
}

void list_insert_after(SpriteStore& s, SpriteRecord* pos, SpriteRecord* r) {
  const Addr ra = script_space().address_of(r), pa = script_space().address_of(pos);
  r->previous = pa;
  r->next = 0;
  if (SpriteRecord* n = next_linked(s, pos->next)) {
    r->next = pos->next;
    n->previous = ra;
  }
  pos->next = ra;
  s.linked[sprite_index(s, r)] = 1;
}

void list_append(SpriteStore& s, int layer, SpriteRecord* r) {
  SpriteRecord* last = head(s, layer);
  int steps = 0;
  while (SpriteRecord* n = next_linked(s, last->next)) {
    if (++steps > kSpriteCount) break;
    last = n;
  }
  r->layer = std::uint8_t(layer);
  list_insert_after(s, last, r);
}

void list_remove(SpriteStore& s, SpriteRecord* r) {
  const Addr ra = script_space().address_of(r);
  SpriteRecord* prev = list_node(s, r->previous);
  SpriteRecord* next = next_linked(s, r->next);
  if (prev && prev->next == ra) prev->next = next ? r->next : 0;
  if (next && next->previous == ra) next->previous = prev ? r->previous : 0;
  r->previous = r->next = 0;
  s.linked[sprite_index(s, r)] = 0;
}

SpriteRecord* parent_of(SpriteStore& s, const SpriteRecord* r) {
  if (!r->parent) return nullptr;
  return next_linked(s, r->parent);
}

Rect union_of(const Rect& a, const Rect& b) {
  if (a.empty()) return b.empty() ? Rect{} : b;
  if (b.empty()) return a;
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

void add_changed(SpriteStore& s, const Rect& r) { s.changed_area = union_of(s.changed_area, r); }

int take_free_entry(const std::vector<std::uint8_t>& in_use, int& hint) {
  const int count = int(in_use.size());
  for (int k = 0; k < count; ++k) {
    const int i = (hint + k) % count;
    if (!in_use[std::size_t(i)]) {
      hint = (i + 1) % count;
      return i;
    }
  }
  return -1;
}

}  // namespace sprite_detail

// ---- record addresses ---------------------------------------------------------

SpriteRecord* sprite_at(Addr addr) {
  SpriteStore* s = store();
  if (!s || addr < s->records || addr >= s->dummy) return nullptr;
  if ((addr - s->records) % sizeof(SpriteRecord)) return nullptr;
  return host<SpriteRecord>(addr);
}

Addr sprite_addr(const SpriteRecord* s) { return script_space().address_of(s); }

Addr dummy_sprite() {
  SpriteStore* s = store();
  return s ? s->dummy : 0;
}

namespace {

// ---- children arrays ---------------------------------------------------------------

// Children arrays are blocks of script memory: the capacity word, then the
// child addresses. A capacity past this is damage, not a scene.
constexpr std::uint32_t kMaxChildCapacity = 2 * kSpriteCount;

struct ChildArray {
  std::uint32_t* items = nullptr;
  std::uint32_t count = 0, capacity = 0;
};

// The sprite's children array when its words describe one of our blocks.
bool child_array(SpriteRecord* r, ChildArray& a) {
  a = {};
  if (!r->children) return false;
  std::uint32_t cap = 0;
  if (r->children < 4 || !load32(r->children - 4, cap)) return false;
  if (cap == 0 || cap > kMaxChildCapacity) return false;
  if (script_space().block_size(r->children - 4) < (cap + 1) * 4) return false;
  a.items = host<std::uint32_t>(r->children);
  a.capacity = cap;
  a.count = std::min(r->child_count, cap);
  return true;
}

}  // namespace

void sprite_detail::free_child_array(SpriteRecord* r) {
  ChildArray a;
  if (child_array(r, a)) script_free(r->children - 4);
  r->children = 0;
  r->child_count = 0;
}

// Takes the child out of its parent's array (closing the gap).
void sprite_detail::detach(SpriteStore& s, SpriteRecord* child) {
  SpriteRecord* p = parent_of(s, child);
  const Addr ca = sprite_addr(child);
  child->parent = 0;
  ChildArray a;
  if (!p || !child_array(p, a)) return;
  for (std::uint32_t i = 0; i < a.count; ++i)
    if (a.items[i] == ca) {
      std::memmove(a.items + i, a.items + i + 1, (a.count - i - 1) * 4);
      p->child_count = a.count - 1;
      return;
    }
}

namespace {

// sp_reset's work: the sprite and, depth first and last child first, its
// children are taken off. Each step pops one array entry, so even a damaged
// graph of links ends.
void take_off(SpriteStore& s, SpriteRecord* root) {
  detach(s, root);
  std::vector<SpriteRecord*> stack{root};
  while (!stack.empty()) {
    SpriteRecord* r = stack.back();
    ChildArray a;
    if (child_array(r, a) && a.count > 0) {
      r->child_count = a.count - 1;
      SpriteRecord* c = next_linked(s, a.items[a.count - 1]);
      if (c) {
        if (c->parent == sprite_addr(r)) c->parent = 0;
        stack.push_back(c);
      }
      continue;
    }
    free_child_array(r);
    r->flags |= kSpriteRemoval;
    r->state = kSpriteHidden;
    remove_sprite_hit_areas(r);
    stack.pop_back();
  }
}

bool selected(std::uint32_t mask, int layer) { return (mask >> layer) & 1; }

// The page area the background covers with its origin.
Rect background_area(const SpriteStore& s) {
  const Plane* b = plane_at(s.background);
  if (!b) return Rect{};
  auto c32 = [](std::int64_t v) {
    return std::int32_t(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
  };
  return Rect{c32(std::max<std::int64_t>(0, -std::int64_t(s.bg_x))),
              c32(std::max<std::int64_t>(0, -std::int64_t(s.bg_y))),
              c32(std::int64_t(b->width) - s.bg_x), c32(std::int64_t(b->height) - s.bg_y)};
}

bool has_background(const SpriteStore& s) { return std::uint32_t(s.background) < kPlaneSlots; }

}  // namespace

// ---- builtins' work -----------------------------------------------------------------

void sp_init(std::uint32_t mask) {
  SpriteStore* s = store();
  if (!s) return;
  std::vector<SpriteRecord*> list;
  if (mask == 0xFFFFFFFFu) {
    drt_init();
    clear_hit_areas();
    for (int i = 0; i < kSpriteCount; ++i)
      free_child_array(host<SpriteRecord>(s->records + Addr(i) * sizeof(SpriteRecord)));
    std::memset(host<std::uint8_t>(s->heads), 0, s->hit_heads - s->heads);
    std::memset(host<std::uint8_t>(s->pieces), 0, kCoveredPieceCount * sizeof(CoveredPiece));
    std::fill(s->linked.begin(), s->linked.end(), 0);
    s->free_hint = 0;
    s->pieces_used = 0;
    std::fill(std::begin(s->origin_x), std::end(s->origin_x), 0);
    std::fill(std::begin(s->origin_y), std::end(s->origin_y), 0);
    s->background = 0;
    s->bg_x = s->bg_y = 0;
    s->changed_area = Rect{};
    return;
  }
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    if (!selected(mask, layer)) continue;
    layer_sprites(*s, layer, list);
    for (SpriteRecord* r : list)
      if (s->linked[sprite_index(*s, r)]) take_off(*s, r);
  }
}

std::uint32_t sp_flag(std::uint32_t flags) {
  SpriteStore* s = store();
  if (!s) return 0;
  std::uint32_t old = s->default_flags;
  s->default_flags = flags;
  return old;
}

Addr sp_set(std::int32_t layer, std::int32_t state, std::int32_t x, std::int32_t y,
            std::int32_t plane, const Rect* source, const std::uint8_t* blend) {
  SpriteStore* s = store();
  if (!s) return 0;
  SpriteRecord* dummy = host<SpriteRecord>(s->dummy);
  // The dummy starts every failure cleared, so nothing a script wrote
  // through an earlier one looks like a sprite.
  auto fail = [&] {
    *dummy = SpriteRecord{};
    return s->dummy;
  };
  if (std::uint32_t(layer) >= kSpriteLayers || std::uint32_t(plane) >= kPlaneSlots) return fail();
  Rect src;
  if (source) {
    src = *source;
  } else {
    const Plane* p = plane_at(plane);
    if (!p) return fail();
    src = p->bounds();
  }
  const int found = take_free_entry(s->linked, s->free_hint);
  if (found < 0) return fail();
  SpriteRecord* r = host<SpriteRecord>(s->records + Addr(found) * sizeof(SpriteRecord));
  *r = SpriteRecord{};
  r->state = std::uint8_t(state);
  r->flags = std::uint16_t(s->default_flags | (config().Smoothing ? kSpriteSmoothing : 0));
  r->plane = plane;
  r->x = x;
  r->y = y;
  r->scale_x = r->scale_y = 0x10000;
  r->source = src;
  if (blend) std::memcpy(r->blend, blend, sizeof(r->blend));
  list_append(*s, layer, r);
  return sprite_addr(r);
}

bool sp_reset(Addr sprite) {
  SpriteStore* s = store();
  SpriteRecord* r = sprite_at(sprite);
  if (!s || !r) return false;
  // A record in no list is free already: marking it would keep it from
  // ever being handed out again.
  if (s->linked[sprite_index(*s, r)]) take_off(*s, r);
  return true;
}

bool LinkSprite(Addr parent, Addr child) {
  SpriteStore* s = store();
  SpriteRecord* p = sprite_at(parent);
  SpriteRecord* c = sprite_at(child);
  if (!s || !p || !c || !s->linked[sprite_index(*s, p)] || !s->linked[sprite_index(*s, c)])
    return false;
  int depth = 0;
  for (SpriteRecord* a = p; a && depth < kMaxChainDepth; a = parent_of(*s, a), ++depth)
    if (a == c) {
      report_message(1, "LinkSprite : 循環参照してます。");
      return false;
    }
  detach(*s, c);
  ChildArray a;
  if (!child_array(p, a)) {
    Addr block = script_alloc(9 * 4);
    if (!block) {
      report_message(1, "LinkSprite : メモリの確保に失敗しました。");
      return false;
    }
    store32(block, 8);
    p->children = block + 4;
    p->child_count = 0;
    child_array(p, a);
  } else if (a.count == a.capacity) {
    const std::uint32_t cap = a.capacity * 2;
    Addr block = cap > kMaxChildCapacity ? 0 : script_realloc(p->children - 4, (cap + 1) * 4);
    if (!block) {
      report_message(1, "LinkSprite : メモリの確保に失敗しました。");
      return false;
    }
    store32(block, cap);
    p->children = block + 4;
    child_array(p, a);
  }
  a.items[a.count] = child;
  p->child_count = a.count + 1;
  c->parent = parent;
  if (c->layer == p->layer) {
    list_remove(*s, c);
    list_insert_after(*s, p, c);
  }
  return true;
}

bool sp_unlink(Addr sprite) {
  SpriteStore* s = store();
  SpriteRecord* r = sprite_at(sprite);
  if (!s || !r || !s->linked[sprite_index(*s, r)]) return false;
  detach(*s, r);
  return true;
}

void sp_redraw(std::uint32_t mask) {
  SpriteStore* s = store();
  if (!s) return;
  std::vector<SpriteRecord*> list;
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    if (!selected(mask, layer)) continue;
    layer_sprites(*s, layer, list);
    for (SpriteRecord* r : list)
      if (r->state == kSpriteShown || (r->flags & kSpriteOnPage)) r->flags |= kSpriteChangedBit;
  }
  if (has_background(*s))
    if (const Plane* page = plane_at(active_page())) drt_set(page->bounds());
}

std::int32_t sp_setbg(std::int32_t slot) {
  SpriteStore* s = store();
  if (!s) return 0;
  const std::int32_t old = s->background;
  s->background = slot;
  s->bg_x = s->bg_y = 0;
  drt_init();
  if (has_background(*s)) {
    const Rect area = background_area(*s);
    if (!area.empty()) drt_set(area);
    add_changed(*s, area);
  } else if (const Plane* page = plane_at(active_page())) {
    add_changed(*s, page->bounds());
  }
  return old;
}

std::int32_t sp_getbg() {
  SpriteStore* s = store();
  return s ? s->background : 0;
}

std::int32_t sp_count() {
  SpriteStore* s = store();
  if (!s) return 0;
  std::int32_t n = 0;
  for (std::uint8_t linked : s->linked) n += linked ? 1 : 0;
  return n;
}

void sp_bgorg(std::int32_t x, std::int32_t y) {
  SpriteStore* s = store();
  if (!s) return;
  s->bg_x = x;
  s->bg_y = y;
  const Rect area = background_area(*s);
  if (!area.empty()) drt_set(area);
  add_changed(*s, area);
}

void sp_org(std::uint32_t mask, std::int32_t x, std::int32_t y) {
  SpriteStore* s = store();
  if (!s) return;
  for (int layer = 0; layer < kSpriteLayers; ++layer)
    if (selected(mask, layer)) {
      s->origin_x[layer] = x;
      s->origin_y[layer] = y;
    }
}

void layer_origin(int layer, std::int32_t& x, std::int32_t& y) {
  SpriteStore* s = store();
  x = y = 0;
  if (!s || layer < 0 || layer >= kSpriteLayers) return;
  x = s->origin_x[layer];
  y = s->origin_y[layer];
}

void sp_sort(std::uint32_t mask, std::uint32_t keys) {
  SpriteStore* s = store();
  if (!s || !(keys & 3)) return;
  std::vector<SpriteRecord*> list;
  struct Keyed {
    std::int32_t key;
    SpriteRecord* r;
  };
  std::vector<Keyed> keyed;
  for (int layer = 0; layer < kSpriteLayers; ++layer) {
    if (!selected(mask, layer)) continue;
    layer_sprites(*s, layer, list);
    if (list.size() < 2) continue;
    keyed.clear();
    for (SpriteRecord* r : list) {
      // Keys wrap as 32-bit words do.
      std::uint32_t ysum = 0;
      int depth = 0;
      for (SpriteRecord* a = r; a && depth < kMaxChainDepth; a = parent_of(*s, a), ++depth)
        ysum += std::uint32_t(shifted(a->y, a->shift));
      std::uint32_t key = (keys & 1) && (keys & 2) ? (ysum << 16) + std::uint32_t(r->z)
                          : (keys & 1)             ? ysum
                                                   : std::uint32_t(r->z);
      keyed.push_back({std::int32_t(key), r});
    }
    // A stable sort orders exactly as repeatedly moving the first smallest
    // key forward does.
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    SpriteRecord* prev = head(*s, layer);
    Addr prev_addr = head_addr(*s, layer);
    for (const Keyed& k : keyed) {
      prev->next = sprite_addr(k.r);
      k.r->previous = prev_addr;
      prev = k.r;
      prev_addr = sprite_addr(k.r);
    }
    prev->next = 0;
  }
}

}  // namespace talven::graphics
