#include "lib/system/folders.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string_view>

#include "base/config.h"

namespace talven::lib::system {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v == '/' ? std::string(v) : std::string();
}

std::string home() {
  const char* h = std::getenv("HOME");
  return h && *h ? std::string(h) : std::string();
}

bool is_dir(const std::string& p) {
  struct stat st;
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string config_home() {
  std::string c = env("XDG_CONFIG_HOME");
  return c.empty() && !home().empty() ? home() + "/.config" : c;
}

std::string data_home() {
  std::string d = env("XDG_DATA_HOME");
  return d.empty() && !home().empty() ? home() + "/.local/share" : d;
}

std::string cache_home() {
  std::string d = env("XDG_CACHE_HOME");
  return d.empty() && !home().empty() ? home() + "/.cache" : d;
}

// A user folder from the environment or user-dirs.dirs, else $HOME.
std::string user_folder(std::string_view key) {
  const std::string var = "XDG_" + std::string(key) + "_DIR";
  std::string value = env(var.c_str());
  if (value.empty()) {
    std::ifstream in(config_home() + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(var + "=", 0) != 0) continue;
      std::string v = line.substr(var.size() + 1);
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      if (v.rfind("$HOME", 0) == 0) v = home() + v.substr(5);
      if (!v.empty() && v.front() == '/') value = v;
    }
  }
  return is_dir(value) ? value : home();
}

// Creates the folder and its missing parents with mode 0700.
bool make_dirs(const std::string& path) {
  if (is_dir(path)) return true;
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (!is_dir(part) && ::mkdir(part.c_str(), 0700) != 0 && !is_dir(part)) return false;
    }
  }
  return is_dir(path);
}

}  // namespace

std::optional<std::string> special_folder(int code) {
  std::string path;
  bool create = false;
  switch (code) {
    case 0:
    case 16: path = user_folder("DESKTOP"); break;
    case 5:
    case 12: path = documents_dir(); break;
    case 13: path = user_folder("MUSIC"); break;
    case 14: path = user_folder("VIDEOS"); break;
    case 39: path = user_folder("PICTURES"); break;
    case 21: path = user_folder("TEMPLATES"); break;
    case 40: path = home(); break;
    case 26:
      path = config_home();
      create = true;
      break;
    case 28:
      path = data_home();
      create = true;
      break;
    case 32:
      path = cache_home();
      create = true;
      break;
    case 2: path = data_home().empty() ? "" : data_home() + "/applications"; break;
    case 7: path = config_home().empty() ? "" : config_home() + "/autostart"; break;
    case 20: path = data_home().empty() ? "" : data_home() + "/fonts"; break;
    case 35: path = "/usr/share"; break;
    case 36: path = "/usr"; break;
    case 37:
    case 41: path = "/usr/lib"; break;
    case 38:
    case 42: path = "/usr/local"; break;
    case 43: path = "/usr/local/share"; break;
    default: return std::nullopt;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty()) return std::nullopt;
  if (create ? !make_dirs(path) : !is_dir(path)) return std::nullopt;
  return path;
}

}  // namespace talven::lib::system
