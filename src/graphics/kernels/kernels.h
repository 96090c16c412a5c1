// Pixel kernels: copies between planes with the thirteen blend modes, and
// the solid and translucent shape fills.
//
// Every copy decodes a 12-byte blend-mode record, prepares the mode (the
// adjustments that make some modes cheaper ones), picks a kernel for the
// (source depth, destination depth) pair from the plain or masked family
// and runs it over destination rows, in parallel when MultiThreading is on.
// The per-pixel arithmetic is table lookups (tables.h).
//
// Sprites reach the copies through stretch_copy() and rotated_copy(); text
// fills through solid_fill().
#pragma once

#include <cstdint>

#include "base/address_space.h"
#include "graphics/plane/plane.h"

namespace talven::graphics {

// The blend modes, by the number a script writes in a record's mode byte.
enum class Blend : std::uint8_t {
  kCopy = 0,             // the source replaces the destination
  kSourceKey = 1,        // copy where the source colour is not param1
  kDestinationKey = 2,   // copy where the destination colour is param1
  kConstantAlpha = 3,    // mix source and destination by opacity
  kOperator = 4,         // op applied where the source alpha is above 0
  kAlphaLayering = 5,    // source over destination by the source alpha
  kTintedLayering = 6,   // alpha layering, the source tinted towards param2 by extra
  kAlphaWindow = 7,      // copy where opacity <= alpha <= opacity + extra
  kThresholdWipe = 8,    // soft wipe along the source alpha (opacity, extra)
  kChannelCopy = 9,      // op selects a source channel per destination channel
  kAlphaTransfer = 10,   // destination alpha = source alpha x opacity
  kCoverageColour = 11,  // an 8-bit source is the coverage of colour param2
  kTintedGrey = 12,      // the source's grey, tinted by param2, alpha layered
};

constexpr int kModeCount = 13;

// The record scripts pass; `mode` is a Blend number (prepare_mode turns it
// into a Blend after checking it).
struct BlendMode {
  std::uint8_t mode = 0;
  std::uint8_t op = 0;  // operator 0..13, or the channel selectors of mode 9
  std::uint8_t opacity = 0;
  std::uint8_t extra = 0;
  std::uint32_t param1 = 0;  // colour key, or the write mask of mode 9
  std::uint32_t param2 = 0;  // colour of modes 6, 11, 12
};

// Reads the record at addr (null: mode 0, opacity 0). False for a bad address.
bool load_blend_mode(Addr addr, BlendMode& out);

// The switch set by setsystem("color_mapping"): how copies between two
// 8-bit planes treat indexes (0: as grey levels, else through the colours).
std::int32_t& color_mapping();

// gcopy: the source rectangle (whole plane when null) at (x, y), 1:1.
// Returns 1 when drawn (also for a pair without a kernel), 0 on failure.
int gcopy(std::int32_t dst_slot, std::int32_t x, std::int32_t y, std::int32_t src_slot,
          const Rect* src_rect, const BlendMode* mode);

// The scaled copy: each reversed rectangle mirrors its axes; `mask` is the
// mask plane or null.
int stretch_copy(Plane* dst, Rect dst_rect, Plane* src, Rect src_rect, Plane* mask,
                 const BlendMode* mode);

// gblit (bilinear false) and gblita (true): scaled, mirrored and rotated by
// `angle` (1/2048 turn) about the rectangle centres. sub_x and sub_y are
// sub-pixel offsets in 1/65536 pixel (gblita only; 0 from the builtin).
int rotated_copy(Plane* dst, const Rect* dst_rect, Plane* src, const Rect* src_rect, Plane* mask,
                 const BlendMode* mode, std::int32_t angle, bool bilinear, std::int32_t sub_x = 0,
                 std::int32_t sub_y = 0);

// gclear: rectangle (null: whole plane) inside the clip set to the
// unconverted 0xAARRGGBB colour.
int solid_fill(Plane* p, const Rect* r, std::uint32_t color);
// gfill, gline, gpoly with 0xAARRGGBB colours.
int gfill(Plane* p, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
          std::uint32_t color);
int gline(Plane* p, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
          std::uint32_t color);
int gpoly(Plane* p, const std::int32_t* points, std::int32_t count, std::uint32_t color);

// ---- kernel internals shared by the drivers --------------------------------

struct KernelContext {
  Blend mode = Blend::kCopy;
  const std::uint8_t (*op)[256] = nullptr;  // selected operator table
  std::uint8_t opacity = 0, extra = 0, selectors = 0;
  std::uint32_t param1 = 0;                  // write mask of kChannelCopy
  std::uint8_t color[3] = {};                // param2 as blue, green, red
  std::uint32_t key = 0;                     // converted key of the two key modes
  const std::uint8_t* src_colors = nullptr;  // colour table of an 8-bit source
  const std::uint8_t* dst_colors = nullptr;  // colour table of an 8-bit destination
  const std::uint8_t* icm = nullptr;         // InverseColorMap
  const std::uint32_t* expand15 = nullptr;   // x1r5g5b5 to 0x00RRGGBB
  bool grey = false;                         // 8-bit to 8-bit with color_mapping 0
  int mask_step = 1;                         // bytes between mask pixels
  std::uint8_t ramp[256] = {};               // kThresholdWipe weights
};

// Blends n pixels: d destination, s source (in the source format), m mask
// bytes (masked family only, mask_step apart).
using KernelFn = void (*)(const KernelContext&, std::uint8_t* d, const std::uint8_t* s,
                          const std::uint8_t* m, int n);

// The kernel of a family for a depth pair (bytes per pixel 1..4), or null
// when the mode has none for that pair.
KernelFn find_kernel(Blend mode, bool masked, int src_bytes, int dst_bytes);

// Mode preparation. Returns false when the call must return 0; otherwise
// fills `ctx` (mode after adjustments) and sets `uses_mask` when the mode
// reads a mask (the masked family) if the source has one.
bool prepare_mode(const BlendMode* record, const Plane* dst, const Plane* src, KernelContext& ctx,
                  bool& uses_mask);

// Runs body(y) for y in [y0, y1) over the rows, in parallel when enabled.
template <typename Body>
void for_rows(int y0, int y1, Body&& body);

bool multithreading();

}  // namespace talven::graphics

#include "graphics/kernels/parallel.h"
