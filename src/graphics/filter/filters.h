// Image filters: whole-plane pixel transforms for scene effects.
//
// Geometric mappings (freemap, rotate, smooth, tiled, scroll), random
// glitches (noise, slice, fire), averaging (gradation, mosaic, blur) and the
// grey-level colour mapping of monotone. Every filter works on planes of 8,
// 16, 24 or 32 bits (some on fewer, as noted), source and destination of the
// same depth, clipped to the destination's clip. 8-bit planes are filtered on
// their index numbers, as if they were grey levels.
//
// Results: 1 when the filter ran (also with nothing to do), 0 for a missing
// plane, mismatched or unsupported depths, an empty clipped area or a
// non-positive size or amount where one is required. A source and
// destination that are the same plane are safe: the source area is read from
// a snapshot.
//
// Random numbers come from the process-wide generator (base/random.h) that
// scripts' rand uses. smooth and blur run rows (blur: columns) in parallel
// under the MultiThreading switch; the rest run on the calling thread.
// Geometry is integer fixed point; coordinates from scripts may be any 32-bit
// value and never overflow the steppers.
#pragma once

#include <cstdint>

#include "graphics/plane/plane.h"

namespace talven::graphics {

// A point of a freemap quadrilateral, wide enough for rotated corners of
// any 32-bit rectangle. Keys (freemap, rotate, smooth) below 0 mean none.
struct Point64 {
  std::int64_t x = 0, y = 0;
};

// Maps the source rectangle (null: whole source) onto the quadrilateral
// p[0]..p[3] (null: the destination's corners).
int freemap(Plane* dst, const Point64* points, Plane* src, const Rect* src_rect, std::int32_t key);
int rotate(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, std::int32_t angle,
           std::int32_t key);
int smooth(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, std::int32_t key);
int tiled(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, std::int32_t angle,
          std::int32_t zoom);
int scroll(Plane* p, const Rect* r, std::int32_t dx, std::int32_t dy);
int noise(Plane* p, const Rect* r, std::int32_t amount);
int slice(Plane* p, const Rect* r, std::int32_t amount);
int fire(Plane* p, const Rect* r);
int gradation(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, const Rect* src_rect);
int mosaic(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, const Rect* src_rect,
           std::int32_t block_w, std::int32_t block_h);
int monotone(Plane* p, const Rect* r, std::uint32_t dark, std::uint32_t light);
int blur(Plane* dst, std::int32_t x, std::int32_t y, Plane* src, const Rect* src_rect,
         std::int32_t radius);

// Largest number of edge or segment steps freemap walks; a quadrilateral
// with longer sides gives 0.
constexpr std::int64_t kMaxFreemapSteps = std::int64_t(1) << 24;

}  // namespace talven::graphics
