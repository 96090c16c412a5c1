// The player's documents folder on POSIX hosts: the XDG documents
// directory (from the environment or the user-dirs file), else $HOME.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/config.h"

namespace talven {

namespace {

namespace fs = std::filesystem;

// The value of XDG_DOCUMENTS_DIR from the user-dirs file, with $HOME expanded.
std::string documents_from_user_dirs(const std::string& home) {
  std::string cfg;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) cfg = x;
  else if (!home.empty()) cfg = home + "/.config";
  else return {};
  std::ifstream in(cfg + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    const std::string key = "XDG_DOCUMENTS_DIR=";
    if (line.rfind(key, 0) != 0) continue;
    std::string v = line.substr(key.size());
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
    if (v.empty() || v.front() != '/') return {};
    return v;
  }
  return {};
}

}  // namespace

std::string documents_dir() {
  if (const char* d = std::getenv("XDG_DOCUMENTS_DIR"); d && *d) return d;
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) home = h;
  std::string docs = documents_from_user_dirs(home);
  std::error_code ec;
  if (!docs.empty() && fs::is_directory(docs, ec)) return docs;
  return home;
}

}  // namespace talven
