#include "graphics/text/font_faces.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "base/cp932.h"
#include "base/game_path.h"
#include "base/messages.h"
#include "storage/archive.h"
#include "storage/file_layer.h"

#include <fcntl.h>
#include <unistd.h>

namespace talven::graphics {

namespace {

// Face names games ask for, mapped to the installed Japanese faces: fixed
// pitch names to the fixed gothic and mincho, proportional ones to the
// proportional faces, each list ending with other common Japanese families
// so that a machine with only one of them still finds it. The fontconfig
// rules are made from this table (one alias per name).
struct FaceRule {
  const char* name;    // as games spell it
  const char* prefer;  // fontconfig families, best first
};

constexpr const char* kPGothic = "IPAPGothic,IPAGothic,Noto Sans CJK JP,VL PGothic,TakaoPGothic";
constexpr const char* kGothic = "IPAGothic,IPAPGothic,Noto Sans Mono CJK JP,VL Gothic,TakaoGothic";
constexpr const char* kMincho = "IPAMincho,IPAPMincho,Noto Serif CJK JP,TakaoMincho";
constexpr const char* kPMincho = "IPAPMincho,IPAMincho,Noto Serif CJK JP,TakaoPMincho";

constexpr FaceRule kFaceRules[] = {
    {"Meiryo", kPGothic},       {"メイリオ", kPGothic},        {"Meiryo UI", kPGothic},
    {"MS PGothic", kPGothic},   {"ＭＳ Ｐゴシック", kPGothic}, {"MS UI Gothic", kPGothic},
    {"Yu Gothic", kPGothic},    {"游ゴシック", kPGothic},      {"MS Gothic", kGothic},
    {"ＭＳ ゴシック", kGothic}, {"MS Mincho", kMincho},        {"ＭＳ 明朝", kMincho},
    {"MS PMincho", kPMincho},   {"ＭＳ Ｐ明朝", kPMincho},     {"Yu Mincho", kPMincho},
    {"游明朝", kPMincho},
};

std::string font_rules_xml() {
  std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n";
  for (const FaceRule& r : kFaceRules) {
    xml += "  <alias binding=\"strong\"><family>";
    xml += r.name;
    xml += "</family><prefer>";
    std::string_view list(r.prefer);
    while (!list.empty()) {
      std::size_t comma = list.find(',');
      xml += "<family>";
      xml += list.substr(0, comma);
      xml += "</family>";
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    xml += "</prefer></alias>\n";
  }
  return xml + "</fontconfig>\n";
}

constexpr const char* kFallbackFamily = "IPAGothic";
constexpr std::uintmax_t kMaxGameFontBytes = 64u << 20;
constexpr std::size_t kMaxCachedNames = 256;

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// One face found in the game's fonts folder.
struct GameFace {
  std::vector<std::string> names;  // folded UTF-8 family names
  std::vector<std::string> shown;  // as the font spells them
  std::shared_ptr<const std::string> data;
  int index = 0;
  bool bold = false, italic = false;
};

struct Faces {
  std::mutex mutex;
  FT_Library library = nullptr;
  bool library_failed = false;
  FcConfig* config = nullptr;
  bool config_failed = false;
  bool game_scanned = false;
  std::vector<GameFace> game;
  std::set<std::string> noticed;  // unknown names already reported
  std::map<std::tuple<std::string, int, bool>, FaceSource> cache;
};

Faces& faces() {
  static Faces f;
  return f;
}

FT_Library library_locked(Faces& f) {
  if (!f.library && !f.library_failed && FT_Init_FreeType(&f.library) != 0) {
    f.library = nullptr;
    f.library_failed = true;
  }
  return f.library;
}

FcConfig* config_locked(Faces& f) {
  if (f.config || f.config_failed) return f.config;
  FcConfig* c = FcInitLoadConfigAndFonts();
  if (!c) {
    f.config_failed = true;
    return nullptr;
  }
  // Our rules come after the system's, so they win for the names they map.
  const std::string rules = font_rules_xml();
  FcConfigParseAndLoadFromMemory(c, reinterpret_cast<const FcChar8*>(rules.c_str()), FcFalse);
  f.config = c;
  return c;
}

std::string utf16be_to_utf8(const FT_Byte* p, FT_UInt len) {
  std::string out;
  for (FT_UInt i = 0; i + 1 < len; i += 2) {
    std::uint32_t u = std::uint32_t(p[i]) << 8 | p[i + 1];
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < len) {
      std::uint32_t lo = std::uint32_t(p[i + 2]) << 8 | p[i + 3];
      if (lo >= 0xDC00 && lo < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (u < 0x80) {
      out += char(u);
    } else if (u < 0x800) {
      out += char(0xC0 | u >> 6);
      out += char(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      out += char(0xE0 | u >> 12);
      out += char(0x80 | ((u >> 6) & 0x3F));
      out += char(0x80 | (u & 0x3F));
    } else {
      out += char(0xF0 | u >> 18);
      out += char(0x80 | ((u >> 12) & 0x3F));
      out += char(0x80 | ((u >> 6) & 0x3F));
      out += char(0x80 | (u & 0x3F));
    }
  }
  return out;
}

void add_name(GameFace& g, const std::string& name) {
  if (name.empty()) return;
  std::string key = fold(name);
  if (std::find(g.names.begin(), g.names.end(), key) != g.names.end()) return;
  g.names.push_back(key);
  g.shown.push_back(name);
}

// Every face of one font file; unreadable files are skipped.
void add_game_font(Faces& f, std::shared_ptr<const std::string> data) {
  FT_Library lib = library_locked(f);
  if (!lib || data->empty()) return;
  const auto* bytes = reinterpret_cast<const FT_Byte*>(data->data());
  FT_Face probe = nullptr;
  if (FT_New_Memory_Face(lib, bytes, FT_Long(data->size()), -1, &probe) != 0) return;
  FT_Long count = std::min<FT_Long>(probe->num_faces, 64);
  FT_Done_Face(probe);
  for (FT_Long i = 0; i < count; ++i) {
    FT_Face face = nullptr;
    if (FT_New_Memory_Face(lib, bytes, FT_Long(data->size()), i, &face) != 0) continue;
    if (!FT_IS_SCALABLE(face)) {
      FT_Done_Face(face);
      continue;
    }
    GameFace g;
    g.data = data;
    g.index = int(i);
    g.bold = face->style_flags & FT_STYLE_FLAG_BOLD;
    g.italic = face->style_flags & FT_STYLE_FLAG_ITALIC;
    if (face->family_name) add_name(g, face->family_name);
    FT_UInt n = FT_Get_Sfnt_Name_Count(face);
    for (FT_UInt k = 0; k < n; ++k) {
      FT_SfntName name;
      if (FT_Get_Sfnt_Name(face, k, &name) != 0) continue;
      if (name.platform_id != TT_PLATFORM_MICROSOFT || name.encoding_id != TT_MS_ID_UNICODE_CS)
        continue;
      if (name.name_id != TT_NAME_ID_FONT_FAMILY && name.name_id != TT_NAME_ID_TYPOGRAPHIC_FAMILY)
        continue;
      add_name(g, utf16be_to_utf8(name.string, name.string_len));
    }
    FT_Done_Face(face);
    if (!g.names.empty()) f.game.push_back(std::move(g));
  }
}

bool font_file_name(std::string_view name) {
  std::string n = fold(name);
  for (const char* ext : {".ttf", ".otf", ".ttc", ".otc"})
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ext) == 0) return true;
  return false;
}

// The game's "fonts" folder: loose files first, then its archive's entries.
void scan_game_fonts(Faces& f) {
  f.game_scanned = true;
  const int mode = storage::file_system_mode();  // bit 0 archives, bit 1 loose files
  if (auto dir = (mode & 2) ? resolve_game_path("fonts") : std::nullopt) {
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(*dir, ec))
      if (e.is_regular_file(ec) && font_file_name(e.path().filename().string()))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& p : files) {
      if (std::filesystem::file_size(p, ec) > kMaxGameFontBytes || ec) continue;
      std::ifstream in(p, std::ios::binary);
      auto data = std::make_shared<std::string>(std::istreambuf_iterator<char>(in),
                                                std::istreambuf_iterator<char>());
      add_game_font(f, std::move(data));
    }
  }
  if (auto archive = (mode & 1) ? resolve_game_path("fonts.bin") : std::nullopt) {
    // Entries are read straight from the archive (not through the file
    // layer, whose notices must not be raised while the faces are locked).
    int fd = ::open(archive->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    storage::ArchiveDirectory dir;
    if (storage::read_archive_directory(fd, dir) == storage::ArchiveStatus::kOk) {
      for (std::uint32_t i = 0; i < dir.count; ++i) {
        auto name = dir.name(i);
        const storage::ArchiveEntry& e = dir.entries[i];
        if (!name || !font_file_name(*name) || e.data_size > kMaxGameFontBytes ||
            !dir.data_in_file(i))
          continue;
        auto data = std::make_shared<std::string>(e.data_size, '\0');
        if (::pread(fd, data->data(), data->size(), off_t(e.data_offset)) != ssize_t(data->size()))
          continue;
        add_game_font(f, std::move(data));
      }
    }
    ::close(fd);
  }
}

bool covers_japanese(FcPattern* font) {
  FcCharSet* cs = nullptr;
  if (FcPatternGetCharSet(font, FC_CHARSET, 0, &cs) != FcResultMatch || !cs) return false;
  return FcCharSetHasChar(cs, 0x3042) && FcCharSetHasChar(cs, 0x6F22);  // hiragana a, kanji
}

bool has_family(FcPattern* font, const std::string& folded) {
  FcChar8* fam = nullptr;
  for (int i = 0; FcPatternGetString(font, FC_FAMILY, i, &fam) == FcResultMatch; ++i)
    if (fold(reinterpret_cast<const char*>(fam)) == folded) return true;
  return false;
}

// fontconfig's best match for a family; null when nothing matches.
FcPattern* match_family(FcConfig* config, const std::string& family, int weight, bool italic) {
  FcPattern* pat = FcPatternCreate();
  if (!pat) return nullptr;
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcLangSet* ls = FcLangSetCreate();
  if (ls) {
    FcLangSetAdd(ls, reinterpret_cast<const FcChar8*>("ja"));
    FcPatternAddLangSet(pat, FC_LANG, ls);
    FcLangSetDestroy(ls);
  }
  FcConfigSubstitute(config, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result;
  FcPattern* font = FcFontMatch(config, pat, &result);
  FcPatternDestroy(pat);
  return font;
}

bool source_of(FcPattern* font, FaceSource& out) {
  FcChar8* file = nullptr;
  if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) return false;
  int index = 0, w = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(font, FC_INDEX, 0, &index);
  FcPatternGetInteger(font, FC_WEIGHT, 0, &w);
  FcPatternGetInteger(font, FC_SLANT, 0, &slant);
  out = FaceSource{};
  out.path = reinterpret_cast<const char*>(file);
  out.index = index;
  out.bold = w >= FC_WEIGHT_DEMIBOLD;
  out.italic = slant != FC_SLANT_ROMAN;
  return true;
}

// `notice` receives the fallback message to report once the lock is let go.
bool find_locked(Faces& f, const std::string& utf8, int weight, bool italic, FaceSource& out,
                 std::string& notice) {
  if (!f.game_scanned) scan_game_fonts(f);
  const std::string key = fold(utf8);
  const GameFace* best = nullptr;
  for (const GameFace& g : f.game) {
    if (std::find(g.names.begin(), g.names.end(), key) == g.names.end()) continue;
    // Prefer the face whose own weight and slant are nearest the request.
    auto score = [&](const GameFace& c) {
      return (c.bold != (weight >= 600)) + (c.italic != italic);
    };
    if (!best || score(g) < score(*best)) best = &g;
  }
  if (best) {
    out = FaceSource{};
    out.data = best->data;
    out.index = best->index;
    out.bold = best->bold;
    out.italic = best->italic;
    return true;
  }
  FcConfig* config = config_locked(f);
  if (!config) return false;
  bool mapped = std::any_of(std::begin(kFaceRules), std::end(kFaceRules),
                            [&](const FaceRule& r) { return fold(r.name) == key; });
  FcPattern* font = match_family(config, utf8, weight, italic);
  bool usable = font && covers_japanese(font) && (mapped || has_family(font, key));
  if (!usable) {
    if (f.noticed.size() >= kMaxCachedNames) f.noticed.clear();
    if (font && !mapped && !has_family(font, key) && f.noticed.insert(key).second) notice = utf8;
    if (font) FcPatternDestroy(font);
    font = match_family(config, kFallbackFamily, weight, italic);
    if (font && !covers_japanese(font)) {
      FcPatternDestroy(font);
      font = match_family(config, "sans-serif", weight, italic);
    }
  }
  if (!font) return false;
  bool ok = source_of(font, out);
  FcPatternDestroy(font);
  return ok;
}

}  // namespace

void prepare_faces() {
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  config_locked(f);
  library_locked(f);
}

FT_Library ft_library() {
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  return library_locked(f);
}

FT_Face open_face(const FaceSource& source) {
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  FT_Library lib = library_locked(f);
  if (!lib) return nullptr;
  FT_Face face = nullptr;
  FT_Error e = source.data
                   ? FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte*>(source.data->data()),
                                        FT_Long(source.data->size()), source.index, &face)
                   : FT_New_Face(lib, source.path.c_str(), source.index, &face);
  if (e != 0) return nullptr;
  if (!FT_IS_SCALABLE(face)) {
    FT_Done_Face(face);
    return nullptr;
  }
  return face;
}

void close_face(FT_Face face) {
  if (!face) return;
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  FT_Done_Face(face);
}

bool find_face(std::string_view cp932_name, int weight, bool italic, FaceSource& out) {
  Faces& f = faces();
  std::string utf8 = cp932::to_utf8_lossy(cp932_name);
  std::string notice;
  bool found = false;
  {
    std::lock_guard lock(f.mutex);
    auto key = std::make_tuple(utf8, weight, italic);
    if (auto it = f.cache.find(key); it != f.cache.end()) {
      out = it->second;
      return true;
    }
    found = find_locked(f, utf8, weight, italic, out, notice);
    if (found) {
      if (f.cache.size() >= kMaxCachedNames)
        f.cache.clear();  // a script inventing names stays bounded
      f.cache.emplace(key, out);
    }
  }
  // Reported outside the lock: showing a message may wait for the main
  // thread, which may itself be measuring window text.
  if (!notice.empty())
    report_message(2, "フォント \"%s\" が見つかりません。%s を使います。", notice.c_str(),
                   kFallbackFamily);
  return found;
}

std::vector<std::string> list_japanese_faces(std::size_t limit) {
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  std::vector<std::string> out;
  std::set<std::string> seen;
  auto add = [&](const std::string& utf8) {
    if (out.size() >= limit || utf8.empty() || utf8[0] == '@') return;
    auto name = cp932::from_utf8(utf8);
    if (!name || name->empty() || name->size() > 31 || !seen.insert(*name).second) return;
    out.push_back(*name);
  };
  if (!f.game_scanned) scan_game_fonts(f);
  for (const GameFace& g : f.game)
    for (const std::string& n : g.shown) add(n);
  FcConfig* config = config_locked(f);
  if (!config) return out;
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_LANG, nullptr);
  if (pat && os) {
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcLangSet* ls = FcLangSetCreate();
    FcLangSetAdd(ls, reinterpret_cast<const FcChar8*>("ja"));
    FcPatternAddLangSet(pat, FC_LANG, ls);
    FcLangSetDestroy(ls);
    if (FcFontSet* set = FcFontList(config, pat, os)) {
      std::vector<std::vector<std::string>> fonts;
      for (int i = 0; i < set->nfont; ++i) {
        std::vector<std::string> names;
        FcChar8* fam = nullptr;
        for (int k = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, k, &fam) == FcResultMatch; ++k)
          names.emplace_back(reinterpret_cast<const char*>(fam));
        if (!names.empty()) fonts.push_back(std::move(names));
      }
      FcFontSetDestroy(set);
      std::sort(fonts.begin(), fonts.end());
      for (const auto& names : fonts)
        for (const auto& n : names) add(n);
    }
  }
  if (os) FcObjectSetDestroy(os);
  if (pat) FcPatternDestroy(pat);
  return out;
}

void release_faces() {
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  f.game.clear();
  f.game_scanned = false;
  f.noticed.clear();
  f.cache.clear();
  // The configuration goes too (it is loaded again on next use), so that
  // nothing of fontconfig's outlives the runtime.
  if (f.config) FcConfigDestroy(f.config);
  f.config = nullptr;
  f.config_failed = false;
}

}  // namespace talven::graphics
