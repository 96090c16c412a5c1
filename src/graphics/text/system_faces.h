// The host's installed fonts behind find_face and list_japanese_faces: one
// implementation per platform. font_faces_posix.cpp asks fontconfig, with
// rules of ours that map the face names games commonly ask for to the
// installed Japanese faces; font_faces_win32.cpp reads the faces of the
// Windows fonts folders (the system's and the player's) through FreeType,
// where those names are the installed faces themselves.
//
// Everything here runs under the faces lock of font_faces.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "graphics/text/font_faces.h"

typedef struct FT_FaceRec_* FT_Face;

namespace talven::graphics::system_faces {

// Family names compare without regard to ASCII case.
inline std::string fold_family(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// The kinds of Japanese face games ask for by name.
enum class FaceKind { kPGothic, kGothic, kMincho, kPMincho };

// Face names games commonly ask for (also in their Japanese spellings) and
// the kind each stands for. Each platform maps a kind to its installed
// faces (preferred_faces).
struct CommonFace {
  const char* name;  // as games spell it (UTF-8)
  FaceKind kind;
};
inline constexpr CommonFace kCommonFaces[] = {
    {"Meiryo", FaceKind::kPGothic},          {"メイリオ", FaceKind::kPGothic},
    {"Meiryo UI", FaceKind::kPGothic},       {"MS PGothic", FaceKind::kPGothic},
    {"ＭＳ Ｐゴシック", FaceKind::kPGothic}, {"MS UI Gothic", FaceKind::kPGothic},
    {"Yu Gothic", FaceKind::kPGothic},       {"游ゴシック", FaceKind::kPGothic},
    {"MS Gothic", FaceKind::kGothic},        {"ＭＳ ゴシック", FaceKind::kGothic},
    {"MS Mincho", FaceKind::kMincho},        {"ＭＳ 明朝", FaceKind::kMincho},
    {"MS PMincho", FaceKind::kPMincho},      {"ＭＳ Ｐ明朝", FaceKind::kPMincho},
    {"Yu Mincho", FaceKind::kPMincho},       {"游明朝", FaceKind::kPMincho},
};

// The common face a folded family name is, or null.
inline const CommonFace* common_face(std::string_view folded) {
  for (const CommonFace& f : kCommonFaces)
    if (fold_family(f.name) == folded) return &f;
  return nullptr;
}

// This platform's installed families for a kind, best first, separated by
// commas.
const char* preferred_faces(FaceKind kind);

// A face's family names (UTF-8): FreeType's own, then the Windows-Unicode
// family and typographic family entries of its name table, repeats and
// all (callers keep each folded name once).
std::vector<std::string> family_names(FT_Face face);

// The Japanese gothic face used when a name finds nothing usable.
const char* fallback_family();

// Reads the host's font list now; false when the host's fonts cannot be
// used at all.
bool prepare(FT_Library library);

// What a search found.
struct Found {
  bool fell_back = false;       // the name's own face was missing or lacks Japanese
  bool unknown = false;         // the name is neither mapped nor installed
  bool lacks_japanese = false;  // the host has no face covering Japanese
};

// The host face for a family name (UTF-8) nearest the weight (100..900)
// and slant wanted; when the name has no face covering kana and kanji, the
// Japanese fallback. False when nothing at all can be found.
bool find(FT_Library library, const std::string& utf8, int weight, bool italic, FaceSource& out,
          Found& found);

// The family names of every scalable face covering Japanese, one list per
// face, the lists sorted.
std::vector<std::vector<std::string>> japanese_families(FT_Library library);

// Forgets the font list (read again on next use).
void release();

}  // namespace talven::graphics::system_faces
