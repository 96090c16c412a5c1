// The sprite module's own state and the checked list operations shared by
// the store, the drawing and the hit areas. Not for other modules.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/sprite/sprite.h"

namespace talven::graphics::sprite_detail {

struct SpriteStore {
  Addr base = 0;  // the one block of script memory
  Addr heads = 0, records = 0, dummy = 0, hit_heads = 0, hits = 0, pieces = 0;
  std::uint32_t size = 0;
  // Host-side truth of which records are in a list: only records in none
  // are handed out, whatever a script wrote into them.
  std::vector<std::uint8_t> linked;
  std::vector<std::uint8_t> hit_live;
  int free_hint = 0, hit_hint = 0;
  int pieces_used = 0;
  std::int32_t origin_x[kSpriteLayers] = {}, origin_y[kSpriteLayers] = {};
  std::int32_t background = 0;  // from the cleared store: plane 0
  std::int32_t bg_x = 0, bg_y = 0;
  std::uint32_t default_flags = 0;
  Rect changed_area;  // empty when nothing changed
};

// The store, made on first use; null when script memory runs out.
SpriteStore* store();

template <typename T>
T* host(Addr a) {
  return reinterpret_cast<T*>(script_space().base() + a);
}

SpriteRecord* head(SpriteStore& s, int layer);
Addr head_addr(SpriteStore& s, int layer);
int sprite_index(SpriteStore& s, const SpriteRecord* r);
// A record or a layer head (what `previous` may name), else null.
SpriteRecord* list_node(SpriteStore& s, Addr a);

// The records of a layer in list order, following only checked links
// between records the host knows to be linked; at most kSpriteCount.
void layer_sprites(SpriteStore& s, int layer, std::vector<SpriteRecord*>& out);

void list_append(SpriteStore& s, int layer, SpriteRecord* r);
void list_insert_after(SpriteStore& s, SpriteRecord* pos, SpriteRecord* r);
void list_remove(SpriteStore& s, SpriteRecord* r);

// The parent of a sprite when it names a linked record, else null.
SpriteRecord* parent_of(SpriteStore& s, const SpriteRecord* r);

// Frees a sprite's children array when its words describe one of our
// blocks; the fields are cleared either way.
void free_child_array(SpriteRecord* r);
// Takes a sprite out of its parent's children array (closing the gap) and
// clears its parent link.
void detach(SpriteStore& s, SpriteRecord* child);

// The first free entry (zero in `in_use`), searched round from `hint`; the
// hint then moves past it, so records are handed out in turn and a freed
// one comes back only when the search reaches it. -1, hint unchanged, when
// every entry is in use.
int take_free_entry(const std::vector<std::uint8_t>& in_use, int& hint);

// Adds a rectangle to the changed area.
void add_changed(SpriteStore& s, const Rect& r);
Rect union_of(const Rect& a, const Rect& b);
inline bool overlaps(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// x >> shift for any shift byte a script may write.
inline std::int32_t shifted(std::int32_t v, std::uint8_t shift) {
  return shift >= 31 ? (v < 0 ? -1 : 0) : (v >> shift);
}

// Longest parent chain followed (a damaged chain may loop).
constexpr int kMaxChainDepth = kSpriteCount;

}  // namespace talven::graphics::sprite_detail
