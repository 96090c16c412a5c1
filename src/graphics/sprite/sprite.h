// Sprites and hit areas: the retained scene that sp_draw composes onto the
// active page.
//
// Scripts hold sprites and hit areas by the script addresses of their
// records and change them by writing fields directly, so the two record
// layouts below are part of the script interface: byte offsets are fixed
// and every link is a 32-bit script address. All records live in one block
// of script memory:
//
//   32 sprite layer heads | 4096 sprite records | the dummy record |
//   32 hit-area layer heads | kHitPoolSize hit areas | 8192 covered pieces
//
// A layer list starts at its head's `next`; the first record's `previous`
// is the head. Because scripts can overwrite any of these words, every link
// is checked before it is followed (it must name a record of the right
// store) and every walk is bounded, so a damaged scene draws wrongly at
// worst and never reaches outside the store. Which records are in a list is
// also kept on the host side, and only records in no list are handed out
// again.
//
// All functions run under builtin_lock; sp_draw also holds the
// presentation lock while it composes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/address_space.h"
#include "graphics/plane/plane.h"

namespace talven::graphics {

constexpr int kSpriteLayers = 32;
constexpr int kSpriteCount = 4096;
constexpr int kCoveredPieceCount = 8192;
// Hit areas: room for two on every sprite, which is what scenes that give a
// sprite a body area and a trigger area need; 352 KiB of script memory.
constexpr int kHitPoolSize = 8192;

// Sprite flag bits.
constexpr std::uint16_t kSpriteChanged = 0x0003;  // bit 0 by scripts, bit 1 from a parent
constexpr std::uint16_t kSpriteChangedBit = 0x0001;
constexpr std::uint16_t kSpriteInherited = 0x0002;  // an ancestor changed
constexpr std::uint16_t kSpriteSmoothing = 0x0010;
constexpr std::uint16_t kSpriteRemoval = 0x2000;
constexpr std::uint16_t kSpriteCovered = 0x4000;
constexpr std::uint16_t kSpriteOnPage = 0x8000;

constexpr std::uint8_t kSpriteFree = 0;
constexpr std::uint8_t kSpriteHidden = 1;
constexpr std::uint8_t kSpriteShown = 2;

struct SpriteRecord {
  std::uint8_t state;
  std::uint8_t layer;
  std::uint16_t flags;
  std::uint8_t mirror_x;
  std::uint8_t mirror_y;
  std::uint8_t shift;  // fraction bits of x and y
  std::uint8_t reserved0;
  std::int32_t z;
  std::int32_t plane;
  std::int32_t x, y;
  std::int32_t pivot_x, pivot_y;
  std::int32_t scale_x, scale_y;  // 16.16
  std::int32_t effective_scale_x, effective_scale_y;
  std::uint16_t angle;  // 1/2048 turn
  std::uint16_t effective_angle;
  Rect source;
  std::uint8_t blend[12];
  Rect bounds;  // on the page, rotation included
  Rect box;     // unrotated destination box
  std::uint32_t child_count;
  Addr children;  // capacity in the word before the first element
  Addr parent;
  Addr previous;
  Addr next;
  Addr hit_areas;
  Addr covered;
  std::uint32_t reserved1;
};
static_assert(sizeof(SpriteRecord) == 144);
static_assert(offsetof(SpriteRecord, z) == 8 && offsetof(SpriteRecord, scale_x) == 32 &&
              offsetof(SpriteRecord, angle) == 48 && offsetof(SpriteRecord, source) == 52 &&
              offsetof(SpriteRecord, blend) == 68 && offsetof(SpriteRecord, bounds) == 80 &&
              offsetof(SpriteRecord, box) == 96 && offsetof(SpriteRecord, child_count) == 112 &&
              offsetof(SpriteRecord, parent) == 120 && offsetof(SpriteRecord, covered) == 136);

struct HitArea {
  std::int32_t layer;
  std::uint32_t mask;  // layers hit_check tests against; 0 makes the area inert
  Rect rect;           // relative to the sprite when attached
  Addr sprite;
  std::int32_t value;
  Addr previous;  // 0 marks a free record
  Addr next;
  Addr next_of_sprite;
};
static_assert(sizeof(HitArea) == 44);
static_assert(offsetof(HitArea, sprite) == 24 && offsetof(HitArea, next_of_sprite) == 40);

struct CoveredPiece {
  Rect rect;
  Addr next;
};
static_assert(sizeof(CoveredPiece) == 20);

// ---- the store -------------------------------------------------------------

// The sprite record at a script address: one of the 4096 records (not a
// head, not the dummy), else null. Null too when the store cannot be made.
SpriteRecord* sprite_at(Addr addr);
Addr sprite_addr(const SpriteRecord* s);
// The dummy record sp_set answers with when it fails.
Addr dummy_sprite();
HitArea* hit_area_at(Addr addr);
Addr hit_area_addr(const HitArea* h);

// ---- sprite operations (the builtins without argument decoding) ----------------

// sp_init: -1 clears everything, else takes off every sprite of the layers.
void sp_init(std::uint32_t mask);
// sp_flag: default flags of new sprites; returns the previous value.
std::uint32_t sp_flag(std::uint32_t flags);
// sp_set: address of the new record, or the dummy record on failure (0 only
// when no script memory could be had for the store). `source` null takes
// the whole plane, `blend` null gives mode 0.
Addr sp_set(std::int32_t layer, std::int32_t state, std::int32_t x, std::int32_t y,
            std::int32_t plane, const Rect* source, const std::uint8_t* blend);
// sp_reset: takes the sprite off; false for an address that is no record.
bool sp_reset(Addr sprite);
// `LinkSprite`: false (with a message for a cycle or no memory) when refused.
bool LinkSprite(Addr parent, Addr child);
bool sp_unlink(Addr sprite);
// sp_draw: false without an active page. `changed` (may be null) receives
// the changed area cut to the page's clip.
bool sp_draw(std::uint32_t mask, Rect* changed);
void sp_redraw(std::uint32_t mask);
std::int32_t sp_setbg(std::int32_t slot);
std::int32_t sp_getbg();
// Sprites currently in the draw list.
std::int32_t sp_count();
void sp_bgorg(std::int32_t x, std::int32_t y);
void sp_org(std::uint32_t mask, std::int32_t x, std::int32_t y);
void sp_sort(std::uint32_t mask, std::uint32_t keys);
// sp_rect: the unrotated box from the current transform; false for a bad
// sprite. The record itself is not changed.
bool sp_rect(Addr sprite, Rect& box);

// Layer origin (for tests and the transform).
void layer_origin(int layer, std::int32_t& x, std::int32_t& y);

// ---- hit areas ---------------------------------------------------------------

void hit_init(std::uint32_t mask);
// Null when the layer is above 31, the sprite is not a live record or the
// pool is full.
Addr hit_set(std::int32_t layer, std::uint32_t mask, Addr sprite, const Rect* rect,
             std::int32_t value);
bool hit_reset(Addr area);
Addr hit_check(Addr area);
Addr hit_rect(const Rect& r, std::uint32_t mask);
Addr hit_point(std::int32_t x, std::int32_t y, std::uint32_t mask);

// Removes the hit areas chained to a sprite (sp_reset, sp_init).
void remove_sprite_hit_areas(SpriteRecord* s);
// Empties the whole hit-area store.
void clear_hit_areas();

}  // namespace talven::graphics
