#include "host/desktop.h"

#include <SDL.h>

#include "host/window.h"

namespace talven::host {

bool desktop_available() { return SDL_WasInit(SDL_INIT_VIDEO) != 0 && main_window_exists(); }

int show_button_box(BoxIcon icon, const std::string& caption, const std::string& text,
                    const std::vector<BoxButton>& buttons, int default_index, int escape_id) {
  if (buttons.empty()) return 0;
  if (default_index < 0 || default_index >= static_cast<int>(buttons.size())) default_index = 0;
  if (!desktop_available()) return buttons[default_index].id;

  std::vector<SDL_MessageBoxButtonData> data;
  for (int i = 0; i < static_cast<int>(buttons.size()); ++i) {
    Uint32 flags = 0;
    if (i == default_index) flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (buttons[i].id == escape_id) flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    data.push_back({flags, buttons[i].id, buttons[i].label.c_str()});
  }
  Uint32 flags = SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
  switch (icon) {
    case BoxIcon::kError: flags |= SDL_MESSAGEBOX_ERROR; break;
    case BoxIcon::kWarning: flags |= SDL_MESSAGEBOX_WARNING; break;
    case BoxIcon::kInformation: flags |= SDL_MESSAGEBOX_INFORMATION; break;
    case BoxIcon::kNone: break;
  }
  SDL_MessageBoxData box{};
  box.flags = flags;
  box.window = main_sdl_window();
  box.title = caption.c_str();
  box.message = text.c_str();
  box.numbuttons = static_cast<int>(data.size());
  box.buttons = data.data();
  int pressed = -1;
  if (SDL_ShowMessageBox(&box, &pressed) != 0) return buttons[default_index].id;
  return pressed < 0 ? escape_id : pressed;
}

bool set_clipboard_text(const std::string& utf8) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  return SDL_SetClipboardText(utf8.c_str()) == 0;
}

std::optional<std::string> clipboard_text(bool& failed) {
  failed = false;
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
    failed = true;
    return std::nullopt;
  }
  if (!SDL_HasClipboardText()) return std::nullopt;
  char* text = SDL_GetClipboardText();
  if (!text) {
    failed = true;
    return std::nullopt;
  }
  std::string out = text;
  SDL_free(text);
  return out;
}

bool set_window_title(const std::string& utf8) {
  SDL_Window* w = main_sdl_window();
  if (!w) return false;
  SDL_SetWindowTitle(w, utf8.c_str());
  return true;
}

bool desktop_mode(int& width, int& height, int& depth) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
  width = mode.w;
  height = mode.h;
  // Formats stored in four bytes are reported as 32 bits, as desktops count them.
  depth =
      SDL_BYTESPERPIXEL(mode.format) == 4 ? 32 : static_cast<int>(SDL_BITSPERPIXEL(mode.format));
  return true;
}

}  // namespace talven::host
