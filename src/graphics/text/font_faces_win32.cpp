// The host's fonts on Windows: the faces of the system's fonts folder
// (GetWindowsDirectoryW + \Fonts) and of the player's own installed fonts
// (%LOCALAPPDATA%\Microsoft\Windows\Fonts), read once through FreeType for
// their family names (English and Japanese), style and whether they cover
// kana and kanji. The names games ask for are installed faces here; one
// that is missing maps to the nearest Japanese face that is installed
// (proportional or fixed gothic, mincho), like the rules elsewhere.
#include <windows.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

#include "base/wide_text_win32.h"
#include "graphics/text/system_faces.h"

namespace talven::graphics::system_faces {

namespace {

// The installed faces of each kind, best first: the common names are
// installed faces on Windows, so a missing one takes its nearest kin.
constexpr const char* kPGothic = "Meiryo,Yu Gothic,MS PGothic,MS UI Gothic,MS Gothic";
constexpr const char* kGothic = "MS Gothic,BIZ UDGothic,Yu Gothic,Meiryo";
constexpr const char* kMincho = "MS Mincho,BIZ UDMincho,Yu Mincho,MS PMincho";
constexpr const char* kPMincho = "MS PMincho,Yu Mincho,MS Mincho,BIZ UDPMincho";

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

constexpr const char* kFallbackFamily = "MS Gothic";
constexpr const char* kFallbacks[] = {"MS Gothic", "Yu Gothic", "Meiryo", "BIZ UDGothic"};

struct HostFace {
  std::vector<std::string> names;  // as the font spells them
  std::vector<std::string> keys;   // folded
  std::string path;                // UTF-8
  int index = 0;
  bool bold = false, italic = false;
  bool japanese = false;
};

std::vector<HostFace> g_faces;
bool g_scanned = false;

void add_name(HostFace& h, const std::string& name) {
  if (name.empty()) return;
  std::string key = fold_family(name);
  if (std::find(h.keys.begin(), h.keys.end(), key) != h.keys.end()) return;
  h.keys.push_back(key);
  h.names.push_back(name);
}

bool font_file(const std::wstring& name) {
  if (name.size() < 5) return false;
  std::wstring ext = name.substr(name.size() - 4);
  for (wchar_t& c : ext) c = static_cast<wchar_t>(::towlower(c));
  return ext == L".ttf" || ext == L".otf" || ext == L".ttc" || ext == L".otc";
}

// FreeType opens files by narrow name; the fonts folders' names are ASCII.
void scan_file(FT_Library lib, const std::string& path) {
  FT_Face probe = nullptr;
  if (FT_New_Face(lib, path.c_str(), -1, &probe) != 0) return;
  const FT_Long count = std::min<FT_Long>(probe->num_faces, 64);
  FT_Done_Face(probe);
  for (FT_Long i = 0; i < count; ++i) {
    FT_Face face = nullptr;
    if (FT_New_Face(lib, path.c_str(), i, &face) != 0) continue;
    if (!FT_IS_SCALABLE(face)) {
      FT_Done_Face(face);
      continue;
    }
    HostFace h;
    h.path = path;
    h.index = int(i);
    h.bold = face->style_flags & FT_STYLE_FLAG_BOLD;
    h.italic = face->style_flags & FT_STYLE_FLAG_ITALIC;
    // Hiragana "a" and a kanji.
    h.japanese = FT_Get_Char_Index(face, 0x3042) != 0 && FT_Get_Char_Index(face, 0x6F22) != 0;
    for (const std::string& name : family_names(face)) add_name(h, name);
    FT_Done_Face(face);
    if (!h.names.empty()) g_faces.push_back(std::move(h));
  }
}

void scan_folder(FT_Library lib, const std::wstring& folder) {
  WIN32_FIND_DATAW d;
  HANDLE find = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &d,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> files;
  do {
    if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && font_file(d.cFileName))
      files.push_back(d.cFileName);
  } while (::FindNextFileW(find, &d));
  ::FindClose(find);
  std::sort(files.begin(), files.end());
  for (const std::wstring& f : files) {
    const std::wstring path = folder + L"\\" + f;
    scan_file(lib, host_path_utf8(path));
  }
}

void scan(FT_Library lib) {
  if (g_scanned || !lib) return;
  g_scanned = true;
  wchar_t windows[MAX_PATH];
  const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (n > 0 && n < MAX_PATH) scan_folder(lib, std::wstring(windows, n) + L"\\Fonts");
  wchar_t local[MAX_PATH];
  const DWORD m = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  if (m > 0 && m < MAX_PATH)
    scan_folder(lib, std::wstring(local, m) + L"\\Microsoft\\Windows\\Fonts");
}

// The face of a family nearest the weight and slant wanted; null when the
// family is not installed (or, with `japanese`, has no Japanese face).
const HostFace* best_of(const std::string& key, int weight, bool italic, bool japanese) {
  const HostFace* best = nullptr;
  auto score = [&](const HostFace& c) {
    return (c.bold != (weight >= 600)) + (c.italic != italic);
  };
  for (const HostFace& h : g_faces) {
    if (japanese && !h.japanese) continue;
    if (std::find(h.keys.begin(), h.keys.end(), key) == h.keys.end()) continue;
    if (!best || score(h) < score(*best)) best = &h;
  }
  return best;
}

void source_of(const HostFace& h, FaceSource& out) {
  out = FaceSource{};
  out.path = h.path;
  out.index = h.index;
  out.bold = h.bold;
  out.italic = h.italic;
}

}  // namespace

const char* fallback_family() { return kFallbackFamily; }

bool prepare(FT_Library library) {
  scan(library);
  return !g_faces.empty();
}

bool find(FT_Library library, const std::string& utf8, int weight, bool italic, FaceSource& out,
          Found& found) {
  found = Found{};
  scan(library);
  const std::string key = fold_family(utf8);
  if (const HostFace* h = best_of(key, weight, italic, true)) {
    source_of(*h, out);
    return true;
  }
  found.fell_back = true;
  const CommonFace* common = common_face(key);
  found.unknown = !common && !best_of(key, weight, italic, false);
  // A common name takes the nearest installed face of its kind.
  if (common) {
    std::string_view list(preferred_faces(common->kind));
    while (!list.empty()) {
      const std::size_t comma = list.find(',');
      const HostFace* h = best_of(fold_family(list.substr(0, comma)), weight, italic, true);
      if (h) {
        source_of(*h, out);
        return true;
      }
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
  }
  for (const char* family : kFallbacks) {
    if (const HostFace* h = best_of(fold_family(family), weight, italic, true)) {
      source_of(*h, out);
      return true;
    }
  }
  // Any face with Japanese, else any face at all.
  for (bool japanese : {true, false}) {
    for (const HostFace& h : g_faces) {
      if (japanese && !h.japanese) continue;
      source_of(h, out);
      found.lacks_japanese = !japanese;
      return true;
    }
  }
  found.lacks_japanese = true;
  return false;
}

std::vector<std::vector<std::string>> japanese_families(FT_Library library) {
  scan(library);
  std::vector<std::vector<std::string>> fonts;
  for (const HostFace& h : g_faces)
    if (h.japanese) fonts.push_back(h.names);
  std::sort(fonts.begin(), fonts.end());
  return fonts;
}

void release() {
  g_faces.clear();
  g_scanned = false;
}

}  // namespace talven::graphics::system_faces
