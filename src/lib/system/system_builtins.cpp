// getsystem, setsystem, mbox, caption, the clipboard, shell, exec and
// wallpaper.
//
// Windowed runs reach the desktop (host/desktop.h, host/window.h) through
// main-thread calls (runtime/bind.h call_on_main_thread); headless runs use
// stand-ins that behave alike: message boxes are printed on standard error
// and answer their default button, the clipboard is kept in the process,
// the title is remembered, and the screen is the configured one.
//
// Reported system: platform 2, version 10.0, build 19045 (fixed values of
// this runtime, whatever the host is).
#include <cstdio>
#include <mutex>
#include <string>

#include "base/config.h"
#include "base/cp932.h"
#include "base/game_path.h"
#include "graphics/kernels/kernels.h"
#include "graphics/sprite/sprite.h"
#include "host/desktop.h"
#include "host/window.h"
#include "lib/system/desktop_calls.h"
#include "lib/system/file_search.h"
#include "lib/system/host_files.h"
#include "lib/system/process.h"
#include "lib/system/system_builtins.h"
#include "lib/system/system_paths.h"
#include "runtime/bind.h"

namespace talven::lib {

using namespace system;

namespace {

constexpr std::int32_t kOsPlatform = 2, kOsMajor = 10, kOsMinor = 0, kOsBuild = 19045;

constexpr std::uint32_t kMaxText = 1u << 20;  // texts of boxes, titles and the clipboard

// The request a script thread hands to the main thread (one at a time: the
// caller waits for the answer).
struct DesktopRequest {
  BoxLayout layout;
  std::string caption, text;  // UTF-8
  bool failed = false;
  std::optional<std::string> clip;
  int width = 0, height = 0, depth = 0;
};
DesktopRequest g_request;
std::string g_headless_title;

// ---- run on the main thread ----

std::int32_t show_box() {
  const BoxLayout& b = g_request.layout;
  std::vector<host::BoxButton> buttons;
  for (int id : b.ids) buttons.push_back({id, button_label(id)});
  const host::BoxIcon icons[] = {host::BoxIcon::kNone, host::BoxIcon::kError,
                                 host::BoxIcon::kWarning, host::BoxIcon::kInformation};
  return host::show_button_box(icons[b.icon], g_request.caption, g_request.text, buttons,
                               b.default_index, b.escape_id);
}

bool write_clipboard() { return host::set_clipboard_text(g_request.text); }

bool read_clipboard() {
  g_request.clip = host::clipboard_text(g_request.failed);
  return true;
}

bool set_title() { return host::set_window_title(g_request.text); }

bool read_desktop_mode() {
  return host::desktop_mode(g_request.width, g_request.height, g_request.depth);
}

std::int32_t switch_screen_mode(std::uint32_t full_screen) {
  return host::switch_screen_mode(full_screen != 0);
}

bool windowed() { return host::desktop_available(); }

// A text argument: "" for null, nullopt for a wild address.
std::optional<std::string> text_or_empty(Addr a) {
  if (a == kNullAddr) return std::string();
  auto s = cstr(a, kMaxText);
  if (!s) return std::nullopt;
  return std::string(*s);
}

void screen_size(std::int32_t& w, std::int32_t& h, std::int32_t& depth) {
  const Config& c = config();
  w = c.Width;
  h = c.Height;
  depth = c.Depth;
  if (windowed() && runtime::call_on_main_thread<&read_desktop_mode>()) {
    w = g_request.width;
    h = g_request.height;
    depth = g_request.depth;
  }
}

bool is_url(std::string_view s) {
  const std::size_t colon = s.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = s[i];
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alpha && !(i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
      return false;
  }
  return true;
}

}  // namespace

// ---- system variables ------------------------------------------------------

std::int32_t bi_getsystem(Addr name_a) {
  if (name_a == kNullAddr) return 0;
  auto name = cstr(name_a, 64);
  if (!name) return 0;
  const Config& c = config();
  std::int32_t w, h, depth;
  switch (system_variable(*name)) {
    case 0: return host::is_full_screen() ? 1 : 0;
    case 1: screen_size(w, h, depth); return w;
    case 2: screen_size(w, h, depth); return h;
    case 3: screen_size(w, h, depth); return depth;
    case 4: return kOsPlatform;
    case 5: return kOsMajor;
    case 6: return kOsMinor;
    case 7: return kOsBuild;
    case 8: return c.GlobalFocus;
    case 9: return c.GlobalSound;
    case 10: return graphics::color_mapping();
    case 11: return c.Smoothing;
    case 12: return graphics::sp_count();
    default: return 0;
  }
}

std::int32_t bi_setsystem(Addr name_a, std::int32_t value) {
  if (name_a == kNullAddr) return 0;
  auto name = cstr(name_a, 64);
  if (!name) return 0;
  Config& c = config();
  switch (system_variable(*name)) {
    case 0: {
      const bool want = value != 0;
      // Only a change of mode is sent; without a window there is no mode to change.
      if (want == host::is_full_screen() || !windowed()) return 0;
      return runtime::call_on_main_thread<&switch_screen_mode>(want ? 1u : 0u);
    }
    case 8: c.GlobalFocus = value; return 1;
    case 9: c.GlobalSound = value; return 1;
    case 10: graphics::color_mapping() = value; return 1;
    case 11: c.Smoothing = value; return 1;
    default: return 0;
  }
}

// ---- message box and title -------------------------------------------------

std::int32_t bi_mbox(std::uint32_t style, Addr caption_a, Addr text_a) {
  BoxLayout layout = box_layout(style);
  auto caption = text_or_empty(caption_a);
  auto text = text_or_empty(text_a);
  if (layout.ids.empty() || !caption || !text) return 0;
  std::string cap = caption_a == kNullAddr ? std::string("エラー") : cp932::to_utf8_lossy(*caption);
  std::string body = cp932::to_utf8_lossy(*text);
  std::fprintf(stderr, "talven: [%s] %s\n", cap.c_str(), body.c_str());
  if (!windowed()) return layout.ids[static_cast<std::size_t>(layout.default_index)];
  g_request.layout = layout;
  g_request.caption = cap;
  g_request.text = body;
  return runtime::call_on_main_thread<&show_box>();
}

bool bi_caption(Addr text_a) {
  auto text = text_or_empty(text_a);
  if (!text) return false;
  if (!windowed()) {
    g_headless_title = *text;
    return true;
  }
  g_request.text = cp932::to_utf8_lossy(*text);
  return runtime::call_on_main_thread<&set_title>();
}

// ---- clipboard -------------------------------------------------------------

std::int32_t bi_clip_write(Addr a) {
  if (a == kNullAddr) return 0;
  auto text = cstr(a, kMaxText);
  if (!text || text->empty()) return 0;
  const std::int32_t length = static_cast<std::int32_t>(text->size());
  if (!windowed()) {
    headless_clipboard() = std::string(*text);
    return length;
  }
  g_request.text = lf_from_crlf(cp932::to_utf8_lossy(*text));
  if (!runtime::call_on_main_thread<&write_clipboard>()) return -2;
  return length;
}

std::int32_t bi_clip_read(Addr buffer, std::int32_t size) {
  if (buffer == kNullAddr || size <= 0) return 0;
  std::string text;
  if (!windowed()) {
    if (!headless_clipboard()) return -3;
    text = *headless_clipboard();
  } else {
    g_request.clip.reset();
    g_request.failed = false;
    if (!runtime::call_on_main_thread<&read_clipboard>()) return -2;
    if (!g_request.clip) return g_request.failed ? -1 : -3;
    text = crlf_from_lf(cp932::from_utf8_lossy(*g_request.clip));
  }
  const ClipCopy c = clip_copy(static_cast<std::uint32_t>(text.size()), size);
  if (!valid_range(buffer, static_cast<std::uint64_t>(c.copy) + 1)) return 0;
  write_bytes(buffer, text.data(), c.copy);
  store8(buffer + c.copy, 0);
  return c.result;
}

// ---- programs --------------------------------------------------------------

std::int32_t bi_shell(Addr verb_a, Addr file_a, Addr params_a) {
  if (file_a == kNullAddr) return 0;
  auto file = cstr(file_a, 4095);
  auto params = text_or_empty(params_a);
  auto verb = text_or_empty(verb_a);
  if (!file || !params || !verb) return 0;
  if (!action_allowed("shell", *file)) return 0;
  // Verbs other than opening have no handler here: the platform's "no
  // association" error, which still counts as a result of 1.
  const char* openers[] = {"", "open", "edit", "explore", "find"};
  bool opens = false;
  for (const char* o : openers) opens = opens || cp932::compare_nocase(*verb, o) == 0;
  if (!opens) return 1;
  if (is_url(*file) && file->size() > 2) {
    open_document(cp932::to_utf8_lossy(*file));
    return 1;
  }
  if (file->size() >= kMaxPath) return 1;
  auto host = resolve_game_path(*file);
  if (!host) return 1;  // a missing document: an error code, counted as 1
  if (host_program_file(*host)) {
    std::vector<std::string> argv = split_command_line("x " + *params);
    argv[0] = *host;
    for (std::size_t i = 1; i < argv.size(); ++i) argv[i] = cp932::to_utf8_lossy(argv[i]);
    spawn_program(*host, argv);
  } else {
    open_document(*host);
  }
  return 1;
}

bool bi_exec(Addr a) {
  if (a == kNullAddr) return false;
  auto line = cstr(a, 32767);
  if (!line) return false;
  std::vector<std::string> argv = split_command_line(*line);
  if (argv.empty() || argv[0].empty()) return false;
  if (!action_allowed("exec", *line)) return false;
  std::string program = program_for(argv[0]);
  if (program.empty()) return false;
  argv[0] = program;
  for (std::size_t i = 1; i < argv.size(); ++i) argv[i] = cp932::to_utf8_lossy(argv[i]);
  return spawn_program(program, argv);
}

// The desktop wallpaper is left to the player's desktop: nothing is changed.
std::int32_t bi_wallpaper(Addr, std::int32_t) { return 1; }

// ---- start -----------------------------------------------------------------

void system_start(bool untrusted_switch) {
  set_untrusted(untrusted_switch || config().Untrusted != 0);
  close_all_searches();
  g_headless_title.clear();
}

}  // namespace talven::lib
