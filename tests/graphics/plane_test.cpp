// Planes, the plane table, palettes, colour conversions and difference
// images, mostly through the builtins as scripts call them.
#include "graphics/plane/plane.h"

#include "graphics/plane/plane_builtins.h"
#include "graphics_test_util.h"

namespace talven::graphics {
namespace {

using test::call;
using test::make_plane;
using test::raw_pixel;
using test::ScriptBlock;
using test::ScriptString;

class PlaneTest : public test::GraphicsTest {};

const char kCreateFailed[] = "CreatePlane : 仮想画面の作成に失敗しました。";

TEST_F(PlaneTest, CreatedPlaneHasTheBitmapHeaderAndDefaultTables) {
  ASSERT_EQ(call(bi_galloc, {5, 10, 3, 8}), 1u);
  Plane* p = plane_at(5);
  ASSERT_NE(p, nullptr);
  std::uint32_t v;
  ASSERT_TRUE(load32(p->info, v));
  EXPECT_EQ(v, 40u);
  auto word = [](Addr a) {
    std::uint32_t w = 0;
    load32(a, w);
    return w;
  };
  EXPECT_EQ(word(p->info + 4), 10u);
  EXPECT_EQ(word(p->info + 8), 3u);    // positive: bottom-up rows
  EXPECT_EQ(word(p->info + 20), 36u);  // height * stride, stride 12
  EXPECT_EQ(word(p->info + 32), 256u);
  EXPECT_EQ(p->stride, 12);
  // The 3:3:2 cube: entry 0xE3 is red 7, green 0, blue 3.
  EXPECT_EQ(p->color(0xE3), 0xFF00FFu);
  EXPECT_EQ(p->color(0x1C), 0x00FF00u);
  EXPECT_EQ(p->color(0x49), (2 * 255 / 7u) << 16 | (2 * 255 / 7u) << 8 | 85u);

  ASSERT_EQ(call(bi_galloc, {6, 3, 2, 1}), 1u);
  EXPECT_EQ(plane_at(6)->stride, 4);
  EXPECT_EQ(plane_at(6)->color(0), 0u);
  EXPECT_EQ(plane_at(6)->color(1), 0xFFFFFFu);
  ASSERT_EQ(call(bi_galloc, {7, 3, 2, 4}), 1u);
  EXPECT_EQ(plane_at(7)->color(0), 0u);
  EXPECT_EQ(plane_at(7)->color(15), 0xFFFFFFu);
  EXPECT_EQ(plane_at(7)->color(4), 0x550000u);  // bit 2: red's low level
  EXPECT_EQ(plane_at(7)->color(9), 0xAAAAFFu);  // bit 3 raises all, bit 0 blue
  ASSERT_EQ(call(bi_galloc, {8, 7, 2, 24}), 1u);
  EXPECT_EQ(plane_at(8)->stride, 24);
  EXPECT_EQ(plane_at(8)->colors_addr(), 0u);

  // Depths other than 1, 4, 8, 16, 24, 32 and negative sizes fail with the message.
  EXPECT_EQ(call(bi_galloc, {9, 4, 4, 12}), 0u);
  EXPECT_EQ(call(bi_galloc, {9, std::uint32_t(-4), 4, 8}), 0u);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0].second, kCreateFailed);
  EXPECT_EQ(messages_[0].first, 1u);
  EXPECT_EQ(plane_at(9), nullptr);
}

TEST_F(PlaneTest, GallocWithSlotVariableTakesHighestFreeSlotAndReportsFullTable) {
  ScriptBlock var(4);
  ASSERT_EQ(call(bi_galloc, {var.addr, 2, 2, 32}), 1u);
  std::uint32_t v;
  load32(var.addr, v);
  EXPECT_EQ(v, 1023u);
  ASSERT_EQ(call(bi_galloc, {var.addr, 2, 2, 32}), 1u);
  load32(var.addr, v);
  EXPECT_EQ(v, 1022u);

  for (int i = 0; i < kPlaneSlots; ++i)
    if (!plane_at(i)) set_plane(i, CreatePlane(1, 1, 8));
  EXPECT_EQ(call(bi_galloc, {var.addr, 2, 2, 32}), 0u);
  load32(var.addr, v);
  EXPECT_EQ(std::int32_t(v), -1);
  // A bad variable address is a plain failure.
  EXPECT_EQ(call(bi_galloc, {0x5000, 2, 2, 32}), 0u);
  // A slot argument replaces the plane there.
  ASSERT_EQ(call(bi_galloc, {3, 5, 6, 16}), 1u);
  EXPECT_EQ(plane_at(3)->width, 5);
  EXPECT_EQ(plane_at(3)->bpp, 16);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PlaneTest, GfreeAndGinitSparePagesButDropMaskLinks) {
  for (int s : {0, 1, 2, 3}) make_plane(s, 4, 4, 32);
  PlaneTable().view_page = 1;
  PlaneTable().active_page = 2;
  EXPECT_EQ(call(bi_gattach, {1, 3}), 1u);
  EXPECT_EQ(mask_of(1), plane_at(3));
  EXPECT_EQ(call(bi_gfree, {1}), 1u);
  EXPECT_NE(plane_at(1), nullptr);  // the view page stays
  EXPECT_EQ(mask_of(1), nullptr);   // its link goes
  EXPECT_EQ(call(bi_gfree, {3}), 1u);
  EXPECT_EQ(plane_at(3), nullptr);
  EXPECT_EQ(call(bi_gfree, {1024}), 0u);
  EXPECT_EQ(call(bi_gattach, {1024, 1}), 0u);
  EXPECT_EQ(call(bi_gdetach, {1024}), 0u);

  EXPECT_EQ(call(bi_gattach, {2, 0}), 1u);
  EXPECT_EQ(call(bi_ginit, {}), 1u);
  EXPECT_EQ(plane_at(0), nullptr);
  EXPECT_NE(plane_at(1), nullptr);
  EXPECT_NE(plane_at(2), nullptr);
  EXPECT_EQ(PlaneTable().slots[2].mask, -1);
  // A mask link is looked up when drawing: a later plane in the slot counts.
  EXPECT_EQ(call(bi_gattach, {2, 7}), 1u);
  EXPECT_EQ(mask_of(2), nullptr);
  make_plane(7, 1, 1, 8);
  EXPECT_EQ(mask_of(2), plane_at(7));
  EXPECT_EQ(call(bi_gdetach, {2}), 1u);
  EXPECT_EQ(mask_of(2), nullptr);
}

TEST_F(PlaneTest, GetpixelReadsEveryDepthTopDown) {
  Plane* p1 = make_plane(1, 10, 2, 1);
  // Row 0 is the top row: the last row in memory.
  raw_pixel(*p1, 0, 0)[0] = 0x40;  // bit 6: pixel 1
  raw_pixel(*p1, 8, 0)[0] = 0x80;  // pixel 8: bit 7 of the second byte
  EXPECT_EQ(call(bi_getpixel, {1, 1, 0}), 0xFFFFFFu);
  EXPECT_EQ(call(bi_getpixel, {1, 0, 0}), 0u);
  EXPECT_EQ(call(bi_getpixel, {1, 8, 0}), 0xFFFFFFu);
  EXPECT_EQ(call(bi_getpixel, {1, 1, 1}), 0u);
  EXPECT_EQ(p1->pixels + p1->stride, raw_pixel(*p1, 0, 0));

  Plane* p4 = make_plane(2, 3, 1, 4);
  raw_pixel(*p4, 0, 0)[0] = 0x4C;  // even pixel high nibble 4, odd pixel 12
  EXPECT_EQ(call(bi_getpixel, {2, 0, 0}), 0x550000u);
  EXPECT_EQ(call(bi_getpixel, {2, 1, 0}), 0xFFAAAAu);

  Plane* p16 = make_plane(3, 2, 2, 16);
  test::set_raw(*p16, 1, 1, 0x7C00 | (1 << 5) | 30);
  EXPECT_EQ(call(bi_getpixel, {3, 1, 1}), 0xFF08F7u);  // (f << 3) | (f >> 2)

  Plane* p32 = make_plane(4, 2, 2, 32);
  test::set_raw(*p32, 0, 1, 0x80123456);
  EXPECT_EQ(call(bi_getpixel, {4, 0, 1}), 0x123456u);
  EXPECT_EQ(call(bi_getpixel, {4, 2, 0}), 0u);
  EXPECT_EQ(call(bi_getpixel, {4, -1u, 0}), 0u);
  EXPECT_EQ(call(bi_getpixel, {9, 0, 0}), 0u);
  EXPECT_EQ(call(bi_getpixel, {5000, 0, 0}), 0u);
}

TEST_F(PlaneTest, GclipNormalisesAndClamps) {
  Plane* p = make_plane(1, 100, 50, 24);
  std::int32_t r[4] = {80, 40, 10, -5};
  ScriptBlock rect(r, 16);
  EXPECT_EQ(call(bi_gclip, {1, rect.addr}), 1u);
  EXPECT_EQ(p->clip.left, 10);
  EXPECT_EQ(p->clip.top, 0);
  EXPECT_EQ(p->clip.right, 80);
  EXPECT_EQ(p->clip.bottom, 40);
  std::int32_t r2[4] = {-10, 20, 300, 200};
  ScriptBlock rect2(r2, 16);
  EXPECT_EQ(call(bi_gclip, {1, rect2.addr}), 1u);
  EXPECT_EQ(p->clip.left, 0);
  EXPECT_EQ(p->clip.right, 100);
  EXPECT_EQ(p->clip.bottom, 50);
  EXPECT_EQ(call(bi_gclip, {1, 0}), 1u);
  EXPECT_EQ(p->clip.top, 0);
  EXPECT_EQ(call(bi_gclip, {2, 0}), 0u);
  EXPECT_EQ(call(bi_gclip, {1, 0x30}), 0u);
}

TEST_F(PlaneTest, GinfoHandsOutScriptAddressesAndTheNegativeStride) {
  Plane* p = make_plane(1, 3, 4, 8);
  ScriptBlock out(24);
  EXPECT_EQ(call(bi_ginfo, {1, out.addr}), 1u);
  std::int32_t v[6];
  std::memcpy(v, out.host(), 24);
  EXPECT_EQ(v[0], 3);
  EXPECT_EQ(v[1], 4);
  EXPECT_EQ(v[2], 8);
  EXPECT_EQ(v[4], -4);
  // The top row through the script address: pixel (2, 0).
  store8(Addr(v[3]) + 2, 0x77);
  EXPECT_EQ(test::raw_value(*p, 2, 0), 0x77u);
  // One row down is the step away.
  store8(Addr(v[3] + v[4]), 0x11);
  EXPECT_EQ(test::raw_value(*p, 0, 1), 0x11u);
  EXPECT_EQ(Addr(v[5]), p->info + 40);

  EXPECT_EQ(call(bi_ginfo, {2, out.addr}), 1u);
  std::memcpy(v, out.host(), 24);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(v[i], 0);
  make_plane(3, 0, 5, 32);
  EXPECT_EQ(call(bi_ginfo, {3, out.addr}), 1u);
  std::memcpy(v, out.host(), 24);
  EXPECT_EQ(v[1], 5);
  EXPECT_EQ(v[3], 0);
  EXPECT_EQ(call(bi_ginfo, {1, 0}), 1u);
}

TEST_F(PlaneTest, PaletteBuiltinsCopyWithinLimits) {
  EXPECT_EQ(call(bi_pal_set, {3, 0x123456}), 1u);
  EXPECT_EQ(call(bi_pal_get, {3}), 0x123456u);
  EXPECT_EQ(call(bi_pal_set, {256, 1}), 0u);
  EXPECT_EQ(call(bi_pal_get, {256}), 0u);

  std::uint32_t src[4] = {0x010203, 0x040506, 0x070809, 0x0A0B0C};
  ScriptBlock arr(src, 16);
  EXPECT_EQ(call(bi_pal_sets, {254, 4, arr.addr}), 1u);  // only two fit
  EXPECT_EQ(ScriptPalette()[254], 0x010203u);
  EXPECT_EQ(ScriptPalette()[255], 0x040506u);
  EXPECT_EQ(call(bi_pal_sets, {256, 1, arr.addr}), 0u);
  EXPECT_EQ(call(bi_pal_sets, {0, 0, arr.addr}), 0u);

  Plane* p = make_plane(1, 2, 2, 4);
  ScriptBlock out(64);
  EXPECT_EQ(call(bi_ggetpal, {1, 14, 10, out.addr}), 2u);
  std::uint32_t got[2];
  std::memcpy(got, out.host(), 8);
  EXPECT_EQ(got[0], 0xFFFFAAu);  // index 14: red and green high
  EXPECT_EQ(got[1], 0xFFFFFFu);
  EXPECT_EQ(call(bi_ggetpal, {1, 16, 1, out.addr}), 0u);
  EXPECT_EQ(call(bi_gsetpal, {1, 1, 2, arr.addr}), 2u);
  EXPECT_EQ(p->color(1), 0x010203u);
  EXPECT_EQ(p->color(2), 0x040506u);
  EXPECT_EQ(call(bi_ggetpal, {-1u, 255, 5, out.addr}), 1u);
  std::memcpy(got, out.host(), 4);
  EXPECT_EQ(got[0], 0x040506u);
  make_plane(2, 2, 2, 24);
  EXPECT_EQ(call(bi_ggetpal, {2, 0, 1, out.addr}), 0u);
  EXPECT_EQ(call(bi_ggetpal, {1, 0, 1, 0x40}), 0u);

  // pal_load: plane entries 1.. into the script palette from index 10.
  EXPECT_EQ(call(bi_pal_load, {1, 10, 1, 3}), 3u);
  EXPECT_EQ(ScriptPalette()[10], 0x010203u);
  EXPECT_EQ(ScriptPalette()[11], 0x040506u);
  EXPECT_EQ(call(bi_pal_load, {1, 254, 0, 16}), 2u);
  EXPECT_EQ(call(bi_pal_load, {9, 0, 0, 1}), 0u);

  // pal_change publishes the script palette as the display palette.
  ScriptPalette()[7] = 0xA0B0C0;
  std::uint32_t serial = display_palette_serial();
  EXPECT_EQ(call(bi_pal_change, {}), 1u);
  EXPECT_EQ(display_palette_serial(), serial + 1);
  EXPECT_EQ(DisplayPalette()[28], 0xC0);
  EXPECT_EQ(DisplayPalette()[30], 0xA0);
  EXPECT_EQ(color_to_rgb(kPaletteIndexFlag | 7), 0xA0B0C0u);
  EXPECT_EQ(color_to_rgb(0xFE123456), 0x123456u);
  for (int i = 0; i < 3; ++i) DisplayPalette()[4 * 0x56 + i] = 0;  // whatever tests before left
  EXPECT_EQ(color_to_rgb(0xFF123456), 0u);                         // bit 24 set: display entry 0x56
}

TEST_F(PlaneTest, HsvConversions) {
  EXPECT_EQ(call(rgbtohsv, {0xFF0000}), 0x0000FFFFu);
  EXPECT_EQ(call(hsvtorgb, {683u << 16 | 0xFFFF}), 0x00FF00u);
  EXPECT_EQ(rgbtohsv(0x808080), 0x80u);        // grey: V alone
  EXPECT_EQ(hsvtorgb(0x12340080), 0x808080u);  // S 0: grey V
  EXPECT_EQ(rgbtohsv(0), 0u);
  // Blue: h = 1024 + 255 - 255 in 1/1536 of a turn, times 4/3.
  EXPECT_EQ(rgbtohsv(0x0000FF), (1024u * 4 / 3) << 16 | 0xFFFF);
  // Magenta: max R, h = 255 - 0 - ... negative wraps by 1536.
  std::uint32_t m = rgbtohsv(0xFF00FF);
  EXPECT_EQ(m >> 16, (1536u - 255) * 4 / 3);
  // Round trips of saturated primaries and secondaries.
  for (std::uint32_t c : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u})
    EXPECT_EQ(hsvtorgb(rgbtohsv(c)), c) << std::hex << c;
  // Cyan: G is tested before B, h = 767, H = 1022, and back h = 766: the
  // truncations cost one step of blue.
  EXPECT_EQ(rgbtohsv(0x00FFFF) >> 16, 1022u);
  EXPECT_EQ(hsvtorgb(rgbtohsv(0x00FFFF)), 0x00FFFEu);
  // Sector 1 (yellow to green) with f from H: h = 1600 * 3/4 = 1200 (sector 4).
  std::uint32_t c = hsvtorgb(1600u << 16 | 200u << 8 | 100);
  int h = 1600 * 1536 / 2048, f = h % 256;
  int p = (255 - 200) * 100 / 255, t = (255 - (255 - f) * 200 / 255) * 100 / 255;
  EXPECT_EQ(c, std::uint32_t(t) << 16 | std::uint32_t(p) << 8 | 100u);
}

TEST_F(PlaneTest, NearestEntryAndInverseColorMap) {
  // Display palette: entry 0 black, 1 pure red, 2 dark red, 3 white, rest far blue.
  for (int i = 0; i < 256; ++i) ScriptPalette()[i] = 0x0000FF;
  ScriptPalette()[0] = 0x000000;
  ScriptPalette()[1] = 0xFF0000;
  ScriptPalette()[2] = 0x800000;
  ScriptPalette()[3] = 0xFFFFFF;
  ScriptPalette()[4] = 0xFF0000;  // duplicate: the lower index wins
  pal_change();
  EXPECT_EQ(nearest_palette_index(0xF00000), 1);
  EXPECT_EQ(nearest_palette_index(0xFF0000), 1);
  EXPECT_EQ(nearest_palette_index(0x700000), 2);
  EXPECT_EQ(nearest_palette_index(0xEEEEEE), 3);
  EXPECT_EQ(nearest_palette_index(0x000010), 0);
  EXPECT_EQ(color_to_index(0x01000042), 0x01000042u);
  EXPECT_EQ(color_to_index(0xFE0000), 1u);
  // Distance weights on 6-bit components.
  EXPECT_EQ(color_distance(0x040000, 0), 900u);
  EXPECT_EQ(color_distance(0x000400, 0), 3481u);
  EXPECT_EQ(color_distance(0, 0x000008), 121u * 4);

  // The inverse map of the default 3:3:2 palette: every cell holds an
  // entry 1..255 that is nearest (or as near as the claimed one) to it.
  std::uint32_t pal[256];
  for (int i = 0; i < 256; ++i)
    pal[i] = std::uint32_t(((i >> 5) & 7) * 255 / 7) << 16 |
             std::uint32_t(((i >> 2) & 7) * 255 / 7) << 8 | std::uint32_t((i & 3) * 85);
  ScriptBlock arr(pal, sizeof pal);
  EXPECT_EQ(call(bi_pal_map, {arr.addr}), 1u);
  EXPECT_EQ(call(bi_pal_map, {0}), 0u);
  const auto& map = InverseColorMap();
  int worse = 0;
  for (int cell = 0; cell < 32768; ++cell) {
    ASSERT_GE(map[cell], 1);
    std::uint32_t centre = std::uint32_t(((cell >> 10) & 31) * 8 + 4) << 16 |
                           std::uint32_t(((cell >> 5) & 31) * 8 + 4) << 8 |
                           std::uint32_t((cell & 31) * 8 + 4);
    std::uint32_t best = 0xFFFFFFFF;
    for (int e = 1; e < 256; ++e) best = std::min(best, color_distance(pal[e], centre));
    if (color_distance(pal[map[cell]], centre) > best) ++worse;
  }
  // The flood fill is exact on this palette except for a few cells that
  // are cut off from their nearest entry.
  EXPECT_LT(worse, 32768 / 50);
  // Exact palette colours map to themselves.
  EXPECT_EQ(map[rgb15(pal[0xE3])], 0xE3);
  EXPECT_EQ(map[rgb15(pal[0xFF])], 0xFF);
  EXPECT_EQ(map[rgb15(0)], 1);  // entry 0 never claims: black goes to a neighbour
}

// A difference image: header, rectangle, run stream.
std::string diff_image(int bits, std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b,
                       const std::string& runs) {
  std::string d = "DIFF";
  d.append(8, '\0');
  d.push_back(char(bits));
  d.push_back(0);
  d.append(2, '\0');
  for (std::int32_t v : {l, t, r, b}) d.append(reinterpret_cast<const char*>(&v), 4);
  return d + runs;
}

TEST_F(PlaneTest, DifferenceImagesApplyRunsAndRefuseBadPlacement) {
  Plane* p = make_plane(1, 8, 4, 8);
  // Skip 1, copy 2 pixels, next row, copy 1 pixel, end.
  std::string runs("\x01\x00\x03\xAA\xBB\x00\x00\x00\x02\xCC\x00\x01", 12);
  std::string img = diff_image(8, 0, 0, 3, 2, runs);
  ScriptBlock mem(img.data(), std::uint32_t(img.size()));
  ScriptBlock rect(16);
  EXPECT_EQ(call(bi_dcopy, {1, 2, 1, mem.addr, rect.addr}), 1u);
  EXPECT_EQ(test::raw_value(*p, 3, 1), 0xAAu);
  EXPECT_EQ(test::raw_value(*p, 4, 1), 0xBBu);
  EXPECT_EQ(test::raw_value(*p, 2, 2), 0xCCu);
  EXPECT_EQ(test::raw_value(*p, 2, 1), 0u);
  std::int32_t r[4];
  std::memcpy(r, rect.host(), 16);
  EXPECT_EQ(r[2], 3);
  EXPECT_EQ(r[3], 2);

  // Reaching past the plane: refused, nothing changes.
  std::vector<std::uint8_t> before(p->pixels, p->pixels + p->stride * p->height);
  EXPECT_EQ(call(bi_dcopy, {1, 6, 1, mem.addr, 0}), 0u);
  EXPECT_EQ(call(bi_dcopy, {1, 0, 3, mem.addr, 0}), 0u);
  EXPECT_EQ(call(bi_dcopy, {1, -1u, 0, mem.addr, 0}), 0u);
  std::string wrong_bits = diff_image(16, 0, 0, 1, 1, runs);
  ScriptBlock m2(wrong_bits.data(), std::uint32_t(wrong_bits.size()));
  EXPECT_EQ(call(bi_dcopy, {1, 0, 0, m2.addr, 0}), 0u);
  std::string empty = diff_image(8, 0, 0, 0, 1, runs);
  ScriptBlock m3(empty.data(), std::uint32_t(empty.size()));
  EXPECT_EQ(call(bi_dcopy, {1, 0, 0, m3.addr, 0}), 0u);
  std::string bad_magic = img;
  bad_magic[0] = 'X';
  ScriptBlock m4(bad_magic.data(), std::uint32_t(bad_magic.size()));
  EXPECT_EQ(call(bi_dcopy, {1, 0, 0, m4.addr, 0}), 0u);
  EXPECT_EQ(call(bi_dcopy, {2, 0, 0, mem.addr, 0}), 0u);
  EXPECT_EQ(std::vector<std::uint8_t>(p->pixels, p->pixels + p->stride * p->height), before);

  // A stream that lies about its rectangle never writes outside the plane.
  std::string wild(1, '\0');
  wild += '\x7F';
  wild.append(126 * 1, '\x55');
  wild += std::string("\x00\x01", 2);
  std::string liar = diff_image(8, 0, 0, 1, 1, wild);
  EXPECT_TRUE(apply_diff(p, 7, 3, reinterpret_cast<const std::uint8_t*>(liar.data()), liar.size(),
                         nullptr));
  EXPECT_EQ(test::raw_value(*p, 7, 3), 0x55u);

  // dload reads the same through the file layer.
  test::write_host_file("pic.dif", img);
  ScriptString path("PIC.DIF");
  make_plane(2, 8, 4, 8);
  EXPECT_EQ(call(bi_dload, {2, 2, 1, path.addr, 0}), 1u);
  EXPECT_EQ(test::raw_value(*plane_at(2), 4, 1), 0xBBu);
  ScriptString missing("none.dif");
  EXPECT_EQ(call(bi_dload, {2, 0, 0, missing.addr, 0}), 0u);
}

}  // namespace
}  // namespace talven::graphics
