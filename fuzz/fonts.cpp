// Font files in a game's "fonts" folder: the folder is scanned as for a game,
// the face is chosen by its own family name, realised in a font slot and used
// to draw and measure a line of Latin, kana and kanji.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "fuzz_common.h"
#include "graphics/plane/plane.h"
#include "graphics/text/font_faces.h"
#include "graphics/text/text.h"

namespace {

constexpr std::int32_t kTarget = 1;

std::string plain_format(std::string_view format, talven::Addr, talven::Addr) {
  return std::string(format);
}

// The family name the game would ask for: the file's first face's own name,
// when it fits a font record. Empty when there is none.
std::string family_of(const std::uint8_t* data, std::size_t size) {
  FT_Library lib = talven::graphics::ft_library();
  FT_Face face = nullptr;
  if (!lib || FT_New_Memory_Face(lib, data, FT_Long(size), 0, &face) != 0) return {};
  std::string name = face->family_name ? face->family_name : "";
  FT_Done_Face(face);
  for (char c : name)
    if (static_cast<unsigned char>(c) >= 0x80 || c == 0) return {};
  return name.size() < 32 ? name : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven;
  using namespace talven::graphics;
  fuzz::quiet();
  static const bool ready = [] {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("talven_fuzz_fonts_" + std::to_string(::getpid()));
    fs::create_directories(dir / "fonts");
    fs::current_path(dir);
    config().FileSystem = 2;  // loose files
    prepare_faces();
    fonts_start(plain_format);
    return set_plane(kTarget, CreatePlane(96, 48, 32));
  }();
  if (!ready || size < 4) return 0;

  const std::string name = family_of(data, size);
  if (name.empty()) return 0;  // a game could not name it: fontconfig's faces would be used
  {
    std::ofstream out("fonts/game.ttf", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  // The folder is read again and the slot realised anew for every input.
  fonts_release();
  release_faces();

  // Size, angle and style come from the last bytes (tables are found by
  // offset, so these rarely matter to the font itself).
  FontRecord desc;
  std::copy(name.begin(), name.end(), desc.face);
  desc.height = 4 + data[size - 1] % 40;
  desc.angle = (data[size - 2] & 1) ? 450 * (data[size - 2] >> 1) : 0;
  desc.style = data[size - 3] & 0x1F;
  desc.weight = 100 * (data[size - 4] % 10);
  font_set(0, desc);
  draw_text(plane_at(kTarget), 0, 2, 2, 0xFFFFFFu | ((data[size - 3] & 0x20u) << 25),
            "Ag W\x82\xa0\x8a\xbf\x8e\x9a");  // "Ag W", hiragana a, two kanji
  float abc[3];
  font_abc(0, 'A', abc);
  float kern = 0;
  font_kern(0, 'A' * 128 + 'V', kern);
  // The font list (the game's faces first) now and then: it loads
  // fontconfig's configuration again each time.
  if ((data[size - 4] & 0x3F) == 0) list_japanese_faces(4);
  return 0;
}
