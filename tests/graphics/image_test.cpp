// Image files: BMP, PNG and JPEG into planes and back, a PNG corpus of
// every colour type and bit depth made here with libpng, and damaged files.
#include "graphics/plane/image_io.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

#include "graphics/plane/plane_builtins.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::call;
using test::color_at;
using test::make_plane;
using test::raw_value;
using test::ScriptString;

class ImageTest : public test::GraphicsTest {};

const char kLoadFailed[] = "LoadPlane : 画像ファイルの読み込みに失敗しました。\nFile : ";
const char kSaveFailed[] = "SavePlane : 画像ファイルの書き込みに失敗しました。\nFile : ";

PlanePtr decode(const std::string& bytes, ImageFormat f) {
  MemorySource src(bytes.data(), bytes.size());
  return read_image(src, f);
}

// ---- a PNG writer independent of the runtime's encoder ---------------------

struct PngLayout {
  int width = 4, height = 3, depth = 8, type = PNG_COLOR_TYPE_RGB;
  bool interlace = false;
  std::vector<png_color> palette;
  std::vector<png_byte> trns_alpha;  // palette transparency
  png_color_16 trns_color{};         // grey or RGB transparency
  bool trns = false;
  std::vector<std::vector<png_byte>> rows;  // packed as PNG stores them
};

void append_cb(png_structp png, png_bytep data, size_t n) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), n);
}

std::string make_png(const PngLayout& s) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "";
  }
  png_set_write_fn(png, &out, append_cb, nullptr);
  png_set_IHDR(png, info, s.width, s.height, s.depth, s.type,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
  if (!s.trns_alpha.empty())
    png_set_tRNS(png, info, s.trns_alpha.data(), int(s.trns_alpha.size()), nullptr);
  else if (s.trns) png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16*>(&s.trns_color));
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (auto& r : s.rows) rows.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// Sample value of pixel x in row y for the corpus: a pattern over the bit depth.
int sample(int x, int y, int c, int depth) {
  return ((x * 7 + y * 5 + c * 3) % 17 * 977) % (1 << depth);
}

// Packs samples of `depth` bits, most significant first.
std::vector<png_byte> pack_row(const std::vector<int>& samples, int depth) {
  std::vector<png_byte> row((samples.size() * depth + 7) / 8);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (depth == 16) {
      row[2 * i] = png_byte(samples[i] >> 8);
      row[2 * i + 1] = png_byte(samples[i]);
    } else if (depth == 8) {
      row[i] = png_byte(samples[i]);
    } else {
      std::size_t bit = i * depth;
      row[bit / 8] |= png_byte(samples[i] << (8 - depth - bit % 8));
    }
  }
  return row;
}

TEST_F(ImageTest, PngCorpusOfEveryColourTypeAndDepthDecodes) {
  struct Case {
    int type, depth;
  };
  const Case cases[] = {{PNG_COLOR_TYPE_GRAY, 1},        {PNG_COLOR_TYPE_GRAY, 2},
                        {PNG_COLOR_TYPE_GRAY, 4},        {PNG_COLOR_TYPE_GRAY, 8},
                        {PNG_COLOR_TYPE_GRAY, 16},       {PNG_COLOR_TYPE_RGB, 8},
                        {PNG_COLOR_TYPE_RGB, 16},        {PNG_COLOR_TYPE_PALETTE, 1},
                        {PNG_COLOR_TYPE_PALETTE, 2},     {PNG_COLOR_TYPE_PALETTE, 4},
                        {PNG_COLOR_TYPE_PALETTE, 8},     {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
                        {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_RGB_ALPHA, 8},
                        {PNG_COLOR_TYPE_RGB_ALPHA, 16}};
  for (bool interlace : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << "type " << c.type << " depth " << c.depth << " interlace " << interlace);
      PngLayout s;
      s.width = 11;
      s.height = 9;
      s.type = c.type;
      s.depth = c.depth;
      s.interlace = interlace;
      int channels = c.type == PNG_COLOR_TYPE_GRAY || c.type == PNG_COLOR_TYPE_PALETTE ? 1
                     : c.type == PNG_COLOR_TYPE_GRAY_ALPHA                             ? 2
                     : c.type == PNG_COLOR_TYPE_RGB                                    ? 3
                                                                                       : 4;
      if (c.type == PNG_COLOR_TYPE_PALETTE)
        for (int i = 0; i < (1 << c.depth); ++i)
          s.palette.push_back(png_color{png_byte(i * 3), png_byte(255 - i), png_byte(i * 7)});
      for (int y = 0; y < s.height; ++y) {
        std::vector<int> samples;
        for (int x = 0; x < s.width; ++x)
          for (int ch = 0; ch < channels; ++ch) samples.push_back(sample(x, y, ch, c.depth));
        s.rows.push_back(pack_row(samples, c.depth));
      }
      PlanePtr p = decode(make_png(s), ImageFormat::kPng);
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(p->width, 11);
      ASSERT_EQ(p->height, 9);
      const int max = (1 << c.depth) - 1;
      auto to8 = [&](int v) { return c.depth == 16 ? v >> 8 : v; };
      for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
          auto v = [&](int ch) { return sample(x, y, ch, c.depth); };
          test::Bgra got = color_at(*p, x, y), want;
          switch (c.type) {
            case PNG_COLOR_TYPE_GRAY: {
              int g = c.depth == 16 ? v(0) >> 8 : v(0) * 255 / max;
              want = {g, g, g, 255};
              EXPECT_EQ(p->bpp, c.depth == 1 ? 1 : 8);
              if (c.depth == 1)
                got = {int(get_pixel_rgb(*p, x, y) & 0xFF), int(get_pixel_rgb(*p, x, y) & 0xFF),
                       int(get_pixel_rgb(*p, x, y) & 0xFF), 255};
              break;
            }
            case PNG_COLOR_TYPE_PALETTE: {
              const png_color& e = s.palette[v(0)];
              want = {e.blue, e.green, e.red, 255};
              EXPECT_EQ(p->bpp, c.depth == 1 ? 1 : 8);
              if (c.depth == 1) {
                std::uint32_t rgb = get_pixel_rgb(*p, x, y);
                got = {int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int(rgb >> 16), 255};
              }
              break;
            }
            case PNG_COLOR_TYPE_GRAY_ALPHA:
              want = {to8(v(0)), to8(v(0)), to8(v(0)), to8(v(1))};
              EXPECT_EQ(p->bpp, 32);
              break;
            case PNG_COLOR_TYPE_RGB:
              want = {to8(v(2)), to8(v(1)), to8(v(0)), 255};
              EXPECT_EQ(p->bpp, 24);
              break;
            default:
              want = {to8(v(2)), to8(v(1)), to8(v(0)), to8(v(3))};
              EXPECT_EQ(p->bpp, 32);
              break;
          }
          ASSERT_EQ(got, want) << "at " << x << "," << y;
        }
    }
}

TEST_F(ImageTest, PngTransparencyChunksGiveAlphaPlanes) {
  // Palette with transparency: a 32-bit plane with alpha.
  PngLayout s;
  s.width = 3;
  s.height = 1;
  s.type = PNG_COLOR_TYPE_PALETTE;
  s.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  s.trns_alpha = {0, 128};
  s.rows = {{0, 1, 2}};
  PlanePtr p = decode(make_png(s), ImageFormat::kPng);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->bpp, 32);
  EXPECT_EQ(color_at(*p, 0, 0), (test::Bgra{30, 20, 10, 0}));
  EXPECT_EQ(color_at(*p, 1, 0), (test::Bgra{60, 50, 40, 128}));
  EXPECT_EQ(color_at(*p, 2, 0), (test::Bgra{90, 80, 70, 255}));

  // Grey with a transparent level.
  PngLayout g;
  g.width = 2;
  g.height = 1;
  g.type = PNG_COLOR_TYPE_GRAY;
  g.trns = true;
  g.trns_color.gray = 100;
  g.rows = {{100, 101}};
  p = decode(make_png(g), ImageFormat::kPng);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->bpp, 32);
  EXPECT_EQ(color_at(*p, 0, 0).a, 0);
  EXPECT_EQ(color_at(*p, 1, 0), (test::Bgra{101, 101, 101, 255}));

  // RGB with a transparent colour.
  PngLayout c;
  c.width = 2;
  c.height = 1;
  c.type = PNG_COLOR_TYPE_RGB;
  c.trns = true;
  c.trns_color.red = 1, c.trns_color.green = 2, c.trns_color.blue = 3;
  c.rows = {{1, 2, 3, 1, 2, 4}};
  p = decode(make_png(c), ImageFormat::kPng);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->bpp, 32);
  EXPECT_EQ(color_at(*p, 0, 0), (test::Bgra{3, 2, 1, 0}));
  EXPECT_EQ(color_at(*p, 1, 0), (test::Bgra{4, 2, 1, 255}));
}

// Fills a plane with a pattern that survives every format.
void fill_pattern(Plane& p) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      std::uint32_t v =
          std::uint32_t(x * 37 + y * 91 + 5) * 0x01010101u ^ std::uint32_t(y << 8 | x << 16);
      if (p.bpp == 8) v &= 0xFF;
      if (p.bpp == 16) v &= 0x7FFF;
      test::set_raw(p, x, y, v);
    }
}

TEST_F(ImageTest, SaveAndLoadRoundTripsThroughTheBuiltins) {
  for (int bpp : {8, 24, 32}) {
    SCOPED_TRACE(bpp);
    Plane* p = make_plane(1, 13, 7, bpp);
    fill_pattern(*p);
    for (const char* name : {"out.bmp", "out.png"}) {
      ScriptString path(name);
      ASSERT_EQ(call(bi_gsave, {path.addr, 1, 0}), 1u);
      ASSERT_EQ(call(bi_gload, {2, path.addr}), 1u) << name;
      Plane* q = plane_at(2);
      ASSERT_EQ(q->bpp, bpp);
      ASSERT_EQ(q->width, 13);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) ASSERT_EQ(color_at(*q, x, y), color_at(*p, x, y)) << name;
    }
    EXPECT_EQ(plane_at(2)->path, "");  // only the BMP reader records its path
  }
  // A rectangle: the BMP holds only that part, bottom row first.
  Plane* p = make_plane(1, 13, 7, 24);
  fill_pattern(*p);
  std::int32_t r[4] = {2, 1, 6, 4};
  test::ScriptBlock rect(r, 16);
  ScriptString part("part.BMP");
  ASSERT_EQ(call(bi_gsave, {part.addr, 1, rect.addr}), 1u);
  std::string bmp = test::read_host_file("part.BMP");
  ASSERT_EQ(bmp.size(), 54u + 12 * 3);  // 4 pixels of 3 bytes a row
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(std::uint8_t(bmp[54]), raw_value(*p, 2, 3) & 0xFF);
  ASSERT_EQ(call(bi_gload, {3, part.addr}), 1u);
  EXPECT_EQ(plane_at(3)->path, "part.BMP");
  EXPECT_EQ(color_at(*plane_at(3), 0, 0), color_at(*p, 2, 1));
  // An empty intersection fails with the message.
  std::int32_t off[4] = {50, 50, 60, 60};
  test::ScriptBlock offrect(off, 16);
  EXPECT_EQ(call(bi_gsave, {part.addr, 1, offrect.addr}), 0u);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second, std::string(kSaveFailed) + "part.BMP");
  EXPECT_EQ(call(bi_gsave, {part.addr, 9, 0}), 0u);

  // 1- and 4-bit planes round-trip through BMP, also from odd columns.
  Plane* p4 = make_plane(4, 9, 3, 4);
  Plane* p1 = make_plane(5, 19, 3, 1);
  fill_pattern(*p4);
  fill_pattern(*p1);
  std::int32_t odd[4] = {3, 0, 8, 3};
  test::ScriptBlock oddrect(odd, 16);
  ScriptString f4("four.bmp"), f1("one.bmp");
  ASSERT_EQ(call(bi_gsave, {f4.addr, 4, oddrect.addr}), 1u);
  ASSERT_EQ(call(bi_gsave, {f1.addr, 5, oddrect.addr}), 1u);
  ASSERT_EQ(call(bi_gload, {6, f4.addr}), 1u);
  ASSERT_EQ(call(bi_gload, {7, f1.addr}), 1u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(get_pixel_rgb(*plane_at(6), x, y), get_pixel_rgb(*p4, x + 3, y));
      EXPECT_EQ(get_pixel_rgb(*plane_at(7), x, y), get_pixel_rgb(*p1, x + 3, y));
    }
}

TEST_F(ImageTest, GloadPicksTheDecoderByExtensionWithoutCase) {
  Plane* p = make_plane(1, 4, 4, 24);
  fill_pattern(*p);
  std::string png, bmp;
  ASSERT_TRUE(encode_png(*p, p->bounds(), png));
  ASSERT_TRUE(encode_bmp(*p, p->bounds(), bmp));
  test::write_host_file("a.png", png);
  test::write_host_file("b.bmp", bmp);
  test::write_host_file("noext", bmp);
  test::write_host_file("ab", bmp);
  test::write_host_file("png_as_bmp.bmp", png);
  EXPECT_EQ(format_for_path("X.PNG"), ImageFormat::kPng);
  EXPECT_EQ(format_for_path("x.JpG"), ImageFormat::kJpeg);
  EXPECT_EQ(format_for_path("x.jpeg"), ImageFormat::kBmp);
  EXPECT_EQ(format_for_path("ab"), ImageFormat::kBmp);
  for (const char* name : {"A.PNG", "b.bmp", "noext", "ab"}) {
    ScriptString path(name);
    EXPECT_EQ(call(bi_gload, {2, path.addr}), 1u) << name;
    EXPECT_EQ(color_at(*plane_at(2), 3, 3), color_at(*p, 3, 3)) << name;
  }
  // The decoder follows the name, not the content.
  ScriptString wrong("png_as_bmp.bmp");
  make_plane(2, 1, 1, 8);
  EXPECT_EQ(call(bi_gload, {2, wrong.addr}), 0u);
  EXPECT_EQ(plane_at(2), nullptr);  // the slot is left empty
  ASSERT_FALSE(messages_.empty());
  EXPECT_EQ(messages_.back().second, std::string(kLoadFailed) + "png_as_bmp.bmp");
  EXPECT_EQ(call(bi_gload, {2, 0}), 0u);
  // Slot variable form.
  test::ScriptBlock var(4);
  ScriptString a("a.png");
  EXPECT_EQ(call(bi_gload, {var.addr, a.addr}), 1u);
  std::uint32_t slot;
  load32(var.addr, slot);
  EXPECT_EQ(slot, 1023u);
}

// A BMP from parts: optional file header, core or info header.
std::string bmp_file(bool file_header, bool core, int w, int h, int bpp,
                     const std::vector<std::uint8_t>& palette,
                     const std::vector<std::uint8_t>& pixels, std::uint32_t image_size = 0,
                     std::uint32_t colors = 0) {
  std::string s;
  auto u16 = [&](std::uint32_t v) { s.push_back(char(v)), s.push_back(char(v >> 8)); };
  auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  std::uint32_t header = core ? 12 : 40;
  if (file_header) {
    s += "BM";
    u32(0);
    u32(0);
    u32(std::uint32_t(14 + header + palette.size()));
  }
  u32(header);
  if (core) {
    u16(std::uint32_t(w)), u16(std::uint32_t(h)), u16(1), u16(std::uint32_t(bpp));
  } else {
    u32(std::uint32_t(w)), u32(std::uint32_t(h)), u16(1), u16(std::uint32_t(bpp));
    u32(0), u32(image_size), u32(0), u32(0), u32(colors), u32(0);
  }
  s.append(palette.begin(), palette.end());
  s.append(pixels.begin(), pixels.end());
  return s;
}

TEST_F(ImageTest, BmpVariantsAreRead) {
  // No file header, 8 bits, two palette entries given.
  std::vector<std::uint8_t> pal = {1, 2, 3, 0, 4, 5, 6, 0};
  std::vector<std::uint8_t> px = {1, 0, 0, 0, 0, 1, 0, 0};  // bottom row first
  PlanePtr p = decode(bmp_file(false, false, 2, 2, 8, pal, px, 0, 2), ImageFormat::kBmp);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->colors_used(), 2u);
  EXPECT_EQ(get_pixel_rgb(*p, 0, 1), 0x060504u);  // bottom-left is index 1
  EXPECT_EQ(get_pixel_rgb(*p, 1, 0), 0x060504u);
  EXPECT_EQ(get_pixel_rgb(*p, 0, 0), 0x030201u);

  // Core header: 3-byte palette entries widened, 16-bit sizes.
  std::vector<std::uint8_t> cpal = {9, 8, 7, 1, 2, 3};
  std::vector<std::uint8_t> cpx = {0x40, 0, 0, 0};
  p = decode(bmp_file(true, true, 3, 1, 1, cpal, cpx), ImageFormat::kBmp);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(get_pixel_rgb(*p, 1, 0), 0x030201u);
  EXPECT_EQ(get_pixel_rgb(*p, 0, 0), 0x070809u);

  // The image size is capped at height * stride: extra bytes are not read
  // into the plane, and a smaller size leaves the rest zero.
  std::vector<std::uint8_t> big(64, 0xEE);
  p = decode(bmp_file(true, false, 1, 1, 24, {}, big, 9999), ImageFormat::kBmp);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(raw_value(*p, 0, 0), 0xEEEEEEu);
  std::vector<std::uint8_t> half = {1, 2, 3, 4, 5, 6, 7, 8};
  p = decode(bmp_file(true, false, 2, 2, 24, {}, half, 8), ImageFormat::kBmp);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(raw_value(*p, 0, 0), 0u);  // top row: beyond the 8 bytes read
  EXPECT_EQ(raw_value(*p, 0, 1), 0x030201u);
}

TEST_F(ImageTest, DamagedImagesFailCleanly) {
  std::vector<std::uint8_t> pal(8), px(8);
  const std::string good = bmp_file(true, false, 2, 2, 8, pal, px, 0, 2);
  ASSERT_NE(decode(good, ImageFormat::kBmp), nullptr);
  // Every truncation fails.
  for (std::size_t n = 0; n < good.size(); ++n)
    EXPECT_EQ(decode(good.substr(0, n), ImageFormat::kBmp), nullptr) << n;
  // Header sizes other than 12 and 40, compression, huge and negative sizes,
  // palettes larger than the depth allows, offsets inside the header.
  std::string bad = good;
  bad[14] = 56;
  EXPECT_EQ(decode(bad, ImageFormat::kBmp), nullptr);
  EXPECT_EQ(decode(bmp_file(true, false, 100000, 100000, 32, {}, {}), ImageFormat::kBmp), nullptr);
  EXPECT_EQ(decode(bmp_file(true, false, 16384, 16384, 32, {}, {}), ImageFormat::kBmp), nullptr);
  EXPECT_EQ(decode(bmp_file(true, false, -5, 2, 32, {}, px), ImageFormat::kBmp), nullptr);
  EXPECT_EQ(decode(bmp_file(true, false, 2, 2, 8, pal, px, 0, 300), ImageFormat::kBmp), nullptr);
  EXPECT_EQ(decode(bmp_file(true, false, 2, 2, 3, pal, px), ImageFormat::kBmp), nullptr);
  bad = good;
  bad[10] = 4;  // pixel offset pointing into the headers
  EXPECT_EQ(decode(bad, ImageFormat::kBmp), nullptr);
  bad = good;
  bad[30] = 1;  // run-length compression
  EXPECT_EQ(decode(bad, ImageFormat::kBmp), nullptr);

  // PNG: truncations, a flipped byte in the data, huge dimensions.
  Plane* p = make_plane(1, 20, 20, 32);
  fill_pattern(*p);
  std::string png;
  ASSERT_TRUE(encode_png(*p, p->bounds(), png));
  for (std::size_t n = 0; n < png.size(); n += 7)
    EXPECT_EQ(decode(png.substr(0, n), ImageFormat::kPng), nullptr) << n;
  std::string flipped = png;
  flipped[png.size() / 2] = char(flipped[png.size() / 2] ^ 0x5A);
  EXPECT_EQ(decode(flipped, ImageFormat::kPng), nullptr);
  std::string huge = png;
  huge[16] = 0x7F;  // width 0x7F000014: over the limit (and the CRC is wrong)
  EXPECT_EQ(decode(huge, ImageFormat::kPng), nullptr);
  // A palette index past the PLTE does not crash.
  PngLayout s;
  s.width = 2;
  s.height = 1;
  s.type = PNG_COLOR_TYPE_PALETTE;
  s.palette = {{1, 2, 3}};
  s.rows = {{0, 200}};
  PlanePtr q = decode(make_png(s), ImageFormat::kPng);
  if (q) {
    EXPECT_EQ(q->colors_used(), 1u);
  }

  // JPEG: truncations and garbage.
  std::string jpg;
  ASSERT_TRUE(encode_jpeg(*p, p->bounds(), 90, jpg));
  // Cut anywhere before the scan starts: no image.
  const std::size_t sos = jpg.find("\xFF\xDA");
  ASSERT_NE(sos, std::string::npos);
  for (std::size_t n = 0; n < sos; n += 3)
    EXPECT_EQ(decode(jpg.substr(0, n), ImageFormat::kJpeg), nullptr) << n;
  EXPECT_EQ(decode(std::string(100, '\xFF'), ImageFormat::kJpeg), nullptr);
  // A truncated scan still decodes (the rest is filled), as libjpeg does.
  EXPECT_NE(decode(jpg.substr(0, jpg.size() - 20), ImageFormat::kJpeg), nullptr);
}

TEST_F(ImageTest, MutatedImagesNeverCrash) {
  // Random byte changes in valid files of each format: every result is a
  // plane of sane size or a clean failure (the sanitizer build checks the
  // rest).
  Plane* p = make_plane(1, 24, 16, 8);
  fill_pattern(*p);
  std::string files[3];
  ASSERT_TRUE(encode_bmp(*p, p->bounds(), files[0]));
  ASSERT_TRUE(encode_png(*p, p->bounds(), files[1]));
  ASSERT_TRUE(encode_jpeg(*p, p->bounds(), 75, files[2]));
  const ImageFormat formats[3] = {ImageFormat::kBmp, ImageFormat::kPng, ImageFormat::kJpeg};
  std::uint32_t seed = 2024;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int f = 0; f < 3; ++f)
    for (int round = 0; round < 300; ++round) {
      std::string bytes = files[f];
      int changes = 1 + int(next() % 4);
      for (int k = 0; k < changes; ++k) {
        std::size_t at = next() % bytes.size();
        // Mostly the headers, where sizes and offsets live.
        if (next() % 2) at %= std::min<std::size_t>(bytes.size(), 64);
        bytes[at] = char(next());
      }
      if (next() % 5 == 0) bytes.resize(next() % bytes.size());
      PlanePtr q = decode(bytes, formats[f]);
      if (q) {
        EXPECT_TRUE(image_size_ok(q->width, q->height));
        EXPECT_LE(std::int64_t(q->stride) * q->height, 4 * kMaxImagePixels);
      }
    }
}

TEST_F(ImageTest, JpegReadsColourAndGreyAndWritesAtAQuality) {
  Plane* p = make_plane(1, 16, 16, 24);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) test::set_raw(*p, x, y, x < 8 ? 0x2040C0 : 0xC08020);
  std::string jpg;
  ASSERT_TRUE(encode_jpeg(*p, p->bounds(), 100, jpg));
  PlanePtr q = decode(jpg, ImageFormat::kJpeg);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->bpp, 24);
  auto near = [](test::Bgra a, test::Bgra b) {
    return std::abs(a.b - b.b) <= 3 && std::abs(a.g - b.g) <= 3 && std::abs(a.r - b.r) <= 3;
  };
  EXPECT_TRUE(near(color_at(*q, 2, 2), color_at(*p, 2, 2))) << color_at(*q, 2, 2);
  EXPECT_TRUE(near(color_at(*q, 13, 13), color_at(*p, 13, 13))) << color_at(*q, 13, 13);
  std::string low;
  ASSERT_TRUE(encode_jpeg(*p, p->bounds(), 10, low));
  EXPECT_LT(low.size(), jpg.size());

  // A greyscale JPEG (written here with libjpeg) becomes 8-bit with a ramp.
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buf, &size);
  c.image_width = 8;
  c.image_height = 8;
  c.input_components = 1;
  c.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::uint8_t row[8];
  for (int y = 0; y < 8; ++y) {
    std::memset(row, 77, 8);
    JSAMPROW r = row;
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::string grey(reinterpret_cast<char*>(buf), size);
  jpeg_destroy_compress(&c);
  std::free(buf);
  q = decode(grey, ImageFormat::kJpeg);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->bpp, 8);
  EXPECT_EQ(q->color(200), 0xC8C8C8u);
  EXPECT_NEAR(int(raw_value(*q, 4, 4)), 77, 1);

  // gsave writes JPEG at quality 100 by extension.
  ScriptString path("shot.JPG");
  ASSERT_EQ(call(bi_gsave, {path.addr, 1, 0}), 1u);
  ASSERT_EQ(call(bi_gload, {2, path.addr}), 1u);
  EXPECT_TRUE(near(color_at(*plane_at(2), 12, 3), color_at(*p, 12, 3)));
}

}  // namespace
}  // namespace talven::graphics
