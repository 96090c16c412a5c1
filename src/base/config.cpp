#include "base/config.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/cp932.h"
#include "base/host_file.h"
#include "base/profile.h"

namespace talven {

namespace fs = std::filesystem;

namespace {

// Every key that read_config reads, in file order.
struct IntKey {
  const char* section;
  const char* key;
  std::int32_t Config::*field;
};
struct StringKey {
  const char* section;
  const char* key;
  std::string Config::*field;
  std::size_t buffer;  // bytes including the terminator
};

constexpr IntKey kIntKeys[] = {
    {"General", "Inheritance", &Config::Inheritance},
    {"General", "DebugMode", &Config::DebugMode},
    {"General", "Error", &Config::Error},
    {"General", "MultiInstance", &Config::MultiInstance},
    {"General", "FileSystem", &Config::FileSystem},
    {"Window", "Resize", &Config::Resize},
    {"Window", "RestoreBounds", &Config::RestoreBounds},
    {"Window", "WindowLeft", &Config::WindowLeft},
    {"Window", "WindowTop", &Config::WindowTop},
    {"Window", "WindowWidth", &Config::WindowWidth},
    {"Window", "WindowHeight", &Config::WindowHeight},
    {"Screen", "Width", &Config::Width},
    {"Screen", "Height", &Config::Height},
    {"Screen", "Depth", &Config::Depth},
    {"Screen", "FullScreen", &Config::FullScreen},
    {"Screen", "FixedAspectRatio", &Config::FixedAspectRatio},
    {"Screen", "Smoothing", &Config::Smoothing},
    {"System", "MultiThreading", &Config::MultiThreading},
    {"System", "Direct3D", &Config::Direct3D},
    {"System", "DirectSound", &Config::DirectSound},
    {"System", "DirectMusic", &Config::DirectMusic},
    {"System", "DirectInput", &Config::DirectInput},
    {"System", "Net", &Config::Net},
    {"System", "Untrusted", &Config::Untrusted},
    {"Drive", "CD", &Config::CD},
    {"Option", "GlobalFocus", &Config::GlobalFocus},
    {"Option", "GlobalSound", &Config::GlobalSound},
    {"Option", "Confirmation", &Config::Confirmation},
    {"Script", "ProgramSize", &Config::ProgramSize},
    {"Script", "StackSize", &Config::StackSize},
    {"Script", "HeapSize", &Config::HeapSize},
};

constexpr StringKey kStringKeys[] = {
    {"General", "Company", &Config::Company, 260},
    {"General", "Product", &Config::Product, 260},
    {"General", "Title", &Config::Title, 256},
    {"General", "Icon", &Config::Icon, 260},
    {"Script", "Load", &Config::Load, 260},
    {"System", "SoundFont", &Config::SoundFont, 260},
    {"Drive", "CDFolder", &Config::CDFolder, 260},
    {"Script", "SourceEncoding", &Config::SourceEncoding, 16},
};

// Cuts text to fit a buffer of `buffer` bytes with its terminator, never
// splitting a double-byte character.
std::string fit(std::string s, std::size_t buffer) {
  if (s.size() < buffer) return s;
  std::size_t keep = 0;
  while (keep < s.size()) {
    std::size_t n = cp932::char_len(s, keep);
    if (keep + n > buffer - 1) break;
    keep += n;
  }
  s.resize(keep);
  return s;
}

bool is_file(const std::string& p) {
  std::error_code ec;
  return fs::is_regular_file(host_file::fs_path(p), ec);
}

// The file `name` in host directory `dir` (ending in '/'), matched without
// regard to ASCII letter case when no exact match exists. A game copied from
// Windows may name its configuration "GAME.CFG".
std::string beside(const std::string& dir, const std::string& name) {
  std::string exact = dir + name;
  if (is_file(exact)) return exact;
  std::error_code ec;
  for (const auto& entry :
       fs::directory_iterator(host_file::fs_path(dir.empty() ? "." : dir), ec)) {
    std::string found = host_file::from_fs_path(entry.path().filename());
    if (found.size() == name.size() &&
        std::equal(found.begin(), found.end(), name.begin(),
                   [](char a, char b) {
                     return std::tolower(static_cast<unsigned char>(a)) ==
                            std::tolower(static_cast<unsigned char>(b));
                   }) &&
        entry.is_regular_file(ec)) {
      return dir + found;
    }
  }
  return exact;
}

// Appends a directory component, matching an existing one case-insensitively,
// creating it when missing. False when it cannot be created.
bool enter_or_create(std::string& dir, const std::string& component) {
  std::string path = beside(dir, component);
  std::error_code ec;
  if (fs::is_directory(host_file::fs_path(path), ec)) {
    dir = path + "/";
    return true;
  }
  fs::create_directory(host_file::fs_path(path), ec);
  if (ec || !fs::is_directory(host_file::fs_path(path), ec)) return false;
  dir = path + "/";
  return true;
}

}  // namespace

Config& config() {
  static Config c;
  return c;
}

void read_config(const std::string& file) {
  Config& c = config();
  for (const IntKey& k : kIntKeys) {
    c.*k.field = profile::get_int(file, k.section, k.key, c.*k.field);
  }
  for (const StringKey& k : kStringKeys) {
    c.*k.field = fit(profile::get_string(file, k.section, k.key, c.*k.field), k.buffer);
  }
  if ((c.FileSystem & 3) == 0) c.FileSystem = 3;
}

void load_configuration(const std::string& program_path) {
  // Split into directory (with its '/'), file name and extension.
  std::string dir, file = program_path;
  if (auto slash = program_path.rfind('/'); slash != std::string::npos) {
    dir = program_path.substr(0, slash + 1);
    file = program_path.substr(slash + 1);
  }
  std::string name = file;
  if (auto dot = file.rfind('.'); dot != std::string::npos && dot > 0) name = file.substr(0, dot);

  Config& c = config();
  c = Config{};
  c.module_dir = dir;
  c.program_name = name;

  c.config_path = beside(dir, name + ".cfg");
  if (is_file(c.config_path)) read_config(c.config_path);

  if (c.Inheritance) {
    c.config_path = beside(dir, "cfg_chs.cfg");
    if (is_file(c.config_path)) read_config(c.config_path);
    if (c.Inheritance && !c.Company.empty() && !c.Product.empty()) {
      std::string user = documents_dir();
      if (!user.empty()) {
        if (user.back() != '/') user += '/';
        if (enter_or_create(user, cp932::to_utf8_lossy(c.Company)) &&
            enter_or_create(user, cp932::to_utf8_lossy(c.Product))) {
          c.config_path = beside(user, "cfg_chs.cfg");
          if (is_file(c.config_path)) read_config(c.config_path);
        }
      }
    }
  }

  derive_script_location();
}

void derive_script_location() {
  Config& c = config();
  c.script_dir.clear();
  if (c.Load.empty()) {
    c.script_dir = cp932::from_utf8_lossy(c.program_name) + "\\";
    c.Load = "main.c";
    return;
  }
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < c.Load.size(); i = cp932::next(c.Load, i)) {
    if (c.Load[i] == '\\') last = i;
  }
  if (last != std::string::npos) {
    c.script_dir = c.Load.substr(0, last + 1);
    c.Load = c.Load.substr(last + 1);
  }
}

bool write_back_config(const std::string& file, bool full_screen) {
  const Config& c = config();
  bool keep = c.RestoreBounds != 0;
  auto num = [&](std::int32_t v) { return std::to_string(keep ? v : 0); };
  bool ok = profile::write_string(file, "Screen", "FullScreen", full_screen ? "1" : "0");
  ok = profile::write_string(file, "Window", "WindowLeft", num(c.WindowLeft)) && ok;
  ok = profile::write_string(file, "Window", "WindowTop", num(c.WindowTop)) && ok;
  ok = profile::write_string(file, "Window", "WindowWidth", num(c.WindowWidth)) && ok;
  ok = profile::write_string(file, "Window", "WindowHeight", num(c.WindowHeight)) && ok;
  return ok;
}

bool set_config_value(std::string_view key, std::string_view value) {
  Config& c = config();
  auto same = [&](const char* k) { return cp932::compare_nocase(key, k) == 0; };
  for (const IntKey& k : kIntKeys) {
    if (same(k.key)) {
      c.*k.field = profile::parse_int(value, c.*k.field);
      if ((c.FileSystem & 3) == 0) c.FileSystem = 3;
      return true;
    }
  }
  for (const StringKey& k : kStringKeys) {
    if (same(k.key)) {
      c.*k.field = fit(std::string(value), k.buffer);
      if (k.field == &Config::Load) derive_script_location();
      return true;
    }
  }
  return false;
}

}  // namespace talven
