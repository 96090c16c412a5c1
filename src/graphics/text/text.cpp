#include "graphics/text/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "base/cp932.h"
#include "graphics/kernels/kernels.h"
#include "graphics/kernels/tables.h"
#include "graphics/text/font_faces.h"

namespace talven::graphics {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- realised fonts ----------------------------------------------------------

struct Glyph {
  std::int32_t left = 0, top = 0;  // bitmap corner from the pen: right, and up
  std::int32_t width = 0, rows = 0, pitch = 0;
  std::vector<std::uint8_t> bits;  // 1-bit rows, most significant bit first
  std::int32_t advance = 0;        // pixels along the baseline
  bool rendered = false;           // bits made (or found empty)
};

struct RealFont {
  FaceSource source;
  FT_Face face = nullptr;
  std::int32_t height = 0;  // the height used, after the 8x scaling
  std::int32_t ascent = 0, descent = 0;
  std::int32_t angle = 0;
  double cos_a = 1, sin_a = 0;
  FT_Matrix rotation{0x10000, 0, 0, 0x10000};
  bool embolden = false, oblique = false, underline = false, strike = false, italic = false;
  FT_Pos bold_strength = 0;                            // 26.6
  std::int32_t underline_pos = 0, underline_size = 1;  // pixels below the baseline
  std::int32_t strike_pos = 0, strike_size = 1;        // pixels above the baseline
  std::unordered_map<std::uint16_t, Glyph> glyphs;
  std::uint64_t glyph_bytes = 0;

  RealFont() = default;
  RealFont(const RealFont&) = delete;
  RealFont& operator=(const RealFont&) = delete;
  ~RealFont() { close_face(face); }
};

using RealFontPtr = std::unique_ptr<RealFont>;

std::int32_t effective_height(std::int32_t h) {
  if (h == 0) return 16;
  return std::clamp(h, -kMaxFontHeight, kMaxFontHeight);
}

std::int32_t normal_angle(std::int32_t a) { return ((a % 3600) + 3600) % 3600; }

std::int32_t scaled_px(FT_Face face, FT_Short units) {
  return std::int32_t(std::lround(double(FT_MulFix(units, face->size->metrics.y_scale)) / 64.0));
}

RealFontPtr open_font(const FontRecord& desc, bool eight_times) {
  std::int32_t weight = desc.weight <= 0 ? 400 : desc.weight;
  if (desc.style & kStyleBold) weight += 300;
  weight = std::min(weight, 900);
  const bool italic = desc.style & kStyleItalic;
  auto f = std::make_unique<RealFont>();
  std::string_view name(desc.face, strnlen(desc.face, sizeof desc.face));
  if (!find_face(name, weight, italic, f->source)) return nullptr;
  f->face = open_face(f->source);
  if (!f->face) return nullptr;
  FT_Face face = f->face;
  std::int32_t h = effective_height(desc.height) * (eight_times ? 8 : 1);
  f->height = h;
  if (h < 0) {
    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(-h)) != 0) return nullptr;
  } else {
    FT_Size_RequestRec req{FT_SIZE_REQUEST_TYPE_CELL, 0, FT_Long(h) * 64, 0, 0};
    if (FT_Request_Size(face, &req) != 0) return nullptr;
  }
  const FT_Size_Metrics& m = face->size->metrics;
  f->ascent = std::int32_t((m.ascender + 63) >> 6);
  f->descent = std::int32_t((-m.descender + 63) >> 6);
  if (h > 0) {  // a positive height is the cell height exactly
    f->ascent = std::min(f->ascent, h);
    f->descent = h - f->ascent;
  }
  f->angle = normal_angle(desc.angle);
  double theta = f->angle * kPi / 1800.0;
  f->cos_a = std::cos(theta);
  f->sin_a = std::sin(theta);
  f->rotation =
      FT_Matrix{FT_Fixed(std::lround(f->cos_a * 65536)), FT_Fixed(std::lround(-f->sin_a * 65536)),
                FT_Fixed(std::lround(f->sin_a * 65536)), FT_Fixed(std::lround(f->cos_a * 65536))};
  f->italic = italic;
  f->embolden = weight >= 600 && !f->source.bold;
  f->oblique = italic && !f->source.italic;
  std::int64_t em_px = std::abs(FT_MulFix(face->units_per_EM, m.y_scale));  // 26.6
  f->bold_strength = std::max<FT_Pos>(64, FT_Pos(em_px / 24));
  f->underline = desc.style & kStyleUnderline;
  f->strike = desc.style & kStyleStrikeOut;
  f->underline_pos = std::max(1, -scaled_px(face, face->underline_position));
  f->underline_size = std::max(1, scaled_px(face, face->underline_thickness));
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
    f->strike_pos = scaled_px(face, os2->yStrikeoutPosition);
    f->strike_size = std::max(1, scaled_px(face, os2->yStrikeoutSize));
  } else {
    f->strike_pos = f->ascent * 3 / 10;
    f->strike_size = f->underline_size;
  }
  return f;
}

// Unicode code point of a CP932 character code, 0 when it has none.
std::uint32_t unicode_of(std::uint16_t code) {
  if (code < 0x80) return code;
  if (code >= 0xA1 && code <= 0xDF) return 0xFF61 + (code - 0xA1);
  if (code < 0x100) return 0;
  char bytes[2] = {char(code >> 8), char(code & 0xFF)};
  auto utf8 = cp932::to_utf8(std::string_view(bytes, 2));
  if (!utf8 || utf8->empty()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8->data());
  if (p[0] < 0x80) return p[0];
  if ((p[0] & 0xE0) == 0xC0 && utf8->size() >= 2) return (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
  if ((p[0] & 0xF0) == 0xE0 && utf8->size() >= 3)
    return (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
  return 0;
}

// Loads the outline of a glyph index with the font's synthetic styles; the
// slot's metrics are the unrotated ones. False when there is no outline.
bool load_outline(RealFont& f, FT_UInt index) {
  if (FT_Load_Glyph(f.face, index, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) return false;
  FT_GlyphSlot slot = f.face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  if (f.embolden) FT_Outline_EmboldenXY(&slot->outline, f.bold_strength, 0);
  if (f.oblique) {
    FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};
    FT_Outline_Transform(&slot->outline, &shear);
  }
  return true;
}

// A character's entry: its advance at once, its bitmap on first drawing
// (measuring a long line never rasterises it). Entries are never erased,
// so references stay valid; past the cache budget the bitmaps of the other
// glyphs are dropped and made again when needed.
Glyph& glyph_for(RealFont& f, std::uint16_t code) {
  if (auto it = f.glyphs.find(code); it != f.glyphs.end()) return it->second;
  Glyph g;
  if (load_outline(f, FT_Get_Char_Index(f.face, unicode_of(code)))) {
    g.advance = std::int32_t((f.face->glyph->advance.x + 32) >> 6);
    if (f.embolden) g.advance += std::int32_t((f.bold_strength + 32) >> 6);
  }
  return f.glyphs.emplace(code, std::move(g)).first->second;
}

const Glyph& glyph_bits(RealFont& f, std::uint16_t code, Glyph& g) {
  if (g.rendered) return g;
  g.rendered = true;
  if (!load_outline(f, FT_Get_Char_Index(f.face, unicode_of(code)))) return g;
  FT_GlyphSlot slot = f.face->glyph;
  if (f.angle) FT_Outline_Transform(&slot->outline, &f.rotation);
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0 ||
      slot->bitmap.pixel_mode != FT_PIXEL_MODE_MONO)
    return g;
  const FT_Bitmap& b = slot->bitmap;
  const std::uint64_t bytes = (std::uint64_t(b.width) + 7) / 8;
  const std::uint64_t pitch = (bytes + 7) & ~std::uint64_t(7);  // whole words for the word-wide OR
  const std::uint64_t cost = pitch * b.rows;
  if (cost > kMaxGlyphCacheBytes) return g;  // larger than any text could show
  if (f.glyph_bytes + cost > kMaxGlyphCacheBytes) {
    for (auto& [other_code, other] : f.glyphs) {
      other.bits = {};
      other.rendered = false;
    }
    f.glyph_bytes = 0;
    g.rendered = true;
  }
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.width = std::int32_t(b.width);
  g.rows = std::int32_t(b.rows);
  g.pitch = std::int32_t(pitch);
  g.bits.assign(std::size_t(cost), 0);
  for (std::int32_t r = 0; r < g.rows; ++r) {
    const unsigned char* src = b.pitch >= 0 ? b.buffer + std::ptrdiff_t(r) * b.pitch
                                            : b.buffer + std::ptrdiff_t(g.rows - 1 - r) * -b.pitch;
    std::memcpy(g.bits.data() + std::size_t(r) * g.pitch, src, std::size_t(bytes));
  }
  f.glyph_bytes += cost;
  return g;
}

// Character codes of a CP932 string; a lead byte without its trail byte
// at the end is dropped.
void decode(std::string_view text, std::vector<std::uint16_t>& codes) {
  codes.clear();
  for (std::size_t i = 0; i < text.size();) {
    auto b = std::uint8_t(text[i]);
    if (cp932::is_lead(b)) {
      if (i + 1 >= text.size() || text[i + 1] == 0) break;
      codes.push_back(std::uint16_t(b << 8 | std::uint8_t(text[i + 1])));
      i += 2;
    } else {
      codes.push_back(b);
      ++i;
    }
  }
}

// Width of the string along the baseline, in pixels of the realised font.
std::int64_t extent(RealFont& f, const std::vector<std::uint16_t>& codes) {
  std::int64_t cx = 0;
  for (std::uint16_t c : codes) cx += glyph_for(f, c).advance;
  return cx;
}

// ---- 1-bit masks -------------------------------------------------------------

// Rows carry kMaskPad spare bytes so that glyph words may spill past the
// last byte in use; nothing reads them.
constexpr std::int64_t kMaskPad = 16;

struct Mask {
  std::vector<std::uint8_t> bits;
  std::int64_t stride = 0;             // bytes per row
  std::int32_t width = 0, height = 0;  // in use

  // Makes room for w x h (keeping the largest size seen when `keep`) and
  // clears the part in use. False when it cannot be had.
  bool prepare(std::int64_t w, std::int64_t h, bool keep) {
    const std::int64_t row_bytes = (w + 7) / 8, need_stride = row_bytes + kMaskPad;
    if (w <= 0 || h <= 0 || std::uint64_t(need_stride) * std::uint64_t(h) > kMaxWorkBytes)
      return false;
    try {
      if (keep) {
        std::int64_t cap_rows = stride ? std::int64_t(bits.size()) / stride : 0;
        std::int64_t new_stride = std::max(stride, need_stride), new_rows = std::max(cap_rows, h);
        if (std::uint64_t(new_stride) * std::uint64_t(new_rows) > kMaxWorkBytes) {
          new_stride = need_stride;
          new_rows = h;
        }
        if (new_stride != stride || new_rows > cap_rows) {
          bits.assign(std::size_t(new_stride * new_rows), 0);
          stride = new_stride;
        } else {
          for (std::int64_t y = 0; y < h; ++y)
            std::memset(bits.data() + y * stride, 0, std::size_t(row_bytes));
        }
      } else {
        stride = need_stride;
        if (bits.size() < std::size_t(stride * h)) bits.resize(std::size_t(stride * h));
        std::memset(bits.data(), 0, std::size_t(stride * h));
      }
    } catch (const std::bad_alloc&) {
      bits = {};
      stride = 0;
      return false;
    }
    width = std::int32_t(w);
    height = std::int32_t(h);
    return true;
  }
  std::uint8_t* row(std::int32_t y) { return bits.data() + std::int64_t(y) * stride; }
  bool test(std::int32_t x, std::int32_t y) const {
    return bits[std::size_t(std::int64_t(y) * stride + (x >> 3))] & (0x80 >> (x & 7));
  }
  void set(std::int32_t x, std::int32_t y) {
    bits[std::size_t(std::int64_t(y) * stride + (x >> 3))] |= std::uint8_t(0x80 >> (x & 7));
  }
};

void or_glyph(Mask& m, const Glyph& g, std::int64_t gx, std::int64_t gy) {
  if (g.bits.empty() || gx >= m.width || gy >= m.height || gx + g.width <= 0 || gy + g.rows <= 0)
    return;
  // Wholly inside horizontally: whole words, shifted into place. The last
  // word of a row may reach into the row's spare bytes.
  const bool inside_x = gx >= 0 && gx + g.width <= m.width && (gx >> 3) + g.pitch + 1 <= m.stride;
  const int shift = int(gx & 7);
  const std::int32_t r0 = std::int32_t(std::max<std::int64_t>(0, -gy));
  const std::int32_t r1 = std::int32_t(std::min<std::int64_t>(g.rows, m.height - gy));
  for (std::int32_t r = r0; r < r1; ++r) {
    const std::uint8_t* src = g.bits.data() + std::size_t(r) * g.pitch;
    std::uint8_t* dst = m.row(std::int32_t(gy + r));
    if (inside_x) {
      std::uint8_t* d = dst + (gx >> 3);
      for (std::int32_t k = 0; k < g.pitch; k += 8) {
        std::uint64_t w;
        std::memcpy(&w, src + k, 8);
        if (!w) continue;
        w = __builtin_bswap64(w);  // most significant bit first, as the rows are
        std::uint64_t out;
        std::memcpy(&out, d + k, 8);
        out |= __builtin_bswap64(w >> shift);
        std::memcpy(d + k, &out, 8);
        if (shift) d[k + 8] |= std::uint8_t(w << (8 - shift));
      }
    } else {
      for (std::int32_t c = 0; c < g.width; ++c) {
        std::int64_t x = gx + c;
        if (x < 0 || x >= m.width) continue;
        if (src[c >> 3] & (0x80 >> (c & 7))) m.set(std::int32_t(x), std::int32_t(gy + r));
      }
    }
  }
}

// The frame of a line of text: the baseline start B and the directions
// along (d) and down (n) the text in plane coordinates (y downwards).
struct Frame {
  double bx = 0, by = 0;
  double dx = 1, dy = 0, nx = 0, ny = 1;
  // Position of a point along (t) and below (u) the baseline.
  void place(double px, double py, double& t, double& u) const {
    double ex = px - bx, ey = py - by;
    t = ex * dx + ey * dy;
    u = ex * nx + ey * ny;
  }
};

Frame frame_at(const RealFont& f, double ox, double oy) {
  Frame fr;
  fr.dx = f.cos_a;
  fr.dy = -f.sin_a;
  fr.nx = f.sin_a;
  fr.ny = f.cos_a;
  fr.bx = ox + f.ascent * fr.nx;
  fr.by = oy + f.ascent * fr.ny;
  return fr;
}

// Sets the mask pixels whose centres lie in t0 <= t < t1, u0 <= u < u1.
void fill_band(Mask& m, const Frame& fr, double t0, double t1, double u0, double u1) {
  double xs[4], ys[4];
  int k = 0;
  for (double t : {t0, t1})
    for (double u : {u0, u1}) {
      xs[k] = fr.bx + t * fr.dx + u * fr.nx;
      ys[k++] = fr.by + t * fr.dy + u * fr.ny;
    }
  auto lo = [](const double* v) { return std::floor(std::min({v[0], v[1], v[2], v[3]})); };
  auto hi = [](const double* v) { return std::ceil(std::max({v[0], v[1], v[2], v[3]})); };
  std::int64_t x0 = std::max<std::int64_t>(0, std::int64_t(lo(xs)));
  std::int64_t x1 = std::min<std::int64_t>(m.width, std::int64_t(hi(xs)));
  std::int64_t y0 = std::max<std::int64_t>(0, std::int64_t(lo(ys)));
  std::int64_t y1 = std::min<std::int64_t>(m.height, std::int64_t(hi(ys)));
  for (std::int64_t y = y0; y < y1; ++y)
    for (std::int64_t x = x0; x < x1; ++x) {
      double t, u;
      fr.place(x + 0.5, y + 0.5, t, u);
      if (t >= t0 && t < t1 && u >= u0 && u < u1) m.set(std::int32_t(x), std::int32_t(y));
    }
}

// Renders the string with its cell's top-left corner at (ox, oy) of the mask.
void render_line(RealFont& f, Mask& m, const std::vector<std::uint16_t>& codes, double ox,
                 double oy, std::int64_t cx) {
  Frame fr = frame_at(f, ox, oy);
  // A glyph lies within two cell heights of its pen position; glyphs whose
  // neighbourhood misses the mask are not rasterised at all.
  const double reach = 2.0 * (f.ascent + f.descent) + 2;
  std::int64_t pen = 0;
  for (std::uint16_t c : codes) {
    Glyph& entry = glyph_for(f, c);
    double px = fr.bx + double(pen) * fr.dx, py = fr.by + double(pen) * fr.dy;
    pen += entry.advance;
    if (px + reach < 0 || py + reach < 0 || px - reach > m.width || py - reach > m.height) continue;
    const Glyph& g = glyph_bits(f, c, entry);
    or_glyph(m, g, std::llround(px) + g.left, std::llround(py) - g.top);
  }
  if (f.underline)
    fill_band(m, fr, 0, double(cx), f.underline_pos, f.underline_pos + f.underline_size);
  if (f.strike) fill_band(m, fr, 0, double(cx), -f.strike_pos, -f.strike_pos + f.strike_size);
}

// ---- reduction -----------------------------------------------------------------

struct Reduction {
  std::array<std::uint8_t, 256> rows{}, last{};
  Reduction() {
    for (int b = 0; b < 256; ++b) rows[b] = last[b] = std::uint8_t(4 * std::popcount(unsigned(b)));
    last[255] = 31;
  }
};

const Reduction& reduction() {
  static const Reduction r;
  return r;
}

// Per-byte population counts of a word (0..8 in each byte).
inline std::uint64_t byte_popcounts(std::uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555ull);
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  return (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
}

// High bit of each byte that is 0xFF.
inline std::uint64_t full_bytes(std::uint64_t v) {
  std::uint64_t z = ~v;  // bytes of v equal to 0xFF are zero here
  return ~(((z & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | z) & 0x8080808080808080ull;
}

}  // namespace

// Coverage of blocks i0 .. i0 + n - 1 of the eight rows starting at `rows`:
// seven rows through the first table, the last through the second. Eight
// blocks at a time with word-wide bit counts; the tables' sums exactly.
void reduce_blocks(const std::uint8_t* rows, std::int64_t stride, std::int64_t i0, std::int64_t n,
                   std::uint8_t* out) {
  const Reduction& t = reduction();
  std::int64_t i = i0, end = i0 + n;
  for (; i + 8 <= end && i + 8 <= stride; i += 8, out += 8) {
    std::uint64_t sum = 0, any = 0, v = 0;
    for (int r = 0; r < 8; ++r) {
      std::memcpy(&v, rows + r * stride + i, 8);
      any |= v;
      sum += byte_popcounts(v);
    }
    if (!any) {
      std::memset(out, 0, 8);
      continue;
    }
    // 4 * sum - c per byte (c = 1 where the last row is full), written as
    // 4 * (sum - c) + 3 * c so that no byte carries into the next: a full
    // last row means sum >= 8, and sum - c <= 63.
    const std::uint64_t c = full_bytes(v) >> 7;  // v is the last row
    const std::uint64_t cov = ((sum - c) << 2) + 3 * c;
    std::memcpy(out, &cov, 8);
  }
  for (; i < end; ++i, ++out) {
    const std::uint8_t* p = rows + i;
    unsigned s = 0;
    for (int r = 0; r < 7; ++r) s += t.rows[p[r * stride]];
    *out = std::uint8_t(s + t.last[p[7 * stride]]);
  }
}

namespace {

// ---- writing pixels ------------------------------------------------------------

struct Ink {
  std::uint8_t b = 0, g = 0, r = 0, a = 0;  // the display palette entry
  std::uint8_t index = 0;                   // palette index (8-bit planes)
  std::uint32_t word() const {
    return std::uint32_t(b) | std::uint32_t(g) << 8 | std::uint32_t(r) << 16 |
           std::uint32_t(a) << 24;
  }
  std::uint16_t packed() const { return std::uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)); }
};

Ink ink_of(std::uint8_t index) {
  const auto& pal = DisplayPalette();
  return Ink{pal[4u * index], pal[4u * index + 1], pal[4u * index + 2], pal[4u * index + 3], index};
}

// Nearest entry of a 1- or 4-bit plane's own colour table.
std::uint8_t small_index(const Plane& p, const Ink& ink) {
  std::uint32_t rgb = std::uint32_t(ink.r) << 16 | std::uint32_t(ink.g) << 8 | ink.b;
  std::uint8_t best = 0;
  std::uint32_t best_d = ~0u;
  for (int i = 0; i < p.table_entries; ++i) {
    std::uint32_t d = color_distance(rgb, p.color(i));
    if (d < best_d) {
      best_d = d;
      best = std::uint8_t(i);
    }
  }
  return best;
}

void put_small(const Plane& p, std::int32_t x, std::int32_t y, std::uint8_t index) {
  std::uint8_t* row = p.row(y);
  if (p.bpp == 1) {
    std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
    row[x >> 3] = (index & 1) ? std::uint8_t(row[x >> 3] | bit) : std::uint8_t(row[x >> 3] & ~bit);
  } else {
    std::uint8_t& v = row[x >> 1];
    v = (x & 1) ? std::uint8_t((v & 0xF0) | (index & 15))
                : std::uint8_t((v & 0x0F) | (index & 15) << 4);
  }
}

// Writes a solid colour at one pixel of any depth (alpha of 32-bit planes kept).
void put_solid(const Plane& p, std::int32_t x, std::int32_t y, const Ink& ink, std::uint8_t small) {
  std::uint8_t* row = p.row(y);
  switch (p.bpp) {
    case 8: row[x] = ink.index; break;
    case 16: {
      std::uint16_t v = ink.packed();
      std::memcpy(row + 2 * std::int64_t(x), &v, 2);
      break;
    }
    case 24:
    case 32: {
      std::uint8_t* d = row + std::int64_t(x) * (p.bpp / 8);
      d[0] = ink.b;
      d[1] = ink.g;
      d[2] = ink.r;
      break;
    }
    default: put_small(p, x, y, small); break;
  }
}

void fill_solid(const Plane& p, const Rect& r, const Ink& ink) {
  std::uint8_t small = p.bpp < 8 ? small_index(p, ink) : 0;
  for (std::int32_t y = r.top; y < r.bottom; ++y)
    for (std::int32_t x = r.left; x < r.right; ++x) put_solid(p, x, y, ink, small);
}

// ---- slots -------------------------------------------------------------------

struct FontSlot {
  FontRecord desc;
  bool changed = true;
  RealFontPtr font;
  float abc[128][3] = {};
  std::unique_ptr<float[]> kern;  // 128 x 128, first * 128 + second
  std::uint64_t realisations = 0;
};

struct TextState {
  std::array<FontSlot, kFontSlots> slots;
  Mask work;   // the 8x work bitmap, only ever grown
  Mask plain;  // the mask of text drawn without smoothing
  std::vector<std::uint16_t> codes;
  std::vector<std::uint8_t> coverage;  // one destination row of coverage
  TextFormatter formatter = nullptr;
  TextState() { reset(); }
  void reset() {
    for (FontSlot& s : slots) {
      s = FontSlot{};
      std::memcpy(s.desc.face, "Meiryo", 7);
      s.desc.height = 16;
    }
  }
};

TextState& state() {
  static TextState s;
  return s;
}

void measure_abc(FontSlot& s) {
  RealFont& f = *s.font;
  std::memset(s.abc, 0, sizeof s.abc);
  s.kern.reset();
  const float h = float(f.height);
  std::array<FT_UInt, 128> index{};
  for (std::uint32_t c = 0; c < 128; ++c) {
    index[c] = FT_Get_Char_Index(f.face, c);
    if (!index[c] || !load_outline(f, index[c])) continue;
    const FT_Glyph_Metrics& m = f.face->glyph->metrics;
    float a = float(m.horiBearingX) / 64.0f, b = float(m.width) / 64.0f;
    float adv = float(m.horiAdvance) / 64.0f;
    if (f.embolden) adv += float((f.bold_strength + 32) >> 6);
    s.abc[c][0] = a / h;
    s.abc[c][1] = b / h;
    s.abc[c][2] = (adv - a - b) / h;
  }
  if (!FT_HAS_KERNING(f.face)) return;
  std::unique_ptr<float[]> table(new (std::nothrow) float[128 * 128]());
  if (!table) return;  // the font goes on without kerning
  bool any = false;
  for (int a = 0; a < 128; ++a) {
    if (!index[a]) continue;
    for (int b = 0; b < 128; ++b) {
      if (!index[b]) continue;
      FT_Vector v{0, 0};
      if (FT_Get_Kerning(f.face, index[a], index[b], FT_KERNING_UNFITTED, &v) == 0 && v.x) {
        table[a * 128 + b] = float(v.x) / 64.0f / h;
        any = true;
      }
    }
  }
  if (any) s.kern = std::move(table);
}

RealFont* realise(std::int32_t n) {
  if (n < 0 || n >= kFontSlots) return nullptr;
  FontSlot& s = state().slots[std::size_t(n)];
  if (!s.changed && s.font) return s.font.get();
  s.font = open_font(s.desc, s.desc.style & kStyleSmooth);
  if (!s.font) return nullptr;
  measure_abc(s);
  s.changed = false;
  ++s.realisations;
  return s.font.get();
}

// ---- drawing -------------------------------------------------------------------

std::int64_t box_width(RealFont& f, const std::vector<std::uint16_t>& codes, std::int64_t cy) {
  std::int64_t cx = extent(f, codes);
  if (f.italic) cx += cy / 4 + 1;
  return cx;
}

Rect text_box64(std::int64_t cx, std::int64_t cy, std::int32_t angle) {
  auto clamp32 = [](double v) { return std::int32_t(std::clamp(v, -2147483648.0, 2147483647.0)); };
  if (angle == 0) return Rect{0, 0, clamp32(double(cx)), clamp32(double(cy))};
  if (angle == 2700) return Rect{clamp32(-double(cy)), 0, 0, clamp32(double(cx))};
  double t = angle * kPi / 1800.0, s = std::sin(t), c = std::cos(t);
  double x = double(cx), y = double(cy);
  if (angle < 900) return Rect{0, clamp32(-x * s), clamp32(y * s + c * x), clamp32(c * y)};
  if (angle < 1800) return Rect{clamp32(c * x), clamp32(c * y - x * s), clamp32(y * s), 0};
  if (angle < 2700) return Rect{clamp32(y * s + c * x), clamp32(c * y), 0, clamp32(-s * x)};
  return Rect{clamp32(y * s), 0, clamp32(c * x), clamp32(c * y - s * x)};
}

int draw_plain(Plane& p, RealFont& f, std::int32_t x, std::int32_t y, std::uint32_t colour,
               const std::vector<std::uint16_t>& codes, Mask& mask) {
  std::int64_t cy = f.ascent + f.descent;
  std::int64_t cx = box_width(f, codes, cy);
  Rect box = text_box64(cx, cy, f.angle);
  std::int64_t ox = std::int64_t(x) - box.left, oy = std::int64_t(y) - box.top;  // cell origin
  auto clip_to = [&](std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b) {
    Rect c = p.clip;
    return Rect{std::int32_t(std::clamp<std::int64_t>(l, c.left, c.right)),
                std::int32_t(std::clamp<std::int64_t>(t, c.top, c.bottom)),
                std::int32_t(std::clamp<std::int64_t>(r, c.left, c.right)),
                std::int32_t(std::clamp<std::int64_t>(b, c.top, c.bottom))};
  };
  Rect dest = clip_to(x, y, std::int64_t(x) + box.width(), std::int64_t(y) + box.height());
  if (dest.empty()) return 0;
  // Glyphs may reach past the box (bearings, italic, bold): a margin.
  std::int64_t margin = cy / 2 + 2;
  Rect area =
      clip_to(std::int64_t(x) - margin, std::int64_t(y) - margin,
              std::int64_t(x) + box.width() + margin, std::int64_t(y) + box.height() + margin);
  if (!mask.prepare(area.width(), area.height(), false)) return 1;
  render_line(f, mask, codes, double(ox - area.left), double(oy - area.top),
              cx - (f.italic ? cy / 4 + 1 : 0));
  const Ink text = ink_of(std::uint8_t(colour)), back = ink_of(std::uint8_t(colour >> 8));
  const std::uint8_t text_small = p.bpp < 8 ? small_index(p, text) : 0;
  const std::uint8_t back_small = p.bpp < 8 ? small_index(p, back) : 0;
  const bool opaque = colour & kTextOpaque;
  Frame fr = frame_at(f, double(ox), double(oy));
  for (std::int32_t py = area.top; py < area.bottom; ++py) {
    for (std::int32_t px = area.left; px < area.right; ++px) {
      if (mask.test(px - area.left, py - area.top)) {
        put_solid(p, px, py, text, text_small);
      } else if (opaque) {
        double t, u;
        fr.place(px + 0.5, py + 0.5, t, u);
        if (t >= 0 && t < double(cx) && u >= -f.ascent && u < f.descent)
          put_solid(p, px, py, back, back_small);
      }
    }
  }
  return 1;
}

// The layout of a smoothed line: the box and work size in 8x pixels.
struct SmoothLayout {
  std::int64_t cx = 0, line = 0;  // box width, and the baseline's length
  Rect box;
  std::int64_t w8 = 0, h8 = 0;
};

SmoothLayout smooth_layout(RealFont& f, const std::vector<std::uint16_t>& codes) {
  SmoothLayout l;
  std::int64_t cy = f.ascent + f.descent;
  l.line = extent(f, codes);
  l.cx = l.line + (f.italic ? cy / 4 + 1 : 0);
  l.box = text_box64(l.cx, cy, f.angle);
  l.w8 = ((l.box.width() + 7) & ~std::int64_t(7)) + 8;
  l.h8 = l.box.height() + 8;
  return l;
}

// Renders the string at 8x into `work` with the box's corner at its origin.
bool rasterise_smooth(RealFont& f, Mask& work, const std::vector<std::uint16_t>& codes,
                      const SmoothLayout& l) {
  if (!work.prepare(l.w8, l.h8, true)) return false;
  render_line(f, work, codes, -double(l.box.left), -double(l.box.top), l.line);
  return true;
}

int draw_smooth(Plane& p, RealFont& f, std::int32_t x, std::int32_t y, std::uint32_t colour,
                const std::vector<std::uint16_t>& codes, Mask& work,
                std::vector<std::uint8_t>& cov) {
  const SmoothLayout l = smooth_layout(f, codes);
  const std::int64_t w8 = l.w8, h8 = l.h8;
  // The destination box, right and bottom exclusive.
  Rect full{x, y, std::int32_t(std::min<std::int64_t>(std::int64_t(x) + w8 / 8 - 1, INT32_MAX)),
            std::int32_t(std::min<std::int64_t>(std::int64_t(y) + h8 / 8 - 1, INT32_MAX))};
  Rect dest = intersect(full, p.clip);
  if (dest.empty()) return 0;
  if (!rasterise_smooth(f, work, codes, l)) return 1;  // no memory: nothing drawn
  const Ink ink = ink_of(std::uint8_t(colour));
  if (colour & kTextOpaque) fill_solid(p, dest, ink_of(std::uint8_t(colour >> 8)));
  const KernelTables& k = kernel_tables();
  const bool hard = (colour & kTextHardEdges) && p.bpp == 32;
  const std::uint8_t small = p.bpp < 8 ? small_index(p, ink) : 0;
  const std::uint32_t word = ink.word();
  const std::uint16_t packed = ink.packed();
  cov.resize(std::size_t(dest.width()));
  const std::int32_t n = dest.right - dest.left;
  for (std::int32_t py = dest.top; py < dest.bottom; ++py) {
    reduce_blocks(work.row(8 * (py - y)), work.stride, dest.left - x, n, cov.data());
    std::uint8_t* d = p.row(py);
    switch (p.bpp) {
      case 8: std::memcpy(d + dest.left, cov.data(), std::size_t(n)); break;
      case 16:
        for (std::int32_t i = 0; i < n; ++i) {
          const std::uint8_t c = cov[std::size_t(i)];
          if (!c) continue;
          std::uint8_t* q = d + 2 * std::int64_t(dest.left + i);
          std::uint16_t v = packed;
          if (c != 255) {
            std::uint16_t old;
            std::memcpy(&old, q, 2);
            const std::uint32_t rgb = k.expand15[old & 0x7FFF];
            const std::uint8_t* mc = k.mul[c];
            const std::uint8_t* mi = k.mul[255 - c];
            const unsigned b = mc[ink.b] + mi[rgb & 0xFF], g = mc[ink.g] + mi[(rgb >> 8) & 0xFF],
                           r = mc[ink.r] + mi[(rgb >> 16) & 0xFF];
            v = std::uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
          }
          std::memcpy(q, &v, 2);
        }
        break;
      case 24:
      case 32: {
        const int bytes = p.bpp / 8;
        for (std::int32_t i = 0; i < n; ++i) {
          const std::uint8_t c = cov[std::size_t(i)];
          if (!c) continue;
          std::uint8_t* q = d + std::int64_t(dest.left + i) * bytes;
          if (hard) {
            std::memcpy(q, &word, 4);
          } else if (c == 255) {
            q[0] = ink.b;
            q[1] = ink.g;
            q[2] = ink.r;
          } else {
            const std::uint8_t* mc = k.mul[c];
            const std::uint8_t* mi = k.mul[255 - c];
            q[0] = std::uint8_t(mc[ink.b] + mi[q[0]]);
            q[1] = std::uint8_t(mc[ink.g] + mi[q[1]]);
            q[2] = std::uint8_t(mc[ink.r] + mi[q[2]]);
          }
        }
        break;
      }
      default:
        for (std::int32_t i = 0; i < n; ++i)
          if (cov[std::size_t(i)] >= 128) put_small(p, dest.left + i, py, small);
        break;
    }
  }
  return 1;
}

// ---- the window font -----------------------------------------------------------

struct WindowFont {
  std::mutex mutex;
  RealFontPtr font;
  bool failed = false;
  Mask work;
  std::vector<std::uint16_t> codes;
};

WindowFont& window_font() {
  static WindowFont w;
  return w;
}

RealFont* window_real_font(WindowFont& w) {
  if (!w.font && !w.failed) {
    FontRecord desc;
    // "ＭＳ Ｐゴシック" in CP932, 14 pixels, smoothed.
    const char face[] = "\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e";
    std::memcpy(desc.face, face, sizeof face);
    desc.height = -14;
    desc.style = kStyleSmooth;
    w.font = open_font(desc, true);
    w.failed = !w.font;
  }
  return w.font.get();
}

}  // namespace

// ---- public interface ------------------------------------------------------------

void fonts_start(TextFormatter formatter) {
  fonts_release();
  state().formatter = formatter;
  prepare_faces();
}

void fonts_release() {
  TextState& s = state();
  s.reset();
  s.work = Mask{};
  s.plain = Mask{};
  release_faces();
}

TextFormatter text_formatter() { return state().formatter; }

bool font_set(std::int32_t slot, const FontRecord& desc) {
  if (slot < 0 || slot >= kFontSlots) return false;
  FontSlot& s = state().slots[std::size_t(slot)];
  if (!(s.desc == desc)) {
    s.desc = desc;
    s.changed = true;
  }
  return true;
}

bool font_get(std::int32_t slot, FontRecord& desc) {
  if (slot < 0 || slot >= kFontSlots) return false;
  desc = state().slots[std::size_t(slot)].desc;
  return true;
}

int font_abc(std::int32_t slot, std::uint32_t code, float abc[3]) {
  if (!realise(slot) || code >= 128) return 0;
  const FontSlot& s = state().slots[std::size_t(slot)];
  std::memcpy(abc, s.abc[code], sizeof(float) * 3);
  return 1;
}

int font_kern(std::int32_t slot, std::uint32_t pair, float& amount) {
  if (!realise(slot) || pair >= 16384) return 0;
  const FontSlot& s = state().slots[std::size_t(slot)];
  if (!s.kern) return 0;
  amount = s.kern[pair];
  return 1;
}

std::uint64_t font_realisations(std::int32_t slot) {
  if (slot < 0 || slot >= kFontSlots) return 0;
  return state().slots[std::size_t(slot)].realisations;
}

Rect text_box(std::int32_t cx, std::int32_t cy, std::int32_t angle) {
  return text_box64(cx, cy, normal_angle(angle));
}

int draw_text(Plane* plane, std::int32_t font, std::int32_t x, std::int32_t y, std::uint32_t colour,
              std::string_view text) {
  if (!plane) return 0;
  RealFont* f = realise(font);
  if (!f) return 0;
  TextState& s = state();
  decode(text, s.codes);
  if (s.slots[std::size_t(font)].desc.style & kStyleSmooth)
    return draw_smooth(*plane, *f, x, y, colour, s.codes, s.work, s.coverage);
  return draw_plain(*plane, *f, x, y, colour, s.codes, s.plain);
}

const std::uint8_t* reduction_table(bool last_row) {
  return last_row ? reduction().last.data() : reduction().rows.data();
}

int window_text_width(std::string_view text) {
  WindowFont& w = window_font();
  std::lock_guard lock(w.mutex);
  RealFont* f = window_real_font(w);
  if (!f) return 0;
  decode(text, w.codes);
  std::int64_t cx = extent(*f, w.codes);
  return int(std::min<std::int64_t>((cx + 7) / 8, 1 << 20));
}

int window_text_line_height() {
  WindowFont& w = window_font();
  std::lock_guard lock(w.mutex);
  RealFont* f = window_real_font(w);
  return f ? (f->ascent + f->descent + 8) / 8 - 1 : 16;  // the rows window_text_render gives
}

bool window_text_render(std::string_view text, std::vector<std::uint8_t>& coverage, int& w,
                        int& h) {
  WindowFont& wf = window_font();
  std::lock_guard lock(wf.mutex);
  RealFont* f = window_real_font(wf);
  if (!f) return false;
  decode(text, wf.codes);
  const SmoothLayout l = smooth_layout(*f, wf.codes);
  if (!rasterise_smooth(*f, wf.work, wf.codes, l)) return false;
  w = int(l.w8 / 8 - 1);
  h = int(l.h8 / 8 - 1);
  if (w <= 0 || h <= 0) return false;
  coverage.assign(std::size_t(w) * std::size_t(h), 0);
  for (int j = 0; j < h; ++j)
    reduce_blocks(wf.work.row(8 * j), wf.work.stride, 0, w, coverage.data() + std::size_t(j) * w);
  return true;
}

}  // namespace talven::graphics
