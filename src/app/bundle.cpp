#include "app/bundle.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/game.h"
#include "base/config.h"
#include "base/cp932.h"
#include "base/host_file.h"
#include "storage/archive.h"
#include "storage/file_layer.h"

namespace talven {

namespace {

namespace fs = std::filesystem;

// The Linux program's suffix when a folder of the game (by default the
// scripts' folder) already has the game's name: the machine the program
// runs on, as Linux games name their programs.
constexpr const char* kMachineSuffix =
#if defined(__x86_64__)
    ".x86_64";
#elif defined(__aarch64__)
    ".aarch64";
#else
    ".run";
#endif

constexpr int kRefused = 2;
constexpr int kFailed = 1;

BundleOutcome refused(std::string why) { return {kRefused, std::move(why)}; }
BundleOutcome failed(std::string why) { return {kFailed, std::move(why)}; }

std::string lower_ascii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(c < 0x80 ? std::tolower(c) : c); });
  return s;
}

bool same_name(const std::string& a, const std::string& b) {
  return lower_ascii(a) == lower_ascii(b);
}

std::string shown(const fs::path& p) { return host_file::from_fs_path(p); }
std::string name_of(const fs::path& p) { return host_file::from_fs_path(p.filename()); }

// A leftover of an interrupted save: NAME.tmp, or NAME.tmp followed by six
// letters or digits (the runtime's save temporaries).
bool is_leftover(const std::string& name) {
  const std::string lower = lower_ascii(name);
  const std::size_t at = lower.rfind(".tmp");
  if (at == std::string::npos) return false;
  const std::string_view rest = std::string_view(lower).substr(at + 4);
  if (rest.empty()) return true;
  return rest.size() == 6 &&
         std::all_of(rest.begin(), rest.end(), [](unsigned char c) { return std::isalnum(c); });
}

// The entry of `dir` named `name` without regard to ASCII letter case.
std::optional<fs::path> find_beside(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(dir / host_file::fs_path(name), ec)) return dir / host_file::fs_path(name);
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (same_name(name_of(entry.path()), name)) return entry.path();
  }
  return std::nullopt;
}

// What of the game's configuration decides how its data may be packed.
struct GameSettings {
  int file_system = 3;        // FileSystem bits (neither bit already read as both)
  std::string script_folder;  // top-level folder of the scripts' sources (host name), or ""
  std::string cd_folder;      // the CD audio folder's top-level name, or ""
};

// Reads the configuration files that ship in the game folder (NAME.cfg,
// then cfg_chs.cfg when inherited), leaving the process-wide configuration
// as it was. The player's own settings folder is not consulted: it does not
// travel with the game.
GameSettings read_game_settings(const fs::path& cfg, const fs::path& dir, const std::string& name) {
  const Config saved = config();
  Config& c = config();
  c = Config{};
  c.program_name = name;
  read_config(host_file::from_fs_path(cfg));
  if (c.Inheritance)
    if (auto shared = find_beside(dir, "cfg_chs.cfg")) read_config(shared->string());
  derive_script_location();
  GameSettings s;
  s.file_system = c.FileSystem & (storage::kFileSystemArchives | storage::kFileSystemLoose);
  if (s.file_system == 0) s.file_system = storage::kFileSystemArchives | storage::kFileSystemLoose;
  auto first_component = [](const std::string& game_path) {
    const std::size_t end = game_path.find_first_of("\\/");
    return cp932::to_utf8_lossy(game_path.substr(0, end == std::string::npos ? 0 : end));
  };
  s.script_folder = first_component(c.script_dir);
  s.cd_folder = c.CDFolder.empty() ? std::string("cd") : first_component(c.CDFolder + "\\");
  c = saved;
  return s;
}

// Copies a file or a folder tree, leaving out save leftovers.
bool copy_tree(const fs::path& from, const fs::path& to, std::string& error, std::size_t& files) {
  std::error_code ec;
  if (fs::is_directory(from, ec)) {
    fs::create_directories(to, ec);
    if (ec) {
      error = "cannot create " + shown(to) + ": " + ec.message();
      return false;
    }
    for (const auto& entry : fs::directory_iterator(from, ec)) {
      const std::string name = name_of(entry.path());
      if (is_leftover(name)) continue;
      if (!copy_tree(entry.path(), to / entry.path().filename(), error, files)) return false;
    }
    if (ec) {
      error = "cannot read " + shown(from) + ": " + ec.message();
      return false;
    }
    return true;
  }
  if (!fs::is_regular_file(from, ec)) return true;  // sockets, broken links: not game data
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    error = "cannot copy " + shown(from) + ": " + ec.message();
    return false;
  }
  ++files;
  return true;
}

// Packs the files below `folder` into the archive `archive`.
bool pack_folder(const fs::path& folder, const fs::path& archive, bool backslash,
                 std::string& error, std::size_t& files) {
  std::vector<storage::ArchiveSource> sources;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || is_leftover(name_of(it->path()))) continue;
    const std::string relative = host_file::from_fs_path(it->path().lexically_relative(folder));
    // UTF-8 names become CP932; other bytes are taken as CP932 already.
    std::optional<std::string> entry =
        cp932::is_valid_utf8(relative) ? cp932::from_utf8(relative) : relative;
    if (!entry) {
      error = shown(it->path()) + ": the name has no CP932 form";
      return false;
    }
    if (backslash) std::replace(entry->begin(), entry->end(), '/', '\\');
    sources.push_back({*entry, host_file::from_fs_path(it->path())});
  }
  if (ec) {
    error = "cannot read " + shown(folder) + ": " + ec.message();
    return false;
  }
  if (sources.empty()) return true;  // nothing to find in an empty folder
  files += sources.size();
  std::string why;
  if (!storage::write_archive(host_file::from_fs_path(archive), std::move(sources),
                              std::random_device{}(), &why)) {
    error = "cannot pack " + shown(folder) + ": " + why;
    return false;
  }
  return true;
}

// The runtime's own files for a bundle: the program and what goes beside it.
struct RuntimeFiles {
  fs::path program;
  std::vector<fs::path> beside;  // DLLs and the soundfonts folder (Windows)
};

std::optional<RuntimeFiles> runtime_files(const BundleRequest& request, std::string& error) {
  RuntimeFiles files;
  std::error_code ec;
  if (request.target == BundleTarget::kWindows) {
    fs::path from = host_file::fs_path(request.windows_from);
    if (from.empty()) {
      if (native_bundle_target() != BundleTarget::kWindows) {
        error =
            "a Windows bundle made here needs --windows-from DIR: a folder holding talven.exe "
            "and its DLLs (an unzipped talven-windows-x64.zip or build-windows/talven-windows-x64)";
        return std::nullopt;
      }
      // The running program, whatever its name, with the DLLs beside it.
      files.program = host_file::fs_path(request.program);
      if (files.program.empty())
        files.program = host_file::fs_path(host_file::running_program().value_or(""));
      from = files.program.parent_path();
    } else {
      const std::optional<fs::path> exe = find_beside(from, "talven.exe");
      if (exe) files.program = *exe;
    }
    if (files.program.empty() || !fs::is_regular_file(files.program, ec)) {
      error = shown(from) +
              " holds no talven.exe (--windows-from takes an unzipped talven-windows-x64.zip or "
              "build-windows/talven-windows-x64)";
      return std::nullopt;
    }
    for (const auto& entry : fs::directory_iterator(from, ec)) {
      const std::string name = lower_ascii(name_of(entry.path()));
      const bool dll = name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0;
      if ((dll && entry.is_regular_file(ec)) || (name == "soundfonts" && entry.is_directory(ec)))
        files.beside.push_back(entry.path());
    }
    return files;
  }
  if (native_bundle_target() != BundleTarget::kLinux) {
    error = "a Linux bundle is made by the Linux talven";
    return std::nullopt;
  }
  files.program = host_file::fs_path(request.program);
  if (files.program.empty()) {
    const std::optional<std::string> running = host_file::running_program();
    if (!running) {
      error = "cannot tell where the running talven program is";
      return std::nullopt;
    }
    files.program = host_file::fs_path(*running);
  }
  if (!fs::is_regular_file(files.program, ec)) {
    error = "no runtime program at " + shown(files.program);
    return std::nullopt;
  }
  return files;
}

// A player's NAME.exe is a Windows GUI program, so that starting it opens
// only the game's window, where talven.exe itself is a console program for
// the authors' tools. The program's PE header names its subsystem: the
// 16-bit field 68 bytes into the optional header of a PE32+ image.
bool mark_windows_gui_program(const fs::path& exe, const std::string& from, std::string& error) {
  constexpr std::uint16_t kPe32Plus = 0x20b, kSubsystemGui = 2, kSubsystemConsole = 3;
  std::fstream f(exe, std::ios::in | std::ios::out | std::ios::binary);
  auto read_at = [&](std::uint64_t offset, void* out, std::size_t n) {
    f.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(f.read(static_cast<char*>(out), static_cast<std::streamsize>(n)));
  };
  std::uint8_t dos[64];
  std::uint8_t pe[4 + 20 + 70];
  if (!f || !read_at(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    error = from + " is not a 64-bit Windows program";
    return false;
  }
  const std::uint32_t at =
      dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 | std::uint32_t{dos[0x3F]} << 24;
  if (!read_at(at, pe, sizeof pe) || pe[0] != 'P' || pe[1] != 'E' || pe[2] || pe[3] ||
      (pe[24] | pe[25] << 8) != kPe32Plus) {
    error = from + " is not a 64-bit Windows program";
    return false;
  }
  const std::uint64_t field = std::uint64_t{at} + 24 + 68;
  const int subsystem = pe[24 + 68] | pe[24 + 69] << 8;
  if (subsystem == kSubsystemGui) return true;
  if (subsystem != kSubsystemConsole) {
    error = from + " has an unexpected subsystem " + std::to_string(subsystem);
    return false;
  }
  const char gui[2] = {static_cast<char>(kSubsystemGui), 0};
  f.seekp(static_cast<std::streamoff>(field));
  f.write(gui, 2);
  f.close();
  if (!f) {
    error = "cannot write " + shown(exe);
    return false;
  }
  return true;
}

// A fresh folder beside `out` to write the bundle into.
std::optional<fs::path> make_staging_folder(const fs::path& out) {
  std::mt19937 rng(std::random_device{}());
  std::error_code ec;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(rng() & 0xFFFFFF));
    fs::path staging = out;
    staging += ".tmp-";
    staging += suffix;
    if (fs::create_directory(staging, ec)) return staging;
    if (ec) return std::nullopt;
  }
  return std::nullopt;
}

// Removes the staging folder unless the bundle was moved into place.
struct Staging {
  fs::path path;
  ~Staging() {
    if (path.empty()) return;
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

bool inside_or_same(const fs::path& path, const fs::path& root) {
  auto p = path.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p) {
    if (r->empty() && std::next(r) == root.end()) break;  // a trailing separator
    if (p == path.end() || *p != *r) return false;
  }
  return true;
}

}  // namespace

BundleOutcome make_bundle(const BundleRequest& request) {
  std::error_code ec;
  // The game: its folder, its name and its configuration.
  const std::string program = program_path_for(request.game);
  if (program.empty()) return refused("no game folder at " + request.game);
  const fs::path game_dir = fs::canonical(host_file::fs_path(program).parent_path(), ec);
  if (ec || !fs::is_directory(game_dir, ec)) return refused("no game folder at " + request.game);
  const std::string name = host_file::from_fs_path(host_file::fs_path(program).stem());
  const std::optional<fs::path> cfg = find_beside(game_dir, name + ".cfg");
  if (!cfg || !fs::is_regular_file(*cfg, ec))
    return refused(shown(game_dir) + " is not a game: it has no configuration " + name + ".cfg");

  // The output folder: new or empty, and not part of the game's data.
  if (request.out.empty()) return refused("no output folder given");
  fs::path out = fs::weakly_canonical(fs::absolute(host_file::fs_path(request.out), ec), ec);
  if (ec) return refused("bad output folder " + request.out);
  if (!out.has_filename()) out = out.parent_path();
  if (inside_or_same(out, game_dir))
    return refused(shown(out) + " lies inside the game folder " + shown(game_dir) +
                   "; choose a folder outside it");
  if (fs::exists(out, ec) && (!fs::is_directory(out, ec) || !fs::is_empty(out, ec)))
    return refused(shown(out) + " exists and is not an empty folder");

  const GameSettings settings = read_game_settings(*cfg, game_dir, name);
  if (request.archive && !(settings.file_system & storage::kFileSystemArchives))
    return refused(
        "the configuration reads loose files only (FileSystem=2): leave out --archive "
        "or let FileSystem include archives (1 or 3)");

  std::string error;
  const std::optional<RuntimeFiles> runtime = runtime_files(request, error);
  if (!runtime) return failed(error);

  // What of the game folder goes in: everything but the program files and
  // save leftovers; with archives, which folders get packed.
  const bool windows = request.target == BundleTarget::kWindows;
  std::string program_file = windows ? name + ".exe" : name;
  if (!windows && fs::is_directory(game_dir / host_file::fs_path(name), ec))
    program_file += kMachineSuffix;
  struct Item {
    fs::path path;
    bool pack = false;
  };
  std::vector<Item> items;
  std::error_code listing;
  for (const auto& entry : fs::directory_iterator(game_dir, listing)) {
    const std::string entry_name = name_of(entry.path());
    const bool directory = entry.is_directory(ec);
    if (!directory && (same_name(entry_name, name) || same_name(entry_name, name + ".exe") ||
                       same_name(entry_name, program_file)))
      continue;
    if (is_leftover(entry_name)) continue;
    Item item{entry.path()};
    if (directory && request.archive) {
      const bool loose_scripts = (settings.file_system & storage::kFileSystemLoose) &&
                                 same_name(entry_name, settings.script_folder);
      item.pack = !loose_scripts && !same_name(entry_name, settings.cd_folder);
      if (item.pack && find_beside(game_dir, entry_name + ".bin"))
        return failed("the game has both " + entry_name + " and " + entry_name +
                      ".bin; remove one before packing");
    }
    items.push_back(std::move(item));
  }
  if (listing) return failed("cannot read " + shown(game_dir) + ": " + listing.message());

  fs::create_directories(out.parent_path(), ec);
  Staging staging;
  const std::optional<fs::path> staged = make_staging_folder(out);
  if (!staged) return failed("cannot create a folder beside " + shown(out));
  staging.path = *staged;

  std::size_t files = 0;
  for (const Item& item : items) {
    const bool ok =
        item.pack ? pack_folder(item.path, *staged / fs::path(item.path.filename()).concat(".bin"),
                                request.backslash, error, files)
                  : copy_tree(item.path, *staged / item.path.filename(), error, files);
    if (!ok) return failed(error);
  }
  // The runtime goes in last: its files take their names over the game's.
  const fs::path target_program = *staged / host_file::fs_path(program_file);
  fs::copy_file(runtime->program, target_program, fs::copy_options::overwrite_existing, ec);
  if (ec) return failed("cannot copy " + shown(runtime->program) + ": " + ec.message());
  fs::permissions(target_program,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  if (ec) return failed("cannot make " + shown(target_program) + " executable: " + ec.message());
  if (windows && !mark_windows_gui_program(target_program, shown(runtime->program), error))
    return failed(error);
  for (const fs::path& piece : runtime->beside) {
    if (!copy_tree(piece, *staged / piece.filename(), error, files)) return failed(error);
  }

  // An empty OUT makes way for the finished bundle.
  if (fs::exists(out, ec)) fs::remove(out, ec);
  fs::rename(*staged, out, ec);
  if (ec) return failed("cannot create " + shown(out) + ": " + ec.message());
  staging.path.clear();
  char summary[64];
  std::snprintf(summary, sizeof summary, " for %s (%zu data files)", windows ? "Windows" : "Linux",
                files);
  return {0, shown(out / host_file::fs_path(program_file)) + summary};
}

int run_bundle_tool(int argc, char** argv) {
  constexpr const char* kUsage =
      "usage: talven bundle GAME OUT [--linux] [--windows] [--windows-from DIR] [--archive] "
      "[--backslash]\n";
  BundleRequest request;
  request.target = native_bundle_target();
  std::vector<std::string> positional;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--linux") {
      request.target = BundleTarget::kLinux;
    } else if (arg == "--windows") {
      request.target = BundleTarget::kWindows;
    } else if (arg == "--windows-from") {
      if (i + 1 >= argc) {
        std::fputs("talven bundle: --windows-from needs a folder\n", stderr);
        return kRefused;
      }
      request.windows_from = argv[++i];
      request.target = BundleTarget::kWindows;
    } else if (arg == "--archive") {
      request.archive = true;
    } else if (arg == "--backslash") {
      request.backslash = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "talven bundle: unknown option %s\n%s", arg.c_str(), kUsage);
      return kRefused;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) {
    std::fputs(kUsage, stderr);
    return kRefused;
  }
  request.game = positional[0];
  request.out = positional[1];
  const BundleOutcome outcome = make_bundle(request);
  std::fprintf(stderr, "talven bundle: %s\n", outcome.message.c_str());
  return outcome.status;
}

}  // namespace talven
