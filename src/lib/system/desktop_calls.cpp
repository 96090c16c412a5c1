#include "lib/system/desktop_calls.h"

#include <algorithm>

#include "base/config.h"
#include "base/cp932.h"
#include "base/game_path.h"
#include "lib/system/host_files.h"

namespace talven::lib::system {

namespace {

constexpr const char* kVariables[] = {"fullscreen",   "width",        "height",        "depth",
                                      "os_platform",  "os_major",     "os_minor",      "os_build",
                                      "global_focus", "global_sound", "color_mapping", "smoothing",
                                      "sp_count"};

enum Id {
  kOk = 1,
  kCancel = 2,
  kAbort = 3,
  kRetry = 4,
  kIgnore = 5,
  kYes = 6,
  kNo = 7,
  kTryAgain = 10,
  kContinue = 11
};

}  // namespace

int system_variable(std::string_view name) {
  for (int i = 0; i < static_cast<int>(std::size(kVariables)); ++i)
    if (cp932::compare_nocase(name, kVariables[i]) == 0) return i;
  return -1;
}

BoxLayout box_layout(std::uint32_t type) {
  BoxLayout b;
  switch (type & 0xF) {
    case 0: b.ids = {kOk}; break;
    case 1: b.ids = {kOk, kCancel}; break;
    case 2: b.ids = {kAbort, kRetry, kIgnore}; break;
    case 3: b.ids = {kYes, kNo, kCancel}; break;
    case 4: b.ids = {kYes, kNo}; break;
    case 5: b.ids = {kRetry, kCancel}; break;
    case 6: b.ids = {kCancel, kTryAgain, kContinue}; break;
    default: return b;
  }
  const int def = static_cast<int>((type >> 8) & 0xF);
  b.default_index = def < static_cast<int>(b.ids.size()) ? def : 0;
  // Closing answers Cancel where there is one, OK for a lone OK, and the
  // default button for the sets that cannot be cancelled.
  if (std::find(b.ids.begin(), b.ids.end(), kCancel) != b.ids.end()) b.escape_id = kCancel;
  else if (b.ids.size() == 1) b.escape_id = kOk;
  else b.escape_id = b.ids[static_cast<std::size_t>(b.default_index)];
  switch ((type >> 4) & 0xF) {
    case 1: b.icon = 1; break;
    case 3: b.icon = 2; break;
    case 2:
    case 4: b.icon = 3; break;
    default: b.icon = 0; break;
  }
  return b;
}

const char* button_label(int id) {
  switch (id) {
    case kOk: return "OK";
    case kCancel: return "キャンセル";
    case kAbort: return "中止";
    case kRetry: return "再試行";
    case kIgnore: return "無視";
    case kYes: return "はい";
    case kNo: return "いいえ";
    case kTryAgain: return "再実行";
    case kContinue: return "続行";
    default: return "?";
  }
}

ClipCopy clip_copy(std::uint32_t length, std::int32_t size) {
  if (size <= 0) return {};
  const std::uint64_t with_zero = static_cast<std::uint64_t>(length) + 1;
  if (with_zero < static_cast<std::uint64_t>(size))
    return {length, static_cast<std::int32_t>(with_zero)};
  return {static_cast<std::uint32_t>(size - 1), size - 1};
}

std::string crlf_from_lf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
    out.push_back(text[i]);
  }
  return out;
}

std::string lf_from_crlf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

std::optional<std::string>& headless_clipboard() {
  static std::optional<std::string> clip;
  return clip;
}

std::string program_for(std::string_view name) {
  if (name.empty()) return {};
  const bool has_folder = name.find_first_of("\\/") != std::string_view::npos;
  if (auto host = resolve_game_path(name); host && host_program_file(*host)) return *host;
  if (has_folder) return {};
  const std::string& dir = config().module_dir;
  if (!dir.empty()) {
    std::string beside = cp932::to_utf8_lossy(name);
    if (auto host = resolve_game_path(dir + beside); host && host_program_file(*host)) return *host;
  }
  std::string bare = cp932::to_utf8_lossy(name);
  if (bare.size() > 4 &&
      cp932::compare_nocase(std::string_view(bare).substr(bare.size() - 4), ".exe") == 0)
    bare.resize(bare.size() - 4);
  return bare;
}

}  // namespace talven::lib::system
