// Font faces: which font file a face name means, and the font list.
//
// Face names arrive from scripts in CP932. A name is looked up first among
// the fonts of the game's own "fonts" folder (loose files, or entries of its
// archive "fonts.bin"), then among the host's installed fonts
// (system_faces.h: through fontconfig with a small configuration of ours
// that maps the names games commonly ask for, Meiryo, MS Gothic, MS Mincho,
// MS PGothic, MS UI Gothic, also in their Japanese spellings, to the
// installed Japanese gothic and mincho faces; on Windows the Windows fonts
// folders). A name that is neither falls back to a Japanese gothic face of
// the host's (of the game's own fonts when the host has no Japanese face),
// and the first use of each such name is reported at message level 2.
// Whatever the host picks must cover kana and kanji, or the gothic fallback
// is used.
//
// font_list's filter: scalable fonts whose languages include Japanese, every
// family name they carry (the English and the Japanese one) that converts to
// CP932, fits a 32-byte entry and does not begin with "@" (vertical-writing
// variants); the game's own fonts first, then the system's in fontconfig's
// sorted order, each name once.
//
// The FreeType library handle lives here too; all of it is used under the
// builtin lock (or from one test thread), and release_faces() drops the
// game fonts and the name cache at shut-down.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

typedef struct FT_LibraryRec_* FT_Library;
typedef struct FT_FaceRec_* FT_Face;

namespace talven::graphics {

struct FaceSource {
  std::string path;                         // host file, when not in memory
  std::shared_ptr<const std::string> data;  // a game font's bytes
  int index = 0;                            // face index inside a collection
  bool bold = false, italic = false;        // the face itself is bold / italic
};

// Starts FreeType and reads the host's font list now (at runtime
// start, on the main thread) rather than on first use.
void prepare_faces();

// The process's FreeType library, or null when it cannot start.
FT_Library ft_library();

// The face for a name (CP932) with the weight (100..900) and italic wanted.
// False only when no font at all can be found.
bool find_face(std::string_view cp932_name, int weight, bool italic, FaceSource& out);

// Opens and closes a face of the shared library (these two are serialised,
// as FreeType asks); null when the file cannot be read. The FaceSource's
// data must outlive the face.
FT_Face open_face(const FaceSource& source);
void close_face(FT_Face face);

// Names (CP932) that pass the filter above, at most `limit`.
std::vector<std::string> list_japanese_faces(std::size_t limit);

// Forgets the game fonts (read again on next use), the notices given and
// the host's font list.
void release_faces();

}  // namespace talven::graphics
