// The host's fonts through fontconfig, with rules of ours that map the
// face names games commonly ask for (Meiryo, MS Gothic, MS Mincho, MS
// PGothic, MS UI Gothic, also in their Japanese spellings) to the installed
// Japanese gothic and mincho faces. Whatever fontconfig picks must cover
// kana and kanji, or the gothic fallback is used.
#include <fontconfig/fontconfig.h>

#include <algorithm>

#include "graphics/text/system_faces.h"

namespace talven::graphics::system_faces {

namespace {

// The installed Japanese faces of each kind of common face name: fixed
// pitch names to the fixed gothic and mincho, proportional ones to the
// proportional faces, each list ending with other common Japanese families
// so that a machine with only one of them still finds it. The fontconfig
// rules are made from kCommonFaces and these (one alias per name).
constexpr const char* kPGothic = "IPAPGothic,IPAGothic,Noto Sans CJK JP,VL PGothic,TakaoPGothic";
constexpr const char* kGothic = "IPAGothic,IPAPGothic,Noto Sans Mono CJK JP,VL Gothic,TakaoGothic";
constexpr const char* kMincho = "IPAMincho,IPAPMincho,Noto Serif CJK JP,TakaoMincho";
constexpr const char* kPMincho = "IPAPMincho,IPAMincho,Noto Serif CJK JP,TakaoPMincho";

}  // namespace

const char* preferred_faces(FaceKind kind) {
  switch (kind) {
    case FaceKind::kPGothic: return kPGothic;
    case FaceKind::kGothic: return kGothic;
    case FaceKind::kMincho: return kMincho;
    case FaceKind::kPMincho: return kPMincho;
  }
  return kGothic;
}

namespace {

std::string font_rules_xml() {
  std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n";
  for (const CommonFace& f : kCommonFaces) {
    xml += "  <alias binding=\"strong\"><family>";
    xml += f.name;
    xml += "</family><prefer>";
    std::string_view list(preferred_faces(f.kind));
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

FcConfig* g_config = nullptr;
bool g_config_failed = false;

FcConfig* config_locked() {
  if (g_config || g_config_failed) return g_config;
  FcConfig* c = FcInitLoadConfigAndFonts();
  if (!c) {
    g_config_failed = true;
    return nullptr;
  }
  // Our rules come after the system's, so they win for the names they map.
  const std::string rules = font_rules_xml();
  FcConfigParseAndLoadFromMemory(c, reinterpret_cast<const FcChar8*>(rules.c_str()), FcFalse);
  g_config = c;
  return c;
}

bool covers_japanese(FcPattern* font) {
  FcCharSet* cs = nullptr;
  if (FcPatternGetCharSet(font, FC_CHARSET, 0, &cs) != FcResultMatch || !cs) return false;
  return FcCharSetHasChar(cs, 0x3042) && FcCharSetHasChar(cs, 0x6F22);  // hiragana a, kanji
}

bool has_family(FcPattern* font, const std::string& folded) {
  FcChar8* fam = nullptr;
  for (int i = 0; FcPatternGetString(font, FC_FAMILY, i, &fam) == FcResultMatch; ++i)
    if (fold_family(reinterpret_cast<const char*>(fam)) == folded) return true;
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

}  // namespace

const char* fallback_family() { return kFallbackFamily; }

bool prepare(FT_Library) { return config_locked() != nullptr; }

bool find(FT_Library, const std::string& utf8, int weight, bool italic, FaceSource& out,
          Found& found) {
  found = Found{};
  FcConfig* config = config_locked();
  if (!config) return false;
  const std::string key = fold_family(utf8);
  const bool mapped = common_face(key) != nullptr;
  FcPattern* font = match_family(config, utf8, weight, italic);
  bool usable = font && covers_japanese(font) && (mapped || has_family(font, key));
  if (!usable) {
    found.fell_back = true;
    found.unknown = font && !mapped && !has_family(font, key);
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

std::vector<std::vector<std::string>> japanese_families(FT_Library) {
  std::vector<std::vector<std::string>> fonts;
  FcConfig* config = config_locked();
  if (!config) return fonts;
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_LANG, nullptr);
  if (pat && os) {
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcLangSet* ls = FcLangSetCreate();
    FcLangSetAdd(ls, reinterpret_cast<const FcChar8*>("ja"));
    FcPatternAddLangSet(pat, FC_LANG, ls);
    FcLangSetDestroy(ls);
    if (FcFontSet* set = FcFontList(config, pat, os)) {
      for (int i = 0; i < set->nfont; ++i) {
        std::vector<std::string> names;
        FcChar8* fam = nullptr;
        for (int k = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, k, &fam) == FcResultMatch; ++k)
          names.emplace_back(reinterpret_cast<const char*>(fam));
        if (!names.empty()) fonts.push_back(std::move(names));
      }
      FcFontSetDestroy(set);
      std::sort(fonts.begin(), fonts.end());
    }
  }
  if (os) FcObjectSetDestroy(os);
  if (pat) FcPatternDestroy(pat);
  return fonts;
}

// The configuration is loaded again on next use, so that nothing of
// fontconfig's outlives the runtime.
void release() {
  if (g_config) FcConfigDestroy(g_config);
  g_config = nullptr;
  g_config_failed = false;
}

}  // namespace talven::graphics::system_faces
