#include "graphics/text/font_faces.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "base/cp932.h"
#include "base/game_path.h"
#include "base/messages.h"
#include "storage/archive.h"
#include "storage/file_layer.h"
#include "graphics/text/system_faces.h"
#include "base/host_file.h"

namespace talven::graphics {

namespace {

constexpr std::uintmax_t kMaxGameFontBytes = 64u << 20;
constexpr std::size_t kMaxCachedNames = 256;

std::string fold(std::string_view s) { return system_faces::fold_family(s); }

// One face found in the game's fonts folder.
struct GameFace {
  std::vector<std::string> names;  // folded UTF-8 family names
  std::vector<std::string> shown;  // as the font spells them
  std::shared_ptr<const std::string> data;
  int index = 0;
  bool bold = false, italic = false;
  bool japanese = false;  // covers kana and kanji
};

struct Faces {
  std::mutex mutex;
  FT_Library library = nullptr;
  bool library_failed = false;
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
    // Hiragana "a" and a kanji.
    g.japanese = FT_Get_Char_Index(face, 0x3042) != 0 && FT_Get_Char_Index(face, 0x6F22) != 0;
    for (const std::string& name : system_faces::family_names(face)) add_name(g, name);
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
    std::vector<std::string> files;
    for (const std::string& name :
         host_file::list_directory(*dir).value_or(std::vector<std::string>{})) {
      host_file::Info info;
      const std::string path = *dir + "/" + name;
      if (font_file_name(name) && host_file::info_of_path(path, info) && info.regular &&
          info.size <= kMaxGameFontBytes)
        files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    for (const std::string& name : files) {
      const int fd = host_file::open_read(*dir + "/" + name);
      if (fd < 0) continue;
      host_file::Info info;
      auto data = std::make_shared<std::string>();
      if (host_file::info_of(fd, info) && info.size <= kMaxGameFontBytes) {
        data->resize(info.size);
        if (!host_file::read_exact_at(fd, data->data(), data->size(), 0)) data->clear();
      }
      host_file::close(fd);
      add_game_font(f, std::move(data));
    }
  }
  if (auto archive = (mode & 1) ? resolve_game_path("fonts.bin") : std::nullopt) {
    // Entries are read straight from the archive (not through the file
    // layer, whose notices must not be raised while the faces are locked).
    int fd = host_file::open_read(*archive);
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
        if (!host_file::read_exact_at(fd, data->data(), data->size(), e.data_offset)) continue;
        add_game_font(f, std::move(data));
      }
    }
    host_file::close(fd);
  }
}

// `notice` receives the fallback message to report once the lock is let go.
bool find_locked(Faces& f, const std::string& utf8, int weight, bool italic, FaceSource& out,
                 std::string& notice) {
  if (!f.game_scanned) scan_game_fonts(f);
  const std::string key = fold(utf8);
  // The game face of a family (any family when `key` is null) whose own
  // weight and slant are nearest the request.
  auto nearest = [&](const std::string* family, bool japanese) {
    const GameFace* best = nullptr;
    auto score = [&](const GameFace& c) {
      return (c.bold != (weight >= 600)) + (c.italic != italic);
    };
    for (const GameFace& g : f.game) {
      if (japanese && !g.japanese) continue;
      if (family && std::find(g.names.begin(), g.names.end(), *family) == g.names.end()) continue;
      if (!best || score(g) < score(*best)) best = &g;
    }
    return best;
  };
  auto take = [&](const GameFace& g) {
    out = FaceSource{};
    out.data = g.data;
    out.index = g.index;
    out.bold = g.bold;
    out.italic = g.italic;
    return true;
  };
  if (const GameFace* g = nearest(&key, false)) return take(*g);
  system_faces::Found found;
  FT_Library lib = library_locked(f);
  bool ok = system_faces::find(lib, utf8, weight, italic, out, found);
  // A host without a Japanese face of its own falls back to the game's.
  if (!ok || found.lacks_japanese)
    if (const GameFace* g = nearest(nullptr, true)) ok = take(*g);
  if (found.fell_back) {
    if (f.noticed.size() >= kMaxCachedNames) f.noticed.clear();
    if (found.unknown && f.noticed.insert(key).second) notice = utf8;
  }
  return ok;
}

}  // namespace

void prepare_faces() {
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  system_faces::prepare(library_locked(f));
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
                   system_faces::fallback_family());
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
  for (const auto& names : system_faces::japanese_families(library_locked(f)))
    for (const auto& n : names) add(n);
  return out;
}

void release_faces() {
  Faces& f = faces();
  std::lock_guard lock(f.mutex);
  f.game.clear();
  f.game_scanned = false;
  f.noticed.clear();
  f.cache.clear();
  // The host's font list goes too (it is read again on next use), so that
  // nothing of it outlives the runtime.
  system_faces::release();
}

std::vector<std::string> system_faces::family_names(FT_Face face) {
  std::vector<std::string> names;
  if (face->family_name) names.emplace_back(face->family_name);
  const FT_UInt n = FT_Get_Sfnt_Name_Count(face);
  for (FT_UInt k = 0; k < n; ++k) {
    FT_SfntName name;
    if (FT_Get_Sfnt_Name(face, k, &name) != 0) continue;
    if (name.platform_id != TT_PLATFORM_MICROSOFT || name.encoding_id != TT_MS_ID_UNICODE_CS)
      continue;
    if (name.name_id != TT_NAME_ID_FONT_FAMILY && name.name_id != TT_NAME_ID_TYPOGRAPHIC_FAMILY)
      continue;
    names.push_back(utf16be_to_utf8(name.string, name.string_len));
  }
  return names;
}

}  // namespace talven::graphics
