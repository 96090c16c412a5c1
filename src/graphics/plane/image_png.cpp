// PNG reading and writing through libpng.
//
// Decoder errors come back by longjmp, so everything that must be released
// afterwards lives in a plain record declared before setjmp and is freed by
// hand; no object with a destructor is created between setjmp and the end
// of decoding.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "graphics/kernels/tables.h"
#include "graphics/plane/image_io.h"

namespace talven::graphics {

namespace {

struct PngRead {
  ByteSource* src = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  Plane* plane = nullptr;
  png_bytep* rows = nullptr;
};

void png_read_cb(png_structp png, png_bytep data, size_t length) {
  auto* s = static_cast<PngRead*>(png_get_io_ptr(png));
  if (s->src->read(data, length) != length) png_error(png, "truncated");
}

void png_error_cb(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_warning_cb(png_structp, png_const_charp) {}

struct PngWrite {
  std::string* out;
};

void png_write_cb(png_structp png, png_bytep data, size_t length) {
  auto* w = static_cast<PngWrite*>(png_get_io_ptr(png));
  w->out->append(reinterpret_cast<const char*>(data), length);
}
void png_flush_cb(png_structp) {}

// Decodes into s->plane; false on any error. Kept apart from read_png so
// that the setjmp frame holds nothing with a destructor.
bool decode_png(PngRead* s) {
  std::uint8_t sig[8];
  if (s->src->read(sig, 8) != 8 || png_sig_cmp(sig, 0, 8) != 0) return false;
  if (!s->src->seek(0)) return false;
  s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_cb, png_warning_cb);
  if (!s->png) return false;
  s->info = png_create_info_struct(s->png);
  if (!s->info) return false;
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_read_fn(s->png, s, png_read_cb);
  png_set_user_limits(s->png, kMaxImageSide, kMaxImageSide);
  png_set_chunk_malloc_max(s->png, 16 * 1024 * 1024);
  png_read_info(s->png, s->info);

  png_uint_32 width = png_get_image_width(s->png, s->info);
  png_uint_32 height = png_get_image_height(s->png, s->info);
  int depth = png_get_bit_depth(s->png, s->info);
  int type = png_get_color_type(s->png, s->info);
  bool trns = png_get_valid(s->png, s->info, PNG_INFO_tRNS) != 0;
  if (!image_size_ok(width, height)) return false;

  if (depth == 16) {
    png_set_strip_16(s->png);
    depth = 8;
  }
  int plane_bpp = 0;
  bool grey_ramp = false;
  switch (type) {
    case PNG_COLOR_TYPE_PALETTE:
      if (trns) {
        png_set_palette_to_rgb(s->png);
        png_set_tRNS_to_alpha(s->png);
        png_set_bgr(s->png);
        plane_bpp = 32;
      } else {
        if (depth == 2 || depth == 4) {
          png_set_packing(s->png);
          depth = 8;
        }
        plane_bpp = depth;
      }
      break;
    case PNG_COLOR_TYPE_GRAY:
      if (trns) {
        png_set_expand(s->png);
        png_set_gray_to_rgb(s->png);
        png_set_tRNS_to_alpha(s->png);
        png_set_bgr(s->png);
        plane_bpp = 32;
      } else {
        // Two- and four-bit grey is scaled to full range so that the
        // 256-level ramp shows it as it was meant.
        if (depth == 2 || depth == 4) {
          png_set_expand_gray_1_2_4_to_8(s->png);
          depth = 8;
        }
        plane_bpp = depth;
        grey_ramp = true;
      }
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_gray_to_rgb(s->png);
      png_set_bgr(s->png);
      plane_bpp = 32;
      break;
    case PNG_COLOR_TYPE_RGB:
      if (trns) png_set_tRNS_to_alpha(s->png);
      png_set_bgr(s->png);
      plane_bpp = trns ? 32 : 24;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      png_set_bgr(s->png);
      plane_bpp = 32;
      break;
    default: return false;
  }
  png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  // The row size libpng will write must be what the plane holds.
  std::size_t rowbytes = png_get_rowbytes(s->png, s->info);
  if (rowbytes > std::size_t(row_stride(width, plane_bpp))) return false;

  s->plane = CreatePlane(std::int32_t(width), std::int32_t(height), plane_bpp).release();
  if (!s->plane) return false;
  if (plane_bpp <= 8) {
    std::uint8_t* table = s->plane->colors();
    int n = 1 << plane_bpp;
    std::memset(table, 0, 4 * n);
    if (grey_ramp) {
      for (int i = 0; i < n; ++i) std::memset(table + 4 * i, i * 255 / (n - 1), 3);
      s->plane->set_colors_used(n);
    } else {
      png_colorp pal = nullptr;
      int count = 0;
      if (png_get_PLTE(s->png, s->info, &pal, &count) != PNG_INFO_PLTE || count > n) return false;
      for (int i = 0; i < count; ++i) {
        table[4 * i] = pal[i].blue;
        table[4 * i + 1] = pal[i].green;
        table[4 * i + 2] = pal[i].red;
      }
      s->plane->set_colors_used(count);
    }
  }
  s->rows = new png_bytep[height];
  for (png_uint_32 y = 0; y < height; ++y) s->rows[y] = s->plane->row(int(y));
  png_read_image(s->png, s->rows);
  png_read_end(s->png, nullptr);
  return true;
}

}  // namespace

PlanePtr read_png(ByteSource& src) {
  PngRead s;
  s.src = &src;
  bool ok = decode_png(&s);
  if (s.png) png_destroy_read_struct(&s.png, s.info ? &s.info : nullptr, nullptr);
  delete[] s.rows;
  PlanePtr plane(s.plane);
  if (!ok) return nullptr;
  return plane;
}

namespace {

bool encode_png_rows(png_structp png, png_infop info, const Plane& p, const Rect& r,
                     std::uint8_t* row) {
  if (setjmp(png_jmpbuf(png))) return false;
  const int w = r.width(), h = r.height();
  const auto& t = kernel_tables();
  bool indexed = p.bpp <= 8;
  int color_type = indexed ? PNG_COLOR_TYPE_PALETTE
                           : (p.bpp == 32 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  png_set_IHDR(png, info, w, h, 8, color_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (indexed) {
    int n = int(p.colors_used());
    if (n <= 0 || n > p.table_entries) n = p.table_entries;
    png_color pal[256];
    for (int i = 0; i < n; ++i) {
      std::uint32_t c = p.color(i);
      pal[i].red = png_byte(c >> 16);
      pal[i].green = png_byte(c >> 8);
      pal[i].blue = png_byte(c);
    }
    png_set_PLTE(png, info, pal, n);
  }
  png_write_info(png, info);
  for (int y = r.top; y < r.bottom; ++y) {
    const std::uint8_t* s = p.row(y);
    std::uint8_t* o = row;
    for (int x = r.left; x < r.left + w; ++x) {
      switch (p.bpp) {
        case 1: *o++ = (s[x >> 3] >> (7 - (x & 7))) & 1; break;
        case 4: *o++ = (x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4); break;
        case 8: *o++ = s[x]; break;
        case 16: {
          std::uint32_t c = t.expand15[(s[2 * x] | s[2 * x + 1] << 8) & 0x7FFF];
          *o++ = std::uint8_t(c >> 16);
          *o++ = std::uint8_t(c >> 8);
          *o++ = std::uint8_t(c);
          break;
        }
        case 24:
          *o++ = s[3 * x + 2];
          *o++ = s[3 * x + 1];
          *o++ = s[3 * x];
          break;
        default:
          *o++ = s[4 * x + 2];
          *o++ = s[4 * x + 1];
          *o++ = s[4 * x];
          *o++ = s[4 * x + 3];
          break;
      }
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

bool encode_png(const Plane& p, const Rect& r, std::string& out) {
  out.clear();
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_cb, png_warning_cb);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  std::uint8_t* row = new std::uint8_t[std::size_t(r.width()) * 4];
  PngWrite w{&out};
  bool ok = false;
  if (info) {
    png_set_write_fn(png, &w, png_write_cb, png_flush_cb);
    ok = encode_png_rows(png, info, p, r, row);
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  delete[] row;
  return ok;
}

}  // namespace talven::graphics
