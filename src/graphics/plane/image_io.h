// Image files: BMP, PNG and JPEG into planes and back.
//
// Readers take a ByteSource so that the same decoder serves the data-file
// layer (LoadPlane) and in-memory bytes (tests, fuzzing). Writers encode into
// memory; SavePlane then writes the file atomically on disk.
//
// Images are outside data: every reader checks sizes before it allocates,
// refuses more than kMaxImageSide pixels on a side or kMaxImagePixels in all,
// and returns null on any damage without touching the caller's slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "graphics/plane/plane.h"

namespace talven::graphics {

constexpr std::int64_t kMaxImageSide = 16384;
constexpr std::int64_t kMaxImagePixels = 64ll * 1024 * 1024;

// Sequential bytes with rewinding.
struct ByteSource {
  virtual ~ByteSource() = default;
  // Bytes read (fewer at the end or on an error).
  virtual std::size_t read(void* buffer, std::size_t count) = 0;
  virtual bool seek(std::uint64_t offset) = 0;
};

struct MemorySource : ByteSource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  MemorySource(const void* d, std::size_t n) : data(static_cast<const std::uint8_t*>(d)), size(n) {}
  std::size_t read(void* buffer, std::size_t count) override;
  bool seek(std::uint64_t offset) override;
};

enum class ImageFormat { kBmp, kPng, kJpeg };
// Format by the last four characters of a path, compared without case.
ImageFormat format_for_path(std::string_view path);

bool image_size_ok(std::int64_t width, std::int64_t height);

PlanePtr read_bmp(ByteSource& src);
PlanePtr read_png(ByteSource& src);
PlanePtr read_jpeg(ByteSource& src);
PlanePtr read_image(ByteSource& src, ImageFormat format);

// Encoders of the part of a plane inside `r` (already intersected with the
// plane and not empty).
bool encode_bmp(const Plane& p, const Rect& r, std::string& out);
bool encode_png(const Plane& p, const Rect& r, std::string& out);
bool encode_jpeg(const Plane& p, const Rect& r, int quality, std::string& out);

// Reads an image through the data-file layer; null on failure (no message).
PlanePtr LoadPlane(std::string_view path);
// Writes the part of a plane inside the rectangle (whole plane when null);
// false for an empty intersection or a write failure (no message).
bool SavePlane(std::string_view path, const Plane& p, const Rect* r);

}  // namespace talven::graphics
