// BMP reading and writing, format choice, and the file-layer glue.
#include "graphics/plane/image_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/atomic_file.h"
#include "base/game_path.h"
#include "storage/file_layer.h"

namespace talven::graphics {

namespace {

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
void put16(std::string& s, std::uint16_t v) {
  s.push_back(char(v));
  s.push_back(char(v >> 8));
}
void put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i)));
}

bool read_exact(ByteSource& src, void* buffer, std::size_t n) { return src.read(buffer, n) == n; }

// The data-file layer as a ByteSource.
struct ExpFileSource : ByteSource {
  storage::ExpFile* file;
  explicit ExpFileSource(storage::ExpFile* f) : file(f) {}
  std::size_t read(void* buffer, std::size_t count) override {
    std::size_t got = 0;
    if (!storage::ReadExpFile(file, buffer, count, &got)) return 0;
    return got;
  }
  bool seek(std::uint64_t offset) override {
    return storage::SeekExpFile(file, std::int64_t(offset), storage::kSeekSet) ==
           std::int64_t(offset);
  }
};

}  // namespace

std::size_t MemorySource::read(void* buffer, std::size_t count) {
  std::size_t n = std::min(count, size - pos);
  if (n) std::memcpy(buffer, data + pos, n);
  pos += n;
  return n;
}

bool MemorySource::seek(std::uint64_t offset) {
  if (offset > size) return false;
  pos = std::size_t(offset);
  return true;
}

ImageFormat format_for_path(std::string_view path) {
  if (path.size() < 4) return ImageFormat::kBmp;
  std::string ext(path.substr(path.size() - 4));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  if (ext == ".png") return ImageFormat::kPng;
  if (ext == ".jpg") return ImageFormat::kJpeg;
  return ImageFormat::kBmp;
}

bool image_size_ok(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

// ---- BMP -------------------------------------------------------------------

PlanePtr read_bmp(ByteSource& src) {
  std::uint8_t fh[14];
  std::uint32_t offset = 0;
  if (!read_exact(src, fh, 2)) return nullptr;
  if (fh[0] == 'B' && fh[1] == 'M') {
    if (!read_exact(src, fh + 2, 12)) return nullptr;
    offset = le32(fh + 10);
  } else if (!src.seek(0)) {
    return nullptr;
  }
  std::uint64_t header_pos = offset ? 14 : 0;

  std::uint8_t ih[40] = {};
  if (!read_exact(src, ih, 4)) return nullptr;
  std::uint32_t header_size = le32(ih);
  std::int64_t width, height;
  int bpp;
  std::uint32_t compression = 0, image_size = 0, colors_used = 0;
  bool core = false;
  if (header_size == 12) {
    if (!read_exact(src, ih + 4, 8)) return nullptr;
    width = le16(ih + 4);
    height = le16(ih + 6);
    bpp = le16(ih + 10);
    core = true;
  } else if (header_size == 40) {
    if (!read_exact(src, ih + 4, 36)) return nullptr;
    width = std::int32_t(le32(ih + 4));
    height = std::int32_t(le32(ih + 8));
    bpp = le16(ih + 14);
    compression = le32(ih + 16);
    image_size = le32(ih + 20);
    colors_used = le32(ih + 32);
  } else {
    return nullptr;
  }
  // Only uncompressed bottom-up or top-down pixel data is read.
  if (compression != 0) return nullptr;
  bool top_down = height < 0;
  if (top_down) height = -height;
  if (!image_size_ok(width, height)) return nullptr;

  PlanePtr plane = CreatePlane(std::int32_t(width), std::int32_t(height), bpp);
  if (!plane) return nullptr;

  if (bpp <= 8) {
    std::uint32_t max_colors = 1u << bpp;
    if (core || colors_used == 0) colors_used = max_colors;
    if (colors_used > max_colors) return nullptr;
    std::uint8_t* table = plane->colors();
    std::memset(table, 0, 4 * max_colors);
    int entry_size = core ? 3 : 4;
    std::vector<std::uint8_t> raw(colors_used * entry_size);
    if (!read_exact(src, raw.data(), raw.size())) return nullptr;
    for (std::uint32_t i = 0; i < colors_used; ++i) {
      std::memcpy(table + 4 * i, &raw[i * entry_size], 3);
      table[4 * i + 3] = 0;
    }
    plane->set_colors_used(colors_used);
  }

  std::uint64_t computed = std::uint64_t(plane->stride) * std::uint64_t(height);
  if (image_size == 0 || image_size > computed) image_size = std::uint32_t(computed);
  if (offset) {
    if (offset < header_pos + header_size) return nullptr;
    if (!src.seek(offset)) return nullptr;
  } else if (bpp > 8 && colors_used) {
    // A table in a deeper image serves only displays; step over it.
    if (colors_used > 256) return nullptr;
    if (!src.seek(header_pos + header_size + 4ull * colors_used)) return nullptr;
  }
  if (!read_exact(src, plane->pixels, image_size)) return nullptr;
  if (top_down) {
    std::vector<std::uint8_t> tmp(plane->stride);
    for (std::int64_t y = 0; y < height / 2; ++y) {
      std::uint8_t* a = plane->pixels + y * plane->stride;
      std::uint8_t* b = plane->pixels + (height - 1 - y) * plane->stride;
      std::memcpy(tmp.data(), a, tmp.size());
      std::memcpy(a, b, tmp.size());
      std::memcpy(b, tmp.data(), tmp.size());
    }
  }
  return plane;
}

bool encode_bmp(const Plane& p, const Rect& r, std::string& out) {
  const int w = r.width(), h = r.height();
  const int colors = p.bpp <= 8 ? p.table_entries : 0;
  const std::int64_t stride = row_stride(w, p.bpp);
  const std::uint64_t image = std::uint64_t(stride) * h;
  const std::uint32_t offset = 54 + 4 * colors;
  if (image + offset > 0xFFFFFFFFu) return false;
  out.clear();
  out.reserve(std::size_t(offset + image));
  out += "BM";
  put32(out, std::uint32_t(offset + image));
  put32(out, 0);
  put32(out, offset);
  put32(out, 40);
  put32(out, std::uint32_t(w));
  put32(out, std::uint32_t(h));
  put16(out, 1);
  put16(out, std::uint16_t(p.bpp));
  put32(out, 0);
  put32(out, std::uint32_t(image));
  put32(out, 0);
  put32(out, 0);
  put32(out, std::uint32_t(colors));
  put32(out, std::uint32_t(colors));
  if (colors) out.append(reinterpret_cast<const char*>(p.colors()), 4 * colors);
  std::vector<std::uint8_t> row(stride);
  for (int y = r.bottom - 1; y >= r.top; --y) {
    std::fill(row.begin(), row.end(), 0);
    const std::uint8_t* src = p.row(y);
    if (p.bpp >= 8) {
      std::memcpy(row.data(), src + std::int64_t(r.left) * (p.bpp / 8),
                  std::size_t(w) * (p.bpp / 8));
    } else {
      // Repack indexes so that rectangles need not start on a byte boundary.
      const int per_byte = 8 / p.bpp, mask = (1 << p.bpp) - 1;
      for (int x = 0; x < w; ++x) {
        int sx = r.left + x;
        int v = (src[sx / per_byte] >> ((per_byte - 1 - sx % per_byte) * p.bpp)) & mask;
        row[x / per_byte] |= std::uint8_t(v << ((per_byte - 1 - x % per_byte) * p.bpp));
      }
    }
    out.append(reinterpret_cast<const char*>(row.data()), row.size());
  }
  return true;
}

// ---- dispatch and files ----------------------------------------------------

PlanePtr read_image(ByteSource& src, ImageFormat format) {
  switch (format) {
    case ImageFormat::kPng: return read_png(src);
    case ImageFormat::kJpeg: return read_jpeg(src);
    default: return read_bmp(src);
  }
}

PlanePtr LoadPlane(std::string_view path) {
  storage::ExpFilePtr file(storage::OpenExpFile(path));
  if (!file) return nullptr;
  ExpFileSource src(file.get());
  ImageFormat format = format_for_path(path);
  PlanePtr plane = read_image(src, format);
  if (plane && format == ImageFormat::kBmp) plane->path = std::string(path.substr(0, 259));
  return plane;
}

bool SavePlane(std::string_view path, const Plane& p, const Rect* r) {
  Rect area = r ? intersect(*r, p.bounds()) : p.bounds();
  if (area.empty()) return false;
  std::string data;
  bool ok = false;
  switch (format_for_path(path)) {
    case ImageFormat::kPng: ok = encode_png(p, area, data); break;
    case ImageFormat::kJpeg: ok = encode_jpeg(p, area, 100, data); break;
    default: ok = encode_bmp(p, area, data); break;
  }
  if (!ok) return false;
  std::string host = host_path_for_write(path);
  if (host.empty()) return false;
  bool written = write_file_atomic(host, data);
  if (written) invalidate_path_cache();
  return written;
}

}  // namespace talven::graphics
