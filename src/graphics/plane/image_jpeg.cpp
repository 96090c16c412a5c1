// JPEG reading and writing through libjpeg.
//
// The decoder reads through a source manager on a ByteSource; errors come
// back by longjmp into a frame that holds only plain data.
#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "graphics/kernels/tables.h"
#include "graphics/plane/image_io.h"

namespace talven::graphics {

namespace {

constexpr std::size_t kSourceBuffer = 16384;

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpeg_error_exit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  std::longjmp(e->jump, 1);
}
void jpeg_quiet(j_common_ptr, int) {}

// The error manager of a codec: warnings are dropped and errors jump back
// to the frame that called setjmp on err.jump.
jpeg_error_mgr* longjmp_errors(JpegError& err) {
  jpeg_error_mgr* mgr = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpeg_error_exit;
  err.mgr.emit_message = jpeg_quiet;
  return mgr;
}

struct JpegSource {
  jpeg_source_mgr mgr;
  ByteSource* src;
  JOCTET buffer[kSourceBuffer];
};

void src_init(j_decompress_ptr) {}

boolean src_fill(j_decompress_ptr cinfo) {
  auto* s = reinterpret_cast<JpegSource*>(cinfo->src);
  std::size_t n = s->src->read(s->buffer, kSourceBuffer);
  if (n == 0) {
    // A truncated stream ends as the library expects: a fake end marker.
    s->buffer[0] = 0xFF;
    s->buffer[1] = JPEG_EOI;
    n = 2;
  }
  s->mgr.next_input_byte = s->buffer;
  s->mgr.bytes_in_buffer = n;
  return TRUE;
}

void src_skip(j_decompress_ptr cinfo, long count) {
  auto* s = reinterpret_cast<JpegSource*>(cinfo->src);
  while (count > 0) {
    if (count <= long(s->mgr.bytes_in_buffer)) {
      s->mgr.next_input_byte += count;
      s->mgr.bytes_in_buffer -= std::size_t(count);
      return;
    }
    count -= long(s->mgr.bytes_in_buffer);
    s->mgr.bytes_in_buffer = 0;
    std::size_t n = s->src->read(s->buffer, kSourceBuffer);
    if (n == 0) return;  // the next fill supplies the end marker
    s->mgr.next_input_byte = s->buffer;
    s->mgr.bytes_in_buffer = n;
  }
}

void src_term(j_decompress_ptr) {}

struct JpegRead {
  jpeg_decompress_struct cinfo;
  JpegError err;
  JpegSource source;
  bool created = false;
  Plane* plane = nullptr;
};

bool decode_jpeg(JpegRead* r) {
  r->cinfo.err = longjmp_errors(r->err);
  if (setjmp(r->err.jump)) return false;
  jpeg_create_decompress(&r->cinfo);
  r->created = true;
  r->cinfo.mem->max_memory_to_use = 512l * 1024 * 1024;
  r->source.mgr.init_source = src_init;
  r->source.mgr.fill_input_buffer = src_fill;
  r->source.mgr.skip_input_data = src_skip;
  r->source.mgr.resync_to_restart = jpeg_resync_to_restart;
  r->source.mgr.term_source = src_term;
  r->source.mgr.bytes_in_buffer = 0;
  r->source.mgr.next_input_byte = nullptr;
  r->cinfo.src = &r->source.mgr;
  jpeg_read_header(&r->cinfo, TRUE);
  if (!image_size_ok(r->cinfo.image_width, r->cinfo.image_height)) return false;
  // CMYK and YCCK have no three-component form here; refuse rather than
  // write four bytes per pixel into a one-byte plane.
  if (r->cinfo.jpeg_color_space == JCS_CMYK || r->cinfo.jpeg_color_space == JCS_YCCK) return false;
  if (r->cinfo.jpeg_color_space != JCS_GRAYSCALE) r->cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&r->cinfo);

  bool rgb = r->cinfo.out_color_space == JCS_RGB && !r->cinfo.quantize_colors &&
             r->cinfo.output_components == 3;
  if (!rgb && r->cinfo.output_components != 1) return false;
  int w = int(r->cinfo.output_width), h = int(r->cinfo.output_height);
  if (!image_size_ok(w, h)) return false;
  r->plane = CreatePlane(w, h, rgb ? 24 : 8).release();
  if (!r->plane) return false;
  if (!rgb) {
    std::uint8_t* table = r->plane->colors();
    std::memset(table, 0, 1024);
    JSAMPARRAY map = r->cinfo.colormap;
    int count = map ? std::min(r->cinfo.actual_number_of_colors, 256) : 256;
    for (int i = 0; i < count; ++i) {
      if (!map) {
        std::memset(table + 4 * i, i, 3);
      } else if (r->cinfo.out_color_components == 3) {
        table[4 * i] = map[2][i];
        table[4 * i + 1] = map[1][i];
        table[4 * i + 2] = map[0][i];
      } else {
        std::memset(table + 4 * i, map[0][i], 3);
      }
    }
  }
  while (r->cinfo.output_scanline < r->cinfo.output_height) {
    int y = int(r->cinfo.output_scanline);
    JSAMPROW row = r->plane->row(y);
    if (jpeg_read_scanlines(&r->cinfo, &row, 1) != 1) return false;
    if (rgb)
      for (int x = 0; x < w; ++x) std::swap(row[3 * x], row[3 * x + 2]);
  }
  jpeg_finish_decompress(&r->cinfo);
  return true;
}

struct JpegWrite {
  jpeg_compress_struct cinfo;
  JpegError err;
  bool created = false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  JSAMPLE* row = nullptr;
};

bool encode_jpeg_rows(JpegWrite* wr, const Plane& p, const Rect& r, int quality) {
  wr->cinfo.err = longjmp_errors(wr->err);
  if (setjmp(wr->err.jump)) return false;
  jpeg_create_compress(&wr->cinfo);
  wr->created = true;
  jpeg_mem_dest(&wr->cinfo, &wr->buffer, &wr->size);
  wr->cinfo.image_width = JDIMENSION(r.width());
  wr->cinfo.image_height = JDIMENSION(r.height());
  wr->cinfo.input_components = 3;
  wr->cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&wr->cinfo);
  jpeg_set_quality(&wr->cinfo, quality, TRUE);
  jpeg_start_compress(&wr->cinfo, TRUE);
  const auto& t = kernel_tables();
  for (int y = r.top; y < r.bottom; ++y) {
    const std::uint8_t* s = p.row(y);
    JSAMPLE* o = wr->row;
    for (int x = r.left; x < r.right; ++x) {
      std::uint32_t c;
      switch (p.bpp) {
        case 1: c = p.color((s[x >> 3] >> (7 - (x & 7))) & 1); break;
        case 4: c = p.color((x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4)); break;
        case 8: c = p.color(s[x]); break;
        case 16: c = t.expand15[(s[2 * x] | s[2 * x + 1] << 8) & 0x7FFF]; break;
        case 24: c = std::uint32_t(s[3 * x + 2]) << 16 | s[3 * x + 1] << 8 | s[3 * x]; break;
        default: c = std::uint32_t(s[4 * x + 2]) << 16 | s[4 * x + 1] << 8 | s[4 * x]; break;
      }
      *o++ = JSAMPLE(c >> 16);
      *o++ = JSAMPLE(c >> 8);
      *o++ = JSAMPLE(c);
    }
    JSAMPROW row = wr->row;
    jpeg_write_scanlines(&wr->cinfo, &row, 1);
  }
  jpeg_finish_compress(&wr->cinfo);
  return true;
}

}  // namespace

PlanePtr read_jpeg(ByteSource& src) {
  auto* r = new JpegRead();
  r->source.src = &src;
  bool ok = decode_jpeg(r);
  if (r->created) jpeg_destroy_decompress(&r->cinfo);
  PlanePtr plane(r->plane);
  delete r;
  if (!ok) return nullptr;
  return plane;
}

bool encode_jpeg(const Plane& p, const Rect& r, int quality, std::string& out) {
  auto* wr = new JpegWrite();
  wr->row = new JSAMPLE[std::size_t(r.width()) * 3];
  bool ok = encode_jpeg_rows(wr, p, r, quality);
  if (wr->created) jpeg_destroy_compress(&wr->cinfo);
  if (ok) out.assign(reinterpret_cast<const char*>(wr->buffer), wr->size);
  std::free(wr->buffer);
  delete[] wr->row;
  delete wr;
  return ok;
}

}  // namespace talven::graphics
